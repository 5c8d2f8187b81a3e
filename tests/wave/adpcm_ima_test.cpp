// SPDX-License-Identifier: BSD-3-Clause
// IMA ADPCM block splitting and decoding on hand-built blocks: block sizes,
// clamps of the predictor and of the step index, agreement with the codec's plain
// definition, short blocks and buffers that are too small for what the counts ask.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "wave/ima_adpcm.h"

namespace vornek {
namespace {

using Block = std::vector<std::uint8_t>;

/// A block of `size` bytes: the given headers (sample, step index per channel),
/// then pseudo-random codes.
Block RandomBlock(std::size_t size, int channels, std::uint32_t seed) {
  std::mt19937 random(seed);
  Block block(size);
  for (auto& byte : block) byte = static_cast<std::uint8_t>(random());
  for (int ch = 0; ch < channels; ++ch) {
    block[4 * static_cast<std::size_t>(ch) + 2] = static_cast<std::uint8_t>(random() % 89);
    block[4 * static_cast<std::size_t>(ch) + 3] = 0;
  }
  return block;
}

/// Splits and decodes a whole block into an ample buffer; returns the samples
/// (interleaved for stereo).
std::vector<std::int16_t> DecodeBlock(const Block& bytes, std::uint16_t align, int channels) {
  ImaBlockState state;
  const AdpcmBlockLayout layout{channels, align};
  std::vector<std::uint8_t> codes(ImaCodeBytes(layout));
  EXPECT_TRUE(SplitImaBlock(bytes, layout, state, codes));
  std::vector<std::int16_t> out(20000);
  auto count = static_cast<std::int32_t>(ImaSamplesHeld(layout));
  if (channels == 2) {
    DecodeImaStereo(state, codes, out, count);
    out.resize(2 * static_cast<std::size_t>(count));
  } else {
    DecodeImaMono(state, codes, out, count);
    out.resize(static_cast<std::size_t>(count));
  }
  return out;
}

struct SizeCase {
  int channels;
  std::uint16_t align;
  std::int32_t frames;
};

TEST(ImaAdpcm, BlockSizesGiveTheirFrameCounts) {
  const SizeCase cases[] = {{1, 256, 505}, {2, 2048, 2041}, {1, 1024, 2041}, {2, 512, 505}};
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " channel(s), block " << c.align);
    EXPECT_EQ(ImaSamplesHeld({c.channels, c.align}), static_cast<std::uint32_t>(c.frames));
    EXPECT_FALSE(CheckImaFormat({c.channels, c.align, static_cast<std::uint16_t>(c.frames)}));
    const auto samples = DecodeBlock(RandomBlock(c.align, c.channels, 7), c.align, c.channels);
    EXPECT_EQ(samples.size(), static_cast<std::size_t>(c.frames * c.channels));
  }
}

struct ClampCase {
  const char* what;
  std::int16_t sample;
  std::uint8_t step_index;
  Block codes;
  std::vector<std::int16_t> expected;  ///< worked out by hand from the step table
};

TEST(ImaAdpcm, PredictorAndStepIndexStayInRange) {
  const ClampCase cases[] = {
      // 32000 + (4095 + 32767 + 16383 + 8191) stops at the top.
      {"predictor rises to 32767", 32000, 88, {0x77}, {32000, 32767, 32767}},
      // The bottom is -32767, never -32768.
      {"predictor falls to -32767", -32000, 88, {0xFF, 0xFF}, {-32000, -32767, -32767, -32767, -32767}},
      // Index 200 acts as 88: code 7 saturates, code 8 then subtracts 32767 >> 3.
      {"header step index past the table", 0, 200, {0x87}, {0, 32767, 28672}},
      // 85 + 8 stays 88: the second code still uses the last step.
      {"step index rising past 88", 0, 85, {0x87}, {0, 32767, 28672}},
      // Code 0 at index 0 keeps the index at 0; code 4 then adds step 7 (+ 7 >> 3 = 0).
      {"step index falling below 0", 0, 0, {0x40}, {0, 0, 7}},
  };
  for (const ClampCase& c : cases) {
    SCOPED_TRACE(c.what);
    ImaBlockState state;
    state.sample[0] = c.sample;
    state.step_index[0] = c.step_index;
    std::vector<std::int16_t> out(c.expected.size());
    auto count = static_cast<std::int32_t>(2 * c.codes.size() + 1);  // every code of the bytes
    DecodeImaMono(state, c.codes, out, count);
    EXPECT_EQ(count, static_cast<std::int32_t>(c.expected.size()));
    EXPECT_EQ(out, c.expected);
  }
}

