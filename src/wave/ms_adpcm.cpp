#include "wave/ms_adpcm.h"

#include <algorithm>

#include "wave/adpcm_errors.h"

namespace vornek {

const std::array<std::int16_t, 16> kMsAdaptationTable = {230, 230, 230, 230, 307, 409, 512, 614,
                                                         768, 614, 512, 409, 307, 230, 230, 230};

namespace {

constexpr std::uint32_t kCoefTableOffset = 22;  // in the "fmt " body

std::int16_t Le16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

/// Decodes one code of channel `ch`, advancing its state.
std::int16_t MsStep(MsBlockState& state, std::size_t ch, std::span<const MsCoefPair> coefs,
                    std::uint8_t code) {
  // A predictor index the file did not supply uses its last pair; with no pairs
  // at all (refused at open) the prediction is 0 rather than a read past a table.
  MsCoefPair pair;
  if (!coefs.empty()) pair = coefs[std::min<std::size_t>(state.predictor[ch], coefs.size() - 1)];
  // 64-bit sum: two products of 16-bit extremes overflow 32 bits.
  const std::int64_t weighted = std::int64_t{state.sample1[ch]} * pair.Coef1 +
                                std::int64_t{state.sample2[ch]} * pair.Coef2;
  const std::int64_t signed_code = code < 8 ? code : code - 16;
  const std::int64_t predicted = weighted / 256 + std::int64_t{state.delta[ch]} * signed_code;
  const auto sample = static_cast<std::int16_t>(std::clamp<std::int64_t>(predicted, -32768, 32767));

  // The new delta is kept as a 16-bit value, like the header field it replaces;
  // a quotient that wraps to a small or negative value is lifted to the floor.
  auto delta = static_cast<std::int16_t>(std::int32_t{state.delta[ch]} * kMsAdaptationTable[code] / 256);
  if (delta < 16) delta = 16;
  state.delta[ch] = delta;
  state.sample2[ch] = state.sample1[ch];
  state.sample1[ch] = sample;
  return sample;
}

std::size_t ClampCount(std::int32_t count, std::size_t limit) {
  return count <= 0 ? 0 : std::min(static_cast<std::size_t>(count), limit);
}

}  // namespace

std::size_t MsCodeBytes(std::uint16_t block_align, int channels) {
  const std::size_t header = MsHeaderBytes(channels);
  return block_align > header ? block_align - header : 0;
}

std::uint32_t MsSamplesHeld(std::uint16_t block_align, int channels) {
  if (block_align < MsHeaderBytes(channels)) return 0;
  const auto codes = static_cast<std::uint32_t>(MsCodeBytes(block_align, channels));
  return (channels == 2 ? codes : 2 * codes) + 2;
}

std::optional<std::string_view> CheckMsFormat(int channels, std::uint16_t block_align,
                                              std::uint16_t samples_per_block,
                                              std::uint16_t coef_count, std::uint32_t fmt_size) {
  if (channels != 1 && channels != 2) return adpcm_errors::kChannels;
  if (block_align == 0) return adpcm_errors::kBlockAlignZero;
  if (block_align < MsHeaderBytes(channels)) return adpcm_errors::kBlockTooSmall;
  if (coef_count == 0) return adpcm_errors::kNoCoefficients;
  if (coef_count > kMaxMsCoefs) return adpcm_errors::kTooManyCoefficients;
  if (kCoefTableOffset + 4u * coef_count > fmt_size) return adpcm_errors::kCoefficientsOutsideFmt;
  if (samples_per_block < 2) return adpcm_errors::kSamplesPerBlockTooSmall;
  if (samples_per_block > MsSamplesHeld(block_align, channels)) return adpcm_errors::kSamplesPerBlockTooLarge;
  // Only samples-per-block frames are decoded, whatever padding the block has.
  const std::uint64_t decoded = std::uint64_t{samples_per_block} * 2u * static_cast<std::uint32_t>(channels);
  if (decoded > adpcm_errors::kWindowBytes) return adpcm_errors::kDecodedBlockTooLarge;
  return std::nullopt;
}

bool SplitMsBlock(std::span<const std::uint8_t> block, std::uint16_t block_align, int channels,
                  MsBlockState& state, std::span<std::uint8_t> codes) {
  if (block.empty()) return false;
  block = block.first(std::min<std::size_t>(block.size(), block_align));

  // Header bytes a short block lacks read as zero, like its missing codes.
  std::array<std::uint8_t, 14> header{};
  const std::size_t header_size = MsHeaderBytes(channels);
  std::copy_n(block.begin(), std::min(block.size(), header_size), header.begin());
  state = MsBlockState{};
  if (channels == 2) {
    for (std::size_t ch = 0; ch < 2; ++ch) {
      state.predictor[ch] = header[ch];
      state.delta[ch] = Le16(&header[2 + 2 * ch]);
      state.sample1[ch] = Le16(&header[6 + 2 * ch]);
      state.sample2[ch] = Le16(&header[10 + 2 * ch]);
    }
  } else {
    state.predictor[0] = header[0];
    state.delta[0] = Le16(&header[1]);
    state.sample1[0] = Le16(&header[3]);
    state.sample2[0] = Le16(&header[5]);
  }

  const std::size_t wanted = std::min(codes.size(), MsCodeBytes(block_align, channels));
  const std::size_t present = block.size() > header_size ? std::min(block.size() - header_size, wanted) : 0;
  std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(header_size), present, codes.begin());
  std::fill(codes.begin() + static_cast<std::ptrdiff_t>(present),
            codes.begin() + static_cast<std::ptrdiff_t>(wanted), std::uint8_t{0});
  return true;
}

void DecodeMsMono(MsBlockState& state, std::span<const MsCoefPair> coefs,
                  std::span<const std::uint8_t> codes, std::span<std::int16_t> out,
                  std::int32_t& count) {
  const std::size_t samples = std::min(ClampCount(count, 2 * codes.size()) + 2, out.size());
  // The older header sample is delivered first.
  if (samples > 0) out[0] = state.sample2[0];
  if (samples > 1) out[1] = state.sample1[0];
  for (std::size_t k = 0; k + 2 < samples; ++k) {
    const std::uint8_t byte = codes[k / 2];
    const auto code = static_cast<std::uint8_t>(k % 2 == 0 ? byte >> 4 : byte & 15u);
    out[k + 2] = MsStep(state, 0, coefs, code);
  }
  count = static_cast<std::int32_t>(2 * samples);
}

void DecodeMsStereo(MsBlockState& state, std::span<const MsCoefPair> coefs,
                    std::span<const std::uint8_t> codes, std::span<std::int16_t> out,
                    std::int32_t& count) {
  const std::size_t frames = std::min(ClampCount(count, codes.size()) + 2, out.size() / 2);
  if (frames > 0) {
    out[0] = state.sample2[0];
    out[1] = state.sample2[1];
  }
  if (frames > 1) {
    out[2] = state.sample1[0];
    out[3] = state.sample1[1];
  }
  for (std::size_t j = 0; j + 2 < frames; ++j) {
    const std::uint8_t byte = codes[j];
    out[2 * j + 4] = MsStep(state, 0, coefs, static_cast<std::uint8_t>(byte >> 4));
    out[2 * j + 5] = MsStep(state, 1, coefs, static_cast<std::uint8_t>(byte & 15u));
  }
  count = static_cast<std::int32_t>(4 * frames);
}

}  // namespace vornek
