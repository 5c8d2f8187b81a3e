// SPDX-License-Identifier: BSD-3-Clause
// Little-endian fields of WAV files and codec blocks, and whole reads from a stream:
// the one set every parser and codec of src/wave/ uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/stream.h"

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

/// Reads from `stream` until `count` bytes are in or the stream ends (a stream may
/// hand out fewer bytes than asked before its end); returns how many were read.
/// Failures of the stream pass through.
inline std::size_t ReadStreamFully(TStream& stream, void* destination, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(destination);
  std::size_t done = 0;
  while (done < count) {
    const std::size_t got = stream.Read(out + done, count - done);
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace vornek
