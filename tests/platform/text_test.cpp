// SPDX-License-Identifier: BSD-3-Clause
// Names are bytes on POSIX: every byte string survives the trip through UTF-16 that file
// names take, and well-formed UTF-8 still reads as the characters it spells.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/text.h"

namespace vornek::platform {
namespace {

TEST(Text, AnyBytesSurviveTheTripThroughUtf16) {
  std::mt19937 random(5);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(static_cast<std::size_t>(random() % 24), '\0');
    for (char& b : bytes) b = static_cast<char>(random() % 256);
    ASSERT_EQ(WideToBytes(BytesToWide(bytes)), bytes) << testing::PrintToString(bytes);
  }
}

TEST(Text, WellFormedUtf8ReadsAsItsCharactersAndOddBytesStandApart) {
  struct Case {
    std::string bytes;
    std::u16string wide;
  };
  const Case cases[] = {
      {"song.wav", u"song.wav"},
      {"ch\xC3\xA9ri \xE2\x99\xAB", u"ch\u00E9ri \u266B"},
      {"\xF0\x9F\x8E\xB5", u"\U0001F3B5"},
      {"y\x81", u"y\xDC81"},                        // a lone continuation byte
      {"\xC0\xAF", u"\xDCC0\xDCAF"},                // overlong: each byte on its own
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},      // a surrogate spelt in UTF-8
      {"\xC3", u"\xDCC3"},                          // cut short at the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(BytesToWide(c.bytes), c.wide);
    EXPECT_EQ(WideToBytes(c.wide), c.bytes);
  }
  // The strict conversions are unchanged: odd bytes become U+FFFD.
  EXPECT_EQ(Utf8ToWide("y\x81"), u"y\uFFFD");
  EXPECT_EQ(WideToUtf8(u"y\xDC81"), "y\xEF\xBF\xBD");
}

}  // namespace
}  // namespace vornek::platform
