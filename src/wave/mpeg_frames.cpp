// SPDX-License-Identifier: BSD-3-Clause
#include "wave/mpeg_frames.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "wave/bytes.h"

namespace vornek {

namespace {

// Bit rates in kbit/s by bit-rate index (1..14) of Layer III.
constexpr std::uint32_t kMpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::uint32_t kMpeg2Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

// Sampling rates by version field (0: MPEG-2.5, 2: MPEG-2, 3: MPEG-1) and rate index.
constexpr std::uint32_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

/// Bytes of a frame: MPEG-1 frames carry 1152 samples, 144 * bit rate / rate bytes;
/// MPEG-2 and 2.5 frames carry 576, half as many bytes.
std::uint32_t FrameBytes(bool mpeg1, std::uint32_t kbps, std::uint32_t rate, std::uint32_t padding) {
  return (mpeg1 ? 144000u : 72000u) * kbps / rate + padding;
}

/// Sample frames of one probe: each place where a frame is followed by another of the
/// same rate and channels counts that frame.
struct ProbeCount {
  std::uint64_t frames = 0;
  std::uint64_t bytes = 0;
};

ProbeCount CountChainedFrames(const std::vector<std::uint8_t>& buffer, std::uint32_t sample_rate) {
  ProbeCount count;
  std::size_t at = 0;
  while (at + 4 <= buffer.size()) {
    const std::optional<TMpegFrameHeader> frame = ParseMpegLayer3Header(&buffer[at]);
    if (frame && frame->SampleRate == sample_rate && at + frame->Bytes + 4 <= buffer.size()) {
      const std::optional<TMpegFrameHeader> next = ParseMpegLayer3Header(&buffer[at + frame->Bytes]);
      if (next && next->SampleRate == sample_rate && next->Channels == frame->Channels) {
        ++count.frames;
        count.bytes += frame->Bytes;
        at += frame->Bytes;
        continue;
      }
    }
    ++at;
  }
  return count;
}

}  // namespace

std::optional<TMpegFrameHeader> ParseMpegLayer3Header(const std::uint8_t* b) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return std::nullopt;  // no frame sync
  const std::uint32_t version = (b[1] >> 3) & 3u;
  const std::uint32_t layer = (b[1] >> 1) & 3u;
  const std::uint32_t bitrate_index = b[2] >> 4;
  const std::uint32_t rate_index = (b[2] >> 2) & 3u;
  if (version == 1 || layer != 1 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3 ||
      (b[3] & 3u) == 2)
    return std::nullopt;
  const bool mpeg1 = version == 3;
  TMpegFrameHeader header;
  header.SampleRate = kRates[version][rate_index];
  header.Channels = (b[3] >> 6) == 3 ? 1u : 2u;
  header.Samples = mpeg1 ? 1152u : 576u;
  header.Bytes = FrameBytes(mpeg1, (mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[bitrate_index], header.SampleRate,
                            (b[2] >> 1) & 1u);
  return header;
}

std::optional<TMpegRateLimits> MpegLayer3RateLimits(std::uint32_t sample_rate) {
  for (std::uint32_t version : {3u, 2u, 0u})
    for (std::uint32_t rate : kRates[version])
      if (rate == sample_rate) {
        const bool mpeg1 = version == 3;
        return TMpegRateLimits{mpeg1 ? 1152u : 576u, FrameBytes(mpeg1, (mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[1], rate, 0)};
      }
  return std::nullopt;
}

std::uint64_t EstimateMpegLayer3Samples(TStream& source, std::int64_t begin, std::int64_t end,
                                        std::uint32_t sample_rate) {
  const std::optional<TMpegRateLimits> limits = MpegLayer3RateLimits(sample_rate);
  if (!limits || end <= begin) return 0;
  const auto length = static_cast<std::uint64_t>(end - begin);

  // A few dozen probes of a few frames each: enough to average the frame sizes of a
  // variable bit rate across the whole stream, few enough to be read at once.
  constexpr std::uint64_t kProbes = 32;
  constexpr std::uint64_t kProbeBytes = 8192;
  const std::uint64_t probes = length <= kProbes * kProbeBytes ? 1 : kProbes;
  const std::uint64_t probe_bytes = probes == 1 ? length : kProbeBytes;
  ProbeCount total;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(probe_bytes));
  for (std::uint64_t i = 0; i < probes; ++i) {
    const std::uint64_t offset = probes == 1 ? 0 : (length - probe_bytes) * i / (probes - 1);
    source.SetPosition(begin + static_cast<std::int64_t>(offset));
    buffer.resize(ReadStreamFully(source, buffer.data(), static_cast<std::size_t>(probe_bytes)));
    const ProbeCount count = CountChainedFrames(buffer, sample_rate);
    total.frames += count.frames;
    total.bytes += count.bytes;
    buffer.resize(static_cast<std::size_t>(probe_bytes));
  }

  std::uint64_t frames = 0;
  if (total.frames > 0) {
    const double average = static_cast<double>(total.bytes) / static_cast<double>(total.frames);
    frames = static_cast<std::uint64_t>(std::ceil(static_cast<double>(length) / average));
  } else {
    frames = length / limits->MinFrameBytes + 1;
  }
  return frames * limits->Samples;
}

}  // namespace vornek
