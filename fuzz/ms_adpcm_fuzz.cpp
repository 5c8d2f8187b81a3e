// SPDX-License-Identifier: BSD-3-Clause
// Random "fmt " values, a random coefficient table and a random, possibly
// short, Microsoft ADPCM block: what the open-time check accepts is split and
// decoded into buffers of exactly the size the header promises; then the
// decoders alone get random counts and buffers of random size. Nothing may be
// read or written outside a buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "wave/ms_adpcm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vornek;
  if (size < 12) return 0;
  const int channels = data[0] % 4;
  const auto align = static_cast<std::uint16_t>(data[1] | data[2] << 8);
  const auto per_block = static_cast<std::uint16_t>(data[3] | data[4] << 8);
  const std::uint16_t coef_count = data[5] % 40;
  const std::uint32_t fmt_size = 22u + data[6];
  const auto count = static_cast<std::int32_t>(data[7] | data[8] << 8 | data[9] << 16 | data[10] << 24);
  std::vector<MsCoefPair> coefs(data[11] % (kMaxMsCoefs + 1));
  for (std::size_t i = 0; i < coefs.size(); ++i)
    coefs[i] = {static_cast<std::int16_t>(i * 2654435761u >> 9), static_cast<std::int16_t>(i * 40503u + data[2])};
  const std::span<const std::uint8_t> block(data + 12, size - 12);

  MsBlockState state;
  const AdpcmBlockLayout layout{channels, align, per_block};
  if (!CheckMsFormat(layout, coef_count, fmt_size) && !block.empty()) {
    std::vector<std::uint8_t> codes(MsCodeBytes(layout));
    std::vector<std::int16_t> out(std::size_t{per_block} * static_cast<std::size_t>(channels));
    if (!SplitMsBlock(block, layout, state, codes)) std::abort();
    std::int32_t n = per_block;
    const std::span<const MsCoefPair> table(coefs.data(), std::min<std::size_t>(coefs.size(), coef_count));
    if (channels == 2) DecodeMsStereo(state, table, codes, out, n);
    else DecodeMsMono(state, table, codes, out, n);
    if (n != per_block) std::abort();  // every accepted block fills its frames
  }
  const std::vector<std::uint8_t> codes(block.begin(), block.end());
  std::vector<std::int16_t> out(per_block % 8193);
  std::int32_t n = count;
  DecodeMsMono(state, coefs, codes, out, n);
  if (n < 0 || static_cast<std::size_t>(n) > out.size()) std::abort();
  n = count;
  DecodeMsStereo(state, coefs, codes, out, n);
  if (n < 0 || 2 * static_cast<std::size_t>(n) > out.size()) std::abort();
  return 0;
}
