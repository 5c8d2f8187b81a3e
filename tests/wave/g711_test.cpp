// SPDX-License-Identifier: BSD-3-Clause
// A-law and mu-law expansion: every code against ffmpeg's decoding, the extremes the
// recommendation fixes, and the frame counting of the decoder.
#include "wave/g711.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/tools.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

struct LawCase {
  std::string name;
  std::uint16_t tag;
  std::int16_t (*expand)(std::uint8_t);
};

const LawCase kLaws[] = {{"a-law", 6, ALawToLinear}, {"mu-law", 7, MuLawToLinear}};

TEST(G711, EveryCodeExpandsAsFfmpegDecodesIt) {
  VORNEK_REQUIRE(MissingTool("ffmpeg"));
  Bytes codes(256);
  for (std::size_t code = 0; code < 256; ++code) codes[code] = static_cast<std::uint8_t>(code);
  TempDir dir;
  for (const LawCase& law : kLaws) {
    SCOPED_TRACE(law.name);
    const std::string wav = dir.File(law.name + ".wav"), raw = dir.File(law.name + ".raw");
    WriteBytes(wav, Riff({{"fmt ", FmtBody(law.tag, 1, 8000, 8, 1)}, {"data", codes}}));
    const std::string command =
        "ffmpeg -v error -y -i '" + wav + "' -f s16le -c:a pcm_s16le '" + raw + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const Bytes decoded = ReadBytes(raw);
    ASSERT_EQ(decoded.size(), 512u);
    for (std::size_t code = 0; code < 256; ++code)
      EXPECT_EQ(law.expand(static_cast<std::uint8_t>(code)), static_cast<std::int16_t>(GetLE16(&decoded[2 * code])))
          << "code " << code;
  }
}

TEST(G711, ExtremesAndZeroAreWhereTheRecommendationPutsThem) {
  // A-law: the codes of the smallest steps either side of zero, and full scale.
  EXPECT_EQ(ALawToLinear(0xD5), 8);
  EXPECT_EQ(ALawToLinear(0x55), -8);
  EXPECT_EQ(ALawToLinear(0xAA), 32256);
  EXPECT_EQ(ALawToLinear(0x2A), -32256);
  // mu-law: both zeros, and full scale.
  EXPECT_EQ(MuLawToLinear(0xFF), 0);
  EXPECT_EQ(MuLawToLinear(0x7F), 0);
  EXPECT_EQ(MuLawToLinear(0x80), 32124);
  EXPECT_EQ(MuLawToLinear(0x00), -32124);
}

TEST(G711, TheDecoderCountsFramesAndStaysInsideItsBuffers) {
  const struct {
    const char* what;
    int channels;
    std::size_t codes, out;
    std::int32_t frames, expected;
  } cases[] = {
      {"all asked for", 2, 100, 100, 50, 50},
      {"fewer asked for", 2, 100, 100, 7, 7},
      {"codes run out, a partial frame left over", 3, 100, 300, 1000, 33},
      {"output runs out", 2, 100, 41, 50, 20},
      {"nothing asked for", 1, 10, 10, 0, 0},
      {"a negative count", 1, 10, 10, -3, 0},
      {"no channels", 0, 10, 10, 5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes codes(c.codes);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<std::uint8_t>(i * 37);
    std::vector<std::int16_t> out(c.out + 4, 0x5A5A);
    std::int32_t frames = c.frames;
    DecodeG711(TG711Law::glMuLaw, c.channels, codes, std::span<std::int16_t>(out.data(), c.out), frames);
    EXPECT_EQ(frames, c.expected);
    const std::size_t written = static_cast<std::size_t>(frames) * static_cast<std::size_t>(c.channels);
    for (std::size_t i = 0; i < written; ++i) EXPECT_EQ(out[i], MuLawToLinear(codes[i])) << i;
    for (std::size_t i = c.out; i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A5A) << i;
  }
}

}  // namespace
}  // namespace vornek::test
