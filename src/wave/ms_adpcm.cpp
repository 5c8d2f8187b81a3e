// SPDX-License-Identifier: BSD-3-Clause
#include "wave/ms_adpcm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/failures.h"
#include "wave/decode_window.h"
#include "base/bytes.h"

namespace vornek {

namespace {

constexpr std::uint32_t kCoefTableOffset = 22;  // in the "fmt " body

/// A 4-bit code as the signed number it stands for.
constexpr std::array<std::int32_t, 16> kSignedCode = {0, 1, 2,  3,  4,  5,  6,  7,
                                                      -8, -7, -6, -5, -4, -3, -2, -1};

/// Running decoder of one channel, kept in registers for the length of a block.
class MsChannel {
 public:
  MsChannel(const MsBlockState& state, std::size_t ch, std::span<const MsCoefPair> coefs)
      : delta_(state.delta[ch]), sample1_(state.sample1[ch]), sample2_(state.sample2[ch]) {
    // A predictor index the file did not supply uses its last pair; with no pairs
    // at all (refused at open) the prediction is 0 rather than a read past a table.
    if (!coefs.empty()) {
      const MsCoefPair pair = coefs[std::min<std::size_t>(state.predictor[ch], coefs.size() - 1)];
      coef1_ = pair.Coef1;
      coef2_ = pair.Coef2;
    }
  }

  /// `code` is 0..15, a signed 4-bit number. `kFirst` marks the first code of a
  /// block, the one step whose delta may still be the header's: any 16-bit value,
  /// negative too. Every later delta is the adapted one, 16 or more.
  template <bool kFirst>
  std::int16_t Step(std::uint32_t code) {
    // 64-bit sum: two products of 16-bit extremes overflow 32 bits.
    const std::int64_t weighted = std::int64_t{sample1_} * coef1_ + std::int64_t{sample2_} * coef2_;
    std::int64_t sample = weighted / 256 + std::int64_t{delta_} * kSignedCode[code];
    // One unsigned comparison and a branch: music rarely reaches either limit.
    if (static_cast<std::uint64_t>(sample + 32768) > 65535u) [[unlikely]]
      sample = sample < 0 ? -32768 : 32767;
    // The new delta is kept as a 16-bit value, like the header field it replaces;
    // a quotient that wraps to a small or negative value is lifted to the floor.
    // From the second code on the product is positive, and the quotient a shift.
    const std::int32_t scaled = delta_ * kMsAdaptationTable[code];
    delta_ = std::max<std::int32_t>(static_cast<std::int16_t>(kFirst ? scaled / 256 : scaled >> 8), 16);
    sample2_ = sample1_;
    sample1_ = static_cast<std::int32_t>(sample);
    return static_cast<std::int16_t>(sample);
  }

  /// Whether this channel's prediction, plus the largest code times delta, stays
  /// within 32 bits for any samples: then the vector decoder below may run it.
  /// |s1 c1 + s2 c2| <= 32768 (|c1| + |c2|) <= 2^31 - 2^27, and |256 code delta|
  /// < 2^26. Every pair of the codec's standard set is far inside.
  bool FitsInt32() const { return std::abs(coef1_) + std::abs(coef2_) <= 61440; }

  void Save(MsBlockState& state, std::size_t ch) const {
    state.delta[ch] = static_cast<std::int16_t>(delta_);
    state.sample1[ch] = static_cast<std::int16_t>(sample1_);
    state.sample2[ch] = static_cast<std::int16_t>(sample2_);
  }

 private:
  friend void DecodeSideBySide(MsChannel&, MsChannel&, std::span<const std::uint8_t>, std::int16_t*);

