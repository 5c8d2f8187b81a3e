// SPDX-License-Identifier: BSD-3-Clause
// ADPCM files written by two different encoders (sox and ffmpeg) decode to the
// same samples as the tools' own decoders give, block by block, cut to the
// "fact" count, also when the last block is cut short.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/wav_writer.h"
#include "support/tools.h"
#include "base/failures.h"
#include "wave/ima_adpcm.h"
#include "wave/ms_adpcm.h"
#include "wave/wave_in.h"

namespace vornek {
namespace {

using test::Bytes;
using test::MissingTool;


bool RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::uint16_t Get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
std::uint32_t Get32(const Bytes& b, std::size_t at) { return Get16(b, at) | (std::uint32_t{Get16(b, at + 2)} << 16); }

/// The chunks an ADPCM decode needs, found by a plain walk over the RIFF body.
struct WavParts {
  Bytes fmt;
  std::optional<std::uint32_t> fact;
  std::size_t data_offset = 0;
  std::size_t data_size = 0;
};

WavParts Walk(const Bytes& file) {
  WavParts parts;
  std::size_t at = 12;
  while (at + 8 <= file.size()) {
    const std::string id(file.begin() + static_cast<std::ptrdiff_t>(at),
                         file.begin() + static_cast<std::ptrdiff_t>(at + 4));
    const std::size_t size = Get32(file, at + 4);
    const std::size_t body = at + 8;
    const std::size_t held = std::min(size, file.size() - body);
    if (id == "fmt ") parts.fmt.assign(file.begin() + static_cast<std::ptrdiff_t>(body),
                                       file.begin() + static_cast<std::ptrdiff_t>(body + held));
    if (id == "fact" && held >= 4) parts.fact = Get32(file, body);
    if (id == "data") {
      parts.data_offset = body;
      parts.data_size = held;
      break;
    }
    at = body + size + (size % 2);
  }
  return parts;
}

/// Decodes the "data" bytes of `file` with the library's block decoders.
std::vector<std::int16_t> DecodeWithLibrary(const Bytes& file, bool ms) {
  const WavParts parts = Walk(file);
  EXPECT_GE(parts.fmt.size(), 20u);
  EXPECT_TRUE(parts.fact.has_value());
  if (parts.fmt.size() < 20 || !parts.fact) return {};
  const int channels = Get16(parts.fmt, 2);
  const std::uint16_t align = Get16(parts.fmt, 12);
  const std::uint16_t per_block = Get16(parts.fmt, 18);

  std::vector<MsCoefPair> coefs;
  if (ms) {
    const std::uint16_t coef_count = parts.fmt.size() >= 22 ? Get16(parts.fmt, 20) : 0;
    const auto refusal = CheckMsFormat({channels, align, per_block}, coef_count,
                                       static_cast<std::uint32_t>(parts.fmt.size()));
    EXPECT_FALSE(refusal.has_value()) << FailureText(*refusal);
    if (refusal) return {};
    for (std::size_t i = 0; i < coef_count; ++i)
      coefs.push_back({static_cast<std::int16_t>(Get16(parts.fmt, 22 + 4 * i)),
                       static_cast<std::int16_t>(Get16(parts.fmt, 24 + 4 * i))});
  } else {
    const auto refusal = CheckImaFormat({channels, align, per_block});
    EXPECT_FALSE(refusal.has_value()) << FailureText(*refusal);
    if (refusal) return {};
  }

  const auto ch = static_cast<std::size_t>(channels);
  const AdpcmBlockLayout layout{channels, align, per_block};
  std::vector<std::uint8_t> codes(ms ? MsCodeBytes(layout) : ImaCodeBytes(layout));
  std::vector<std::int16_t> window(std::size_t{per_block} * ch);
  std::vector<std::int16_t> decoded;
  const std::span<const std::uint8_t> data(file.data() + parts.data_offset, parts.data_size);
  for (std::size_t at = 0; at < data.size(); at += align) {
    const auto block = data.subspan(at, std::min<std::size_t>(align, data.size() - at));
    std::size_t frames = 0;
    if (ms) {
      MsBlockState state;
      EXPECT_TRUE(SplitMsBlock(block, layout, state, codes));
      std::int32_t count = per_block;
      if (channels == 2) DecodeMsStereo(state, coefs, codes, window, count);
      else DecodeMsMono(state, coefs, codes, window, count);
      frames = static_cast<std::size_t>(count);
    } else {
      ImaBlockState state;
      EXPECT_TRUE(SplitImaBlock(block, layout, state, codes));
      std::int32_t count = per_block;
      if (channels == 2) DecodeImaStereo(state, codes, window, count);
      else DecodeImaMono(state, codes, window, count);
      frames = static_cast<std::size_t>(count);
    }
    EXPECT_EQ(frames, per_block);
    decoded.insert(decoded.end(), window.begin(), window.begin() + static_cast<std::ptrdiff_t>(frames * ch));
  }
  const std::size_t wanted = std::size_t{*parts.fact} * ch;
  EXPECT_GE(decoded.size(), wanted);
  decoded.resize(std::min(decoded.size(), wanted));
  return decoded;
}

/// What the WAV reader delivers for `file`, read from a memory stream in requests that
/// do not line up with the blocks; after `seek_to` (when not negative) has been
/// applied on the open input.
std::vector<std::int16_t> DecodeWithReader(const Bytes& file, std::int64_t seek_to = -1) {
  TMemoryStream stream(file);
  TWaveIn wave;
  wave.SetStream(&stream);
  wave.Open();
  EXPECT_EQ(wave.GetBitsPerSample(), 16);
  if (seek_to >= 0) {
    EXPECT_TRUE(wave.Seek(seek_to));
  }
  Bytes bytes;
  std::vector<std::uint8_t> piece(1236);  // whole frames, not whole blocks
  bool end = false;
  while (!end) {
    const std::uint32_t got = wave.ReadFully(piece.data(), 1236, end);
    bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
  }
  wave.Close();
  std::vector<std::int16_t> out(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::int16_t>(Get16(bytes, 2 * i));
  return out;
}

std::vector<std::int16_t> ReadRaw(const std::string& path) {
  const Bytes raw = test::ReadBytes(path);
  std::vector<std::int16_t> out(raw.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::int16_t>(Get16(raw, 2 * i));
  return out;
}

/// A few seconds' worth of a chord with a swelling envelope and vibrato, so
/// that the encoders visit small and large steps alike.
Bytes MusicalWav(int channels, std::uint32_t rate, std::size_t frames) {
  std::vector<std::int32_t> samples;
  const double pi = std::numbers::pi;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double envelope = 0.25 + 0.5 * std::sin(pi * t / 1.4) * std::sin(pi * t / 1.4);
    const double vibrato = 0.003 * std::sin(2 * pi * 5.5 * t);
    for (int c = 0; c < channels; ++c) {
      const double root = c == 0 ? 220.0 : 330.0;
      double v = std::sin(2 * pi * root * t * (1 + vibrato)) + 0.5 * std::sin(2 * pi * root * 1.26 * t) +
                 0.33 * std::sin(2 * pi * root * 1.5 * t + c) + 0.1 * std::sin(2 * pi * 3520.0 * t);
      samples.push_back(static_cast<std::int32_t>(std::lround(v / 1.93 * envelope * 32767.0)));
    }
  }
  return test::SimpleWav(1, static_cast<std::uint16_t>(channels), rate, 16, test::PcmBytes(samples, 16));
}

struct EncoderCase {
  const char* name;
  const char* tool;
  bool ms;
  int channels;
  const char* options;  ///< encoder options after the input
};

const EncoderCase kEncoderCases[] = {
    {"SoxImaMono", "sox", false, 1, "-e ima-adpcm"},
    {"SoxImaStereo", "sox", false, 2, "-e ima-adpcm"},
    {"SoxMsMono", "sox", true, 1, "-e ms-adpcm"},
    {"SoxMsStereo", "sox", true, 2, "-e ms-adpcm"},
    {"FfmpegImaMono", "ffmpeg", false, 1, "-c:a adpcm_ima_wav"},
    {"FfmpegImaStereo2048", "ffmpeg", false, 2, "-c:a adpcm_ima_wav -block_size 2048"},
    {"FfmpegMsMono256", "ffmpeg", true, 1, "-c:a adpcm_ms -block_size 256"},
    {"FfmpegMsStereo", "ffmpeg", true, 2, "-c:a adpcm_ms"},
};

/// How much of the last block is kept: all of it, part of its codes, or only
/// part of its header.
enum class Cut { kNone, kInCodes, kInHeader };

class AdpcmEncoderTest : public ::testing::TestWithParam<EncoderCase> {};

TEST_P(AdpcmEncoderTest, MatchesIndependentDecoders) {
  const EncoderCase& param = GetParam();
  VORNEK_REQUIRE(MissingTool(param.tool));
  // The two tools' decoders disagree with each other on both codecs, so each
  // codec is checked against the one that decodes by the codec's reference
  // arithmetic: ffmpeg's IMA decoder forms the difference as
  // ((2 * code + 1) * step) >> 3, which rounds unlike the sum of shifted steps,
  // and sox's Microsoft ADPCM decoder shifts the prediction right (rounding
  // down) where it must be divided by 256 (rounding toward zero).
  const std::string reference = param.ms ? "ffmpeg" : "sox";
  VORNEK_REQUIRE(MissingTool(reference));

  test::TempDir dir;
  const std::string source = dir.File("source.wav");
  const std::string encoded = dir.File("encoded.wav");
  // 61003 frames: no encoder's block size divides it, so the last block is padded.
  test::WriteBytes(source, MusicalWav(param.channels, 22050, 61003));
  const std::string command = std::string(param.tool) == "sox"
                                  ? "sox " + Quote(source) + " " + param.options + " " + Quote(encoded)
                                  : "ffmpeg -nostdin -y -i " + Quote(source) + " " + param.options + " " +
                                        Quote(encoded);
  ASSERT_TRUE(RunQuietly(command)) << command;
  const Bytes file = test::ReadBytes(encoded);
  const WavParts parts = Walk(file);
  ASSERT_GE(parts.fmt.size(), 20u);
  const std::uint16_t align = Get16(parts.fmt, 12);
  ASSERT_GT(align, 0);
  ASSERT_GE(parts.data_size, 2u * align);
  const std::size_t last_block = (parts.data_size - 1) / align * align;

  for (Cut cut : {Cut::kNone, Cut::kInCodes, Cut::kInHeader}) {
    SCOPED_TRACE(cut == Cut::kNone ? "whole file" : cut == Cut::kInCodes ? "last block cut in its codes"
                                                                         : "last block cut in its header");
    // The library decodes the file cut short; the reference tool decodes the
    // same file with the missing bytes written as zeros, which is what the
    // decoders must take them for.
    std::size_t keep = parts.data_size;
    if (cut == Cut::kInCodes) keep = last_block + (parts.data_size - last_block) / 2 + 1;
    if (cut == Cut::kInHeader) keep = last_block + 3;
    Bytes truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(parts.data_offset + keep));
    Bytes zero_filled = file;
    std::fill(zero_filled.begin() + static_cast<std::ptrdiff_t>(parts.data_offset + keep),
              zero_filled.begin() + static_cast<std::ptrdiff_t>(parts.data_offset + parts.data_size), 0);
    const std::string reference_input = dir.File("zero_filled.wav");
    test::WriteBytes(reference_input, zero_filled);

    const std::vector<std::int16_t> ours = DecodeWithLibrary(truncated, param.ms);
    ASSERT_EQ(ours.size(), std::size_t{*parts.fact} * static_cast<std::size_t>(param.channels));
    EXPECT_EQ(DecodeWithReader(truncated), ours) << "the reader delivers what the decoders make";
    if (cut == Cut::kNone) {
      // A seek lands on the first frame of the block that holds the frame asked for.
      const std::uint16_t per_block = Get16(parts.fmt, 18);
      const std::int64_t target = 3 * per_block + per_block / 2;
      const auto from = static_cast<std::size_t>(3 * per_block) * static_cast<std::size_t>(param.channels);
      const std::vector<std::int16_t> resumed = DecodeWithReader(truncated, target);
      ASSERT_GE(resumed.size(), 16u);
      EXPECT_TRUE(std::equal(resumed.begin(), resumed.begin() + 16, ours.begin() + static_cast<std::ptrdiff_t>(from)));
    }

    const std::string raw = dir.File("reference.raw");
    const std::string decode =
        reference == "sox"
            ? "sox " + Quote(reference_input) + " -t raw -e signed-integer -b 16 -L " + Quote(raw)
            : "ffmpeg -nostdin -y -i " + Quote(reference_input) + " -f s16le -c:a pcm_s16le " + Quote(raw);
    ASSERT_TRUE(RunQuietly(decode)) << decode;
    std::vector<std::int16_t> expected = ReadRaw(raw);
    ASSERT_GE(expected.size(), ours.size());
    expected.resize(ours.size());
    std::size_t first_difference = 0;
    while (first_difference < ours.size() && ours[first_difference] == expected[first_difference])
      ++first_difference;
    EXPECT_EQ(first_difference, ours.size())
        << "first difference at sample " << first_difference << " of " << ours.size();
  }
}

INSTANTIATE_TEST_SUITE_P(Files, AdpcmEncoderTest, ::testing::ValuesIn(kEncoderCases),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

}  // namespace
}  // namespace vornek
