// SPDX-License-Identifier: BSD-3-Clause
// Microsoft ADPCM block splitting and decoding on hand-built blocks: block
// sizes, header layout, the delta floor, prediction rounding, predictor index
// clamps, agreement with the codec's plain definition, short blocks and buffers
// too small for what the counts ask.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "wave/ms_adpcm.h"

namespace vornek {
namespace {

using Block = std::vector<std::uint8_t>;

/// The seven pairs every common encoder writes into "fmt ".
const std::vector<MsCoefPair> kCommonCoefs = {{256, 0},   {512, -256}, {0, 0},     {192, 64},
                                              {240, 0},   {460, -208}, {392, -232}};

/// A block of `size` bytes: sensible headers, then pseudo-random codes.
Block RandomBlock(std::size_t size, int channels, std::uint32_t seed) {
  std::mt19937 random(seed);
  Block block(size);
  for (auto& byte : block) byte = static_cast<std::uint8_t>(random());
  const std::size_t n = channels == 2 ? 2 : 1;
  for (std::size_t ch = 0; ch < n; ++ch) {
    block[ch] = static_cast<std::uint8_t>(random() % kCommonCoefs.size());  // predictor index
    block[n + 2 * ch] = static_cast<std::uint8_t>(16 + random() % 200);     // delta, low byte
    block[n + 2 * ch + 1] = 0;
  }
  return block;
}

/// Splits and decodes `samples_per_block` frames of a block into an ample
/// buffer; returns the interleaved samples.
std::vector<std::int16_t> DecodeBlock(const Block& bytes, std::uint16_t align, int channels,
                                      std::uint16_t samples_per_block) {
  MsBlockState state;
  const AdpcmBlockLayout layout{channels, align, samples_per_block};
  std::vector<std::uint8_t> codes(MsCodeBytes(layout));
  EXPECT_TRUE(SplitMsBlock(bytes, layout, state, codes));
  std::vector<std::int16_t> out(20000);
  std::int32_t count = samples_per_block;
  if (channels == 2) DecodeMsStereo(state, kCommonCoefs, codes, out, count);
  else DecodeMsMono(state, kCommonCoefs, codes, out, count);
  out.resize(static_cast<std::size_t>(count * channels));
  return out;
}

/// Decodes `count` codes for one mono channel starting from the given state.
std::vector<std::int16_t> DecodeMono(MsBlockState& state, std::span<const MsCoefPair> coefs,
                                     const Block& codes, std::int32_t count) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(count) + 2);
  std::int32_t frames = count + 2;  // the two header samples, then the codes
  DecodeMsMono(state, coefs, codes, out, frames);
  out.resize(static_cast<std::size_t>(frames));
  return out;
}

struct SizeCase {
  int channels;
  std::uint16_t align;
  std::uint16_t samples_per_block;
  std::int32_t bytes;  ///< what the decoder reports
};

TEST(MsAdpcm, BlockSizesGiveTheirByteCounts) {
  const SizeCase cases[] = {{1, 256, 500, 1000}, {2, 512, 500, 2000}, {1, 512, 1012, 2024}, {2, 1024, 1012, 4048}};
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " channel(s), block " << c.align);
    const AdpcmBlockLayout layout{c.channels, c.align, c.samples_per_block};
    EXPECT_EQ(MsSamplesHeld(layout), c.samples_per_block);
    EXPECT_FALSE(CheckMsFormat(layout, 7, 50));
    MsBlockState state;
    std::vector<std::uint8_t> codes(MsCodeBytes(layout));
    ASSERT_TRUE(SplitMsBlock(RandomBlock(c.align, c.channels, 3), layout, state, codes));
    std::vector<std::int16_t> window(8192);
    std::int32_t count = c.samples_per_block;
    if (c.channels == 2) DecodeMsStereo(state, kCommonCoefs, codes, window, count);
    else DecodeMsMono(state, kCommonCoefs, codes, window, count);
    EXPECT_EQ(count * 2 * c.channels, c.bytes);  // frames of 16-bit samples
  }
}

