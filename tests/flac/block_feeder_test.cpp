// SPDX-License-Identifier: BSD-3-Clause
// The block feeder on its real thread: blocks come out whole and in order however
// often its ring goes round, an input failure surfaces at the block it struck, and
// the feeder can be let go at any point.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "flac/block_feeder.h"
#include "flac/flac_fixtures.h"
#include "base/au_exception.h"
#include "support/files.h"

namespace vornek::test {
namespace {

/// Everything the feeder hands out until the end, with the size of every block.
struct Drained {
  std::vector<std::int32_t> samples;
  std::vector<std::uint32_t> frames;
};

Drained Drain(TBlockFeeder& feeder, int channels) {
  Drained d;
  for (TBlockFeeder::Block block = feeder.Next(); block.Frames != 0; block = feeder.Next()) {
    d.frames.push_back(block.Frames);
    d.samples.insert(d.samples.end(), block.Samples,
                     block.Samples + std::size_t{block.Frames} * static_cast<std::size_t>(channels));
  }
  return d;
}

struct FeedCase {
  const char* name;
  std::uint32_t block_frames;
  std::uint32_t frames;  // of the input
  int channels;
  int bits;
  friend void PrintTo(const FeedCase& c, std::ostream* os) { *os << c.name; }
};

class BlockFeederDelivery : public ::testing::TestWithParam<FeedCase> {};

TEST_P(BlockFeederDelivery, HandsOutEverySampleInWholeBlocks) {
  const FeedCase& c = GetParam();
  const std::vector<std::int32_t> signal = TestSignal(c.frames, c.channels, c.bits);
  PcmInput input(ToPcm(signal, c.bits), c.bits, c.channels);
  input.Open();
  TBlockFeeder feeder(input, c.block_frames, c.channels, c.bits);
  const Drained d = Drain(feeder, c.channels);
  EXPECT_TRUE(d.samples == signal);
  std::vector<std::uint32_t> expected(c.frames / c.block_frames, c.block_frames);
  if (c.frames % c.block_frames != 0) expected.push_back(c.frames % c.block_frames);
  EXPECT_EQ(d.frames, expected);
  EXPECT_EQ(feeder.Next().Frames, 0u) << "the end stays the end";
  EXPECT_EQ(input.Position, input.Size);
}

INSTANTIATE_TEST_SUITE_P(
    BlockFeeder, BlockFeederDelivery,
    ::testing::Values(
        FeedCase{"Empty", 4608, 0, 2, 16},
        FeedCase{"OneFrame", 4608, 1, 2, 16},
        FeedCase{"ExactlyOneBlock", 4608, 4608, 1, 24},
        // Small blocks make a ring of many slots; this goes round it several times.
        FeedCase{"RoundTheRingManyTimes", 16, 300001, 1, 8},
        FeedCase{"LargeBlocksFewSlots", 65535, 200000, 8, 32}));

TEST(BlockFeeder, DropsATrailingPartOfAFrame) {
  std::vector<std::uint8_t> bytes = ToPcm(TestSignal(10, 2, 16), 16);
  bytes.push_back(0x12);  // half a sample
  bytes.push_back(0x34);
  bytes.push_back(0x56);  // and a sample more: still not a frame
  PcmInput input(bytes, 16, 2);
  input.Open();
  TBlockFeeder feeder(input, 4608, 2, 16);
  const Drained d = Drain(feeder, 2);
  EXPECT_EQ(d.frames, std::vector<std::uint32_t>{10});
}

TEST(BlockFeeder, AnInputFailureArrivesAfterTheBlocksBeforeIt) {
  const std::vector<std::int32_t> signal = TestSignal(10 * 100, 1, 16);
  PcmInput input(ToPcm(signal, 16), 16, 1);
  input.failing_read = 3;  // one read per block: blocks 0 to 2 are whole
  input.read_failure = "the disk went away";
  input.Open();
  TBlockFeeder feeder(input, 100, 1, 16);
  for (int block = 0; block < 3; ++block) {
    const TBlockFeeder::Block b = feeder.Next();
    ASSERT_EQ(b.Frames, 100u);
    EXPECT_EQ(b.Samples[0], signal[static_cast<std::size_t>(block) * 100]);
  }
  try {
    feeder.Next();
    ADD_FAILURE() << "the failure was not raised";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "the disk went away");
  }
  EXPECT_EQ(feeder.Next().Frames, 0u) << "nothing is read after a failure";
  EXPECT_EQ(input.reads, 4);
}

// Let go right away, with the ring full and the reader waiting for room, with a block
// held, and with the reader stuck inside a read: each returns, and the input is read
// no further.
TEST(BlockFeeder, CanBeLetGoAtAnyPoint) {
  const std::vector<std::uint8_t> bytes = ToPcm(TestSignal(1 << 20, 1, 16), 16);
  const int blocks = (1 << 20) / 16;
  PcmInput fresh(bytes, 16, 1);
  fresh.Open();
  { TBlockFeeder feeder(fresh, 16, 1, 16); }

  PcmInput taken(bytes, 16, 1);
  taken.Open();
  {
    TBlockFeeder feeder(taken, 16, 1, 16);
    ASSERT_EQ(feeder.Next().Frames, 16u);
    ASSERT_TRUE(PumpUntil([&] { return taken.reads > 16; }));
  }
  const int reads = taken.reads;
  EXPECT_LT(reads, blocks) << "the reader stopped when the ring was full";

  PcmInput held(bytes, 16, 1);
  held.HoldAfter(2);
  held.Open();
  std::thread releaser;
  {
    TBlockFeeder feeder(held, 16, 1, 16);
    ASSERT_TRUE(PumpUntil([&] { return held.Holding(); }));
    releaser = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      held.Release();
    });
  }  // waits for the read in progress, however long it takes
  releaser.join();
  const int held_reads = held.reads;
  EXPECT_LT(held_reads, blocks);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(taken.reads, reads);
  EXPECT_EQ(held.reads, held_reads);
}

// A block size of 0 lets the library choose its own; the whole input is still encoded.
TEST(BlockFeeder, AWriterWithBlockSizeZeroEncodesEverything) {
  BindingGuard binding;
  TempDir dir;
  const std::vector<std::int32_t> signal = TestSignal(3 * 4608 + 5, 2, 16);
  PcmInput input(ToPcm(signal, 16), 16, 2);
  TFLACOut out;
  out.SetInput(&input);
  out.SetFileName(dir.File("zero.flac"));
  out.SetBlockSize(0);
  ASSERT_TRUE(RunAndWait(out).failures.empty());
  const Decoded d = DecodeFlac(dir.File("zero.flac"));
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.samples == signal);
}

}  // namespace
}  // namespace vornek::test
