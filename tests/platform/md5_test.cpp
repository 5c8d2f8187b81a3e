// SPDX-License-Identifier: BSD-3-Clause
// The platform's MD5 against the test values of its definition (RFC 1321), fed whole
// and in awkward pieces.
#include "platform/md5.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vornek::platform {
namespace {

std::string Hex(const Md5::Digest& digest) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : digest) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

struct Vector {
  std::string message;
  const char* digest;
};

const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, MatchesTheDefinitionsTestValuesWholeAndInPieces) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.message);
    Md5 whole;
    ASSERT_TRUE(whole);
    whole.Update(v.message.data(), v.message.size());
    const std::optional<Md5::Digest> digest = whole.Finish();
    ASSERT_TRUE(digest);
    EXPECT_EQ(Hex(*digest), v.digest);
    EXPECT_FALSE(whole);  // spent
    EXPECT_FALSE(whole.Finish());

    // Pieces of 1, 2, 3 ... bytes, with empty ones between them.
    Md5 pieces;
    std::size_t at = 0;
    for (std::size_t n = 1; at < v.message.size(); ++n) {
      const std::size_t piece = std::min(n, v.message.size() - at);
      pieces.Update(v.message.data() + at, piece);
      pieces.Update(v.message.data(), 0);
      at += piece;
    }
    EXPECT_EQ(Hex(*pieces.Finish()), v.digest);
  }
}

// A million 'a's (a well-known longer test value), handed over in two uneven pieces.
TEST(Md5, LongInputInLargePieces) {
  const std::vector<std::uint8_t> block(1000000, 'a');
  Md5 md5;
  md5.Update(block.data(), 333333);
  md5.Update(block.data() + 333333, block.size() - 333333);
  EXPECT_EQ(Hex(*md5.Finish()), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, AMovedFromDigestIsSpent) {
  Md5 first;
  first.Update("abc", 3);
  Md5 second = std::move(first);
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): moved-from state is specified
  EXPECT_FALSE(first.Finish());
  first.Update("x", 1);  // does nothing
  EXPECT_EQ(Hex(*second.Finish()), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace vornek::platform
