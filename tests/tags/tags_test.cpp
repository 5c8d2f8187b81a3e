// SPDX-License-Identifier: BSD-3-Clause
// The tag store and the Vorbis tag set: lookup, the change flags and copying.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tags/au_tags.h"
#include "tags/vorbis_tags.h"

namespace vornek {
namespace {

/// A store with a few keys of its own, declared out of order.
class ThreeTags : public TAuTags {
 public:
  ThreeTags() {
    AddKey("Title", TVarNull{});
    AddKey("comment", TVarNull{});
    AddKey("ALBUM", TVarNull{});
  }
};

/// An object that is not a tag store.
class NotTags : public TPersistent {
 public:
  const char* ClassName() const override { return "NotTags"; }
};

TEST(AuTags, KeysStaySortedIgnoringCaseAndOutOfRangeIsEmpty) {
  ThreeTags tags;
  ASSERT_EQ(tags.Count(), 3);
  EXPECT_EQ(tags.KeyAt(0), "ALBUM");
  EXPECT_EQ(tags.KeyAt(1), "comment");
  EXPECT_EQ(tags.KeyAt(2), "Title");
  EXPECT_EQ(tags.KeyAt(-1), "");
  EXPECT_EQ(tags.KeyAt(3), "");
}

TEST(AuTags, AddKeyRulesAndCaseInsensitiveDuplicates) {
  ThreeTags tags;
  EXPECT_FALSE(tags.AddKey("", std::int32_t{1}));
  EXPECT_EQ(tags.Count(), 3);
  tags.SetValue("title", std::u16string(u"kept"));
  // Declaring the key again, in another case, keeps the value and adds nothing.
  EXPECT_TRUE(tags.AddKey("TITLE", std::u16string(u"other")));
  EXPECT_EQ(tags.Count(), 3);
  EXPECT_EQ(tags.GetAsText("Title"), u"kept");
}

TEST(AuTags, LookupIgnoresCase) {
  TVorbisTags tags;
  tags.SetValue("TITLE", std::u16string(u"Song"));
  EXPECT_EQ(tags.GetTitle(), u"Song");
  EXPECT_EQ(tags.GetAsText("title"), u"Song");
  EXPECT_TRUE(SameTagValue(tags.GetValue("TiTlE"), std::u16string(u"Song")));
}

TEST(AuTags, UndeclaredKeysAreIgnored) {
  TVorbisTags tags;
  tags.SetValue("composer", std::u16string(u"x"));
  EXPECT_TRUE(tags.Empty());
  EXPECT_FALSE(tags.Changed());
  EXPECT_TRUE(std::holds_alternative<TVarNull>(tags.GetValue("composer")));
  EXPECT_EQ(tags.GetAsText("composer"), u"");
}

/// A store of one key declared with a chosen value, so its flags are still fresh.
class OneKey : public TAuTags {
 public:
  explicit OneKey(const TTagValue& initial) { AddKey("title", initial); }
};

// Each row: the value the key holds, the value set over it, whether that is a change.
struct SetCase {
  const char* name;
  TTagValue first;
  TTagValue second;
  bool changes;
  friend void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }
};

class SetValueFlags : public ::testing::TestWithParam<SetCase> {};

TEST_P(SetValueFlags, ChangesFlagsOnlyForADifferentValue) {
  const SetCase& c = GetParam();
  OneKey tags(c.first);
  tags.SetValue("TITLE", c.second);
  EXPECT_EQ(tags.Empty(), !c.changes);
  EXPECT_EQ(tags.Changed(), c.changes);
  EXPECT_TRUE(SameTagValue(tags.GetValue("title"), c.changes ? c.second : c.first));
  // The same value again never changes anything more.
  OneKey again(c.second);
  again.SetValue("title", c.second);
  EXPECT_TRUE(again.Empty());
  EXPECT_FALSE(again.Changed());
}

INSTANTIATE_TEST_SUITE_P(
    AuTags, SetValueFlags,
    ::testing::Values(
        SetCase{"NullOverNull", TVarNull{}, TVarNull{}, false},
        SetCase{"UnassignedOverNull", TVarNull{}, TVarUnassigned{}, true},
        SetCase{"NullOverUnassigned", TVarUnassigned{}, TVarNull{}, true},
        SetCase{"UnassignedOverUnassigned", TVarUnassigned{}, TVarUnassigned{}, false},
        SetCase{"NullOverZero", std::int32_t{0}, TVarNull{}, true},
        SetCase{"EmptyTextOverNull", TVarNull{}, std::u16string(), true},
        SetCase{"SameText", std::u16string(u"a"), std::u16string(u"a"), false},
        SetCase{"TextDiffersInCase", std::u16string(u"a"), std::u16string(u"A"), true},
        SetCase{"NarrowEqualsWide", std::string("abc"), std::u16string(u"abc"), false},
        SetCase{"IntegersByValueAcrossWidths", std::int8_t{7}, std::uint32_t{7}, false},
        SetCase{"NegativeIsNotHugeUnsigned", std::int32_t{-1}, std::uint32_t{0xFFFFFFFF}, true},
        SetCase{"OtherInteger", std::int16_t{7}, std::int16_t{8}, true},
        SetCase{"NumberAgainstText", std::int32_t{7}, std::u16string(u"7"), true}),
    [](const ::testing::TestParamInfo<SetCase>& p) { return p.param.name; });

TEST(AuTags, FreshStoreAndClearFlags) {
  TVorbisTags tags;
  EXPECT_EQ(tags.Count(), 12);
  EXPECT_TRUE(tags.Empty());
  EXPECT_FALSE(tags.Changed());
  for (const char* key : kVorbisKeys) EXPECT_EQ(tags.GetAsText(key), u"") << key;
  tags.Clear();
  EXPECT_TRUE(tags.Empty());
  EXPECT_TRUE(tags.Changed());  // although no value changed
  tags.SetArtist(u"A");
  tags.Clear();
  EXPECT_TRUE(tags.Empty());
  EXPECT_EQ(tags.GetArtist(), u"");
  EXPECT_EQ(tags.Count(), 12);
}

struct TextCase {
  const char* name;
  TTagValue value;
  std::u16string text;
  friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
};

class GetAsText : public ::testing::TestWithParam<TextCase> {};

TEST_P(GetAsText, RendersByKind) {
  ThreeTags tags;
  tags.SetValue("comment", GetParam().value);
  EXPECT_EQ(tags.GetAsText("COMMENT"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    AuTags, GetAsText,
    ::testing::Values(TextCase{"Seven", std::int32_t{7}, u"7"},
                      TextCase{"NegativeByte", std::int8_t{-128}, u"-128"},
                      TextCase{"UnsignedByte", std::uint8_t{255}, u"255"},
                      TextCase{"Int32Min", std::int32_t{INT32_MIN}, u"-2147483648"},
                      TextCase{"Uint32Max", std::uint32_t{0xFFFFFFFF}, u"4294967295"},
                      TextCase{"Null", TVarNull{}, u""},
                      TextCase{"Unassigned", TVarUnassigned{}, u""},
                      TextCase{"Wide", std::u16string(u"\u00e9t\u00e9"), u"\u00e9t\u00e9"},
                      TextCase{"Narrow", std::string("abc"), u"abc"},
                      TextCase{"Double", 1.5, u""},
                      TextCase{"Boolean", true, u""},
                      TextCase{"Int64", std::int64_t{5}, u""}),
    [](const ::testing::TestParamInfo<TextCase>& p) { return p.param.name; });

TEST(AuTags, VorbisKeysEnumerateSorted) {
  TVorbisTags tags;
  const std::vector<std::string> expected = {
      "album", "artist", "date", "discnumber", "genre", "replaygain_album_gain",
      "replaygain_album_peak", "replaygain_reference_loudness", "replaygain_track_gain",
      "replaygain_track_peak", "title", "tracknumber"};
  std::vector<std::string> got;
  for (std::int32_t i = 0; i < tags.Count(); ++i) got.push_back(tags.KeyAt(i));
  EXPECT_EQ(got, expected);
}

TEST(AuTags, PropertiesWriteTheirKeys) {
  TVorbisTags tags;
  tags.SetAlbum(u"1");
  tags.SetArtist(u"2");
  tags.SetDate(u"3");
  tags.SetGenre(u"4");
  tags.SetTitle(u"5");
  tags.SetTrack(u"6");
  tags.SetDisc(u"7");
  tags.SetReference(u"8");
  tags.SetTrackGain(u"9");
  tags.SetTrackPeak(u"10");
  tags.SetAlbumGain(u"11");
  tags.SetAlbumPeak(u"12");
  for (std::size_t i = 0; i < kVorbisKeys.size(); ++i) {
    const std::string digits = std::to_string(i + 1);
    EXPECT_EQ(tags.GetAsText(kVorbisKeys[i]), std::u16string(digits.begin(), digits.end()))
        << kVorbisKeys[i];
  }
}

TEST(AuTags, EmptyTextIsAValue) {
  TVorbisTags tags;
  tags.SetAlbum(u"");
  EXPECT_FALSE(tags.Empty());
  EXPECT_TRUE(tags.Changed());
  EXPECT_EQ(tags.GetAlbum(), u"");
}

TEST(AuTags, AssignBetweenVorbisSetsCopiesAllTwelve) {
  TVorbisTags source;
  for (const char* key : kVorbisKeys) {
    const std::string text = std::string(key) + "!";
    source.SetValue(key, std::u16string(text.begin(), text.end()));
  }
  TVorbisTags target;
  target.Assign(&source);
  for (const char* key : kVorbisKeys)
    EXPECT_TRUE(SameTagValue(target.GetValue(key), source.GetValue(key))) << key;
  EXPECT_TRUE(target.Changed());
  EXPECT_FALSE(target.Empty());
}

TEST(AuTags, AssignBetweenDifferentKeySetsCopiesOnlySharedKeys) {
  ThreeTags other;  // album, comment, title
  other.SetValue("album", std::u16string(u"A"));
  other.SetValue("comment", std::u16string(u"C"));
  TVorbisTags target;
  target.SetArtist(u"old");  // only the target declares artist: Assign clears it
  target.Assign(&other);
  EXPECT_EQ(target.GetAlbum(), u"A");
  EXPECT_TRUE(std::holds_alternative<TVarNull>(target.GetValue("artist")));
  EXPECT_TRUE(std::holds_alternative<TVarNull>(target.GetValue("title")));
  EXPECT_EQ(target.GetAsText("comment"), u"");  // not declared here
  EXPECT_EQ(target.Count(), 12);

  // And the other way round, through AssignTo.
  TVorbisTags source;
  source.SetTitle(u"T");
  source.SetGenre(u"G");
  ThreeTags into;
  into.SetValue("comment", std::u16string(u"gone"));
  source.AssignTo(&into);
  EXPECT_EQ(into.GetAsText("title"), u"T");
  EXPECT_TRUE(std::holds_alternative<TVarNull>(into.GetValue("comment")));
  EXPECT_EQ(into.Count(), 3);
}

TEST(AuTags, AssignFromAllNullLeavesEmptyAndChanged) {
  TVorbisTags source;
  TVorbisTags target;
  target.SetTitle(u"x");
  target.Assign(&source);
  EXPECT_TRUE(target.Empty());
  EXPECT_TRUE(target.Changed());
  EXPECT_EQ(target.GetTitle(), u"");
}

TEST(AuTags, AssignToItselfKeepsTheValues) {
  TVorbisTags tags;
  tags.SetTitle(u"keep");
  tags.Assign(&tags);
  EXPECT_EQ(tags.GetTitle(), u"keep");
}

TEST(AuTags, AssignWithUnrelatedObjectsFailsAndLeavesTargetUnchanged) {
  TVorbisTags tags;
  tags.SetTitle(u"t");
  NotTags other;
  EXPECT_THROW(tags.Assign(&other), EAssignError);
  EXPECT_THROW(tags.Assign(nullptr), EAssignError);
  EXPECT_THROW(tags.AssignTo(&other), EAssignError);
  EXPECT_THROW(other.Assign(&tags), EAssignError);
  EXPECT_EQ(tags.GetTitle(), u"t");
  EXPECT_FALSE(tags.Empty());
}

TEST(AuTags, HandleHooks) {
  TVorbisTags tags;
  tags.SetTitle(u"t");
  EXPECT_FALSE(tags.HandleHookA(-1));
  EXPECT_TRUE(tags.HandleHookA(3));
  EXPECT_FALSE(tags.HandleHookC(-1));
  EXPECT_TRUE(tags.HandleHookC(0));
  EXPECT_FALSE(tags.HandleHookB(-1));
  EXPECT_EQ(tags.GetTitle(), u"t");  // no handle: nothing cleared
  EXPECT_TRUE(tags.HandleHookB(5));
  EXPECT_EQ(tags.GetTitle(), u"");
  EXPECT_TRUE(tags.Empty());
}

}  // namespace
}  // namespace vornek
