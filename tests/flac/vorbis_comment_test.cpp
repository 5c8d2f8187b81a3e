// SPDX-License-Identifier: BSD-3-Clause
// The comment block the writer puts in place of libFLAC's.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "flac/vorbis_comment.h"
#include "base/au_exception.h"
#include "tags/vorbis_tags.h"

namespace vornek {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes LE32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

TEST(VorbisComment, EmptyTagsGiveTheExact25Bytes) {
  TVorbisTags tags;
  tags.Clear();
  const TVComments record = FillVComments(tags);
  const Bytes body = Concat({{0x0D, 0, 0, 0}, Text("VENDOR=Duzode"), {0, 0, 0, 0}});
  EXPECT_EQ(BuildVorbisComment(record, false), Concat({{0x84, 0x00, 0x00, 0x15}, body}));
  EXPECT_EQ(BuildVorbisComment(record, true), Concat({{0x04, 0x00, 0x00, 0x15}, body}));
}

TEST(VorbisComment, TitleThenArtistWhateverOrderTheyWereSet) {
  for (bool title_first : {true, false}) {
    TVorbisTags tags;
    if (title_first) {
      tags.SetTitle(u"Ab");
      tags.SetArtist(u"X");
    } else {
      tags.SetArtist(u"X");
      tags.SetTitle(u"Ab");
    }
    const Bytes block = BuildVorbisComment(FillVComments(tags), true);
    const Bytes expected =
        Concat({{0x04, 0x00, 0x00, 45}, LE32(13), Text("VENDOR=Duzode"), LE32(2), LE32(8),
                Text("title=Ab"), LE32(8), Text("artist=X")});
    EXPECT_EQ(block.size(), 49u);
    EXPECT_EQ(block, expected) << "title first: " << title_first;
  }
}

TEST(VorbisComment, AllTwelveFieldsInBlockOrder) {
  TVorbisTags tags;
  // Set in property order, which is not the block order.
  tags.SetAlbum(u"a");
  tags.SetArtist(u"b");
  tags.SetDate(u"c");
  tags.SetGenre(u"d");
  tags.SetTitle(u"e");
  tags.SetTrack(u"f");
  tags.SetDisc(u"g");
  tags.SetReference(u"h");
  tags.SetTrackGain(u"i");
  tags.SetTrackPeak(u"j");
  tags.SetAlbumGain(u"k");
  tags.SetAlbumPeak(u"l");
  const std::vector<std::string> order = {
      "title=e", "artist=b", "album=a", "date=c", "genre=d", "tracknumber=f", "discnumber=g",
      "replaygain_reference_loudness=h", "replaygain_track_gain=i", "replaygain_track_peak=j",
      "replaygain_album_gain=k", "replaygain_album_peak=l"};
  Bytes body = Concat({LE32(13), Text("VENDOR=Duzode"), LE32(12)});
  for (const std::string& c : order) body = Concat({body, LE32(static_cast<std::uint32_t>(c.size())), Text(c)});
  const auto L = static_cast<std::uint32_t>(body.size());
  const Bytes expected = Concat({{0x84, static_cast<std::uint8_t>(L >> 16),
                                  static_cast<std::uint8_t>(L >> 8), static_cast<std::uint8_t>(L)},
                                 body});
  EXPECT_EQ(BuildVorbisComment(FillVComments(tags), false), expected);
}

struct Utf8Case {
  const char* name;
  std::u16string value;
  std::string utf8;
  friend void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }
};

class CommentUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(CommentUtf8, LengthsCountUtf8Bytes) {
  TVorbisTags tags;
  tags.SetGenre(GetParam().value);
  const Bytes block = BuildVorbisComment(FillVComments(tags), true);
  const std::string comment = "genre=" + GetParam().utf8;
  const Bytes expected = Concat({LE32(13), Text("VENDOR=Duzode"), LE32(1),
                                 LE32(static_cast<std::uint32_t>(comment.size())), Text(comment)});
  ASSERT_EQ(block.size(), expected.size() + 4);
  EXPECT_EQ(Bytes(block.begin() + 4, block.end()), expected);
  const std::uint32_t L = (std::uint32_t{block[1]} << 16) | (std::uint32_t{block[2]} << 8) | block[3];
  EXPECT_EQ(L, expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    VorbisComment, CommentUtf8,
    ::testing::Values(Utf8Case{"Space", u" ", " "},
                      Utf8Case{"TwoByte", u"\u00e9", "\xC3\xA9"},
                      Utf8Case{"ThreeByte", u"\u20ac", "\xE2\x82\xAC"},
                      Utf8Case{"OutsideBmp", u"\U0001F600", "\xF0\x9F\x98\x80"},
                      Utf8Case{"Mixed", u"a\u00e9\U0001F600z", "a\xC3\xA9\xF0\x9F\x98\x80z"}),
    [](const ::testing::TestParamInfo<Utf8Case>& p) { return p.param.name; });

TEST(VorbisComment, AppendCommentStringWritesLengthThenBytes) {
  Bytes out(4 + 3 + 4, 0xEE);
  std::uint8_t* position = out.data();
  AppendCommentString(position, "abc");
  AppendCommentString(position, "");
  EXPECT_EQ(position, out.data() + out.size());
  EXPECT_EQ(out, Concat({LE32(3), Text("abc"), LE32(0)}));
}

TEST(VorbisComment, LargestStatableBlockIsBuiltAndOneByteMoreIsRefused) {
  // L = 4 + 13 + 4 + (4 + comment) = 0xFFFFFF at the limit.
  const std::size_t limit_comment = 0xFFFFFF - (4 + 13 + 4 + 4);
  TVComments record;
  record.Vendor = kVorbisVendor;
  record.Title = std::string(limit_comment, 'x');
  EXPECT_EQ(VorbisCommentBodyLength(record), 0xFFFFFFu);
  const Bytes block = BuildVorbisComment(record, true);
  ASSERT_EQ(block.size(), 0xFFFFFFu + 4);
  EXPECT_EQ(block[1], 0xFF);
  EXPECT_EQ(block[2], 0xFF);
  EXPECT_EQ(block[3], 0xFF);

  record.Title.push_back('y');
  EXPECT_EQ(VorbisCommentBodyLength(record), 0x1000000u);
  try {
    BuildVorbisComment(record, true);
    FAIL() << "a block whose length does not fit 24 bits was built";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The tags are too large for a FLAC comment block.");
  }
}

}  // namespace
}  // namespace vornek
