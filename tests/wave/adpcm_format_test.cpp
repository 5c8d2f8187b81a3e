// SPDX-License-Identifier: BSD-3-Clause
// The open-time checks of ADPCM "fmt " values: every value that later becomes
// an index, a count or a buffer size is refused with its own text when it
// cannot be decoded safely.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/failures.h"
#include "wave/ima_adpcm.h"
#include "wave/ms_adpcm.h"

namespace vornek {
namespace {

using F = TFailure;

struct FormatCase {
  const char* what;
  bool ms;
  int channels;
  std::uint16_t block_align;
  std::uint16_t samples_per_block;
  std::uint16_t coef_count;  ///< MS only
  std::uint32_t fmt_size;    ///< MS only
  std::optional<TFailure> refusal;
};

const FormatCase kCases[] = {
    // IMA ADPCM
    {"IMA mono as sox writes it", false, 1, 256, 505, 0, 0, std::nullopt},
    {"IMA stereo 2048", false, 2, 2048, 2041, 0, 0, std::nullopt},
    {"IMA samples per block below what the block holds", false, 1, 256, 300, 0, 0, F::faAdpcmSamplesPerBlockMismatch},
    {"IMA stereo samples per block below what the block holds", false, 2, 1024, 100, 0, 0,
     F::faAdpcmSamplesPerBlockMismatch},
    {"IMA largest mono block fitting the window", false, 1, 4099, 8191, 0, 0, std::nullopt},
    {"IMA largest stereo block fitting the window", false, 2, 4096, 4089, 0, 0, std::nullopt},
    {"IMA no channels", false, 0, 256, 505, 0, 0, F::faAdpcmChannels},
    {"IMA three channels", false, 3, 1024, 505, 0, 0, F::faAdpcmChannels},
    {"IMA block align 0", false, 1, 0, 505, 0, 0, F::faAdpcmBlockAlignZero},
    {"IMA mono block shorter than its header", false, 1, 3, 2, 0, 0, F::faAdpcmBlockTooSmall},
    {"IMA stereo block shorter than its header", false, 2, 7, 2, 0, 0, F::faAdpcmBlockTooSmall},
    {"IMA stereo codes in a partial group", false, 2, 20, 13, 0, 0, F::faImaStereoGroups},
    {"IMA stereo codes one byte past a group", false, 2, 17, 10, 0, 0, F::faImaStereoGroups},
    {"IMA samples per block 0", false, 1, 256, 0, 0, 0, F::faAdpcmSamplesPerBlockTooSmall},
    {"IMA samples per block 1", false, 1, 256, 1, 0, 0, F::faAdpcmSamplesPerBlockTooSmall},
    {"IMA header-only block", false, 1, 4, 2, 0, 0, F::faAdpcmSamplesPerBlockTooLarge},
    {"IMA mono samples per block past the block", false, 1, 256, 506, 0, 0, F::faAdpcmSamplesPerBlockTooLarge},
    {"IMA stereo samples per block past the block", false, 2, 2048, 2042, 0, 0, F::faAdpcmSamplesPerBlockTooLarge},
    {"IMA mono block past the window", false, 1, 4100, 8193, 0, 0, F::faAdpcmDecodedBlockTooLarge},
    {"IMA mono block past the window, small samples per block", false, 1, 4100, 505, 0, 0,
     F::faAdpcmDecodedBlockTooLarge},
    {"IMA stereo block past the window", false, 2, 4104, 4097, 0, 0, F::faAdpcmDecodedBlockTooLarge},
    {"IMA largest block align", false, 2, 65528, 505, 0, 0, F::faAdpcmDecodedBlockTooLarge},
    // Microsoft ADPCM
    {"MS mono 256/500", true, 1, 256, 500, 7, 50, std::nullopt},
    {"MS stereo 512/500", true, 2, 512, 500, 7, 50, std::nullopt},
    {"MS 32 pairs filling the chunk", true, 1, 256, 500, 32, 150, std::nullopt},
    {"MS samples per block below what the block holds", true, 1, 256, 100, 7, 50,
     F::faAdpcmSamplesPerBlockMismatch},
    {"MS stereo samples per block 2 in a full block", true, 2, 2048, 2, 7, 50, F::faAdpcmSamplesPerBlockMismatch},
    {"MS largest mono block fitting the window", true, 1, 4102, 8192, 7, 50, std::nullopt},
    {"MS no channels", true, 0, 256, 500, 7, 50, F::faAdpcmChannels},
    {"MS six channels", true, 6, 1024, 500, 7, 50, F::faAdpcmChannels},
    {"MS block align 0", true, 1, 0, 500, 7, 50, F::faAdpcmBlockAlignZero},
    {"MS mono block shorter than its header", true, 1, 6, 2, 7, 50, F::faAdpcmBlockTooSmall},
    {"MS stereo block shorter than its header", true, 2, 13, 2, 7, 50, F::faAdpcmBlockTooSmall},
    {"MS no coefficient pairs", true, 1, 256, 500, 0, 50, F::faMsNoCoefficients},
    {"MS 33 coefficient pairs", true, 1, 256, 500, 33, 200, F::faMsTooManyCoefficients},
    {"MS largest coefficient count", true, 1, 256, 500, 65535, 0xFFFFFFFF, F::faMsTooManyCoefficients},
    {"MS table one byte past the chunk", true, 1, 256, 500, 7, 49, F::faMsCoefficientsOutsideFmt},
    {"MS chunk without a table", true, 1, 256, 500, 1, 20, F::faMsCoefficientsOutsideFmt},
    {"MS samples per block 0", true, 1, 256, 0, 7, 50, F::faAdpcmSamplesPerBlockTooSmall},
    {"MS samples per block 1", true, 2, 512, 1, 7, 50, F::faAdpcmSamplesPerBlockTooSmall},
    {"MS mono samples per block past the block", true, 1, 256, 501, 7, 50, F::faAdpcmSamplesPerBlockTooLarge},
    {"MS stereo samples per block past the block", true, 2, 512, 501, 7, 50, F::faAdpcmSamplesPerBlockTooLarge},
    {"MS mono samples per block past the window", true, 1, 8000, 8193, 7, 50, F::faAdpcmDecodedBlockTooLarge},
    {"MS stereo samples per block past the window", true, 2, 8000, 4097, 7, 50, F::faAdpcmDecodedBlockTooLarge},
};

class AdpcmFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(AdpcmFormatTest, RefusesWhatCannotBeDecodedSafely) {
  const FormatCase& c = GetParam();
  const AdpcmBlockLayout layout{c.channels, c.block_align, c.samples_per_block};
  const auto refusal = c.ms ? CheckMsFormat(layout, c.coef_count, c.fmt_size) : CheckImaFormat(layout);
  EXPECT_EQ(refusal, c.refusal);
}

INSTANTIATE_TEST_SUITE_P(Formats, AdpcmFormatTest, ::testing::ValuesIn(kCases),
                         [](const auto& test_info) {
                           std::string name;
                           for (const char* p = test_info.param.what; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

TEST(AdpcmFormat, EveryCauseHasItsOwnText) {
  const TFailure causes[] = {F::faAdpcmChannels,           F::faAdpcmBlockAlignZero,         F::faAdpcmBlockTooSmall,
                             F::faImaStereoGroups,         F::faAdpcmSamplesPerBlockTooSmall, F::faAdpcmSamplesPerBlockTooLarge,
                             F::faAdpcmDecodedBlockTooLarge, F::faMsNoCoefficients,         F::faMsTooManyCoefficients,
                             F::faMsCoefficientsOutsideFmt, F::faAdpcmSamplesPerBlockMismatch};
  std::vector<std::string> texts;
  for (const TFailure cause : causes) texts.push_back(FailureText(cause, "16384"));
  std::set<std::string_view> distinct;
  for (std::string_view text : texts) {
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '.') << text;
    distinct.insert(text);
  }
  EXPECT_EQ(distinct.size(), texts.size());
}

}  // namespace
}  // namespace vornek
