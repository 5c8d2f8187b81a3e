// SPDX-License-Identifier: BSD-3-Clause
// TBlockFeeder: reads an input ahead of its encoder, a ring of blocks at a time, on a
// thread of its own.
//
// The FLAC writer's worker spends its time inside the encoder. Reading the next
// blocks (file reads, ADPCM decoding, the copy out of the reader's window) and
// widening them to 32-bit samples on a second thread lets that work overlap the
// encoding instead of adding to it.
//
// The feeder owns a small ring of blocks. Its thread fills free blocks in order; the
// consumer takes them in the same order with Next. A failure of the input is carried
// in the block it struck and raised by Next when the consumer reaches that block, so
// the blocks before it are encoded just as they would be by reading in line.
//
// Threads: construction, Next and destruction belong to one consumer thread. From
// construction to destruction the input is read by the feeder's thread alone; the
// consumer may look at its Position and Size (progress) but must not read, seek or
// close it until the feeder is destroyed.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "pipeline/input.h"
#include "platform/threads.h"

namespace vornek {

/// Little-endian PCM as the inputs deliver it (8-bit unsigned, wider signed) to
/// 32-bit samples. `bits` is 8, 16, 24 or 32; any other width writes nothing.
void WidenSamples(const std::uint8_t* in, std::int32_t* out, std::uint32_t count,
                  std::int32_t bits);

class TBlockFeeder {
 public:
  /// A block of interleaved samples, valid until the next call of Next.
  struct Block {
    const std::int32_t* Samples = nullptr;
    std::uint32_t Frames = 0;  ///< 0 only at the end of the input
  };

  /// Starts reading `input`, which must be open, in blocks of `block_frames` frames
  /// of `channels` samples of `bits` bits (8, 16, 24 or 32). A trailing part of a
  /// frame at the end of the input is dropped.
  TBlockFeeder(TAuInput& input, std::uint32_t block_frames, std::int32_t channels,
               std::int32_t bits);
  /// Stops reading (after the block being read, if any) and joins the thread.
  ~TBlockFeeder();
  TBlockFeeder(const TBlockFeeder&) = delete;
  TBlockFeeder& operator=(const TBlockFeeder&) = delete;

  /// Hands back the block taken last and returns the next one, waiting for it if
  /// need be. Raises the input's failure when the next block is the one it struck;
  /// after the last block (or a failure) it returns an empty block at once.
  Block Next();

  /// The most blocks of `block_frames` frames of `channels` samples the feeder holds
  /// read ahead (its ring's size).
  static std::size_t RingSlots(std::uint32_t block_frames, std::int32_t channels);

 private:
  /// The ring holds about this many bytes of samples (kMinSlots to kMaxSlots blocks). The
  /// reader refills it when three quarters of it are free, so the encoder wakes the
  /// reader only once per that many blocks: waking a thread costs the waker tens of
  /// microseconds on some virtual machines, too much to pay at every block. The
  /// quarter left is far more than the reader needs to wake up and get ahead again.
  /// 2 MB (56 blocks of 16-bit stereo) is where a larger ring stopped cutting the
  /// encoder's time spent taking blocks (bench/README.md has the measurements).
  static constexpr std::size_t kRingBytes = 2u << 20;
  static constexpr std::size_t kMinSlots = 4;
  static constexpr std::size_t kMaxSlots = 256;

  struct Slot {
    /// Left uninitialised: the reader's thread writes each page before it is read,
    /// so a short input never touches most of the ring, and the encoder's thread
    /// never pays for it.
    std::unique_ptr<std::int32_t[]> Samples;
    std::uint32_t Frames = 0;
    bool Last = false;             ///< nothing follows this block
    std::exception_ptr Failure;  ///< the input failed reading this block
  };

  /// The count of ready blocks at which a waiting reader is woken.
  std::size_t RefillMark() const { return std::max<std::size_t>(slots_.size() / 4, 2); }
  void ReadBlocks(std::stop_token stop);
  void FillSlot(Slot& slot);

  TAuInput& input_;
  const std::int32_t channels_;
  const std::int32_t bits_;
  std::vector<std::uint8_t> bytes_;  ///< the raw block; reader thread only
  std::vector<Slot> slots_;          ///< a slot belongs to the side the counts give it to

  std::mutex lock_;
  std::condition_variable filled_;  ///< a block became ready
  std::condition_variable freed_;   ///< the ring has room to refill, or stop
  std::size_t ready_ = 0;           ///< guarded: filled slots, the one held by Next included

  std::size_t next_ = 0;    ///< consumer: the slot Next hands out next
  bool holding_ = false;    ///< consumer: the slot before next_ is held
  bool finished_ = false;   ///< consumer: the last block has been handed out

  std::jthread thread_;  ///< last: it starts once the rest exists, and stops first
};

}  // namespace vornek
