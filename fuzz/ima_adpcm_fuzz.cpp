// SPDX-License-Identifier: BSD-3-Clause
// Random "fmt " values and a random, possibly short, IMA ADPCM block: what the
// open-time check accepts is split and decoded into buffers of exactly the
// size the header promises; then the decoders alone get random counts and
// buffers of random size. Nothing may be read or written outside a buffer.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "wave/ima_adpcm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vornek;
  if (size < 9) return 0;
  const int channels = data[0] % 4;
  const auto align = static_cast<std::uint16_t>(data[1] | data[2] << 8);
  const auto per_block = static_cast<std::uint16_t>(data[3] | data[4] << 8);
  const auto count = static_cast<std::int32_t>(data[5] | data[6] << 8 | data[7] << 16 | data[8] << 24);
  const std::span<const std::uint8_t> block(data + 9, size - 9);

  ImaBlockState state;
  const AdpcmBlockLayout layout{channels, align, per_block};
  if (!CheckImaFormat(layout) && !block.empty()) {
    std::vector<std::uint8_t> codes(ImaCodeBytes(layout));
    std::vector<std::int16_t> out(std::size_t{per_block} * static_cast<std::size_t>(channels));
    if (!SplitImaBlock(block, layout, state, codes)) std::abort();
    std::int32_t n = per_block;
    if (channels == 2) DecodeImaStereo(state, codes, out, n);
    else DecodeImaMono(state, codes, out, n);
    if (n != per_block) std::abort();  // every accepted block fills its frames
  }
  const std::vector<std::uint8_t> codes(block.begin(), block.end());
  std::vector<std::int16_t> out(per_block % 8193);
  std::int32_t n = count;
  DecodeImaMono(state, codes, out, n);
  if (n < 0 || static_cast<std::size_t>(n) > out.size()) std::abort();
  n = count;
  DecodeImaStereo(state, codes, out, n);
  if (n < 0 || 2 * static_cast<std::size_t>(n) > out.size()) std::abort();
  return 0;
}
