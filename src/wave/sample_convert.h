// SPDX-License-Identifier: BSD-3-Clause
// In-place conversion of IEEE float samples to signed 32-bit integer PCM.
//
// A value x becomes:
//   x >= 1.0                    2147483647
//   x <= -1.0, or not a number  -2147483648
//   x == 0 (either sign)        0
//   otherwise                   floor(x * 2147483647), the product rounded to a
//                               64-bit mantissa (round to nearest, ties to even)
//                               before the floor.
// The floor takes negative values away from zero: -0.5 gives -1073741824 and a
// negative value of very small magnitude gives -1. The product rounded to a 64-bit
// mantissa is the x87 extended-precision product; where long double is not that type
// it is computed exactly with integers, so the result is the same on every platform
// (see detail::ScaleAndFloorExact).
#pragma once

#include <cfloat>
#include <cstdint>

namespace vornek {

/// Converts the first byte_count / 8 little-endian 64-bit floats of `buffer` in
/// place: result i is stored as the i-th 32-bit integer of the buffer, so the
/// results are packed into its first 4 * (byte_count / 8) bytes. A byte count
/// that is not a multiple of 8 leaves the trailing bytes alone; <= 0 does nothing.
void DoublesToInt32(void* buffer, std::int32_t byte_count);

/// Converts the first byte_count / 4 32-bit floats of `buffer` in place, each result
/// in place of its source value.
void SinglesToInt32(void* buffer, std::int32_t byte_count);

/// The rule above for one value (a float sample widens to double exactly).
std::int32_t FloatSampleToInt32(double x);

namespace detail {

/// True where long double is the x87 80-bit type with its 64-bit mantissa; the
/// conversion then multiplies in long double. Elsewhere it uses ScaleAndFloorExact.
inline constexpr bool kLongDoubleIsExtended = LDBL_MANT_DIG == 64;

/// floor(x * 2147483647) with the product rounded to a 64-bit mantissa, computed
/// with integer arithmetic only, for -1 < x < 1 and x != 0 (finite). Always built,
/// so that it can be checked against the long double product where both exist.
std::int32_t ScaleAndFloorExact(double x);

/// The same through a long double product (exact only where kLongDoubleIsExtended).
std::int32_t ScaleAndFloorLongDouble(double x);

/// The same for a single float, -1 < x < 1 and x != 0: its 24-bit mantissa times
/// 2147483647 fits 64 bits, so the product needs no rounding and a few integer
/// operations give the floor, which makes it the fast path for 32-bit float input.
std::int32_t ScaleAndFloorSingle(float x);

}  // namespace detail

}  // namespace vornek
