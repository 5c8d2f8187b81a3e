// SPDX-License-Identifier: BSD-3-Clause
// G.711 A-law and mu-law (WAV format tags 6 and 7) decoding, free of any stream:
// each 8-bit code stands for one 16-bit linear sample, by the standard expansion of
// the ITU-T recommendation (A-law codes have their even bits inverted; mu-law codes
// are stored complemented).
#pragma once

#include <cstdint>
#include <span>

namespace vornek {

enum class TG711Law { glALaw, glMuLaw };

/// The 16-bit sample an A-law code stands for: -32256 .. 32256.
std::int16_t ALawToLinear(std::uint8_t code);
/// The 16-bit sample a mu-law code stands for: -32124 .. 32124.
std::int16_t MuLawToLinear(std::uint8_t code);

/// Expands interleaved codes of `channels` channels (one byte a sample) into `out`.
/// `frames` in: the frames wanted; out: the frames written, never more than `codes`
/// supplies nor `out` holds (0 for fewer than one channel).
void DecodeG711(TG711Law law, int channels, std::span<const std::uint8_t> codes,
                std::span<std::int16_t> out, std::int32_t& frames);

}  // namespace vornek
