// SPDX-License-Identifier: BSD-3-Clause
// Files written by the tools users have (sox, ffmpeg) open with the right format and
// deliver exactly the samples the same tool writes as raw data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/tools.h"
#include "wave/ima_adpcm.h"
#include "wave/sample_convert.h"
#include "base/failures.h"
#include "wave_in_probe.h"

namespace vornek::test {
namespace {

using K = TWaveKind;


/// Runs a shell command quietly; true when it succeeded.
bool RunQuietly(const std::string& command) {
  return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

enum class TRaw { trSame, trFloat32, trFloat64 };

/// The 32-bit samples the reader makes of raw little-endian floats.
Bytes ConvertedFloats(const Bytes& raw, TRaw kind) {
  Bytes out;
  const std::size_t width = kind == TRaw::trFloat32 ? 4 : 8;
  for (std::size_t at = 0; at + width <= raw.size(); at += width) {
    double x = 0;
    if (width == 4) {
      float f;
      std::memcpy(&f, raw.data() + at, 4);
      x = f;
    } else {
      std::memcpy(&x, raw.data() + at, 8);
    }
    PutLE32(out, static_cast<std::uint32_t>(FloatSampleToInt32(x)));
  }
  return out;
}

struct ToolCase {
  std::string name;
  std::string tool;  // "sox" or "ffmpeg"
  std::string make;  // writes {wav}
  std::string raw;   // writes {raw} from {wav}
  std::vector<K> kinds;
  int channels, rate, bits;
  TRaw raw_kind = TRaw::trSame;
};

std::string Fill(std::string text, const std::string& wav, const std::string& raw) {
  for (std::size_t at; (at = text.find("{wav}")) != std::string::npos;) text.replace(at, 5, Quote(wav));
  for (std::size_t at; (at = text.find("{raw}")) != std::string::npos;) text.replace(at, 5, Quote(raw));
  return text;
}

const std::string kSoxSynth = " synth 0.7 sine 300-3000 sine 440 ";
const std::string kSine = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=0.7:sample_rate=";
const std::string kLongText(20000, 'x');

std::vector<ToolCase> ToolCases() {
  const std::vector<K> pcm = {K::wkPcm, K::wkExtensiblePcm};
  const std::vector<K> flt = {K::wkFloat, K::wkExtensibleFloat};
  return {
      {"sox_s16_stereo", "sox", "sox -n -r 44100 -c 2 -b 16 -e signed-integer {wav}" + kSoxSynth,
       "sox {wav} -t raw {raw}", pcm, 2, 44100, 16},
      {"sox_u8_mono", "sox", "sox -n -r 8000 -c 1 -b 8 -e unsigned-integer {wav}" + kSoxSynth,
       "sox {wav} -t raw {raw}", pcm, 1, 8000, 8},
      {"sox_s24_stereo", "sox", "sox -n -r 48000 -c 2 -b 24 {wav}" + kSoxSynth,
       "sox {wav} -t raw {raw}", pcm, 2, 48000, 24},
      {"sox_s32_mono", "sox", "sox -n -r 96000 -c 1 -b 32 -e signed-integer {wav}" + kSoxSynth,
       "sox {wav} -t raw {raw}", pcm, 1, 96000, 32},
      {"sox_s16_six_channels", "sox", "sox -n -r 44100 -c 6 -b 16 {wav}" + kSoxSynth,
       "sox {wav} -t raw {raw}", pcm, 6, 44100, 16},
      {"sox_f32_stereo", "sox", "sox -n -r 44100 -c 2 -b 32 -e floating-point {wav}" + kSoxSynth,
       "sox {wav} -t raw {raw}", flt, 2, 44100, 32, TRaw::trFloat32},
      {"sox_f64_mono", "sox", "sox -n -r 44100 -c 1 -b 64 -e floating-point {wav}" + kSoxSynth + "vol 1.5",
       "sox {wav} -t raw {raw}", flt, 1, 44100, 32, TRaw::trFloat64},
      {"ffmpeg_s16_stereo_list", "ffmpeg", kSine + "44100 -ac 2 -c:a pcm_s16le {wav}",
       "ffmpeg -v error -y -i {wav} -f s16le -c:a pcm_s16le {raw}", pcm, 2, 44100, 16},
      {"ffmpeg_u8", "ffmpeg", kSine + "11025 -c:a pcm_u8 {wav}",
       "ffmpeg -v error -y -i {wav} -f u8 -c:a pcm_u8 {raw}", pcm, 1, 11025, 8},
      {"ffmpeg_s24_stereo", "ffmpeg", kSine + "48000 -ac 2 -c:a pcm_s24le {wav}",
       "ffmpeg -v error -y -i {wav} -f s24le -c:a pcm_s24le {raw}", pcm, 2, 48000, 24},
      {"ffmpeg_s32", "ffmpeg", kSine + "44100 -c:a pcm_s32le {wav}",
       "ffmpeg -v error -y -i {wav} -f s32le -c:a pcm_s32le {raw}", pcm, 1, 44100, 32},
      {"ffmpeg_s16_six_channels", "ffmpeg", kSine + "44100 -ac 6 -c:a pcm_s16le {wav}",
       "ffmpeg -v error -y -i {wav} -f s16le -c:a pcm_s16le {raw}", pcm, 6, 44100, 16},
      {"ffmpeg_f32", "ffmpeg", kSine + "44100 -ac 2 -c:a pcm_f32le {wav}",
       "ffmpeg -v error -y -i {wav} -f f32le -c:a pcm_f32le {raw}", flt, 2, 44100, 32,
       TRaw::trFloat32},
      {"ffmpeg_f64", "ffmpeg", kSine + "44100 -c:a pcm_f64le {wav}",
       "ffmpeg -v error -y -i {wav} -f f64le -c:a pcm_f64le {raw}", flt, 1, 44100, 32,
       TRaw::trFloat64},
      // A broadcast WAV with 20 KB of metadata before "data".
      {"ffmpeg_bext_and_20kb_of_tags", "ffmpeg",
       kSine + "44100 -ac 2 -c:a pcm_s16le -write_bext 1 -metadata comment=" + kLongText +
           " -metadata description=" + kLongText + " {wav}",
       "ffmpeg -v error -y -i {wav} -f s16le -c:a pcm_s16le {raw}", pcm, 2, 44100, 16},
      // Written to a pipe: the sizes are never filled in (0xFFFFFFFF).
      {"ffmpeg_piped", "ffmpeg", kSine + "44100 -ac 2 -c:a pcm_s16le -f wav pipe:1 > {wav}",
       "ffmpeg -v error -y -i {wav} -f s16le -c:a pcm_s16le {raw}", pcm, 2, 44100, 16},
  };
}

TEST(WaveTools, FilesOfSoxAndFfmpegDeliverExactlyTheirSamples) {
  VORNEK_REQUIRE(MissingTool("sox"));
  VORNEK_REQUIRE(MissingTool("ffmpeg"));
  TempDir dir;
  int ran = 0;
  for (const ToolCase& c : ToolCases()) {
    SCOPED_TRACE(c.name);
    const std::string wav = dir.File(c.name + ".wav"), raw = dir.File(c.name + ".raw");
    ASSERT_TRUE(RunQuietly(Fill(c.make, wav, raw))) << Fill(c.make, wav, raw);
    ASSERT_TRUE(RunQuietly(Fill(c.raw, wav, raw))) << Fill(c.raw, wav, raw);
    const Bytes samples = ReadBytes(raw);
    ASSERT_GT(samples.size(), 1000u);

    TWaveIn wave;
    wave.SetFileName(wav);
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_NE(std::find(c.kinds.begin(), c.kinds.end(), wave.WaveKind), c.kinds.end())
        << "kind " << static_cast<int>(wave.WaveKind);
    EXPECT_EQ(wave.GetChannels(), c.channels);
    EXPECT_EQ(wave.GetSampleRate(), c.rate);
    EXPECT_EQ(wave.GetBitsPerSample(), c.bits);
    const Bytes expected = c.raw_kind == TRaw::trSame ? samples : ConvertedFloats(samples, c.raw_kind);
    EXPECT_EQ(wave.Size, static_cast<std::int64_t>(expected.size()));
    const std::uint32_t block = 4608u * static_cast<std::uint32_t>(c.channels * c.bits / 8);
    const Bytes delivered = ReadAll(wave, block);  // the FLAC writer's pull
    EXPECT_EQ(delivered.size(), expected.size());
    EXPECT_TRUE(delivered == expected) << "the delivered samples differ";
    wave.Close();
    ++ran;
  }
  EXPECT_GT(ran, 0);
}

TEST(WaveTools, AdpcmFilesOfSoxAndFfmpegAreClassified) {
  VORNEK_REQUIRE(MissingTool("sox"));
  VORNEK_REQUIRE(MissingTool("ffmpeg"));
  TempDir dir;
  struct AdpcmCase {
    std::string name, tool, make;
    K kind;
    int channels;
  };
  const std::vector<AdpcmCase> cases = {
      {"sox_ima_mono", "sox", "sox -n -r 22050 -c 1 -e ima-adpcm {wav}" + kSoxSynth, K::wkImaAdpcm, 1},
      {"sox_ima_stereo", "sox", "sox -n -r 22050 -c 2 -e ima-adpcm {wav}" + kSoxSynth, K::wkImaAdpcm, 2},
      {"sox_ms_mono", "sox", "sox -n -r 22050 -c 1 -e ms-adpcm {wav}" + kSoxSynth, K::wkMsAdpcm, 1},
      {"sox_ms_stereo", "sox", "sox -n -r 22050 -c 2 -e ms-adpcm {wav}" + kSoxSynth, K::wkMsAdpcm, 2},
      {"ffmpeg_ima_stereo", "ffmpeg", kSine + "22050 -ac 2 -c:a adpcm_ima_wav {wav}", K::wkImaAdpcm, 2},
      {"ffmpeg_ms_mono", "ffmpeg", kSine + "22050 -c:a adpcm_ms {wav}", K::wkMsAdpcm, 1},
  };
  for (const AdpcmCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string wav = dir.File(c.name + ".wav");
    ASSERT_TRUE(RunQuietly(Fill(c.make, wav, ""))) << Fill(c.make, wav, "");
    TWaveIn wave;
    wave.SetFileName(wav);
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_EQ(wave.WaveKind, c.kind);
    EXPECT_EQ(wave.GetChannels(), c.channels);
    EXPECT_EQ(wave.GetSampleRate(), 22050);
    EXPECT_EQ(wave.GetBitsPerSample(), 16);
    const std::uint32_t frames = c.kind == K::wkImaAdpcm ? wave.ImaFactSamples : wave.FactSamples;
    EXPECT_NEAR(frames, 0.7 * 22050, 2048);
    EXPECT_EQ(wave.Size, std::int64_t{frames} * 2 * c.channels);
    if (c.kind == K::wkImaAdpcm) {
      EXPECT_EQ(wave.ImaSamplesPerBlock, ImaSamplesHeld({c.channels, wave.ImaBlockAlign}));
    } else {
      EXPECT_EQ(wave.SamplesPerBlock, MsSamplesHeld({c.channels, wave.BlockAlign}));
      EXPECT_EQ(wave.CoefCount, 7);
      EXPECT_EQ(wave.Coefs[1].Coef1, 512);
      EXPECT_EQ(wave.Coefs[1].Coef2, -256);
    }
    wave.Close();
  }
}

TEST(WaveTools, MpegLayer3InWavIsConvertedToPcmOnOpen) {
  VORNEK_REQUIRE(MissingMp3Encoder());
  TempDir dir;
  const std::string wav = dir.File("mp3.wav");
  ASSERT_TRUE(RunQuietly(kSine + "44100 -c:a libmp3lame " + Quote(wav)));
  TWaveIn wave;
  wave.SetFileName(wav);
  ASSERT_EQ(OpenFailure(wave), "");
  EXPECT_EQ(wave.WaveKind, TWaveKind::wkCompressed);
  EXPECT_EQ(wave.GetBitsPerSample(), 16);
  EXPECT_EQ(wave.GetSampleRate(), 44100);
  EXPECT_GT(wave.Size, 0);
  EXPECT_FALSE(wave.Seek(10)) << "converted data is not repositioned";
  std::vector<std::uint8_t> buffer(4096);
  std::int64_t total = 0;
  bool end = false;
  while (!end) total += wave.ReadFully(buffer.data(), 4096, end);
  EXPECT_EQ(total, wave.Size);
  wave.Close();
  EXPECT_EQ(OpenFailure(wave), "") << "closing released the decoder; opening decodes again";
  wave.Close();
}

}  // namespace
}  // namespace vornek::test
