// SPDX-License-Identifier: BSD-3-Clause
// File streams: opening by UTF-16 name with the framework's modes, sharing between
// opens of one file, and the system's own failure texts.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/au_exception.h"
#include "pipeline/file_stream.h"
#include "platform/text.h"
#include "support/files.h"

namespace vornek::test {
namespace {

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
  }
  return count;
}

std::u16string Wide(const std::string& path) { return platform::AnsiToWide(path); }

std::string OpenFailure(const std::string& path, std::uint16_t mode) {
  try {
    TAuFileStream stream(Wide(path), mode);
  } catch (const EAuException& e) {
    return e.what();
  }
  return "";
}

TEST(FileStream, AMissingFileFailsWithTheSystemsTextAndLeavesNoHandle) {
  TempDir dir;
  const int before = OpenDescriptors();
  EXPECT_EQ(OpenFailure(dir.File("missing.wav"), platform::kModeReadShareRead),
            std::strerror(ENOENT));
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(FileStream, CreateEmptiesAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("out.flac");
  WriteBytes(path, {1, 2, 3, 4});
  {
    TAuFileStream stream(Wide(path), platform::kModeCreate);
    EXPECT_EQ(stream.Size(), 0);
    stream.Write("ab", 2);
  }
  EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'a', 'b'}));
}

TEST(FileStream, ACreatedFileIsSharedWithNobody) {
  TempDir dir;
  const std::string path = dir.File("out.flac");
  auto writer = std::make_unique<TAuFileStream>(Wide(path), platform::kModeCreate);
  EXPECT_EQ(OpenFailure(path, platform::kModeReadShareRead), std::strerror(EBUSY));
  writer.reset();
  EXPECT_EQ(OpenFailure(path, platform::kModeReadShareRead), "") << "free again once closed";
}

TEST(FileStream, SharingFollowsTheModeBits) {
  struct Case {
    std::uint16_t first, second;
    bool second_opens;
  };
  const Case cases[] = {
      {0x20, 0x20, true},   // two readers that let others read
      {0x00, 0x20, false},  // the first reader shares nothing
      {0x10, 0x20, false},  // 0x10 shares like 0x00
      {0x20, 0x21, false},  // a writer is not let in by a read-only share
      {0x40, 0x22, true},   // read and write share lets a reader-writer in
      {0x22, 0x20, false},  // a later open must itself share the first's write access
      {0x42, 0x40, true},
  };
  TempDir dir;
  const std::string path = dir.File("shared.bin");
  WriteBytes(path, {0});
  for (const Case& c : cases) {
    TAuFileStream first(Wide(path), c.first);
    EXPECT_EQ(OpenFailure(path, c.second).empty(), c.second_opens)
        << std::hex << c.first << " then " << c.second;
  }
}

TEST(FileStream, AFolderIsNotAFile) {
  TempDir dir;
  EXPECT_EQ(OpenFailure(dir.Path().string(), platform::kModeReadShareRead), std::strerror(EISDIR));
}

TEST(FileStream, ReadsSeeksAndSizes) {
  TempDir dir;
  const std::string path = dir.File("data.bin");
  WriteBytes(path, {10, 11, 12, 13, 14});
  TAuFileStream stream(Wide(path), platform::kModeReadShareRead);
  EXPECT_EQ(stream.Size(), 5);
  stream.SetPosition(3);
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(stream.Read(buffer, 4), 2u);
  EXPECT_EQ(buffer[0], 13);
  EXPECT_EQ(stream.Read(buffer, 4), 0u);
  // Writes are gathered: the refusal of a stream opened for reading comes when the
  // gathered bytes are handed to the system.
  stream.Write("x", 1);
  EXPECT_THROW(stream.Flush(), EAuException) << "opened for reading only";
}

TEST(FileStream, GatheredWritesLandWhereTheyWereMade) {
  TempDir dir;
  const std::string path = dir.File("out.bin");
  {
    TAuFileStream stream(Wide(path), platform::kModeCreate);
    stream.Write("0123456789", 10);
    EXPECT_EQ(stream.Position(), 10);
    stream.SetPosition(2);  // back over gathered bytes, as an encoder rewrites its header
    stream.Write("ab", 2);
    EXPECT_EQ(stream.Position(), 4);
    stream.Seek(0, SeekOrigin::End);
    stream.Write("!", 1);
    EXPECT_EQ(stream.Size(), 11);
    stream.Flush();
  }
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "01ab456789!");
}

// Megabytes in the sizes an encoder writes, with writes larger than what is gathered
// among them and a header rewritten at the end: whatever is written behind, every byte
// lands where it was written, and the size and reads see all of them.
TEST(FileStream, WritesBehindLandInOrder) {
  TempDir dir;
  const std::string path = dir.File("out.bin");
  std::vector<std::uint8_t> expected;
  {
    TAuFileStream stream(Wide(path), platform::kModeCreate);
    const std::size_t pieces[] = {1, 4093, 17000, 3 << 20, 65536, 7};
    for (int round = 0; round < 40; ++round) {
      std::vector<std::uint8_t> piece(pieces[round % std::size(pieces)]);
      for (std::size_t i = 0; i < piece.size(); ++i)
        piece[i] = static_cast<std::uint8_t>((expected.size() + i) * 7 + round);
      stream.Write(piece.data(), piece.size());
      expected.insert(expected.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(expected.size()));
    stream.SetPosition(4);
    stream.Write("HEAD", 4);
    std::copy_n("HEAD", 4, expected.begin() + 4);
    std::uint8_t back[4] = {};
    stream.SetPosition(4);
    ASSERT_EQ(stream.Read(back, 4), 4u);
    EXPECT_EQ(std::string(back, back + 4), "HEAD");
    stream.Flush();
  }
  EXPECT_TRUE(ReadBytes(path) == expected);
}

// A device that is always full: the failure of a write made behind the caller's back
// reaches the caller, with the system's text, by the time Flush returns at the latest.
TEST(FileStream, AFailedWriteBehindIsRaised) {
  TAuFileStream stream(Wide("/dev/full"), platform::kModeCreate);
  const std::vector<std::uint8_t> piece(10000, 1);
  std::string failure;
  try {
    for (int i = 0; i < 500; ++i) stream.Write(piece.data(), piece.size());
    stream.Flush();
  } catch (const EAuException& e) {
    failure = e.what();
  }
  EXPECT_EQ(failure, std::strerror(ENOSPC));
}

TEST(FileStream, NonAsciiNamesRoundTrip) {
  TempDir dir;
  const std::string path = dir.File("ch\xc3\xa9ri \xe2\x99\xab.wav");
  { TAuFileStream stream(Wide(path), platform::kModeCreate); }
  EXPECT_EQ(OpenFailure(path, platform::kModeReadShareRead), "");
}

}  // namespace
}  // namespace vornek::test