  std::int32_t coef1_ = 0;
  std::int32_t coef2_ = 0;
  std::int32_t delta_;  ///< a 16-bit value: the header's, then the adapted one
  std::int32_t sample1_;
  std::int32_t sample2_;
};

/// The frames a caller asks for, at least the block's two header frames.
std::size_t Wanted(std::int32_t frames) {
  return frames <= 2 ? 2 : static_cast<std::size_t>(frames);
}

#if defined(__SSE2__)
/// For each code byte of a stereo block: the adaptation factors and the signed
/// codes of channel 0 (high nibble) and channel 1, as 16-bit words laid out for
/// one multiply-add against [delta 0, 0, delta 1, 0, delta 0, 0, delta 1, 0].
alignas(16) constexpr auto kStereoByteFactors = [] {
  std::array<std::array<std::int16_t, 8>, 256> table{};
  for (std::size_t byte = 0; byte < 256; ++byte) {
    const std::size_t high = byte >> 4u;
    const std::size_t low = byte & 15u;
    table[byte] = {kMsAdaptationTable[high], 0, kMsAdaptationTable[low], 0,
                   static_cast<std::int16_t>(kSignedCode[high]), 0,
                   static_cast<std::int16_t>(kSignedCode[low]), 0};
  }
  return table;
}();

/// Decodes one frame per code byte into `to`, both channels in one register: the
/// two channels' predictions are one multiply-add of [s1, s2] pairs by [c1, c2]
/// pairs, and the saturating pack to 16 bits is the codec's clamp. The same
/// arithmetic as `MsChannel::Step<false>` (the first code of a block is decoded
/// before), with one dependency chain for a frame instead of one for each of its two
/// samples. Both channels must pass `FitsInt32`.
void DecodeSideBySide(MsChannel& left, MsChannel& right, std::span<const std::uint8_t> codes,
                      std::int16_t* to) {
  // Deltas in 32-bit lanes 0 and 1, repeated in 2 and 3: one multiply-add by a
  // byte's factors gives both adapted deltas (times 256) and both code * delta.
  __m128i delta = _mm_setr_epi32(left.delta_, right.delta_, left.delta_, right.delta_);
  // Every value below is a 16-bit one kept in 32 bits.
  const auto word = [](std::int32_t value) { return static_cast<std::int16_t>(value); };
  const __m128i coefs =
      _mm_setr_epi16(word(left.coef1_), word(left.coef2_), word(right.coef1_), word(right.coef2_), 0, 0, 0, 0);
  __m128i samples =
      _mm_setr_epi16(word(left.sample1_), word(left.sample2_), word(right.sample1_), word(right.sample2_), 0, 0, 0, 0);
  __m128i last = _mm_setr_epi16(word(left.sample1_), word(right.sample1_), 0, 0, 0, 0, 0, 0);
  const __m128i least = _mm_set1_epi16(16);
  for (const std::uint8_t code : codes) {
    const __m128i factors = _mm_load_si128(reinterpret_cast<const __m128i*>(kStereoByteFactors[code].data()));
    const __m128i products = _mm_madd_epi16(delta, factors);
    // 256 * code * delta of both channels, in lanes 0 and 1.
    const __m128i step = _mm_shuffle_epi32(_mm_slli_epi32(products, 8), 0xEE);
    const __m128i weighted = _mm_madd_epi16(samples, coefs);
    // weighted / 256 truncates toward zero: add 255 to a negative sum first. The
    // code's step is added before the shift, as a multiple of 256 it is exact.
    const __m128i bias = _mm_srli_epi32(_mm_srai_epi32(weighted, 31), 24);
    const __m128i sum = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(weighted, step), bias), 8);
    const __m128i clamped = _mm_packs_epi32(sum, sum);
    const auto frame = static_cast<std::uint32_t>(_mm_cvtsi128_si32(clamped));
    std::memcpy(to, &frame, sizeof frame);
    to += 2;
    samples = _mm_unpacklo_epi16(clamped, last);
    last = clamped;
    // The adapted delta: the low 16 bits of the quotient (its wrap to 16 bits),
    // at least 16. The lanes' high halves meet zero factors and do not matter.
    delta = _mm_shuffle_epi32(_mm_max_epi16(_mm_srai_epi32(products, 8), least), 0x44);
  }
  left.delta_ = word(_mm_extract_epi16(delta, 0));
  right.delta_ = word(_mm_extract_epi16(delta, 2));
  left.sample1_ = word(_mm_extract_epi16(samples, 0));
  left.sample2_ = word(_mm_extract_epi16(samples, 1));
  right.sample1_ = word(_mm_extract_epi16(samples, 2));
  right.sample2_ = word(_mm_extract_epi16(samples, 3));
}
#endif

}  // namespace

std::size_t MsCodeBytes(const AdpcmBlockLayout& layout) {
  const std::size_t header = MsHeaderBytes(layout.Channels);
  return layout.BlockAlign > header ? layout.BlockAlign - header : 0;
}

std::uint32_t MsSamplesHeld(const AdpcmBlockLayout& layout) {
  if (layout.BlockAlign < MsHeaderBytes(layout.Channels)) return 0;
  const auto codes = static_cast<std::uint32_t>(MsCodeBytes(layout));
  return (layout.Channels == 2 ? codes : 2 * codes) + 2;
}

std::optional<TFailure> CheckMsFormat(const AdpcmBlockLayout& layout, std::uint16_t coef_count,
                                              std::uint32_t fmt_size) {
  const int channels = layout.Channels;
  if (channels != 1 && channels != 2) return TFailure::faAdpcmChannels;
  if (layout.BlockAlign == 0) return TFailure::faAdpcmBlockAlignZero;
  if (layout.BlockAlign < MsHeaderBytes(channels)) return TFailure::faAdpcmBlockTooSmall;
  if (coef_count == 0) return TFailure::faMsNoCoefficients;
  if (coef_count > kMaxMsCoefs) return TFailure::faMsTooManyCoefficients;
  if (kCoefTableOffset + 4u * coef_count > fmt_size) return TFailure::faMsCoefficientsOutsideFmt;
  if (layout.SamplesPerBlock < 2) return TFailure::faAdpcmSamplesPerBlockTooSmall;
  if (layout.SamplesPerBlock > MsSamplesHeld(layout)) return TFailure::faAdpcmSamplesPerBlockTooLarge;
  const std::uint64_t decoded =
      std::uint64_t{layout.SamplesPerBlock} * 2u * static_cast<std::uint32_t>(channels);
  if (decoded > kDecodeWindowBytes) return TFailure::faAdpcmDecodedBlockTooLarge;
  // A block holding more frames than the header says is refused, as for IMA ADPCM:
  // decoding only what the header says would drop the rest of every block unseen.
  if (layout.SamplesPerBlock != MsSamplesHeld(layout)) return TFailure::faAdpcmSamplesPerBlockMismatch;
  return std::nullopt;
}