/// One channel decoded straight from the codec's definition, branch by branch: the
/// reference the table-driven decoder must match.
struct PlainImaChannel {
  std::int32_t predictor;
  std::int32_t index;

  std::int16_t Step(std::uint32_t code) {
    const auto step = static_cast<std::int32_t>(kImaStepTable[static_cast<std::size_t>(index)]);
    std::int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    predictor = (code & 8) ? predictor - diff : predictor + diff;
    predictor = std::clamp(predictor, -32767, 32767);
    index = std::clamp(index + kImaIndexTable[code], 0, 88);
    return static_cast<std::int16_t>(predictor);
  }
};

/// Decodes a whole block as the codec defines it.
std::vector<std::int16_t> PlainDecode(const Block& block, int channels) {
  std::vector<PlainImaChannel> ch;
  for (int c = 0; c < channels; ++c) {
    const std::uint8_t* header = &block[4 * static_cast<std::size_t>(c)];
    ch.push_back({static_cast<std::int16_t>(header[0] | (header[1] << 8)), std::min<std::int32_t>(header[2], 88)});
  }
  std::vector<std::int16_t> out;
  for (const PlainImaChannel& c : ch) out.push_back(static_cast<std::int16_t>(c.predictor));
  const std::size_t first = 4 * static_cast<std::size_t>(channels);
  if (channels == 1) {
    for (std::size_t at = first; at < block.size(); ++at) {
      out.push_back(ch[0].Step(block[at] & 15u));
      out.push_back(ch[0].Step(block[at] >> 4u));
    }
    return out;
  }
  for (std::size_t group = first; group + 8 <= block.size(); group += 8) {
    for (std::size_t i = 0; i < 8; ++i) {
      out.push_back(ch[0].Step((block[group + i / 2] >> (4 * (i % 2))) & 15u));
      out.push_back(ch[1].Step((block[group + 4 + i / 2] >> (4 * (i % 2))) & 15u));
    }
  }
  return out;
}

TEST(ImaAdpcm, MatchesTheCodecDefinitionOnRandomBlocks) {
  // Random codes, silence and full-scale swings, with step indexes anywhere in the
  // header byte (past the table too): every row of the decoder's tables and both
  // limits are reached.
  std::mt19937 random(2024);
  for (int round = 0; round < 600; ++round) {
    const int channels = 1 + round % 2;
    Block block = RandomBlock(8 + 8 * (1 + random() % 128), channels, static_cast<std::uint32_t>(round));
    const int style = round / 2 % 3;
    for (std::size_t at = 4 * static_cast<std::size_t>(channels); at < block.size(); ++at) {
      if (style == 1) block[at] = (random() % 16 == 0) ? static_cast<std::uint8_t>(random()) : 0x00;
      if (style == 2) block[at] = (random() % 2) ? 0x77 : 0xFF;
    }
    for (int c = 0; c < channels; ++c) block[4 * static_cast<std::size_t>(c) + 2] = static_cast<std::uint8_t>(random());
    SCOPED_TRACE(round);
    ASSERT_EQ(DecodeBlock(block, static_cast<std::uint16_t>(block.size()), channels), PlainDecode(block, channels));
  }
}

TEST(ImaAdpcm, StereoChannelsReadTheirOwnCodeBytes) {
  // Channel 0's four bytes of each group hold code 0 (no change at step index
  // 0), channel 1's hold code 4 (+7 at step index 0, then growing steps).
  Block block = {100, 0, 0, 0, 0xF6, 0xFF, 0, 0};  // 100 and -10 at step index 0
  for (int group = 0; group < 2; ++group) {
    block.insert(block.end(), 4, 0x00);
    block.insert(block.end(), 4, 0x44);
  }
  const auto samples = DecodeBlock(block, static_cast<std::uint16_t>(block.size()), 2);
  ASSERT_EQ(samples.size(), 2u * 17);
  for (std::size_t frame = 0; frame < 17; ++frame) EXPECT_EQ(samples[2 * frame], 100) << frame;
  EXPECT_EQ(samples[1], -10);
  EXPECT_EQ(samples[3], -3);  // -10 + 7, step index now 2 (step 9)
  EXPECT_EQ(samples[5], 7);   // -3 + 9 + (9 >> 3)
  for (std::size_t frame = 1; frame < 17; ++frame) EXPECT_GT(samples[2 * frame + 1], samples[2 * frame - 1]);
}

