// SPDX-License-Identifier: BSD-3-Clause
// TEncoderSettings: what a run sends to each libFLAC encoder it creates before that
// encoder's initialisation (everything but the callbacks), taken by the writer from its
// properties and from the input's format when it prepares a run.
//
// A run holds its settings by value: it never asks the writer for them, and an encoder
// configured on any thread, several at once, reads nothing that changes.
#pragma once

#include <cstdint>
#include <optional>

#include "base/failures.h"
#include "flac/flac_binding.h"

namespace vornek {

/// The input's format as a run takes it.
struct TRunFormat {
  std::int32_t Channels = 0;       ///< 1 to 8
  std::int32_t BitsPerSample = 0;  ///< 8, 16, 24 or 32
  std::int32_t SampleRate = 0;     ///< 1 to 655350 Hz
  /// Sample frames, foreseen from the input's Size; nothing when the input has none.
  std::optional<std::uint64_t> SamplesEstimate;

  /// Bytes of one sample frame as the input delivers it.
  std::uint32_t FrameBytes() const {
    return static_cast<std::uint32_t>(Channels) * static_cast<std::uint32_t>(BitsPerSample / 8);
  }
};

/// The writer's encoder properties for one run (see TFLACOut for each one's meaning).
struct TEncoderSettings {
  TRunFormat Format;
  bool Verify = false;
  std::uint16_t BlockSize = 4608;  ///< 0 leaves the block size to the library
  /// Negative: no preset, the six settings after it are sent; 0 to 8: the preset.
  std::int32_t CompressionLevel = -1;
  bool EnableMidSideStereo = true;
  bool EnableLooseMidSideStereo = false;
  std::uint16_t MaxLPCOrder = 0;
  std::uint16_t QLPCoeffPrecision = 0;
  bool QLPCoeffPrecisionSearch = false;
  std::uint16_t MinResidualPartitionOrder = 0;
  std::uint16_t MaxResidualPartitionOrder = 0;
  bool BestModelSearch = false;
};

/// Sends `settings` to `encoder`, a new (or finished) encoder, in the writer's order:
/// verify, the format, the mid-side settings (for 2 channels only), the block size,
/// then the preset or the six individual settings, then the samples estimate. Any
/// thread; libFLAC must be bound.
void ConfigureEncoder(FLAC__StreamEncoder* encoder, const TEncoderSettings& settings);

/// Why `encoder` failed to process or to finish, as its state tells: its verification
/// found a frame that does not decode to the samples it was given (faFlacVerify), or
/// the encoding itself failed (faFlacEncode). Ask before the encoder is used again.
TFailure EncodeFailure(FLAC__StreamEncoder* encoder);

}  // namespace vornek
