// SPDX-License-Identifier: BSD-3-Clause
// Float-to-integer sample conversion: the clipping rules, the 64-bit-mantissa product
// before the floor, and the in-place packing of the buffers.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "wave/sample_convert.h"

namespace vornek {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct Case {
  double x;
  std::int32_t expected;
};

// Values where the product's precision decides the result. A double product gives a
// different floor for the first group; an exact (unrounded) product for the second,
// whose products lie within half a 64-bit-mantissa step below an integer.
const std::vector<Case> kPrecisionCases = {
    // a double product would round up onto the next integer
    {0x1.3c4ebb2a789d7p-1, 1326689993},
    {-0x1.5a305f82b460cp-4, -181502717},
    {-0x1.62f1d6e2c5e3bp-3, -372186479},
    {0x1.d8046a7bb008dp-1, 1979783837},
    {0x1.aab9f3b35573ep-1, 1789820139},
    {-0x1.dafa2443b5f45p-5, -124512402},
    // the exact product's floor is one lower
    {-0x1.d94e77ffb29cfp-1, -1985191423},
    {-0x1.f7652fffeeca6p-1, -2111392767},
    {-0x1.d7f6e7ffafeddp-1, -1979562495},
    {-0x1.d7d297ffafa53p-1, -1978967551},
    {-0x1.dd0627ffba0c5p-1, -2000783871},
    {-0x1.f30cc7ffe6199p-1, -2093167103},
};

// Single floats just above -1: a double product rounds onto an integer, the 64-bit
// mantissa holds the exact product.
const std::vector<Case> kSinglePrecisionCases = {
    {-0x1.fffffep-1, -2147483520},
    {-0x1.fffffcp-1, -2147483392},
};

const std::vector<Case> kRuleCases = {
    {1.0, kMax},
    {-1.0, kMin},
    {0.5, 1073741823},
    {-0.5, -1073741824},
    {0.0, 0},
    {-0.0, 0},
    {1.0000001, kMax},
    {1e300, kMax},
    {std::numeric_limits<double>::infinity(), kMax},
    {-1.0000001, kMin},
    {-std::numeric_limits<double>::infinity(), kMin},
    {std::numeric_limits<double>::quiet_NaN(), kMin},
    {-std::numeric_limits<double>::quiet_NaN(), kMin},
    {std::numeric_limits<double>::denorm_min(), 0},
    {-std::numeric_limits<double>::denorm_min(), -1},
    {-1e-300, -1},
    {-1e-10, -1},
    {1e-10, 0},
    {0x1.fffffffffffffp-1, 2147483646},   // the largest value below 1
    {-0x1.fffffffffffffp-1, -2147483647},  // the smallest above -1
    {1.0 / 2147483647.0, 0},  // the double lies below 1/(2^31-1): the product just under 1
    {-1.0 / 2147483647.0, -1},
};

TEST(SampleConvert, RulesAndPrecisionOfOneValue) {
  for (const auto* table : {&kRuleCases, &kPrecisionCases, &kSinglePrecisionCases}) {
    for (const Case& c : *table) {
      SCOPED_TRACE(::testing::Message() << std::hexfloat << c.x);
      EXPECT_EQ(FloatSampleToInt32(c.x), c.expected);
    }
  }
}

TEST(SampleConvert, TheIntegerPathGivesTheSameResults) {
  // Built on every platform; the one used where long double is not the x87 type.
  for (const auto* table : {&kPrecisionCases, &kSinglePrecisionCases}) {
    for (const Case& c : *table) {
      SCOPED_TRACE(::testing::Message() << std::hexfloat << c.x);
      EXPECT_EQ(detail::ScaleAndFloorExact(c.x), c.expected);
    }
  }
  for (const Case& c : kRuleCases) {
    if (!(c.x > -1.0 && c.x < 1.0) || c.x == 0.0) continue;
    SCOPED_TRACE(::testing::Message() << std::hexfloat << c.x);
    EXPECT_EQ(detail::ScaleAndFloorExact(c.x), c.expected);
  }
}

TEST(SampleConvert, TheIntegerPathAgreesWithTheExtendedProduct) {
  if (!detail::kLongDoubleIsExtended) GTEST_SKIP() << "long double is not the 80-bit type here";
  std::mt19937_64 random(99);
  long checked = 0;
  for (int i = 0; i < 2000000; ++i) {
    double x = 0;
    switch (i % 4) {
      case 0:  // any bit pattern
        x = std::bit_cast<double>(random());
        break;
      case 1: {  // a few steps from k / (2^31 - 1), where the floor is decided
        const auto k = static_cast<std::int64_t>(random() % 4294967293u) - 2147483646;
        const auto bits = std::bit_cast<std::uint64_t>(static_cast<double>(k) / 2147483647.0);
        x = std::bit_cast<double>(bits + random() % 65 - 32);
        break;
      }
      case 2:  // subnormal
        x = std::bit_cast<double>(random() & 0x800FFFFFFFFFFFFFull);
        break;
      default:  // single floats
        x = static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    }
    if (!(x > -1.0 && x < 1.0) || x == 0.0) continue;
    ++checked;
    ASSERT_EQ(detail::ScaleAndFloorExact(x), detail::ScaleAndFloorLongDouble(x))
        << std::hexfloat << x;
  }
  EXPECT_GT(checked, 1000000);
}

// Single floats take a path of their own. Every float of the top binade and of the
// subnormals, both signs, and two million others, agree with the general path.
TEST(SampleConvert, TheSinglePathAgreesWithTheGeneralOne) {
  const auto check = [](std::uint32_t bits) {
    const float x = std::bit_cast<float>(bits);
    if (!(x > -1.0f && x < 1.0f) || x == 0.0f) return;
    ASSERT_EQ(detail::ScaleAndFloorSingle(x), detail::ScaleAndFloorExact(static_cast<double>(x)))
        << std::hexfloat << x;
  };
  for (std::uint32_t sign : {0u, 0x80000000u}) {
    for (std::uint32_t fraction = 0; fraction < 0x800000u; ++fraction) {
      check(sign | 0x3F000000u | fraction);  // 0.5 <= |x| < 1
      check(sign | fraction);                // subnormal
      if (HasFailure()) return;
    }
  }
  std::mt19937 random(7);
  for (int i = 0; i < 2000000 && !HasFailure(); ++i) check(static_cast<std::uint32_t>(random()));
}

TEST(SampleConvert, DoublesArePackedIntoTheFirstHalf) {
  std::vector<double> values = {1.0, -1.0, 0.5, -0.5, 0.0, 2.0, -1e-20};
  const std::size_t n = values.size();
  std::vector<std::uint8_t> buffer(n * 8 + 5, 0xAB);  // 5 bytes that are no whole value
  std::memcpy(buffer.data(), values.data(), n * 8);
  const std::vector<std::uint8_t> before = buffer;
  DoublesToInt32(buffer.data(), static_cast<std::int32_t>(buffer.size()));
  std::vector<std::int32_t> results(n);
  std::memcpy(results.data(), buffer.data(), n * 4);
  EXPECT_EQ(results, (std::vector<std::int32_t>{kMax, kMin, 1073741823, -1073741824, 0, kMax, -1}));
  // Bytes past the packed results keep what they held.
  EXPECT_TRUE(std::equal(buffer.begin() + static_cast<std::ptrdiff_t>(n * 4), buffer.end(),
                         before.begin() + static_cast<std::ptrdiff_t>(n * 4)));
}

TEST(SampleConvert, SinglesAreConvertedInPlace) {
  std::vector<float> values = {1.0f, -1.0f, 0.5f, -0.5f, 0.0f, 3.0f, -1e-30f, -0x1.fffffep-1f};
  std::vector<std::uint8_t> buffer(values.size() * 4 + 3, 0xCD);
  std::memcpy(buffer.data(), values.data(), values.size() * 4);
  SinglesToInt32(buffer.data(), static_cast<std::int32_t>(buffer.size()));
  std::vector<std::int32_t> results(values.size());
  std::memcpy(results.data(), buffer.data(), values.size() * 4);
  EXPECT_EQ(results, (std::vector<std::int32_t>{kMax, kMin, 1073741823, -1073741824, 0, kMax, -1,
                                                -2147483520}));
  EXPECT_EQ(buffer[buffer.size() - 1], 0xCD);
}

TEST(SampleConvert, EmptyAndNegativeCountsDoNothing) {
  std::uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  DoublesToInt32(buffer, 0);
  DoublesToInt32(buffer, -8);
  SinglesToInt32(buffer, 3);
  SinglesToInt32(buffer, -4);
  DoublesToInt32(buffer, 7);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[7], 8);
}

}  // namespace
}  // namespace vornek
