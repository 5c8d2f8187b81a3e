// SPDX-License-Identifier: BSD-3-Clause
#include "wave/g711.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace vornek {

namespace {

/// A-law: a sign bit, a 3-bit segment and a 4-bit step; the segment doubles the step
/// size from the second segment on, and every value sits in the middle of its step.
constexpr std::int16_t ExpandALaw(std::uint8_t code) {
  const unsigned a = code ^ 0x55u;
  const unsigned segment = (a >> 4) & 7u;
  int magnitude = static_cast<int>((a & 15u) << 4) + 8;
  if (segment > 0) magnitude = (magnitude + 0x100) << (segment - 1);
  return static_cast<std::int16_t>((a & 0x80u) ? magnitude : -magnitude);
}

/// mu-law: the complemented code holds a sign bit, a 3-bit exponent and a 4-bit
/// mantissa over a bias of 0x84 (132).
constexpr std::int16_t ExpandMuLaw(std::uint8_t code) {
  const unsigned u = ~code & 0xFFu;
  const int biased = (static_cast<int>((u & 15u) << 3) + 0x84) << ((u >> 4) & 7u);
  return static_cast<std::int16_t>((u & 0x80u) ? 0x84 - biased : biased - 0x84);
}

template <std::int16_t (*Expand)(std::uint8_t)>
constexpr std::array<std::int16_t, 256> Table() {
  std::array<std::int16_t, 256> table{};
  for (std::size_t code = 0; code < 256; ++code) table[code] = Expand(static_cast<std::uint8_t>(code));
  return table;
}

constexpr std::array<std::int16_t, 256> kALaw = Table<ExpandALaw>();
constexpr std::array<std::int16_t, 256> kMuLaw = Table<ExpandMuLaw>();

}  // namespace

std::int16_t ALawToLinear(std::uint8_t code) { return kALaw[code]; }

std::int16_t MuLawToLinear(std::uint8_t code) { return kMuLaw[code]; }

void DecodeG711(TG711Law law, int channels, std::span<const std::uint8_t> codes,
                std::span<std::int16_t> out, std::int32_t& frames) {
  if (channels < 1 || frames <= 0) {
    frames = 0;
    return;
  }
  const auto width = static_cast<std::size_t>(channels);
  const std::size_t written =
      std::min({static_cast<std::size_t>(frames), codes.size() / width, out.size() / width});
  const std::array<std::int16_t, 256>& table = law == TG711Law::glALaw ? kALaw : kMuLaw;
  std::transform(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(written * width), out.begin(),
                 [&table](std::uint8_t code) { return table[code]; });
  frames = static_cast<std::int32_t>(written);
}

}  // namespace vornek
