// SPDX-License-Identifier: BSD-3-Clause
#include "wave/ima_adpcm.h"

#include <algorithm>

#include "base/failures.h"
#include "wave/decode_window.h"
#include "base/bytes.h"

namespace vornek {

namespace {

constexpr std::int32_t kMaxStepIndex = static_cast<std::int32_t>(kImaStepTable.size()) - 1;

/// The signed difference a 4-bit code stands for at a step index: step / 8, plus
/// step for bit 2, step / 2 for bit 1 and step / 4 for bit 0, each term truncated
/// on its own as the codec defines it, and negated when bit 3 is set.
constexpr std::int32_t CodeDiff(std::size_t index, std::size_t code) {
  const auto step = static_cast<std::int32_t>(kImaStepTable[index]);
  std::int32_t diff = step >> 3;
  if (code & 4) diff += step;
  if (code & 2) diff += step >> 1;
  if (code & 1) diff += step >> 2;
  return (code & 8) ? -diff : diff;
}

/// What a code does at a step index: the difference it adds to the sample, and
/// the row of the step index it moves to (moved by `kImaIndexTable` and kept within
/// the table). One load each instead of the codec's branches and clamp.
struct ImaTransition {
  const ImaTransition* next_row;
  std::int32_t diff;
};

/// The transitions of every step index, a row of 16 codes each, at [index * 16 +
/// code]. The decoder keeps its step index as a pointer to its row, so the step
/// index of the next sample is a single load at row[code]: that load is the chain
/// each sample of a channel waits on, and an index kept as a number would add an
/// addition to it.
struct ImaTransitionTable {
  std::array<ImaTransition, kImaStepTable.size() * 16> at{};

  constexpr ImaTransitionTable() {
    for (std::int32_t index = 0; index <= kMaxStepIndex; ++index) {
      for (std::size_t code = 0; code < 16; ++code) {
        const auto next = std::clamp(index + kImaIndexTable[code], 0, kMaxStepIndex);
        at[static_cast<std::size_t>(index) * 16 + code] = {
            &at[static_cast<std::size_t>(next) * 16], CodeDiff(static_cast<std::size_t>(index), code)};
      }
    }
  }

  const ImaTransition* Row(std::uint8_t step_index) const {
    return &at[std::min<std::size_t>(step_index, kMaxStepIndex) * 16];
  }
};

constexpr ImaTransitionTable kImaTransitions;

/// Running decoder of one channel, kept in registers for the length of a block. The
/// header's step index is clamped on entry so a damaged header can never index past
/// the table.
class ImaChannel {
 public:
  ImaChannel(std::int16_t sample, std::uint8_t step_index)
      : predictor_(sample), row_(kImaTransitions.Row(step_index)) {}

  /// `code` is 0..15: bit 3 is the sign, the others the magnitude.
  std::int16_t Step(std::uint32_t code) {
    const ImaTransition& move = row_[code];
    predictor_ += move.diff;
    // The lower bound is -32767, symmetric with the upper one. One unsigned
    // comparison and a branch: music rarely reaches either limit, and a predicted
    // branch costs less than two conditional moves on every sample.
    if (static_cast<std::uint32_t>(predictor_ + 32767) > 2 * 32767u) [[unlikely]]
      predictor_ = predictor_ < 0 ? -32767 : 32767;
    row_ = move.next_row;
    return static_cast<std::int16_t>(predictor_);
  }