TEST(MsAdpcm, HeaderSamplesComeOldestFirst) {
  const Block mono = {3, 0x10, 0x00, 0x34, 0x12, 0xFE, 0xFF};
  MsBlockState state;
  ASSERT_TRUE(SplitMsBlock(mono, {1, 7}, state, {}));
  EXPECT_EQ(state.predictor[0], 3);
  EXPECT_EQ(state.delta[0], 16);
  EXPECT_EQ(state.sample1[0], 0x1234);
  EXPECT_EQ(state.sample2[0], -2);
  std::vector<std::int16_t> out(2);
  std::int32_t count = 0;
  DecodeMsMono(state, kCommonCoefs, {}, out, count);
  EXPECT_EQ(count * 2, 4);  // bytes of the frames
  EXPECT_EQ(out, (std::vector<std::int16_t>{-2, 0x1234}));

  // Both predictor indexes, both deltas, both newer samples, both older samples.
  const Block stereo = {1, 2, 20, 0, 30, 0, 11, 0, 21, 0, 12, 0, 22, 0};
  ASSERT_TRUE(SplitMsBlock(stereo, {2, 14}, state, {}));
  EXPECT_EQ(state.predictor[1], 2);
  EXPECT_EQ(state.delta[1], 30);
  out.assign(4, 0);
  count = 0;
  DecodeMsStereo(state, kCommonCoefs, {}, out, count);
  EXPECT_EQ(count * 4, 8);  // bytes of the frames
  EXPECT_EQ(out, (std::vector<std::int16_t>{12, 22, 11, 21}));
}

struct DeltaCase {
  const char* what;
  std::int16_t delta;
  std::uint8_t code;
  std::int16_t next_delta;  ///< delta * adaptation[code] / 256, kept as 16 bits, floor 16
};

TEST(MsAdpcm, DeltaAdaptsAndNeverFallsBelow16) {
  const DeltaCase cases[] = {
      {"quotient below the floor", 16, 0, 16},            // 16 * 230 / 256 = 14
      {"plain growth, truncated", 100, 4, 119},           // 100 * 307 / 256 = 119.9
      {"quotient wrapping negative", 20000, 8, 16},       // 60000 is -5536 in 16 bits
      {"quotient wrapping positive", 32767, 8, 32765},    // 98301 is 32765 in 16 bits
      {"negative header delta", -300, 0, 16},             // -269
  };
  for (const DeltaCase& c : cases) {
    SCOPED_TRACE(c.what);
    MsBlockState state;
    state.delta[0] = c.delta;
    const Block codes = {static_cast<std::uint8_t>(c.code << 4)};
    DecodeMono(state, kCommonCoefs, codes, 1);
    EXPECT_EQ(state.delta[0], c.next_delta);
  }
}

TEST(MsAdpcm, WrappedDeltaIsUsedAsTheFloor) {
  // Code 8 (-8) with delta 20000 saturates; the wrapped delta becomes 16, so
  // code 1 then adds exactly 16 to the prediction (sample 1 * 256 / 256).
  MsBlockState state;
  state.delta[0] = 20000;
  const Block codes = {0x81};
  EXPECT_EQ(DecodeMono(state, kCommonCoefs, codes, 2), (std::vector<std::int16_t>{0, 0, -32768, -32752}));
}

struct PredictionCase {
  const char* what;
  MsCoefPair pair;
  std::int16_t sample1, sample2;
  std::int16_t expected;  ///< (sample1 * Coef1 + sample2 * Coef2) / 256, toward zero, clamped
};

