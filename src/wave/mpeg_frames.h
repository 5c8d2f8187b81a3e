// SPDX-License-Identifier: BSD-3-Clause
// MPEG audio Layer III frame headers, read only to foresee how much PCM a stream will
// decode to: the decoding itself is the compression manager's.
#pragma once

#include <cstdint>
#include <optional>

#include "pipeline/stream.h"

namespace vornek {

/// What the four header bytes of one Layer III frame state.
struct TMpegFrameHeader {
  std::uint32_t SampleRate = 0;
  std::uint32_t Channels = 0;  ///< 1 or 2
  std::uint32_t Bytes = 0;     ///< the whole frame, header and padding included
  std::uint32_t Samples = 0;   ///< sample frames it decodes to: 1152 (MPEG-1) or 576
};

/// The header at `bytes` (four bytes), or nothing when they are not the header of a
/// Layer III frame of a standard bit rate (a free-format or reserved value is none).
std::optional<TMpegFrameHeader> ParseMpegLayer3Header(const std::uint8_t* bytes);

/// What frames at a sampling rate can be: the sample frames each decodes to and the
/// fewest bytes a frame of a standard bit rate takes. Nothing for a rate that no MPEG
/// version has.
struct TMpegRateLimits {
  std::uint32_t Samples = 0;
  std::uint32_t MinFrameBytes = 0;
};
std::optional<TMpegRateLimits> MpegLayer3RateLimits(std::uint32_t sample_rate);

/// The sample frames the Layer III stream in [begin, end) of `source` will decode to,
/// foreseen without decoding it: the average frame length is measured where frames of
/// `sample_rate` chain at a few dozen places spread over the range (a few hundred
/// kilobytes are read at most), and the range is taken to be such frames throughout.
/// Where no frames are found at all, every byte is taken to be part of the smallest
/// frames the rate allows, which no real stream exceeds. Leaves the stream's position
/// anywhere; failures of the stream pass through.
std::uint64_t EstimateMpegLayer3Samples(TStream& source, std::int64_t begin, std::int64_t end,
                                        std::uint32_t sample_rate);

}  // namespace vornek
