// SPDX-License-Identifier: BSD-3-Clause
// Layer III frame headers and the foresight of how much a stream decodes to.
#include "wave/mpeg_frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "mp3_fixtures.h"
#include "pipeline/stream.h"
#include "support/tools.h"

namespace vornek::test {
namespace {

TEST(MpegFrameHeader, StatesRateChannelsLengthAndSamples) {
  struct Case {
    const char* what;
    std::uint8_t bytes[4];
    std::uint32_t rate, channels, length, samples;
  };
  const Case cases[] = {
      {"MPEG-1 128 kbit/s 44.1 kHz stereo", {0xFF, 0xFB, 0x90, 0x00}, 44100, 2, 417, 1152},
      {"the same, padded", {0xFF, 0xFB, 0x92, 0x00}, 44100, 2, 418, 1152},
      {"MPEG-1 320 kbit/s 32 kHz mono", {0xFF, 0xFB, 0xE8, 0xC0}, 32000, 1, 1440, 1152},
      {"MPEG-1 32 kbit/s 48 kHz joint stereo", {0xFF, 0xFB, 0x14, 0x40}, 48000, 2, 96, 1152},
      {"MPEG-2 64 kbit/s 22.05 kHz mono, no CRC bit", {0xFF, 0xF2, 0x80, 0xC0}, 22050, 1, 208, 576},
      {"MPEG-2.5 8 kbit/s 8 kHz", {0xFF, 0xE3, 0x18, 0x00}, 8000, 2, 72, 576},
  };
  for (const Case& c : cases) {
    const std::optional<TMpegFrameHeader> header = ParseMpegLayer3Header(c.bytes);
    ASSERT_TRUE(header) << c.what;
    EXPECT_EQ(header->SampleRate, c.rate) << c.what;
    EXPECT_EQ(header->Channels, c.channels) << c.what;
    EXPECT_EQ(header->Bytes, c.length) << c.what;
    EXPECT_EQ(header->Samples, c.samples) << c.what;
  }
}

TEST(MpegFrameHeader, WhatIsNoLayerThreeHeaderOfAStandardRate) {
  struct Case {
    const char* what;
    std::uint8_t bytes[4];
  };
  const Case cases[] = {
      {"no sync", {0xFF, 0x7B, 0x90, 0x00}},       {"Layer II", {0xFF, 0xFD, 0x90, 0x00}},
      {"Layer I", {0xFF, 0xFF, 0x90, 0x00}},       {"reserved version", {0xFF, 0xEB, 0x90, 0x00}},
      {"free format", {0xFF, 0xFB, 0x00, 0x00}},   {"bit-rate index 15", {0xFF, 0xFB, 0xF0, 0x00}},
      {"reserved rate", {0xFF, 0xFB, 0x9C, 0x00}}, {"reserved emphasis", {0xFF, 0xFB, 0x90, 0x02}},
  };
  for (const Case& c : cases) EXPECT_FALSE(ParseMpegLayer3Header(c.bytes)) << c.what;
}

TEST(MpegFrameHeader, RateLimitsAreTheSmallestStandardFrames) {
  EXPECT_EQ(MpegLayer3RateLimits(44100)->MinFrameBytes, 104u);
  EXPECT_EQ(MpegLayer3RateLimits(44100)->Samples, 1152u);
  EXPECT_EQ(MpegLayer3RateLimits(22050)->MinFrameBytes, 26u);
  EXPECT_EQ(MpegLayer3RateLimits(8000)->Samples, 576u);
  EXPECT_FALSE(MpegLayer3RateLimits(44000));
}

/// The sample frames the frames of `data` hold, counted one by one.
std::uint64_t CountedSamples(const Bytes& data) {
  std::uint64_t samples = 0;
  for (std::size_t at : FrameStarts(data)) samples += ParseMpegLayer3Header(&data[at])->Samples;
  return samples;
}

TEST(MpegEstimate, ForeseesAVariableBitRateFromFramesSpreadOverTheStream) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  // A sine encodes to small frames, noise to frames twice as large: a variable bit
  // rate whose start says little about the rest.
  TempDir dir;
  const std::string path = dir.File("vbr.wav");
  ASSERT_EQ(std::system(("ffmpeg -hide_banner -loglevel error -y -filter_complex "
                         "\"sine=frequency=440:duration=20:sample_rate=44100[a];"
                         "anoisesrc=duration=40:amplitude=0.5:sample_rate=44100[b];[a][b]concat=n=2:v=0:a=1\" "
                         "-ac 2 -ar 44100 -c:a libmp3lame -q:a 2 -f wav '" + path + "'")
                            .c_str()),
            0);
  const Bytes data = ReadChunks(ReadBytes(path))["data"];
  const std::uint64_t counted = CountedSamples(data);
  ASSERT_GT(counted, 50u * 44100);
  TMemoryStream stream(data);
  const std::uint64_t foreseen =
      EstimateMpegLayer3Samples(stream, 0, static_cast<std::int64_t>(data.size()), 44100);
  EXPECT_NEAR(static_cast<double>(foreseen), static_cast<double>(counted), static_cast<double>(counted) * 0.06);

  // A piece shorter than the probes is measured whole.
  const Bytes head(data.begin(), data.begin() + 100000);
  TMemoryStream short_stream(head);
  EXPECT_NEAR(static_cast<double>(EstimateMpegLayer3Samples(short_stream, 0, 100000, 44100)),
              static_cast<double>(CountedSamples(head)), 2 * 1152.0);
}

TEST(MpegEstimate, WithoutFramesEveryByteCountsAsPartOfTheSmallestFrames) {
  TMemoryStream zeros(Bytes(1'000'000, 0));
  EXPECT_EQ(EstimateMpegLayer3Samples(zeros, 0, 1'000'000, 44100), (1'000'000 / 104 + 1) * 1152u);
  EXPECT_EQ(EstimateMpegLayer3Samples(zeros, 0, 1'000'000, 44000), 0u) << "no MPEG rate";
  EXPECT_EQ(EstimateMpegLayer3Samples(zeros, 500, 500, 44100), 0u) << "empty range";
}

}  // namespace
}  // namespace vornek::test
