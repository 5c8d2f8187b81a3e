// SPDX-License-Identifier: BSD-3-Clause
// Every stored kind of WAV file, written by the test's own WAV writer, converted by the
// call and decoded again with libFLAC: the FLAC holds exactly the samples the file
// holds (float data as the reader's integer conversion defines it).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "entry/conversion_window.h"
#include "flac/flac_fixtures.h"
#include "platform/window.h"
#include "support/files.h"
#include "support/wav_writer.h"

namespace vornek::test {
namespace {

enum class Kind { Pcm, Float, ExtensiblePcm, ExtensibleFloat };

struct FormatCase {
  const char* name;
  Kind kind;
  int stored_bits;     // bits per stored sample (container width)
  int channels;
  std::size_t frames;
  unsigned flac_bits;  // bits per sample of the FLAC
};

/// A float converted as the reader does: 1 and above to the top, -1 and below (and
/// NaN) to the bottom, else floor(x * (2^31 - 1)) with an extended-precision product.
std::int32_t FloatToInt32(long double x) {
  if (x >= 1.0L) return 2147483647;
  if (!(x > -1.0L)) return -2147483647 - 1;
  if (x == 0.0L) return 0;
  return static_cast<std::int32_t>(std::floor(x * 2147483647.0L));
}

/// The file's bytes and the samples its FLAC must hold.
void MakeFile(const FormatCase& c, Bytes& file, std::vector<std::int32_t>& expected) {
  const auto channels = static_cast<std::uint16_t>(c.channels);
  if (c.kind == Kind::Pcm || c.kind == Kind::ExtensiblePcm) {
    expected = TestSignal(c.frames, c.channels, c.stored_bits);
    const Bytes data = ToPcm(expected, c.stored_bits);
    file = c.kind == Kind::Pcm
               ? SimpleWav(1, channels, 44100, static_cast<std::uint16_t>(c.stored_bits), data)
               : Riff({{"fmt ", ExtensibleFmtBody(channels, 44100, static_cast<std::uint16_t>(c.stored_bits),
                                                  static_cast<std::uint16_t>(c.stored_bits - 8), false)},
                       {"data", data}});
    return;
  }
  // Floats from the 24-bit test signal, with the edges of the range thrown in.
  const std::vector<std::int32_t> signal = TestSignal(c.frames, c.channels, 24);
  Bytes data;
  expected.clear();
  for (std::size_t i = 0; i < signal.size(); ++i) {
    double x = signal[i] / 8388608.0 * 1.01;  // a little over full scale at the peaks
    if (i % 101 == 7) x = -0.5;
    if (i % 101 == 9) x = 1e-12;
    if (i % 101 == 11) x = -1e-12;
    if (c.stored_bits == 32) {
      const auto f = static_cast<float>(x);
      expected.push_back(FloatToInt32(f));
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      PutLE32(data, bits);
    } else {
      expected.push_back(FloatToInt32(x));
      std::uint64_t bits;
      std::memcpy(&bits, &x, 8);
      PutLE32(data, static_cast<std::uint32_t>(bits));
      PutLE32(data, static_cast<std::uint32_t>(bits >> 32));
    }
  }
  file = c.kind == Kind::Float
             ? SimpleWav(3, channels, 44100, static_cast<std::uint16_t>(c.stored_bits), data)
             : Riff({{"fmt ", ExtensibleFmtBody(channels, 44100, static_cast<std::uint16_t>(c.stored_bits),
                                                static_cast<std::uint16_t>(c.stored_bits), true)},
                     {"data", data}});
}

class Formats : public testing::TestWithParam<FormatCase> {};

TEST_P(Formats, TheFlacHoldsExactlyTheSamplesOfTheWav) {
  const FormatCase& c = GetParam();
  Bytes file;
  std::vector<std::int32_t> expected;
  MakeFile(c, file, expected);
  TempDir dir;
  WriteBytes(dir.File("in.wav"), file);
  std::vector<std::string> messages;
  platform::SetMessageSink([&](const std::string& text) { messages.push_back(text); });
  ConvertFile(0, dir.File("in.wav").c_str());
  platform::SetMessageSink(nullptr);
  ASSERT_TRUE(messages.empty()) << messages.front();

  const Decoded d = DecodeFlac(dir.File("in.flac"));
  ASSERT_TRUE(d.ok);
  if (d.md5_present) {
    EXPECT_TRUE(d.md5_ok);
  }
  EXPECT_EQ(d.rate, 44100u);
  EXPECT_EQ(d.channels, static_cast<std::uint32_t>(c.channels));
  EXPECT_EQ(d.bits, c.flac_bits);
  EXPECT_EQ(d.total, c.frames);
  EXPECT_EQ(d.samples, expected);
  int comment_blocks = 0;
  for (const DecodedBlock& block : d.blocks) {
    if (block.type != FLAC__METADATA_TYPE_VORBIS_COMMENT) continue;
    ++comment_blocks;
    EXPECT_EQ(block.vendor, "VENDOR=Duzode");
    EXPECT_EQ(block.comments, 0u);
  }
  EXPECT_EQ(comment_blocks, 1);
}

constexpr std::size_t kOdd = 3 * 4608 + 7;
/// Past the FLAC writer's threshold for several encoders, in stereo.
constexpr std::size_t kLong = TFLACOut::kParallelMinSamples / 2 + 4608 + 11;

INSTANTIATE_TEST_SUITE_P(
    Entry, Formats,
    testing::Values(FormatCase{"pcm8_stereo", Kind::Pcm, 8, 2, kOdd, 8},
                    FormatCase{"pcm16_mono", Kind::Pcm, 16, 1, kOdd, 16},
                    FormatCase{"pcm16_six", Kind::Pcm, 16, 6, 4608, 16},
                    FormatCase{"pcm24_stereo", Kind::Pcm, 24, 2, kOdd, 24},
                    FormatCase{"pcm32_stereo", Kind::Pcm, 32, 2, kOdd, 32},
                    FormatCase{"pcm16_one_frame", Kind::Pcm, 16, 2, 1, 16},
                    FormatCase{"pcm16_no_frames", Kind::Pcm, 16, 2, 0, 16},
                    FormatCase{"float32_stereo", Kind::Float, 32, 2, kOdd, 32},
                    FormatCase{"float64_mono", Kind::Float, 64, 1, kOdd, 32},
                    FormatCase{"extensible_24_in_32", Kind::ExtensiblePcm, 32, 2, kOdd, 32},
                    FormatCase{"extensible_pcm24_six", Kind::ExtensiblePcm, 24, 6, kOdd, 24},
                    FormatCase{"extensible_float32", Kind::ExtensibleFloat, 32, 2, kOdd, 32},
                    // Long enough for several encoders where the machine has processors
                    // for them.
                    FormatCase{"pcm16_stereo_long", Kind::Pcm, 16, 2, kLong, 16},
                    FormatCase{"pcm24_six_long", Kind::Pcm, 24, 6, kLong / 3 + 1, 24},
                    FormatCase{"float32_stereo_long", Kind::Float, 32, 2, kLong, 32}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace vornek::test