TEST(MsAdpcm, PredictionTruncatesTowardZeroWithoutOverflow) {
  const PredictionCase cases[] = {
      {"small negative rounds to 0", {255, 0}, -1, 0, 0},
      {"negative truncates up", {255, 0}, -257, 0, -255},
      {"two terms", {460, -208}, 1000, -1000, 2609},
      {"above the range clamps", {512, -256}, 30000, -30000, 32767},
      {"products summing to 2^31", {-32768, -32768}, -32768, -32768, 32767},
  };
  for (const PredictionCase& c : cases) {
    SCOPED_TRACE(c.what);
    MsBlockState state;
    state.delta[0] = 16;
    state.sample1[0] = c.sample1;
    state.sample2[0] = c.sample2;
    const std::vector<MsCoefPair> coefs = {c.pair};
    const Block codes = {0x00};  // code 0 adds nothing to the prediction
    const auto samples = DecodeMono(state, coefs, codes, 1);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[2], c.expected);
  }
}

TEST(MsAdpcm, PredictorIndexPastTheTableUsesTheLastPair) {
  const std::vector<MsCoefPair> coefs = {{256, 0}, {0, 256}};  // repeat sample 1, or sample 2
  const struct {
    std::uint8_t index;
    std::int16_t expected;
  } cases[] = {{0, 1000}, {1, -1000}, {2, -1000}, {31, -1000}, {255, -1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "predictor index " << int{c.index});
    MsBlockState state;
    state.predictor[0] = c.index;
    state.delta[0] = 16;
    state.sample1[0] = 1000;
    state.sample2[0] = -1000;
    EXPECT_EQ(DecodeMono(state, coefs, {0x00}, 1).at(2), c.expected);
  }
  // Without any pair (refused when the file is opened) nothing is read: the
  // prediction is 0.
  MsBlockState state;
  state.delta[0] = 16;
  state.sample1[0] = 1000;
  EXPECT_EQ(DecodeMono(state, {}, {0x00}, 1).at(2), 0);
}

TEST(MsAdpcm, OddMonoCountDecodesItsLastCode) {
  // Samples per block 7: five codes, the fifth in the high nibble of byte 3.
  const Block block = RandomBlock(10, 1, 9);
  const auto odd = DecodeBlock(block, 10, 1, 7);
  const auto even = DecodeBlock(block, 10, 1, 8);
  ASSERT_EQ(odd.size(), 7u);
  ASSERT_EQ(even.size(), 8u);
  EXPECT_TRUE(std::equal(odd.begin(), odd.end(), even.begin()));
}

TEST(MsAdpcm, ShortBlockDecodesAsIfZeroFilled) {
  for (int channels : {1, 2}) {
    const std::uint16_t align = channels == 2 ? 512 : 256;
    const Block full = RandomBlock(align, channels, 13);
    for (std::size_t kept : {std::size_t{1}, std::size_t{4}, std::size_t{8}, std::size_t{13}, std::size_t{100},
                             std::size_t{align} - 1u}) {
      SCOPED_TRACE(testing::Message() << channels << " channel(s), " << kept << " bytes kept");
      const Block short_block(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(kept));
      Block zero_filled = full;
      std::fill(zero_filled.begin() + static_cast<std::ptrdiff_t>(kept), zero_filled.end(), 0);
      EXPECT_EQ(DecodeBlock(short_block, align, channels, 500), DecodeBlock(zero_filled, align, channels, 500));
    }
  }
  MsBlockState state;
  std::vector<std::uint8_t> codes(249);
  EXPECT_FALSE(SplitMsBlock({}, {1, 256}, state, codes));
}

struct BoundsCase {
  const char* what;
  int channels;
  std::size_t code_bytes;  ///< what the codes buffer holds
  std::int32_t count;      ///< frames the caller asks for
  std::size_t out_size;    ///< what the output buffer holds
  std::int32_t expected;   ///< bytes written
};

/// One channel decoded straight from the codec's definition: the reference the
/// decoder must match.
struct PlainMsChannel {
  std::int64_t coef1, coef2, delta, sample1, sample2;

  std::int16_t Step(std::uint32_t code) {
    const std::int64_t signed_code = code >= 8 ? std::int64_t{code} - 16 : std::int64_t{code};
    std::int64_t sample = (sample1 * coef1 + sample2 * coef2) / 256 + delta * signed_code;
    sample = std::clamp<std::int64_t>(sample, -32768, 32767);
    delta = static_cast<std::int16_t>(delta * kMsAdaptationTable[code] / 256);
    if (delta < 16) delta = 16;
    sample2 = sample1;
    sample1 = sample;
    return static_cast<std::int16_t>(sample);
  }
};

