// SPDX-License-Identifier: BSD-3-Clause
// The input contract: byte accounting, sample ranges, looping and the read helpers,
// on a file input whose "file" is a run of numbered frames in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/au_exception.h"
#include "pipeline/input.h"

namespace vornek::test {
namespace {

/// A 16-bit mono file input over `frames` frames; frame i holds the value i. Each
/// ReadInternal hands out at most `chunk` bytes, as a reader serving a window would.
class FrameFileIn : public TAuFileIn {
 public:
  explicit FrameFileIn(int frames, std::uint32_t chunk = 6) : chunk_(chunk) {
    for (int i = 0; i < frames; ++i) {
      data_.push_back(static_cast<std::uint8_t>(i));
      data_.push_back(static_cast<std::uint8_t>(i >> 8));
    }
    SetFileName("frames.raw");
  }
  ~FrameFileIn() override { CloseFile(); }

  int read_internal_calls = 0;
  int open_file_calls = 0;
  std::int32_t channels = 1;

  using TAuInput::Read;

 protected:
  void OpenFile() override {
    ++open_file_calls;
    if (OpenCount != 0) return;
    BitsPerSample = 16;
    Channels = channels;
    SampleRate = 10;
    Size = static_cast<std::int64_t>(data_.size());
    Valid = true;
    offset_ = 0;
    OpenCount = 1;
  }
  void CloseFile() override { OpenCount = 0; }
  void ReadInternal(const std::uint8_t*& buffer, std::uint32_t& count) override {
    ++read_internal_calls;
    const std::size_t left = data_.size() - offset_;
    count = std::min({count, chunk_, static_cast<std::uint32_t>(left)});
    buffer = data_.data() + offset_;
    offset_ += count;
  }
  bool SeekInternal(std::int64_t& sample) override {
    offset_ = std::min(data_.size(), static_cast<std::size_t>(sample) * 2);
    return true;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::uint32_t chunk_;
  std::size_t offset_ = 0;
};

/// Reads the open input to its end (at most `limit` frames) in `request`-byte pieces.
std::vector<int> ReadFrames(TAuInput& input, std::uint32_t request = 10, std::size_t limit = 1000) {
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> piece(request);
  bool end = false;
  while (!end && bytes.size() < limit * 2) {
    const std::uint32_t got = input.ReadFully(piece.data(), request, end);
    bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
  }
  std::vector<int> frames;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) frames.push_back(bytes[i] | bytes[i + 1] << 8);
  if (frames.size() > limit) frames.resize(limit);
  return frames;
}

std::vector<int> Iota(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

struct RangeCase {
  const char* name;
  std::int64_t start, end;           // as set before Open
  std::int64_t total_samples;        // after Open
  std::int64_t end_after_open;
  std::vector<int> delivered;
};

class Ranges : public testing::TestWithParam<RangeCase> {};

TEST_P(Ranges, OpenAppliesTheRangeAndReadingDeliversExactlyIt) {
  const RangeCase& c = GetParam();
  FrameFileIn input(100);
  input.StartSample = c.start;
  input.EndSample = c.end;
  input.Open();
  EXPECT_EQ(input.TotalSamples, c.total_samples);
  EXPECT_EQ(input.EndSample, c.end_after_open);
  EXPECT_EQ(input.Size, c.total_samples * 2);
  EXPECT_EQ(input.Position, 0);
  EXPECT_EQ(ReadFrames(input), c.delivered);
  input.Close();
  EXPECT_EQ(input.StartSample, 0) << "closing forgets the range";
  EXPECT_EQ(input.EndSample, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Input, Ranges,
    testing::Values(RangeCase{"whole", 0, -1, 100, -1, Iota(0, 99)},
                    RangeCase{"middle", 10, 19, 10, 19, Iota(10, 19)},
                    RangeCase{"from_10_to_end", 10, -1, 90, -1, Iota(10, 99)},
                    RangeCase{"end_past_data", 0, 150, 100, -1, Iota(0, 99)},
                    RangeCase{"last_frame_only", 99, 99, 1, 99, Iota(99, 99)}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Input, TheReadThatCrossesTheEndOfTheRangeIsCut) {
  FrameFileIn input(100, /*chunk=*/16);
  input.StartSample = 10;
  input.EndSample = 12;
  input.Open();
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 16;
  input.Read(data, count);
  EXPECT_EQ(count, 6u) << "three frames of the range, not the eight the reader handed out";
  EXPECT_EQ(input.Position, input.Size);
  EXPECT_TRUE(input.EndOfData);
  const int calls = input.read_internal_calls;
  count = 16;
  input.Read(data, count);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(input.read_internal_calls, calls) << "an exhausted input does not read again";
}

TEST(Input, LoopingRestartsTheRangeWithoutDroppingItsLastBytes) {
  for (std::uint32_t request : {2u, 4u, 6u, 14u}) {
    FrameFileIn input(100, /*chunk=*/8);
    input.StartSample = 10;
    input.EndSample = 14;
    input.Loop = true;
    input.Open();
    std::vector<int> expected;
    for (int lap = 0; lap < 4; ++lap)
      for (int f = 10; f <= 14; ++f) expected.push_back(f);
    EXPECT_EQ(ReadFrames(input, request, expected.size()), expected) << "request " << request;
  }
}

TEST(Input, LoopingWithoutAStatedSizeRestartsWhenTheDataEnds) {
  FrameFileIn input(6, /*chunk=*/4);
  input.Loop = true;
  input.Open();
  input.Size = 0;  // a reader that does not know its length reads to the end
  EXPECT_EQ(ReadFrames(input, 4, 15), (std::vector<int>{0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 0, 1, 2}));
}

TEST(Input, OpeningAnOpenInputFailsAndStopsItsDelivery) {
  FrameFileIn input(10);
  input.Open();
  try {
    input.Open();
    ADD_FAILURE() << "second Open accepted";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The component is Busy");
  }
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 4;
  input.Read(data, count);
  EXPECT_EQ(count, 0u);
}

TEST(Input, OpenWithoutAFileNameFails) {
  FrameFileIn input(10);
  input.SetFileName("");
  EXPECT_THROW(
      {
        try {
          input.Open();
        } catch (const EAuException& e) {
          EXPECT_STREQ(e.what(), "The file name is not assigned");
          throw;
        }
      },
      EAuException);
  EXPECT_TRUE(input.EndOfData);
}

TEST(Input, AFormatWithoutWholeFrameBytesIsRefusedNotDividedBy) {
  FrameFileIn input(10);
  input.channels = 0;
  EXPECT_THROW(input.Open(), EAuException);
  EXPECT_TRUE(input.EndOfData);
}

TEST(Input, SeekOnAClosedInputMovesTheRangeStart) {
  FrameFileIn input(100);
  input.EndSample = 50;
  EXPECT_TRUE(input.Seek(5));
  EXPECT_EQ(input.StartSample, 5);
  EXPECT_EQ(input.EndSample, -1);
  input.Open();
  EXPECT_EQ(ReadFrames(input).front(), 5);
}

TEST(Input, SeekOnAnOpenInputPositionsWithinTheRange) {
  FrameFileIn input(100);
  input.StartSample = 10;
  input.Open();
  EXPECT_TRUE(input.Seek(5));
  EXPECT_EQ(input.Position, 10) << "5 frames of 2 bytes";
  EXPECT_EQ(ReadFrames(input).front(), 15);
  EXPECT_TRUE(input.Seek(0)) << "a seek back from the end";
  EXPECT_EQ(ReadFrames(input).size(), 90u);
}

TEST(Input, SeekIsRefusedPastTheEndOrWhenNotSeekable) {
  FrameFileIn input(100);
  input.Open();
  EXPECT_FALSE(input.Seek(101));
  EXPECT_TRUE(input.Seek(100));
  input.Seekable = false;
  EXPECT_FALSE(input.Seek(1));
}

TEST(Input, ReadFullyReportsTheEndOnlyWhenAReadDeliveredNothing) {
  FrameFileIn input(4, /*chunk=*/3);
  input.Open();
  std::uint8_t buffer[8];
  bool end = true;
  EXPECT_EQ(input.ReadFully(buffer, 0, end), 0u);
  EXPECT_TRUE(end) << "a request of nothing counts as the end";
  end = true;
  EXPECT_EQ(input.ReadFully(buffer, 8, end), 8u);
  EXPECT_FALSE(end) << "filled exactly, although the data ends there";
  EXPECT_EQ(input.ReadFully(buffer, 8, end), 0u);
  EXPECT_TRUE(end);
}

TEST(Input, ReadAheadBytesAreHandedOutBeforeTheStream) {
  FrameFileIn input(10, /*chunk=*/4);
  input.Open();
  input.FillReadAhead(6);
  EXPECT_EQ(input.Position, 0) << "read ahead is not yet handed out";
  EXPECT_EQ(ReadFrames(input, 4), Iota(0, 9));
  EXPECT_EQ(input.Position, 20);
}

TEST(Input, FormatQueriesOpenTheFileOnceAndTotalsFollowTheSize) {
  FrameFileIn input(25);
  EXPECT_EQ(input.GetChannels(), 1);
  EXPECT_EQ(input.GetBitsPerSample(), 16);
  EXPECT_EQ(input.GetTotalSamples(), 25);
  EXPECT_EQ(input.GetTotalTime(), 2) << "25 frames at 10 Hz is 2.5 s, to the even side";
  input.SetFileName("other.raw");  // closes the file: the next query opens it again
  EXPECT_EQ(input.GetSampleRate(), 10);
}

TEST(Input, ForceCloseLeavesTheInputReadyToOpenAgain) {
  FrameFileIn input(10);
  input.Open();
  input.ForceClose();
  EXPECT_FALSE(input.Busy);
  input.Open();
  EXPECT_EQ(ReadFrames(input).size(), 10u);
}

}  // namespace
}  // namespace vornek::test
