// SPDX-License-Identifier: BSD-3-Clause
// The block layout of ADPCM data as the "fmt " chunk describes it: the one description
// that both codecs' checks and block splitters, and the reader's refill, take.
#pragma once

#include <cstdint>

namespace vornek {

struct AdpcmBlockLayout {
  int Channels = 0;
  std::uint16_t BlockAlign = 0;       ///< bytes of one block, all channels
  std::uint16_t SamplesPerBlock = 0;  ///< frames one block delivers, its header frames included
};

}  // namespace vornek