/// Decodes a whole block as the codec defines it.
std::vector<std::int16_t> PlainDecode(const Block& block, int channels, std::span<const MsCoefPair> coefs) {
  const auto n = static_cast<std::size_t>(channels);
  auto le16 = [&](std::size_t at) { return static_cast<std::int16_t>(block[at] | (block[at + 1] << 8)); };
  std::vector<PlainMsChannel> ch;
  for (std::size_t c = 0; c < n; ++c) {
    const MsCoefPair pair = coefs[std::min<std::size_t>(block[c], coefs.size() - 1)];
    ch.push_back({pair.Coef1, pair.Coef2, le16(n + 2 * c), le16(3 * n + 2 * c), le16(5 * n + 2 * c)});
  }
  std::vector<std::int16_t> out;
  for (const PlainMsChannel& c : ch) out.push_back(static_cast<std::int16_t>(c.sample2));
  for (const PlainMsChannel& c : ch) out.push_back(static_cast<std::int16_t>(c.sample1));
  for (std::size_t at = 7 * n; at < block.size(); ++at) {
    out.push_back(ch[0].Step(block[at] >> 4u));
    out.push_back(ch[n - 1].Step(block[at] & 15u));
  }
  return out;
}

TEST(MsAdpcm, MatchesTheCodecDefinitionOnRandomBlocks) {
  // Random codes, silence and full-scale swings; random coefficient pairs (extremes
  // among them), header deltas of any sign and predictor indexes past the table.
  std::mt19937 random(2024);
  for (int round = 0; round < 600; ++round) {
    const int channels = 1 + round % 2;
    std::vector<MsCoefPair> coefs(1 + random() % 8);
    for (MsCoefPair& pair : coefs) {
      const bool extreme = random() % 4 == 0;
      pair.Coef1 = static_cast<std::int16_t>(extreme ? random() : random() % 1024 - 256);
      pair.Coef2 = static_cast<std::int16_t>(extreme ? random() : random() % 512 - 256);
    }
    const auto align = static_cast<std::uint16_t>(14 + 2 * (random() % 600));
    Block block(align);
    for (auto& byte : block) byte = static_cast<std::uint8_t>(random());
    const int style = round / 2 % 3;
    for (std::size_t at = 7 * static_cast<std::size_t>(channels); at < block.size(); ++at) {
      if (style == 1) block[at] = (random() % 16 == 0) ? static_cast<std::uint8_t>(random()) : 0x00;
      if (style == 2) block[at] = (random() % 2) ? 0x77 : 0x88;
    }
    for (int c = 0; c < channels; ++c) block[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(random() % 10);
    SCOPED_TRACE(round);

    MsBlockState state;
    const AdpcmBlockLayout layout{channels, align};
    std::vector<std::uint8_t> codes(MsCodeBytes(layout));
    ASSERT_TRUE(SplitMsBlock(block, layout, state, codes));
    std::vector<std::int16_t> out(2 * static_cast<std::size_t>(align) + 4);
    auto count = static_cast<std::int32_t>(MsSamplesHeld(layout));
    if (channels == 2) DecodeMsStereo(state, coefs, codes, out, count);
    else DecodeMsMono(state, coefs, codes, out, count);
    out.resize(static_cast<std::size_t>(count * channels));
    ASSERT_EQ(out, PlainDecode(block, channels, coefs));
  }
}

TEST(MsAdpcm, WideCoefficientPairsDecodeExactlyInStereo) {
  // Pairs whose prediction, plus code times delta, may not fit 32 bits: the
  // stereo decoder must take them as exactly as the narrow ones, whichever
  // channel has them. Full-scale header samples and codes reach the extremes.
  const MsCoefPair wide[] = {{-32768, -32768}, {32767, 32767}, {-32768, 32767},
                             {30720, 30720},   {30721, 30720}, {-30721, -30720}};
  std::mt19937 random(7);
  for (const MsCoefPair pair : wide) {
    for (int wide_channels = 1; wide_channels <= 3; ++wide_channels) {  // left, right, both
      SCOPED_TRACE(testing::Message() << pair.Coef1 << ", " << pair.Coef2 << " on " << wide_channels);
      const std::vector<MsCoefPair> coefs = {{256, 0}, pair};
      Block block(14 + 600);
      block[0] = (wide_channels & 1) ? 1 : 0;
      block[1] = (wide_channels & 2) ? 1 : 0;
      for (std::size_t at = 2; at < 14; ++at) block[at] = static_cast<std::uint8_t>(at % 2 ? 0x80 : 0x00);  // -32768 each
      for (std::size_t at = 14; at < block.size(); ++at) {
        const std::size_t run = (at - 14) / 40;
        block[at] = run % 3 == 0 ? 0x77 : run % 3 == 1 ? 0x88 : static_cast<std::uint8_t>(random());
      }
      MsBlockState state;
      const AdpcmBlockLayout layout{2, 614};
      std::vector<std::uint8_t> codes(MsCodeBytes(layout));
      ASSERT_TRUE(SplitMsBlock(block, layout, state, codes));
      std::vector<std::int16_t> out(2 * 602);
      auto count = static_cast<std::int32_t>(MsSamplesHeld(layout));
      DecodeMsStereo(state, coefs, codes, out, count);
      out.resize(static_cast<std::size_t>(count * 2));
      ASSERT_EQ(out, PlainDecode(block, 2, coefs));
    }
  }
}

TEST(MsAdpcm, DecodersStayInsideTheirBuffers) {
  const BoundsCase cases[] = {
      {"mono output shorter than the block", 1, 249, 500, 10, 20},
      {"mono codes shorter than the count", 1, 10, 500, 600, 44},
      {"mono negative count", 1, 249, -1, 600, 4},
      {"mono output of one sample", 1, 249, 500, 1, 2},
      {"stereo output shorter than the block", 2, 498, 500, 21, 40},
      {"stereo codes shorter than the count", 2, 10, 500, 600, 48},
      {"stereo negative count", 2, 498, -7, 600, 8},
      {"stereo output of three samples", 2, 498, 500, 3, 4},
  };
  const Block block = RandomBlock(600, 2, 17);
  for (const BoundsCase& c : cases) {
    SCOPED_TRACE(c.what);
    MsBlockState header;
    header.predictor[0] = 5;
    header.predictor[1] = 6;
    header.delta[0] = 40;
    header.delta[1] = 50;
    header.sample1[0] = 300;
    header.sample2[1] = -300;
    // Exact-size code buffer on the heap and guard values after the output
    // (the sanitizer builds catch any read past them).
    const std::vector<std::uint8_t> codes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(c.code_bytes));
    std::vector<std::int16_t> out(c.out_size + 8, 0x5A5A);
    MsBlockState state = header;
    std::int32_t count = c.count;
    const std::span<std::int16_t> window(out.data(), c.out_size);
    if (c.channels == 2) DecodeMsStereo(state, kCommonCoefs, codes, window, count);
    else DecodeMsMono(state, kCommonCoefs, codes, window, count);
    EXPECT_EQ(count * 2 * c.channels, c.expected);  // bytes of the frames
    for (std::size_t i = c.out_size; i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A5A) << i;

    // What was written agrees with a decode into ample buffers.
    const std::vector<std::uint8_t> all_codes(block.begin(), block.begin() + 498);
    std::vector<std::int16_t> reference(2000);
    state = header;
    std::int32_t all = c.channels == 2 ? 500 : 998;
    if (c.channels == 2) DecodeMsStereo(state, kCommonCoefs, all_codes, reference, all);
    else DecodeMsMono(state, kCommonCoefs, all_codes, reference, all);
    const auto written = static_cast<std::ptrdiff_t>(count * c.channels);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + written, reference.begin()));
  }
}

}  // namespace
}  // namespace vornek
