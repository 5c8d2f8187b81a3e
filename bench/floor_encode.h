// SPDX-License-Identifier: BSD-3-Clause
// The floor of the benchmarks: libFLAC alone, encoding samples that are already in
// memory into a stream that stays in memory, at the settings of the conversion
// (compression level 2, blocks of 4608 frames, the input's rate, channels and width,
// the total sample count stated up front). Whatever a conversion costs beyond this is
// the converter's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vornek::bench {

/// Interleaved samples, widened to 32 bits, with their format.
struct PcmSamples {
  std::uint32_t Channels = 0;
  std::uint32_t SampleRate = 0;
  std::uint32_t BitsPerSample = 0;
  std::vector<std::int32_t> Samples;

  std::uint64_t Frames() const { return Channels ? Samples.size() / Channels : 0; }
};

/// Reads a PCM WAV file (format tag 1, or extensible with the PCM sub-format; 8, 16, 24
/// or 32 bits) whole into memory. Raises std::runtime_error for anything else.
PcmSamples ReadPcmWav(const std::string& path);

/// Interleaved little-endian 16-bit samples (as the WAV reader delivers ADPCM) widened.
std::vector<std::int32_t> Widen16(const std::uint8_t* bytes, std::size_t count);

/// One encode: the encoder is created, configured, fed all samples in one
/// process_interleaved call and finished. Only that is timed.
struct EncodeTiming {
  double WallSeconds = 0;
  double CpuSeconds = 0;         ///< CPU time of the encoding thread
  std::size_t EncodedBytes = 0;  ///< length of the FLAC stream produced
};

/// Encodes `pcm` into memory. Raises std::runtime_error when libFLAC refuses.
EncodeTiming EncodeInMemory(const PcmSamples& pcm);

/// CPU time consumed so far by the calling thread, in seconds.
double ThreadCpuSeconds();

}  // namespace vornek::bench
