#include "wave/ima_adpcm.h"

#include <algorithm>

#include "wave/adpcm_errors.h"

namespace vornek {

const std::array<std::uint32_t, 89> kImaStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const std::array<std::int32_t, 16> kImaIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                     -1, -1, -1, -1, 2, 4, 6, 8};

namespace {

constexpr std::int32_t kMaxStepIndex = static_cast<std::int32_t>(kImaStepTable.size()) - 1;

/// Running decoder of one channel. The header's step index is clamped on entry
/// so a damaged header can never index past the step table.
class ImaChannel {
 public:
  ImaChannel(std::int16_t sample, std::uint8_t step_index)
      : predictor_(sample), index_(std::min<std::int32_t>(step_index, kMaxStepIndex)) {}

  std::int16_t Step(std::uint8_t code) {
    const std::int32_t step = static_cast<std::int32_t>(kImaStepTable[static_cast<std::size_t>(index_)]);
    std::int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    if (code & 8) diff = -diff;
    // The lower bound is -32767, symmetric with the upper one.
    predictor_ = std::clamp(predictor_ + diff, -32767, 32767);
    index_ = std::clamp(index_ + kImaIndexTable[code & 15u], 0, kMaxStepIndex);
    return static_cast<std::int16_t>(predictor_);
  }

 private:
  std::int32_t predictor_;
  std::int32_t index_;
};

std::int16_t Le16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

/// The low nibble of a byte comes first, then the high one.
std::uint8_t Nibble(std::uint8_t byte, bool high) {
  return static_cast<std::uint8_t>(high ? byte >> 4 : byte & 15u);
}

std::size_t ClampCount(std::int32_t count, std::size_t limit) {
  return count <= 0 ? 0 : std::min(static_cast<std::size_t>(count), limit);
}

}  // namespace

std::size_t ImaCodeBytes(std::uint16_t block_align, int channels) {
  const std::size_t header = ImaHeaderBytes(channels);
  return block_align > header ? block_align - header : 0;
}

std::uint32_t ImaSamplesHeld(std::uint16_t block_align, int channels) {
  const auto codes = static_cast<std::uint32_t>(ImaCodeBytes(block_align, channels));
  if (block_align < ImaHeaderBytes(channels)) return 0;
  // Two codes per byte, shared by the channels, plus the header sample.
  return (channels == 2 ? codes : 2 * codes) + 1;
}

std::optional<std::string_view> CheckImaFormat(int channels, std::uint16_t block_align,
                                               std::uint16_t samples_per_block) {
  if (channels != 1 && channels != 2) return adpcm_errors::kChannels;
  if (block_align == 0) return adpcm_errors::kBlockAlignZero;
  if (block_align < ImaHeaderBytes(channels)) return adpcm_errors::kBlockTooSmall;
  if (channels == 2 && ImaCodeBytes(block_align, channels) % 8 != 0) return adpcm_errors::kStereoGroups;
  if (samples_per_block < 2) return adpcm_errors::kSamplesPerBlockTooSmall;
  if (samples_per_block > ImaSamplesHeld(block_align, channels)) return adpcm_errors::kSamplesPerBlockTooLarge;
  // Every code of a block is decoded in one pass, so the whole block must fit.
  const std::uint64_t decoded = std::uint64_t{ImaSamplesHeld(block_align, channels)} * 2u *
                                static_cast<std::uint32_t>(channels);
  if (decoded > adpcm_errors::kWindowBytes) return adpcm_errors::kDecodedBlockTooLarge;
  return std::nullopt;
}

bool SplitImaBlock(std::span<const std::uint8_t> block, std::uint16_t block_align, int channels,
                   ImaBlockState& state, std::span<std::uint8_t> codes) {
  if (block.empty()) return false;
  block = block.first(std::min<std::size_t>(block.size(), block_align));

  // Header bytes a short block lacks read as zero, like its missing codes.
  std::array<std::uint8_t, 8> header{};
  const std::size_t header_size = ImaHeaderBytes(channels);
  std::copy_n(block.begin(), std::min(block.size(), header_size), header.begin());
  state = ImaBlockState{};
  state.sample[0] = Le16(&header[0]);
  state.step_index[0] = header[2];
  if (channels == 2) {
    state.sample[1] = Le16(&header[4]);
    state.step_index[1] = header[6];
  }

  const std::size_t wanted = std::min(codes.size(), ImaCodeBytes(block_align, channels));
  const std::size_t present = block.size() > header_size ? std::min(block.size() - header_size, wanted) : 0;
  std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(header_size), present, codes.begin());
  std::fill(codes.begin() + static_cast<std::ptrdiff_t>(present),
            codes.begin() + static_cast<std::ptrdiff_t>(wanted), std::uint8_t{0});
  return true;
}

void DecodeImaMono(const ImaBlockState& state, std::span<const std::uint8_t> codes,
                   std::span<std::int16_t> out, std::int32_t& count) {
  if (out.empty()) {
    count = 0;
    return;
  }
  const std::size_t samples = std::min(2 * ClampCount(count, codes.size()) + 1, out.size());
  ImaChannel channel(state.sample[0], state.step_index[0]);
  out[0] = state.sample[0];
  for (std::size_t k = 0; k + 1 < samples; ++k) {
    const std::uint8_t byte = codes[k / 2];
    out[k + 1] = channel.Step(Nibble(byte, k % 2 == 1));
  }
  count = static_cast<std::int32_t>(samples);
}

void DecodeImaStereo(const ImaBlockState& state, std::span<const std::uint8_t> codes,
                     std::span<std::int16_t> out, std::int32_t& count) {
  // Codes per channel that `codes` really supplies: 8 per whole group of 8
  // bytes, and of a trailing partial group only what channel 1 also has.
  const std::size_t groups = codes.size() / 8;
  const std::size_t rest = codes.size() % 8;
  const std::size_t supplied = 8 * groups + 2 * (rest > 4 ? rest - 4 : 0);
  const std::size_t frames = std::min(ClampCount(count, supplied) + 1, out.size() / 2);
  for (std::size_t ch = 0; ch < 2 && frames > 0; ++ch) {
    ImaChannel channel(state.sample[ch], state.step_index[ch]);
    out[ch] = state.sample[ch];
    for (std::size_t j = 0; j + 1 < frames; ++j) {
      const std::size_t m = j / 2;
      const std::uint8_t byte = codes[(m / 4) * 8 + (m % 4) + 4 * ch];
      out[2 + 2 * j + ch] = channel.Step(Nibble(byte, j % 2 == 1));
    }
  }
  count = static_cast<std::int32_t>(frames);
}

}  // namespace vornek
