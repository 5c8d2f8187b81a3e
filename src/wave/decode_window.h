// SPDX-License-Identifier: BSD-3-Clause
// The reader's decoding window: the one buffer a block of audio is decoded, converted
// or copied into before it is handed out. Its size bounds a sample frame and a decoded
// ADPCM block, which the reader and the codecs' checks both test against.
#pragma once

#include <cstdint>

namespace vornek {

inline constexpr std::uint32_t kDecodeWindowBytes = 16384;

}  // namespace vornek
