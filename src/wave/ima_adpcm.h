// SPDX-License-Identifier: BSD-3-Clause
// IMA ADPCM (format tag 0x11) block decoding, free of any stream: the reader
// hands over the bytes of one block as one read returned them, and gets back
// signed 16-bit PCM.
//
// A block restarts the decoder with a 4-byte header per channel (first sample,
// step index, one reserved byte) and is followed by 4-bit codes: mono codes in
// byte order, low nibble first; stereo codes in groups of 8 bytes, 4 of channel 0
// then 4 of channel 1.
//
// Samples per block: the "fmt " field must be exactly what a block holds
// (`ImaSamplesHeld`); `CheckImaFormat` refuses any other value. The reader seeks
// by that field (frame n lives in block n / samples-per-block), and every code of a
// block is audio: a smaller field would drop the rest of every block, a larger one
// promise frames that do not exist.
//
// The decoders count in frames: `frames` in is the frames of the block wanted, its
// header frame included (fewer count as that one); out, the frames written, never
// more than `out` holds nor more than `codes` supplies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/failures.h"
#include "wave/adpcm_layout.h"

namespace vornek {

/// Step sizes of IMA ADPCM, indexed by step index 0..88.
inline constexpr std::array<std::uint32_t, 89> kImaStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
/// Step-index change for each 4-bit code.
inline constexpr std::array<std::int32_t, 16> kImaIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                                -1, -1, -1, -1, 2, 4, 6, 8};

/// Header of the current block: first sample and initial step index per channel.
struct ImaBlockState {
  std::int16_t sample[2] = {0, 0};
  std::uint8_t step_index[2] = {0, 0};
};

/// Bytes of a block's header: 4 per channel.
constexpr std::size_t ImaHeaderBytes(int channels) { return channels == 2 ? 8 : 4; }

/// Code bytes in a block of the layout (0 when the header does not fit).
std::size_t ImaCodeBytes(const AdpcmBlockLayout& layout);

/// Frames that a block of the layout holds: the header frame plus one per code of
/// a channel.
std::uint32_t ImaSamplesHeld(const AdpcmBlockLayout& layout);

/// Checks the "fmt " values the decoder depends on; returns the refusal (its code in the catalogue), or
/// nothing when the file can be decoded. Call when the file is opened.
std::optional<TFailure> CheckImaFormat(const AdpcmBlockLayout& layout);

/// Splits one block, as read (`block` may be short or empty; bytes past the
/// layout's block align are ignored), into its header and its code bytes. Bytes
/// missing from a short block count as zero. `codes` receives up to `ImaCodeBytes`
/// bytes. Returns false when no block came (empty `block`).
bool SplitImaBlock(std::span<const std::uint8_t> block, const AdpcmBlockLayout& layout,
                   ImaBlockState& state, std::span<std::uint8_t> codes);

/// Decodes a mono block: the header sample, then two samples per code byte, low
/// nibble first. `frames` as above. A step index above 88 in the header counts as 88.
void DecodeImaMono(const ImaBlockState& state, std::span<const std::uint8_t> codes,
                   std::span<std::int16_t> out, std::int32_t& frames);

/// Decodes a stereo block into interleaved frames. `frames` as above; only whole
/// code groups of `codes` count, and of a trailing partial group the codes both
/// channels have.
void DecodeImaStereo(const ImaBlockState& state, std::span<const std::uint8_t> codes,
                     std::span<std::int16_t> out, std::int32_t& frames);

}  // namespace vornek
