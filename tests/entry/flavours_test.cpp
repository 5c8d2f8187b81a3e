// SPDX-License-Identifier: BSD-3-Clause
// The WAV flavours other tools write every day (RF64, Wave64, A-law, mu-law) and
// files past 4 GiB, converted by the vornek command: the FLAC holds exactly the
// samples ffmpeg decodes from the same file, and its STREAMINFO says so.
#include <gtest/gtest.h>

#include <FLAC/metadata.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "flac/flac_fixtures.h"
#include "support/files.h"
#include "support/tools.h"
#include "support/run_cli.h"
#include "support/wav_writer.h"
#include "wave/sample_convert.h"

namespace vornek::test {
namespace {

bool RunQuietly(const std::string& command) {
  return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

/// `text` with {wav} and {raw} replaced by the quoted paths.
std::string Fill(std::string text, const std::string& wav, const std::string& raw) {
  for (std::size_t at; (at = text.find("{wav}")) != std::string::npos;) text.replace(at, 5, "'" + wav + "'");
  for (std::size_t at; (at = text.find("{raw}")) != std::string::npos;) text.replace(at, 5, "'" + raw + "'");
  return text;
}

struct FlavourCase {
  std::string name;
  std::string tool;  ///< the tool that writes the file: "sox" or "ffmpeg"
  std::string make;  ///< writes {wav}
  std::uint32_t channels, rate, flac_bits;
  bool floats = false;  ///< IEEE float data, converted as the reader defines it
};

/// Prints the case's name in test listings.
void PrintTo(const FlavourCase& c, std::ostream* os) { *os << c.name; }

const std::string kSine = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=0.7:sample_rate=";
const std::string kNoise = "ffmpeg -v error -y -f lavfi -i anoisesrc=duration=0.7:amplitude=0.9:sample_rate=";
const std::string kSoxSynth = " synth 0.7 sine 300-3000 sine 440 vol 0.9";

const FlavourCase kCases[] = {
    {"ffmpeg_rf64_s16_stereo", "ffmpeg", kSine + "44100 -ac 2 -c:a pcm_s16le -rf64 always {wav}", 2, 44100, 16},
    {"ffmpeg_rf64_s24_mono", "ffmpeg", kNoise + "48000 -c:a pcm_s24le -rf64 always {wav}", 1, 48000, 24},
    {"ffmpeg_rf64_f32_stereo", "ffmpeg", kNoise + "44100 -ac 2 -c:a pcm_f32le -rf64 always {wav}", 2, 44100, 32,
     true},
    {"ffmpeg_w64_s16_stereo", "ffmpeg", kSine + "44100 -ac 2 -c:a pcm_s16le -f w64 {wav}", 2, 44100, 16},
    {"ffmpeg_w64_s32_mono", "ffmpeg", kNoise + "96000 -c:a pcm_s32le -f w64 {wav}", 1, 96000, 32},
    {"sox_w64_s16_stereo", "sox", "sox -n -r 44100 -c 2 -b 16 -t w64 {wav}" + kSoxSynth, 2, 44100, 16},
    {"sox_w64_s24_mono", "sox", "sox -n -r 48000 -c 1 -b 24 -t w64 {wav}" + kSoxSynth, 1, 48000, 24},
    {"ffmpeg_alaw_mono", "ffmpeg", kNoise + "8000 -c:a pcm_alaw {wav}", 1, 8000, 16},
    {"ffmpeg_alaw_stereo", "ffmpeg", kNoise + "8000 -ac 2 -c:a pcm_alaw {wav}", 2, 8000, 16},
    {"ffmpeg_mulaw_mono", "ffmpeg", kNoise + "8000 -c:a pcm_mulaw {wav}", 1, 8000, 16},
    {"ffmpeg_mulaw_stereo", "ffmpeg", kNoise + "16000 -ac 2 -c:a pcm_mulaw {wav}", 2, 16000, 16},
    {"sox_alaw_mono", "sox", "sox -n -r 8000 -c 1 -e a-law {wav}" + kSoxSynth, 1, 8000, 16},
    {"sox_ulaw_stereo", "sox", "sox -n -r 8000 -c 2 -e u-law {wav}" + kSoxSynth, 2, 8000, 16},
};

/// ffmpeg's decoding of `wav`: integer samples as 32-bit (shifted to the top, as
/// ffmpeg widens them), floats as the reader converts them.
std::vector<std::int32_t> FfmpegSamples(const std::string& wav, const std::string& raw, bool floats) {
  const std::string command = floats ? "ffmpeg -v error -y -i {wav} -f f64le -c:a pcm_f64le {raw}"
                                     : "ffmpeg -v error -y -i {wav} -f s32le -c:a pcm_s32le {raw}";
  EXPECT_TRUE(RunQuietly(Fill(command, wav, raw))) << Fill(command, wav, raw);
  const Bytes bytes = ReadBytes(raw);
  std::vector<std::int32_t> samples;
  for (std::size_t at = 0; at + 8 <= bytes.size() && floats; at += 8) {
    double x;
    std::memcpy(&x, &bytes[at], 8);
    samples.push_back(FloatSampleToInt32(x));
  }
  for (std::size_t at = 0; at + 4 <= bytes.size() && !floats; at += 4)
    samples.push_back(static_cast<std::int32_t>(GetLE32(&bytes[at])));
  return samples;
}

class Flavours : public testing::TestWithParam<FlavourCase> {};

TEST_P(Flavours, TheFlacHoldsWhatFfmpegDecodes) {
  const FlavourCase& c = GetParam();
  VORNEK_REQUIRE(MissingTool(c.tool));
  VORNEK_REQUIRE(MissingTool("ffmpeg"));
  TempDir dir;
  const std::string wav = dir.File("in.wav");
  ASSERT_TRUE(RunQuietly(Fill(c.make, wav, ""))) << Fill(c.make, wav, "");
  const std::vector<std::int32_t> expected = FfmpegSamples(wav, dir.File("in.raw"), c.floats);
  ASSERT_GT(expected.size(), 1000u);

  const CliRun run = RunVornek(VORNEK_CLI_FILE, dir.Path().string(), {"-q", "in.wav"});
  ASSERT_TRUE(run.exited && run.status == 0) << run.err;
  EXPECT_EQ(run.err, "");
  const Decoded d = DecodeFlac(dir.File("in.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.md5_present && d.md5_ok);
  EXPECT_EQ(d.channels, c.channels);
  EXPECT_EQ(d.rate, c.rate);
  EXPECT_EQ(d.bits, c.flac_bits);
  EXPECT_EQ(d.total, expected.size() / c.channels);
  std::vector<std::int32_t> widened = d.samples;
  for (std::int32_t& s : widened) s = static_cast<std::int32_t>(static_cast<std::uint32_t>(s) << (32 - c.flac_bits));
  EXPECT_TRUE(widened == expected) << "the FLAC's samples differ from ffmpeg's decoding";
}

INSTANTIATE_TEST_SUITE_P(Tools, Flavours, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FlavourCase>& param_info) { return param_info.param.name; });

// ---------------------------------------------------------------------------------
// Past 4 GiB: sparse files of silence. 64-bit floats in 8 channels hold the fewest
// samples per byte, which keeps the encode short.

struct BigCase {
  std::string name;
  bool rf64;  ///< RF64 with "ds64", else plain RIFF whose 32-bit sizes wrapped
};

void PrintTo(const BigCase& c, std::ostream* os) { *os << c.name; }

class PastFourGiB : public testing::TestWithParam<BigCase> {};

TEST_P(PastFourGiB, ConvertsToExactlyTheFilesFrames) {
  constexpr std::uint16_t kChannels = 8;
  constexpr std::uint64_t kFrameBytes = kChannels * 8;
  constexpr std::uint64_t kFrames = (std::uint64_t{1} << 32) / kFrameBytes + 4609;
  constexpr std::uint64_t kDataBytes = kFrames * kFrameBytes;
  const Bytes fmt = FmtBody(3, kChannels, 48000, 64, static_cast<std::uint16_t>(kFrameBytes));
  const Bytes header =
      GetParam().rf64
          ? Rf64({{"ds64", Ds64Body(0, kDataBytes, kFrames)}, {"fmt ", fmt}, {"data", {}, 0xFFFFFFFFu}})
          : Riff({{"fmt ", fmt}, {"data", {}, static_cast<std::uint32_t>(kDataBytes)}});
  TempDir dir;
  const std::string wav = dir.File("big.wav");
  WriteBytes(wav, header);
  std::filesystem::resize_file(wav, header.size() + kDataBytes);  // zeros, without using the disk

  const CliRun run =
      RunVornek(VORNEK_CLI_FILE, dir.Path().string(), {"-q", "big.wav"}, nullptr, std::chrono::seconds(600));
  ASSERT_TRUE(run.exited && run.status == 0) << run.err;
  EXPECT_EQ(run.err, "");
  FLAC__StreamMetadata info;
  ASSERT_TRUE(FLAC__metadata_get_streaminfo(dir.File("big.flac").c_str(), &info));
  EXPECT_EQ(info.data.stream_info.total_samples, kFrames);
  EXPECT_EQ(info.data.stream_info.channels, kChannels);
  EXPECT_EQ(info.data.stream_info.bits_per_sample, 32u);
  EXPECT_EQ(info.data.stream_info.sample_rate, 48000u);
}

INSTANTIATE_TEST_SUITE_P(Sparse, PastFourGiB,
                         testing::Values(BigCase{"rf64", true}, BigCase{"riff_with_wrapped_sizes", false}),
                         [](const testing::TestParamInfo<BigCase>& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace vornek::test
