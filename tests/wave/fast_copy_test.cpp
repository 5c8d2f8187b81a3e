// SPDX-License-Identifier: BSD-3-Clause
// The copy routine: AlignedCopy copies exactly what memcpy copies, for every pair of
// alignments and every short length, and FastCopy is chosen by the processor test.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pipeline/input.h"
#include "platform/cpu.h"
#include "wave/fast_copy.h"
#include "wave/wave_in.h"

namespace vornek {
namespace {

TEST(FastCopy, AlignedCopyMatchesMemcpyForEveryAlignmentAndLength) {
  constexpr std::size_t kGuard = 16;
  constexpr std::size_t kSpan = 16 + 80 + 2 * kGuard;
  alignas(16) std::uint8_t source[kSpan];
  alignas(16) std::uint8_t copied[kSpan];
  alignas(16) std::uint8_t expected[kSpan];
  for (std::size_t i = 0; i < kSpan; ++i) source[i] = static_cast<std::uint8_t>(i * 37 + 11);
  for (std::size_t from = 0; from < 16; ++from) {
    for (std::size_t to = 0; to < 16; ++to) {
      for (std::size_t length = 0; length <= 80; ++length) {
        std::memset(copied, 0xEE, kSpan);
        std::memset(expected, 0xEE, kSpan);
        std::memcpy(expected + kGuard + to, source + kGuard + from, length);
        AlignedCopy(copied + kGuard + to, source + kGuard + from, static_cast<std::int32_t>(length));
        ASSERT_EQ(std::memcmp(copied, expected, kSpan), 0)
            << "source offset " << from << ", destination offset " << to << ", length " << length;
      }
    }
  }
}

TEST(FastCopy, AlignedCopyOfALongRun) {
  std::vector<std::uint8_t> source(100000), destination(100000, 0);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
  AlignedCopy(destination.data() + 3, source.data() + 3, 99990);
  EXPECT_EQ(std::memcmp(destination.data() + 3, source.data() + 3, 99990), 0);
  EXPECT_EQ(destination[0], 0);
  EXPECT_EQ(destination[99993], 0);
}

TEST(FastCopy, ChosenOnceByTheProcessorTest) {
  TWaveIn reader;  // the reader makes sure the choice was made
  SelectFastCopy();
  if (platform::HasSSE()) {
    EXPECT_EQ(FastCopy, &AlignedCopy);
  } else {
    EXPECT_NE(FastCopy, &AlignedCopy);
  }
#if defined(__x86_64__) || defined(_M_X64)
  EXPECT_TRUE(platform::HasSSE());  // every x86-64 processor has it
#endif
}

}  // namespace
}  // namespace vornek
