// SPDX-License-Identifier: BSD-3-Clause
// Fixed-width fields in bytes: little-endian (WAV files, codec blocks, Vorbis comment
// lengths) and big-endian (FLAC metadata block headers and stream information). The one
// set every parser and writer of src/wave/ and src/flac/ uses.
#pragma once

#include <cstdint>

namespace vornek {

inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

/// A signed 16-bit field (a sample of a codec block header).
inline std::int16_t LeS16(const std::uint8_t* p) { return static_cast<std::int16_t>(Le16(p)); }

inline std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline std::uint64_t Le64(const std::uint8_t* p) {
  return std::uint64_t{Le32(p)} | (std::uint64_t{Le32(p + 4)} << 32);
}

inline void PutLe16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void PutLe32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

/// A 24-bit big-endian field (a FLAC metadata block's length, a frame size).
inline std::uint32_t Be24(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | std::uint32_t{p[2]};
}

inline void PutBe24(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 16);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value);
}

}  // namespace vornek