TEST(ImaAdpcm, ShortBlockDecodesAsIfZeroFilled) {
  for (int channels : {1, 2}) {
    const std::uint16_t align = channels == 2 ? 264 : 256;
    const Block full = RandomBlock(align, channels, 11);
    for (std::size_t kept : {std::size_t{1}, std::size_t{3}, std::size_t{6}, std::size_t{9}, std::size_t{100},
                             std::size_t{align} - 1u}) {
      SCOPED_TRACE(testing::Message() << channels << " channel(s), " << kept << " bytes kept");
      const Block short_block(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(kept));
      Block zero_filled = full;
      std::fill(zero_filled.begin() + static_cast<std::ptrdiff_t>(kept), zero_filled.end(), 0);
      EXPECT_EQ(DecodeBlock(short_block, align, channels), DecodeBlock(zero_filled, align, channels));
    }
  }
}

TEST(ImaAdpcm, SplitIgnoresBytesPastTheBlockAndReportsAnEmptyRead) {
  Block block = RandomBlock(256, 1, 3);
  Block longer = block;
  longer.insert(longer.end(), 50, 0xAB);
  EXPECT_EQ(DecodeBlock(longer, 256, 1), DecodeBlock(block, 256, 1));

  ImaBlockState state;
  std::vector<std::uint8_t> codes(252);
  EXPECT_FALSE(SplitImaBlock({}, {1, 256}, state, codes));
}

struct BoundsCase {
  const char* what;
  int channels;
  std::size_t code_bytes;  ///< what the codes buffer holds
  std::int32_t count;      ///< frames the caller asks for
  std::size_t out_size;    ///< what the output buffer holds
  std::int32_t expected;   ///< samples (mono) or frames (stereo) written
};

TEST(ImaAdpcm, DecodersStayInsideTheirBuffers) {
  const BoundsCase cases[] = {
      {"mono output shorter than the block", 1, 252, 505, 10, 10},
      {"mono codes shorter than the count", 1, 10, 505, 600, 21},
      {"mono negative count", 1, 252, -5, 600, 1},
      {"mono empty output", 1, 252, 505, 0, 0},
      {"stereo output shorter than the block", 2, 248, 249, 21, 10},
      {"stereo partial group without channel-1 bytes", 2, 12, 13, 100, 9},
      {"stereo partial group with two channel-1 bytes", 2, 14, 15, 100, 13},
      {"stereo codes shorter than the count", 2, 16, 2001, 8000, 17},
      {"stereo output of one sample", 2, 248, 249, 1, 0},
  };
  const Block block = RandomBlock(4096, 2, 5);
  for (const BoundsCase& c : cases) {
    SCOPED_TRACE(c.what);
    ImaBlockState state;
    state.sample[0] = 1234;
    state.sample[1] = -4321;
    state.step_index[0] = 30;
    state.step_index[1] = 40;
    // Guard values around the output and exact-size code buffers on the heap
    // (the sanitizer builds catch any read past them).
    const std::vector<std::uint8_t> codes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(c.code_bytes));
    std::vector<std::int16_t> out(c.out_size + 8, 0x5A5A);
    std::int32_t count = c.count;
    std::span<std::int16_t> window(out.data(), c.out_size);
    if (c.channels == 2) DecodeImaStereo(state, codes, window, count);
    else DecodeImaMono(state, codes, window, count);
    EXPECT_EQ(count, c.expected);
    for (std::size_t i = c.out_size; i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A5A) << i;

    // What was written agrees with a decode into ample buffers.
    std::vector<std::uint8_t> all_codes(block.begin(), block.begin() + 4088);
    std::vector<std::int16_t> reference(20000);
    std::int32_t all = c.channels == 2 ? 4089 : 2 * 4088 + 1;
    if (c.channels == 2) DecodeImaStereo(state, all_codes, reference, all);
    else DecodeImaMono(state, all_codes, reference, all);
    const std::size_t written = static_cast<std::size_t>(count) * static_cast<std::size_t>(c.channels);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(written), reference.begin()));
  }
}

}  // namespace
}  // namespace vornek
