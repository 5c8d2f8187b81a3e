// SPDX-License-Identifier: BSD-3-Clause
#include <gtest/gtest.h>

#include "entry/output_name.h"

namespace vornek::test {
namespace {

bool NoLeadBytes(unsigned char) { return false; }
// A stand-in for a double-byte code page: 0x81 leads a two-byte character.
bool LeadByte81(unsigned char c) { return c == 0x81; }

TEST(OutputName, ReplacesTheExtensionOfTheFileNameOnly) {
  struct Case {
    const char* source;
    const char* delimiters;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\music\\song.wav", "\\/:", "C:\\music\\song.flac"},
      {"C:\\music\\song", "\\/:", "C:\\music\\song.flac"},
      {"C:\\a.b\\song", "\\/:", "C:\\a.b\\song.flac"},
      {"C:\\music\\song.", "\\/:", "C:\\music\\song.flac"},
      {"C:song.x.wav", "\\/:", "C:song.x.flac"},
      {"D:.wav", "\\/:", "D:.flac"},
      {"a.b/song", "\\/:", "a.b/song.flac"},
      {"music/song.wav", "/", "music/song.flac"},
      {"./a.b/song", "/", "./a.b/song.flac"},
      {"song.WAV", "/", "song.flac"},
      {"song.flac", "/", "song.flac"},
      {".hidden", "/", ".flac"},
      {"", "/", ".flac"},
      {"back\\slash.wav", "/", "back\\slash.flac"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FlacFileName(c.source, c.delimiters, NoLeadBytes), c.expected) << c.source;
}

TEST(OutputName, ATrailByteIsNeverTakenForADelimiterOrADot) {
  // 0x81 0x5C is one character whose trail byte happens to be "\".
  EXPECT_EQ(FlacFileName("dir.x\\a\x81\x5C" "b", "\\/:", LeadByte81), "dir.x\\a\x81\x5C" "b.flac");
  EXPECT_EQ(FlacFileName("a.wav\x81.", "\\/:", LeadByte81), "a.flac");
  EXPECT_EQ(FlacFileName("a.b\\c\x81\x5C", "\\/:", NoLeadBytes), "a.b\\c\x81\x5C.flac");
}

}  // namespace
}  // namespace vornek::test
