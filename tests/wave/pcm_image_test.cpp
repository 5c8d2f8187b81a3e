// SPDX-License-Identifier: BSD-3-Clause
// The block-held PCM image: filled through Room and Commit (and Write), read back in
// pieces of any size across its blocks, and let go behind the reader.
#include "wave/pcm_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pipeline/au_exception.h"

namespace vornek {
namespace {

constexpr std::size_t kBlock = TPcmImage::kBlockBytes;

std::uint8_t ByteAt(std::size_t i) { return static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF); }

/// An image of `total` bytes filled in commits of the given sizes (cycled), each asking
/// for room of `at_least`.
void Fill(TPcmImage& image, std::size_t total, const std::vector<std::size_t>& commits, std::size_t at_least) {
  std::size_t done = 0;
  for (std::size_t n = 0; done < total; ++n) {
    const std::size_t want = std::min(commits[n % commits.size()], total - done);
    const std::span<std::uint8_t> room = image.Room(std::max(at_least, want));
    ASSERT_GE(room.size(), want);
    for (std::size_t i = 0; i < want; ++i) room[i] = ByteAt(done + i);
    image.Commit(want);
    done += want;
  }
}

TEST(PcmImage, ReadsBackWhatWasCommittedInPiecesOfAnySizeAcrossBlocks) {
  struct Case {
    const char* what;
    std::vector<std::size_t> commits;
    std::size_t at_least;
    std::size_t read_piece;
  };
  const Case cases[] = {
      {"whole blocks, read in odd pieces", {kBlock}, 1, 4609},
      {"odd commits that leave room unused at each block's end", {70000, 3}, 65536, 127},
      {"room asked for beyond a block", {kBlock + 5}, kBlock + 5, 1 << 20},
      {"single bytes", {1}, 1, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t total = 2 * kBlock + 12345;
    TPcmImage image;
    Fill(image, c.what[0] == 's' ? 100000 : total, c.commits, c.at_least);
    const auto size = static_cast<std::size_t>(image.Size());
    std::vector<std::uint8_t> read(size + 10);
    std::size_t got = 0;
    while (std::size_t n = image.Read(read.data() + got, std::min(c.read_piece, read.size() - got))) got += n;
    ASSERT_EQ(got, size);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < size; ++i) wrong += read[i] != ByteAt(i);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(image.CopyAll(), std::vector<std::uint8_t>(read.begin(), read.begin() + static_cast<std::ptrdiff_t>(size)));
  }
}

TEST(PcmImage, WriteOverwritesInPlaceAndFillsAGapWithZeros) {
  TPcmImage image;
  Fill(image, kBlock + 10, {kBlock + 10}, 1);
  const std::vector<std::uint8_t> across(20, 0xAB);
  image.SetPosition(static_cast<std::int64_t>(kBlock) - 10);  // the end of the first block
  image.Write(across.data(), across.size());
  EXPECT_EQ(image.Size(), static_cast<std::int64_t>(kBlock) + 10);
  image.SetPosition(image.Size() + 3);
  const std::uint8_t tail[2] = {1, 2};
  image.Write(tail, 2);

  const std::vector<std::uint8_t> all = image.CopyAll();
  ASSERT_EQ(all.size(), kBlock + 15);
  for (std::size_t i = kBlock - 10; i < kBlock + 10; ++i) EXPECT_EQ(all[i], 0xAB) << i;
  EXPECT_EQ(all[kBlock - 11], ByteAt(kBlock - 11));
  EXPECT_EQ(std::vector<std::uint8_t>(all.end() - 5, all.end()), (std::vector<std::uint8_t>{0, 0, 0, 1, 2}));
}

TEST(PcmImage, RoomNeverCommittedIsGivenBackForALargerBlock) {
  TPcmImage image;
  image.Room(1);
  EXPECT_EQ(image.HeldBytes(), static_cast<std::int64_t>(kBlock));
  image.Room(kBlock * 2);
  EXPECT_EQ(image.HeldBytes(), static_cast<std::int64_t>(kBlock * 2));
  image.Commit(5);
  image.Room(kBlock * 2);  // the rest of the block is too small now: a second block
  EXPECT_EQ(image.HeldBytes(), static_cast<std::int64_t>(kBlock * 4));
}

TEST(PcmImage, ReadingFreesWhatLiesBehindOnceAskedTo) {
  TPcmImage image;
  Fill(image, 3 * kBlock, {kBlock}, 1);
  std::vector<std::uint8_t> buffer(kBlock / 2);
  image.Read(buffer.data(), buffer.size());
  EXPECT_EQ(image.HeldBytes(), static_cast<std::int64_t>(3 * kBlock)) << "nothing is freed unless asked";

  image.ReleaseBehind();
  image.Read(buffer.data(), buffer.size());  // the end of the first block
  EXPECT_EQ(image.HeldBytes(), static_cast<std::int64_t>(2 * kBlock));
  image.SetPosition(static_cast<std::int64_t>(kBlock) + 7);  // still held
  EXPECT_THROW(image.SetPosition(10), EAuException);
  EXPECT_THROW(image.CopyAll(), EAuException);
  image.SetPosition(static_cast<std::int64_t>(kBlock) + 7);
  ASSERT_EQ(image.Read(buffer.data(), 1), 1u);
  EXPECT_EQ(buffer[0], ByteAt(kBlock + 7));
  while (image.Read(buffer.data(), buffer.size()) > 0) {
  }
  EXPECT_EQ(image.HeldBytes(), 0);
}

}  // namespace
}  // namespace vornek
