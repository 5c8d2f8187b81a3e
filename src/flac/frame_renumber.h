// SPDX-License-Identifier: BSD-3-Clause
// Renumbering FLAC audio frames: a frame encoded as frame k of one encoder's stream
// becomes frame n of the joined stream.
//
// A frame of a fixed-blocksize stream carries its frame number in its header, in the
// UTF-8-like code of the FLAC format (1 to 6 bytes for 31 bits), followed by a CRC-8
// of the header; the frame ends with a CRC-16 of everything before it. Renumbering
// writes the new number (whose code may be longer or shorter than the old one: the
// header ends on a byte boundary, so the subframes after it move as whole bytes) and
// both checks. The subframes are copied unchanged.
//
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornek {

/// The largest frame number a fixed-blocksize frame can carry (31 bits).
inline constexpr std::uint64_t kMaxFrameNumber = (std::uint64_t{1} << 31) - 1;

/// CRC-8 of a frame header: polynomial x^8 + x^2 + x + 1, initial value 0.
std::uint8_t FlacCrc8(const std::uint8_t* bytes, std::size_t size);
/// CRC-16 of a frame: polynomial x^16 + x^15 + x^2 + 1, initial value 0.
std::uint16_t FlacCrc16(const std::uint8_t* bytes, std::size_t size);

/// The frame number coded in the header of the fixed-blocksize frame `frame`.
/// Raises std::invalid_argument when `frame` is not such a frame (see RenumberFrame).
std::uint64_t FrameNumber(const std::uint8_t* frame, std::size_t size);

/// Appends to `out` the fixed-blocksize frame `frame` (`size` bytes: one whole frame,
/// header to CRC-16) numbered `number` instead, and returns the size appended.
///
/// The frame's CRC-16 is not computed again over the whole frame: it is corrected for
/// the header that changed (the check is linear), so the cost does not grow with the
/// frame. A frame whose check was wrong stays wrong.
///
/// Raises std::invalid_argument, appending nothing, when `frame` is no fixed-blocksize
/// frame (no sync code, a variable-blocksize frame, a reserved code, a malformed number
/// code, a header CRC-8 that does not match, too short) or when `number` exceeds
/// kMaxFrameNumber.
std::size_t RenumberFrame(const std::uint8_t* frame, std::size_t size, std::uint64_t number,
                          std::vector<std::uint8_t>& out);

}  // namespace vornek
