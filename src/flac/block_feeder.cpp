// SPDX-License-Identifier: BSD-3-Clause
#include "flac/block_feeder.h"

#include <algorithm>
#include <utility>

namespace vornek {

void WidenSamples(const std::uint8_t* in, std::int32_t* out, std::uint32_t count,
                  std::int32_t bits) {
  switch (bits) {
    case 8:
      for (std::uint32_t i = 0; i < count; ++i) out[i] = std::int32_t{in[i]} - 128;
      break;
    case 16:
      for (std::uint32_t i = 0; i < count; ++i, in += 2)
        out[i] = static_cast<std::int16_t>(in[0] | (in[1] << 8));
      break;
    case 24:
      for (std::uint32_t i = 0; i < count; ++i, in += 3)
        out[i] = in[0] | (in[1] << 8) | (static_cast<std::int8_t>(in[2]) * 65536);
      break;
    case 32:
      for (std::uint32_t i = 0; i < count; ++i, in += 4)
        out[i] = static_cast<std::int32_t>(std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) |
                                           (std::uint32_t{in[2]} << 16) |
                                           (std::uint32_t{in[3]} << 24));
      break;
    default:
      break;
  }
}

TBlockFeeder::TBlockFeeder(TAuInput& input, std::uint32_t block_frames, std::int32_t channels,
                           std::int32_t bits)
    : input_(input), channels_(channels), bits_(bits) {
  const std::size_t samples = std::size_t{block_frames} * static_cast<std::size_t>(channels);
  bytes_.resize(samples * static_cast<std::size_t>(bits / 8));
  slots_.resize(RingSlots(block_frames, channels));
  for (Slot& slot : slots_) slot.Samples.reset(new std::int32_t[samples]);
  thread_ = std::jthread([this](std::stop_token stop) { ReadBlocks(std::move(stop)); });
}

std::size_t TBlockFeeder::RingSlots(std::uint32_t block_frames, std::int32_t channels) {
  const std::size_t block_bytes =
      std::size_t{block_frames} * static_cast<std::size_t>(channels) * sizeof(std::int32_t);
  return std::clamp(kRingBytes / std::max<std::size_t>(block_bytes, 1), kMinSlots, kMaxSlots);
}

TBlockFeeder::~TBlockFeeder() { platform::RequestStop(thread_.get_stop_source(), lock_, freed_); }

void TBlockFeeder::ReadBlocks(std::stop_token stop) {
  for (std::size_t at = 0;; at = (at + 1) % slots_.size()) {
    {
      std::unique_lock guard(lock_);
      if (ready_ == slots_.size())
        freed_.wait(guard, [&] { return stop.stop_requested() || ready_ <= RefillMark(); });
      if (stop.stop_requested()) return;
    }
    // Slot `at` is free: only this thread touches it until it is counted ready.
    Slot& slot = slots_[at];
    FillSlot(slot);
    {
      std::lock_guard guard(lock_);
      ++ready_;
    }
    filled_.notify_one();
    if (slot.Last) return;
  }
}

void TBlockFeeder::FillSlot(Slot& slot) {
  slot.Frames = 0;
  slot.Failure = nullptr;
  try {
    bool end = false;
    const std::uint32_t n =
        input_.ReadFully(bytes_.data(), static_cast<std::uint32_t>(bytes_.size()), end);
    const std::uint32_t count = n / static_cast<std::uint32_t>(bits_ / 8);
    slot.Frames = count / static_cast<std::uint32_t>(channels_);
    WidenSamples(bytes_.data(), slot.Samples.get(), slot.Frames * static_cast<std::uint32_t>(channels_),
                 bits_);
    slot.Last = end || slot.Frames == 0;
  } catch (...) {
    slot.Frames = 0;
    slot.Failure = std::current_exception();
    slot.Last = true;
  }
}

TBlockFeeder::Block TBlockFeeder::Next() {
  if (finished_) return {};
  std::unique_lock guard(lock_);
  if (holding_) {
    holding_ = false;
    if (--ready_ == RefillMark()) {
      // Signalled with the lock released, so that the reader does not wake only to
      // wait for the lock, and cost this thread a second wake-up when it lets go.
      guard.unlock();
      freed_.notify_one();
      guard.lock();
    }
  }
  filled_.wait(guard, [this] { return ready_ > 0; });
  guard.unlock();

  const Slot& slot = slots_[next_];
  next_ = (next_ + 1) % slots_.size();
  holding_ = true;
  if (slot.Last) finished_ = true;
  if (slot.Failure) std::rethrow_exception(slot.Failure);
  return {slot.Samples.get(), slot.Frames};
}

}  // namespace vornek
