// SPDX-License-Identifier: BSD-3-Clause
// Microsoft ADPCM (format tag 2) block decoding, free of any stream: the reader
// hands over the bytes of one block as one read returned them and the predictor
// coefficient pairs of the "fmt " chunk, and gets back signed 16-bit PCM.
//
// A block restarts the decoder with a header (predictor index, delta, sample 1,
// sample 2: 7 bytes mono, 14 bytes stereo with the fields of both channels side
// by side) followed by 4-bit codes, high nibble first; in stereo the high nibble
// belongs to channel 0 and the low one to channel 1.
//
// Samples per block (the "fmt " field) counts the two header samples, so a block
// decodes samples-per-block - 2 codes per channel; a file's must be what a block
// holds (`MsSamplesHeld`), as for IMA ADPCM. The decoders themselves take any count
// up to that.
//
// The decoders count in frames: `frames` in is the frames of the block wanted, its
// two header frames included (fewer count as those two); out, the frames written,
// never more than `out` holds nor more than `codes` supplies.
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

/// Quantizer step scaling for each 4-bit code.
inline constexpr std::array<std::int16_t, 16> kMsAdaptationTable = {230, 230, 230, 230, 307, 409, 512, 614,
                                                                  768, 614, 512, 409, 307, 230, 230, 230};

/// Most coefficient pairs a "fmt " chunk may declare.
inline constexpr std::uint16_t kMaxMsCoefs = 32;

/// One predictor: sample = (sample1 * Coef1 + sample2 * Coef2) / 256.
struct MsCoefPair {
  std::int16_t Coef1 = 0;
  std::int16_t Coef2 = 0;
};

/// Decoder state per channel, laid out like the 14-byte stereo block header. The
/// decoders advance delta and the two samples; the next header replaces them.
struct MsBlockState {
  std::uint8_t predictor[2] = {0, 0};
  std::int16_t delta[2] = {0, 0};
  std::int16_t sample1[2] = {0, 0};  ///< the most recent sample
  std::int16_t sample2[2] = {0, 0};  ///< the one before it
};
static_assert(sizeof(MsBlockState) == 14);

/// Bytes of a block's header: 7 per channel.
constexpr std::size_t MsHeaderBytes(int channels) { return channels == 2 ? 14 : 7; }

/// Code bytes in a block of the layout (0 when the header does not fit).
std::size_t MsCodeBytes(const AdpcmBlockLayout& layout);

/// Frames a block of the layout can hold: the two header frames plus one per code
/// of a channel.
std::uint32_t MsSamplesHeld(const AdpcmBlockLayout& layout);

/// Checks the "fmt " values the decoder depends on; returns the refusal (its code in the catalogue), or
/// nothing when the file can be decoded. `fmt_size` is the body size of the
/// "fmt " chunk, whose coefficient table starts at byte 22. Call when the file
/// is opened.
std::optional<TFailure> CheckMsFormat(const AdpcmBlockLayout& layout, std::uint16_t coef_count,
                                              std::uint32_t fmt_size);

/// Splits one block, as read (`block` may be short or empty; bytes past the
/// layout's block align are ignored), into its header and its code bytes. Bytes
/// missing from a short block count as zero. `codes` receives up to `MsCodeBytes`
/// bytes. Returns false when no block came (empty `block`).
bool SplitMsBlock(std::span<const std::uint8_t> block, const AdpcmBlockLayout& layout,
                  MsBlockState& state, std::span<std::uint8_t> codes);

/// Decodes a mono block: the two header samples (older first), then one sample per
/// code, high nibble first; an odd count decodes the high nibble of its last byte
/// too. `frames` as above. A predictor index at or past `coefs.size()` uses the
/// last pair.
void DecodeMsMono(MsBlockState& state, std::span<const MsCoefPair> coefs,
                  std::span<const std::uint8_t> codes, std::span<std::int16_t> out,
                  std::int32_t& frames);

/// Decodes a stereo block into interleaved frames, as `DecodeMsMono` does per
/// channel. `frames` as above.
void DecodeMsStereo(MsBlockState& state, std::span<const MsCoefPair> coefs,
                    std::span<const std::uint8_t> codes, std::span<std::int16_t> out,
                    std::int32_t& frames);

}  // namespace vornek
