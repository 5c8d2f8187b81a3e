// SPDX-License-Identifier: BSD-3-Clause
// TWaveConverter: the whole-buffer conversion of MPEG Layer 3 WAV data through the
// audio compression manager, as a memory stream that holds the compressed data and its
// format, converts them in one call and writes a 44-byte-header PCM RIFF/WAVE image of
// the result. Vornek itself decodes piece by piece (wave/mpeg_decoder.h); this is the
// manager's one-call contract, kept for the tests that hold the platform's codec to it.
#pragma once

#include <array>
#include <cstdint>

#include "pipeline/stream.h"

namespace vornek::test {

class TWaveConverter : public TMemoryStream {
 public:
  /// Size of each format buffer.
  static constexpr std::uint32_t kFormatBufferSize = 129;
  using FormatBuffer = std::array<std::uint8_t, kFormatBufferSize>;

  /// Asks the compression manager for its largest format size.
  TWaveConverter();

  /// The largest format structure, in bytes, any codec of the manager uses.
  std::uint32_t MaxFormatSize() const { return max_format_size_; }
  /// Wave-format structure of the held data; after a conversion, the PCM format.
  FormatBuffer& SourceFormat() { return source_format_; }
  /// Wave-format structure of the conversion target.
  FormatBuffer& TargetFormat() { return target_format_; }

  /// Reads a RIFF/WAVE file from the start of `source`: the first "fmt " body becomes
  /// SourceFormat, the body of the last non-empty "data" chunk the held data. Throws
  /// EAuException (nothing held) when the file does not start with "RIFF"/"WAVE" (upper
  /// case), has no "fmt " that fits the buffer or no non-empty "data".
  void LoadFromWave(TStream& source);

  /// Converts the held data from SourceFormat to TargetFormat in one call. Returns 0 on
  /// success (the held data is then exactly the PCM produced, in whole sample frames,
  /// and SourceFormat its format), otherwise the first non-zero result of the
  /// compression manager (nothing changed).
  std::int32_t ConvertToPcm();

  /// Writes a 44-byte-header PCM RIFF/WAVE image of the held data at `destination`'s
  /// position. Returns 0, or kWaveFileNotSaved when the image could not be written.
  std::int32_t SaveAsWave(TStream& destination);

 private:
  std::uint32_t max_format_size_ = 0;
  FormatBuffer source_format_{};
  FormatBuffer target_format_{};
};

/// The result of SaveAsWave when the image could not be written.
inline constexpr std::int32_t kWaveFileNotSaved = 286;

}  // namespace vornek::test
