// Refusal texts for ADPCM "fmt " values that would make a block decoder divide
// by zero, index past a table or overrun a buffer. Both codecs share one list so
// that a damaged file gets the same wording whichever encoding it claims.
#pragma once

#include <cstdint>
#include <string_view>

namespace vornek::adpcm_errors {

/// Bytes of the reader's window that one decoded block must fit into.
inline constexpr std::uint32_t kWindowBytes = 16384;

/// The decoders only know the mono and the two-channel block layouts.
inline constexpr std::string_view kChannels =
    "The ADPCM data has an unsupported number of channels; only mono and stereo can be decoded.";
/// A block align of 0 would make every block empty and every seek divide by zero.
inline constexpr std::string_view kBlockAlignZero = "The ADPCM block size is 0.";
/// The block cannot even hold the per-channel header.
inline constexpr std::string_view kBlockTooSmall = "The ADPCM block size is too small for its header.";
/// Stereo IMA codes come in groups of 4 bytes per channel; a partial group is not decodable.
inline constexpr std::string_view kStereoGroups =
    "The IMA ADPCM stereo block size does not hold whole groups of 8 code bytes.";
/// Fewer than 2 samples per block: nothing a block could hold, and seeks would divide by zero.
inline constexpr std::string_view kSamplesPerBlockTooSmall =
    "The ADPCM samples per block is below 2.";
/// The header asks for more samples than the block has codes for.
inline constexpr std::string_view kSamplesPerBlockTooLarge =
    "The ADPCM samples per block is more than one block holds.";
/// IMA ADPCM: fewer samples per block than the block holds would drop the rest of
/// every block.
inline constexpr std::string_view kSamplesPerBlockMismatch =
    "The IMA ADPCM samples per block differs from what one block holds.";
/// One decoded block must fit the 16384-byte window.
inline constexpr std::string_view kDecodedBlockTooLarge =
    "The decoded ADPCM block is larger than the 16384-byte decoding window.";
/// Microsoft ADPCM needs at least one predictor coefficient pair.
inline constexpr std::string_view kNoCoefficients =
    "The MS ADPCM coefficient count is 0.";
/// More pairs than the reader keeps room for.
inline constexpr std::string_view kTooManyCoefficients =
    "The MS ADPCM coefficient count is above 32.";
/// The declared pairs run past the end of the "fmt " chunk.
inline constexpr std::string_view kCoefficientsOutsideFmt =
    "The MS ADPCM coefficient table does not fit inside the \"fmt \" chunk.";

}  // namespace vornek::adpcm_errors
