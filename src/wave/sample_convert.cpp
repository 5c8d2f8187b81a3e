// SPDX-License-Identifier: BSD-3-Clause
#include "wave/sample_convert.h"

#include <bit>
#include <cmath>
#include <cstring>

// Samples are stored little-endian; they are read through memcpy as host values.
static_assert(std::endian::native == std::endian::little);

namespace vornek {

namespace detail {

namespace {

constexpr std::uint64_t kScale = 2147483647;  // 2^31 - 1

/// A 128-bit unsigned value as two halves.
struct U128 {
  std::uint64_t hi = 0;
  std::uint64_t lo = 0;
};

/// m * kScale for m < 2^53: the product is below 2^84.
U128 MultiplyByScale(std::uint64_t m) {
  const std::uint64_t m_lo = m & 0xFFFFFFFFu;
  const std::uint64_t m_hi = m >> 32;              // < 2^21
  const std::uint64_t low_part = m_lo * kScale;    // < 2^63
  const std::uint64_t high_part = m_hi * kScale;   // < 2^52, to be shifted up by 32
  U128 r;
  r.lo = low_part + (high_part << 32);
  r.hi = (high_part >> 32) + (r.lo < low_part ? 1u : 0u);
  return r;
}

int BitLength(const U128& v) {
  if (v.hi != 0) return 128 - std::countl_zero(v.hi);
  return 64 - std::countl_zero(v.lo);
}

/// v >> s for 0 < s < 64.
std::uint64_t ShiftRight(const U128& v, int s) { return (v.lo >> s) | (v.hi << (64 - s)); }

}  // namespace

std::int32_t ScaleAndFloorExact(double x) {
  const auto bits = std::bit_cast<std::uint64_t>(x);
  const bool negative = (bits >> 63) != 0;
  const auto exponent_field = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  // |x| = m * 2^e exactly.
  const std::uint64_t m = exponent_field == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  int e = exponent_field == 0 ? -1074 : exponent_field - 1075;

  // The exact product m * kScale, rounded to 64 significant bits, ties to even.
  // The extended format's exponent range holds every such product: no underflow.
  const U128 product = MultiplyByScale(m);
  std::uint64_t mantissa = 0;
  const int length = BitLength(product);
  if (length <= 64) {
    mantissa = product.lo;
  } else {
    const int s = length - 64;  // 1 .. 20
    mantissa = ShiftRight(product, s);
    const std::uint64_t dropped = product.lo & ((std::uint64_t{1} << s) - 1);
    const std::uint64_t half = std::uint64_t{1} << (s - 1);
    if (dropped > half || (dropped == half && (mantissa & 1) != 0)) {
      ++mantissa;
      if (mantissa == 0) {  // carried out of 64 bits: 2^64 = 2^63 * 2
        mantissa = std::uint64_t{1} << 63;
        ++e;
      }
    }
    e += s;
  }

  // |product| = mantissa * 2^e with e < 0, since |x| < 1 keeps it below 2^31.
  const int shift = -e;
  std::uint64_t whole = 0;
  bool has_fraction = false;
  if (shift >= 64) {
    has_fraction = mantissa != 0;
  } else {
    whole = mantissa >> shift;
    has_fraction = (mantissa & ((std::uint64_t{1} << shift) - 1)) != 0;
  }
  if (!negative) return static_cast<std::int32_t>(whole);
  // floor(-a) = -ceil(a)
  return -static_cast<std::int32_t>(whole + (has_fraction ? 1u : 0u));
}

std::int32_t ScaleAndFloorLongDouble(double x) {
  const long double product = static_cast<long double>(x) * static_cast<long double>(kScale);
  return static_cast<std::int32_t>(std::floor(product));
}

std::int32_t ScaleAndFloorSingle(float x) {
  const auto bits = std::bit_cast<std::uint32_t>(x);
  const auto exponent_field = static_cast<int>((bits >> 23) & 0xFF);
  const std::uint32_t fraction = bits & 0x7FFFFFu;
  // |x| = m * 2^-shift exactly; |x| < 1 makes shift at least 24.
  const std::uint64_t m = exponent_field == 0 ? fraction : fraction | 0x800000u;
  const int shift = exponent_field == 0 ? 149 : 150 - exponent_field;
  const std::uint64_t product = m * kScale;  // < 2^55: exact
  // A shift past 63 leaves nothing whole and a non-zero fraction, as 63 does.
  const int s = shift < 63 ? shift : 63;
  const auto whole = static_cast<std::int64_t>(product >> s);
  const std::int64_t has_fraction = (product & ((std::uint64_t{1} << s) - 1)) != 0;
  // Without branches (the sign of audio samples is not predictable): for a negative
  // x, floor(-a) = -ceil(a).
  const std::int64_t negative = -static_cast<std::int64_t>(bits >> 31);  // 0 or -1
  const std::int64_t magnitude = whole + (has_fraction & negative & 1);
  return static_cast<std::int32_t>((magnitude ^ negative) - negative);
}

}  // namespace detail

std::int32_t FloatSampleToInt32(double x) {
  if (x >= 1.0) return 2147483647;
  if (!(x > -1.0)) return -2147483647 - 1;  // also every NaN
  if (x == 0.0) return 0;
  if constexpr (detail::kLongDoubleIsExtended) {
    return detail::ScaleAndFloorLongDouble(x);
  } else {
    return detail::ScaleAndFloorExact(x);
  }
}

void DoublesToInt32(void* buffer, std::int32_t byte_count) {
  if (byte_count <= 0) return;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const auto n = static_cast<std::size_t>(byte_count) / 8;
  // Result i lands on bytes 4i..4i+3, which value i (bytes 8i..8i+7) has already
  // been read from: each store overwrites only bytes already consumed.
  for (std::size_t i = 0; i < n; ++i) {
    double x;
    std::memcpy(&x, bytes + 8 * i, sizeof x);
    const std::int32_t r = FloatSampleToInt32(x);
    std::memcpy(bytes + 4 * i, &r, sizeof r);
  }
}

void SinglesToInt32(void* buffer, std::int32_t byte_count) {
  if (byte_count <= 0) return;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const auto n = static_cast<std::size_t>(byte_count) / 4;
  for (std::size_t i = 0; i < n; ++i) {
    float x;
    std::memcpy(&x, bytes + 4 * i, sizeof x);
    std::int32_t r = 0;
    if (x >= 1.0f) {
      r = 2147483647;
    } else if (!(x > -1.0f)) {
      r = -2147483647 - 1;  // also every NaN
    } else if (x != 0.0f) {
      r = detail::ScaleAndFloorSingle(x);
    }
    std::memcpy(bytes + 4 * i, &r, sizeof r);
  }
}

}  // namespace vornek
