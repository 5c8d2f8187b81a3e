// SPDX-License-Identifier: BSD-3-Clause
// The PCM image of converted MPEG Layer 3 data: a RIFF/WAVE file in memory that the
// reader reads as if it were the file.
//
// The image is held in blocks rather than one buffer, so that the decoder can write
// straight into it (no second copy of the audio ever exists), it can grow without
// copying what it holds, and a long image needs no single stretch of free address
// space as large as itself (which a 32-bit process seldom has). Once the reader has
// read its header, the blocks it has read past are freed as it goes.
//
// Threads: one thread at a time (the reader's FileLock and InputLock see to that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "pipeline/stream.h"

namespace vornek {

class TPcmImage : public TStream {
 public:
  /// The usual block: large enough that the blocks' bookkeeping is nothing, small
  /// enough that the unfilled end of the last one is little.
  static constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

  TPcmImage() = default;
  TPcmImage(const TPcmImage&) = delete;
  TPcmImage& operator=(const TPcmImage&) = delete;

  // Filling: the writer asks for room at the end, writes into it and commits what it
  // wrote. Raises std::bad_alloc when a block cannot be had.

  /// Writable space directly after the last byte: what is left of the last block, or a
  /// new block (of kBlockBytes, or `at_least` when more) when that is less than
  /// `at_least`. Valid until the next call that changes the image.
  std::span<std::uint8_t> Room(std::size_t at_least);
  /// Appends the first `bytes` of the span Room returned (at most its length).
  void Commit(std::size_t bytes);

  /// From now on a read frees every block that lies wholly before the new position.
  /// A later seek to a place inside a freed block fails with EAuException.
  void ReleaseBehind() { release_behind_ = true; }
  /// Bytes of memory the blocks take now, filled or not.
  std::int64_t HeldBytes() const { return held_bytes_; }
  /// Every byte of the image, copied into one buffer (for checks; the image must hold
  /// all of them).
  std::vector<std::uint8_t> CopyAll() const;

  // TStream. Write overwrites in place up to the end and appends beyond it (a gap
  // before the position is filled with zeros).
  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return size_; }

 private:
  struct Block {
    std::unique_ptr<std::uint8_t[]> bytes;  ///< null once freed
    std::size_t capacity = 0;
    std::size_t used = 0;     ///< bytes of the image it holds
    std::int64_t start = 0;   ///< image offset of its first byte
  };

  /// The block that holds image offset `at` (< size_).
  std::size_t BlockAt(std::int64_t at) const;
  void AddBlock(std::size_t capacity);
  /// Frees the blocks that end at or before the position.
  void FreeBehind();
  /// The first byte a seek may still reach.
  std::int64_t FirstHeld() const;

  std::vector<Block> blocks_;
  std::size_t first_held_ = 0;  ///< blocks before this index are freed
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
  std::int64_t held_bytes_ = 0;
  bool release_behind_ = false;
};

}  // namespace vornek