 private:
  std::int32_t predictor_;
  const ImaTransition* row_;  ///< the current step index's row of transitions
};

/// The frames a caller asks for, at least the block's header frames.
std::size_t Wanted(std::int32_t frames, std::size_t header_frames) {
  return frames <= static_cast<std::int32_t>(header_frames) ? header_frames : static_cast<std::size_t>(frames);
}

}  // namespace

std::size_t ImaCodeBytes(const AdpcmBlockLayout& layout) {
  const std::size_t header = ImaHeaderBytes(layout.Channels);
  return layout.BlockAlign > header ? layout.BlockAlign - header : 0;
}

std::uint32_t ImaSamplesHeld(const AdpcmBlockLayout& layout) {
  if (layout.BlockAlign < ImaHeaderBytes(layout.Channels)) return 0;
  const auto codes = static_cast<std::uint32_t>(ImaCodeBytes(layout));
  // Two codes per byte, shared by the channels, plus the header sample.
  return (layout.Channels == 2 ? codes : 2 * codes) + 1;
}

std::optional<TFailure> CheckImaFormat(const AdpcmBlockLayout& layout) {
  const int channels = layout.Channels;
  if (channels != 1 && channels != 2) return TFailure::faAdpcmChannels;
  if (layout.BlockAlign == 0) return TFailure::faAdpcmBlockAlignZero;
  if (layout.BlockAlign < ImaHeaderBytes(channels)) return TFailure::faAdpcmBlockTooSmall;
  if (channels == 2 && ImaCodeBytes(layout) % 8 != 0) return TFailure::faImaStereoGroups;
  if (layout.SamplesPerBlock < 2) return TFailure::faAdpcmSamplesPerBlockTooSmall;
  if (layout.SamplesPerBlock > ImaSamplesHeld(layout)) return TFailure::faAdpcmSamplesPerBlockTooLarge;
  // Every code of a block is decoded in one pass, so the whole block must fit.
  const std::uint64_t decoded =
      std::uint64_t{ImaSamplesHeld(layout)} * 2u * static_cast<std::uint32_t>(channels);
  if (decoded > kDecodeWindowBytes) return TFailure::faAdpcmDecodedBlockTooLarge;
  if (layout.SamplesPerBlock != ImaSamplesHeld(layout)) return TFailure::faAdpcmSamplesPerBlockMismatch;
  return std::nullopt;
}

bool SplitImaBlock(std::span<const std::uint8_t> block, const AdpcmBlockLayout& layout,
                   ImaBlockState& state, std::span<std::uint8_t> codes) {
  if (block.empty()) return false;
  block = block.first(std::min<std::size_t>(block.size(), layout.BlockAlign));

  // Header bytes a short block lacks read as zero, like its missing codes.
  std::array<std::uint8_t, 8> header{};
  const std::size_t header_size = ImaHeaderBytes(layout.Channels);
  std::copy_n(block.begin(), std::min(block.size(), header_size), header.begin());
  state = ImaBlockState{};
  state.sample[0] = LeS16(&header[0]);
  state.step_index[0] = header[2];
  if (layout.Channels == 2) {
    state.sample[1] = LeS16(&header[4]);
    state.step_index[1] = header[6];
  }

  const std::size_t wanted = std::min(codes.size(), ImaCodeBytes(layout));
  const std::size_t present = block.size() > header_size ? std::min(block.size() - header_size, wanted) : 0;
  std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(header_size), present, codes.begin());
  std::fill(codes.begin() + static_cast<std::ptrdiff_t>(present),
            codes.begin() + static_cast<std::ptrdiff_t>(wanted), std::uint8_t{0});
  return true;
}

void DecodeImaMono(const ImaBlockState& state, std::span<const std::uint8_t> codes,
                   std::span<std::int16_t> out, std::int32_t& frames) {
  if (out.empty()) {
    frames = 0;
    return;
  }
  const std::size_t samples = std::min({Wanted(frames, 1), 2 * codes.size() + 1, out.size()});
  ImaChannel channel(state.sample[0], state.step_index[0]);
  out[0] = state.sample[0];
  // The low nibble of a byte comes first, then the high one.
  std::size_t k = 1;
  for (std::size_t at = 0; k + 1 < samples; ++at, k += 2) {
    out[k] = channel.Step(codes[at] & 15u);
    out[k + 1] = channel.Step(codes[at] >> 4u);
  }
  if (k < samples) out[k] = channel.Step(codes[k / 2] & 15u);
  frames = static_cast<std::int32_t>(samples);
}

void DecodeImaStereo(const ImaBlockState& state, std::span<const std::uint8_t> codes,
                     std::span<std::int16_t> out, std::int32_t& frames) {
  // Codes per channel that `codes` really supplies: 8 per whole group of 8
  // bytes, and of a trailing partial group only what channel 1 also has.
  const std::size_t groups = codes.size() / 8;
  const std::size_t rest = codes.size() % 8;
  const std::size_t supplied = 8 * groups + 2 * (rest > 4 ? rest - 4 : 0);
  const std::size_t written = std::min({Wanted(frames, 1), supplied + 1, out.size() / 2});
  if (written == 0) {
    frames = 0;
    return;
  }
  // Each group of 8 bytes holds 8 codes of channel 0, then 8 of channel 1, low nibble
  // first. The two channels are decoded side by side: independent chains overlap.
  ImaChannel left(state.sample[0], state.step_index[0]);
  ImaChannel right(state.sample[1], state.step_index[1]);
  out[0] = state.sample[0];
  out[1] = state.sample[1];
  std::int16_t* to = out.data() + 2;
  std::size_t j = 0;
  // Whole groups: each channel's 8 codes read as one little-endian 32-bit word.
  for (const std::uint8_t* group = codes.data(); j + 8 < written; j += 8, group += 8, to += 16) {
    std::uint32_t l = Le32(group);
    std::uint32_t r = Le32(group + 4);
    for (std::size_t i = 0; i < 8; ++i, l >>= 4, r >>= 4) {
      to[2 * i] = left.Step(l & 15u);
      to[2 * i + 1] = right.Step(r & 15u);
    }
  }
  // The frames of a last group the count ends inside.
  for (; j + 1 < written; ++j, to += 2) {
    const std::size_t m = j / 2;
    const std::size_t at = (m / 4) * 8 + (m % 4);
    const unsigned shift = (j % 2) * 4;
    to[0] = left.Step((codes[at] >> shift) & 15u);
    to[1] = right.Step((codes[at + 4] >> shift) & 15u);
  }
  frames = static_cast<std::int32_t>(written);
}

}  // namespace vornek
