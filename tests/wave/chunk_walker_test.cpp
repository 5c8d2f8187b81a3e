// SPDX-License-Identifier: BSD-3-Clause
// The chunk walker: where payloads end for every kind of stated size, and how many
// reads of the stream a long walk costs.
#include "wave/chunk_walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/wav_writer.h"
#include "wave_in_probe.h"

namespace vornek::test {
namespace {

constexpr std::int64_t k4GiB = std::int64_t{1} << 32;

/// A stream of `size` bytes whose first bytes are `head` and the rest zeros, held
/// without the zeros; it counts the reads and seeks it is asked for.
class SparseStream : public TStream {
 public:
  SparseStream(Bytes head, std::int64_t size) : head_(std::move(head)), size_(size) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    ++reads;
    if (position_ >= size_) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), size_ - position_));
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i) {
      const std::int64_t at = position_ + static_cast<std::int64_t>(i);
      out[i] = at < static_cast<std::int64_t>(head_.size()) ? head_[static_cast<std::size_t>(at)] : 0;
    }
    position_ += static_cast<std::int64_t>(n);
    return n;
  }
  void Write(const void*, std::size_t) override { FAIL() << "the walker never writes"; }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    const std::int64_t target =
        (origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? position_ : size_) + offset;
    if (target != position_) ++seeks;
    position_ = target;
    return position_;
  }
  std::int64_t Size() override { return size_; }

  int reads = 0;
  int seeks = 0;

 private:
  Bytes head_;
  std::int64_t size_;
  std::int64_t position_ = 0;
};

/// The "data" chunk of `file` as the walker finds it, and where its payload lies.
TPayload PayloadOf(TStream& stream) {
  TChunkWalker walker(stream);
  while (const auto chunk = walker.Current()) {
    if (chunk->Is("data")) return walker.Payload(*chunk);
    walker.Advance(*chunk, "data");
  }
  ADD_FAILURE() << "no data chunk";
  return {};
}

struct PayloadCase {
  std::string name;
  std::uint32_t stated;   ///< the 32-bit size field of "data"
  std::int64_t present;   ///< bytes after the "data" header up to the end of the stream
  std::int64_t length;    ///< the payload's length the walker gives
  std::int64_t missing;   ///< bytes the stated size runs past the end
};

TEST(ChunkWalker, PayloadEndsWhereTheStatedSizeAndTheStreamAllow) {
  const PayloadCase cases[] = {
      {"size as stated", 1000, 1000, 1000, 0},
      {"chunks after the payload", 1000, 1600, 1000, 0},
      {"file cut short", 1000, 600, 600, 400},
      {"size 0: read to the end", 0, 600, 600, 0},
      {"size 0xFFFFFFFF: read to the end", 0xFFFFFFFF, 600, 600, 0},
      {"size 0x7FFFF000 of a writer that could not seek back", 0x7FFFF000, 600, 600, 0},
      {"size 0x7FFFF000 that is true", 0x7FFFF000, 0x7FFFF100, 0x7FFFF000, 0},
      {"size 0x7FFFF001 of a file cut short", 0x7FFFF001, 600, 600, 0x7FFFF001 - 600},
      {"0xFFFFFFFF past 4 GiB", 0xFFFFFFFF, k4GiB + 4000, k4GiB + 4000, 0},
      {"size wrapped past 4 GiB", 4000, k4GiB + 4000, k4GiB + 4000, 0},
      {"size wrapped twice", 4000, 2 * k4GiB + 4000, 2 * k4GiB + 4000, 0},
      {"wrapped odd size and its pad byte", 4001, k4GiB + 4002, k4GiB + 4001, 0},
      {"past 4 GiB, more than the wrapped size", 4000, k4GiB + 4100, 4000, 0},
  };
  const Bytes head = Riff({{"fmt ", FmtBody(1, 2, 44100, 16, 4)}});
  for (const PayloadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = head;
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    PutLE32(file, c.stated);
    const auto begin = static_cast<std::int64_t>(file.size());
    SparseStream stream(file, begin + c.present);
    const TPayload payload = PayloadOf(stream);
    EXPECT_EQ(payload.Begin, begin);
    EXPECT_EQ(payload.End - payload.Begin, c.length);
    EXPECT_EQ(payload.Missing, c.missing);
  }
}

TEST(ChunkWalker, AWalkOverManyChunksCostsAReadPerBufferNotPerChunk) {
  const Bytes payload = Pattern(4000);
  struct Case {
    const char* name;
    Bytes file;
  };
  std::vector<Chunk> odd_sized;  // half of them without their pad byte
  for (int i = 0; i < 100000; ++i) odd_sized.emplace_back("note", Bytes{'x'}, std::nullopt, i % 2 == 0);
  odd_sized.emplace_back("fmt ", FmtBody(1, 2, 44100, 16, 4));
  odd_sized.emplace_back("data", payload);
  // An RF64 file whose chunks all take their size from the last of 256 "ds64" entries.
  std::vector<std::pair<std::string, std::uint64_t>> table(255, {"xxxx", 1});
  table.emplace_back("note", 4);
  std::vector<Chunk> ds64_sized = {{"ds64", Ds64Body(0, payload.size(), payload.size() / 4, table)}};
  for (int i = 0; i < 100000; ++i) ds64_sized.emplace_back("note", Bytes{'a', 'b', 'c', 'd'}, 0xFFFFFFFFu);
  ds64_sized.emplace_back("fmt ", FmtBody(1, 2, 44100, 16, 4));
  ds64_sized.emplace_back("data", payload, 0xFFFFFFFFu);
  const Case cases[] = {{"RIFF, odd sizes", Riff(odd_sized)}, {"RF64, sizes from ds64", Rf64(ds64_sized)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SparseStream stream(c.file, static_cast<std::int64_t>(c.file.size()));
    TWaveProbe wave;
    wave.SetStream(&stream);
    ASSERT_EQ(OpenFailure(wave), "");
    EXPECT_EQ(wave.DataOffset, static_cast<std::int64_t>(c.file.size() - payload.size()));
    // About a megabyte of chunks, read a buffer at a time: a few dozen reads and seeks,
    // where one read a chunk would be a hundred thousand.
    EXPECT_LT(stream.reads, 100);
    EXPECT_LT(stream.seeks, 100);
    EXPECT_EQ(ReadAll(wave), payload);
    wave.Close();
    wave.SetStream(nullptr);
  }
}

TEST(BufferedReader, ReadsAnyRangeAsTheStreamHoldsIt) {
  const Bytes content = Pattern(300000);
  TMemoryStream stream(content);
  TBufferedReader reader(stream);
  EXPECT_EQ(reader.Size(), 300000);
  // Forward, backward, across the buffer's end, larger than the buffer, past the end.
  const struct {
    std::int64_t at;
    std::size_t count;
    std::size_t expected;
  } reads[] = {{0, 10, 10},         {65530, 20, 20}, {5, 100, 100},     {299990, 100, 10},
               {1000, 200000, 200000}, {300000, 4, 0},  {-1, 4, 0},        {123456, 0, 0}};
  for (const auto& r : reads) {
    SCOPED_TRACE(testing::Message() << "at " << r.at << ", " << r.count << " bytes");
    Bytes out(r.count, 0xEE);
    ASSERT_EQ(reader.ReadAt(r.at, out.data(), r.count), r.expected);
    if (r.expected > 0) {
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(r.expected),
                             content.begin() + r.at));
    }
  }
}

}  // namespace
}  // namespace vornek::test