bool SplitMsBlock(std::span<const std::uint8_t> block, const AdpcmBlockLayout& layout,
                  MsBlockState& state, std::span<std::uint8_t> codes) {
  if (block.empty()) return false;
  block = block.first(std::min<std::size_t>(block.size(), layout.BlockAlign));

  // Header bytes a short block lacks read as zero, like its missing codes.
  std::array<std::uint8_t, 14> header{};
  const std::size_t header_size = MsHeaderBytes(layout.Channels);
  std::copy_n(block.begin(), std::min(block.size(), header_size), header.begin());
  state = MsBlockState{};
  if (layout.Channels == 2) {
    for (std::size_t ch = 0; ch < 2; ++ch) {
      state.predictor[ch] = header[ch];
      state.delta[ch] = LeS16(&header[2 + 2 * ch]);
      state.sample1[ch] = LeS16(&header[6 + 2 * ch]);
      state.sample2[ch] = LeS16(&header[10 + 2 * ch]);
    }
  } else {
    state.predictor[0] = header[0];
    state.delta[0] = LeS16(&header[1]);
    state.sample1[0] = LeS16(&header[3]);
    state.sample2[0] = LeS16(&header[5]);
  }

  const std::size_t wanted = std::min(codes.size(), MsCodeBytes(layout));
  const std::size_t present = block.size() > header_size ? std::min(block.size() - header_size, wanted) : 0;
  std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(header_size), present, codes.begin());
  std::fill(codes.begin() + static_cast<std::ptrdiff_t>(present),
            codes.begin() + static_cast<std::ptrdiff_t>(wanted), std::uint8_t{0});
  return true;
}

void DecodeMsMono(MsBlockState& state, std::span<const MsCoefPair> coefs,
                  std::span<const std::uint8_t> codes, std::span<std::int16_t> out,
                  std::int32_t& frames) {
  const std::size_t samples = std::min({Wanted(frames), 2 * codes.size() + 2, out.size()});
  // The older header sample is delivered first.
  if (samples > 0) out[0] = state.sample2[0];
  if (samples > 1) out[1] = state.sample1[0];
  // The high nibble of a byte comes first, then the low one.
  MsChannel channel(state, 0, coefs);
  std::size_t k = 2;
  if (k < samples) out[k++] = channel.Step<true>(codes[0] >> 4u);
  if (k < samples) out[k++] = channel.Step<false>(codes[0] & 15u);
  for (std::size_t at = 1; k + 1 < samples; ++at, k += 2) {
    out[k] = channel.Step<false>(codes[at] >> 4u);
    out[k + 1] = channel.Step<false>(codes[at] & 15u);
  }
  if (k < samples) out[k] = channel.Step<false>(codes[(k - 2) / 2] >> 4u);
  channel.Save(state, 0);
  frames = static_cast<std::int32_t>(samples);
}

void DecodeMsStereo(MsBlockState& state, std::span<const MsCoefPair> coefs,
                    std::span<const std::uint8_t> codes, std::span<std::int16_t> out,
                    std::int32_t& frames) {
  const std::size_t written = std::min({Wanted(frames), codes.size() + 2, out.size() / 2});
  if (written > 0) {
    out[0] = state.sample2[0];
    out[1] = state.sample2[1];
  }
  if (written > 1) {
    out[2] = state.sample1[0];
    out[3] = state.sample1[1];
  }
  // A byte holds a code of channel 0 (high nibble) and one of channel 1.
  MsChannel left(state, 0, coefs);
  MsChannel right(state, 1, coefs);
  if (written > 2) {
    out[4] = left.Step<true>(codes[0] >> 4u);
    out[5] = right.Step<true>(codes[0] & 15u);
  }
  std::size_t j = 1;
#if defined(__SSE2__)
  if (written > 3 && left.FitsInt32() && right.FitsInt32()) {
    DecodeSideBySide(left, right, codes.subspan(1, written - 3), out.data() + 6);
    j = written - 2;
  }
#endif
  for (; j + 2 < written; ++j) {
    out[2 * j + 4] = left.Step<false>(codes[j] >> 4u);
    out[2 * j + 5] = right.Step<false>(codes[j] & 15u);
  }
  left.Save(state, 0);
  right.Save(state, 1);
  frames = static_cast<std::int32_t>(written);
}

}  // namespace vornek
