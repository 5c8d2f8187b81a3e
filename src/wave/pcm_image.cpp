// SPDX-License-Identifier: BSD-3-Clause
#include "wave/pcm_image.h"

#include <algorithm>
#include <cstring>

#include "pipeline/au_exception.h"
#include "pipeline/failures.h"

namespace vornek {

std::span<std::uint8_t> TPcmImage::Room(std::size_t at_least) {
  if (!blocks_.empty()) {
    Block& last = blocks_.back();
    if (last.bytes && last.capacity - last.used >= at_least && last.capacity > last.used)
      return {last.bytes.get() + last.used, last.capacity - last.used};
    if (last.used == 0) {
      // Nothing was written into it: a larger one takes its place.
      held_bytes_ -= static_cast<std::int64_t>(last.capacity);
      blocks_.pop_back();
    }
  }
  AddBlock(std::max(kBlockBytes, at_least));
  Block& fresh = blocks_.back();
  return {fresh.bytes.get(), fresh.capacity};
}

void TPcmImage::Commit(std::size_t bytes) {
  if (bytes == 0) return;
  Block& last = blocks_.back();
  last.used += std::min(bytes, last.capacity - last.used);
  size_ = last.start + static_cast<std::int64_t>(last.used);
}

void TPcmImage::AddBlock(std::size_t capacity) {
  Block block;
  block.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  block.capacity = capacity;
  block.start = size_;
  blocks_.push_back(std::move(block));
  held_bytes_ += static_cast<std::int64_t>(capacity);
}

std::size_t TPcmImage::BlockAt(std::int64_t at) const {
  // The last block whose start is at or before `at`; empty blocks sit only at the end.
  const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), at,
                                      [](std::int64_t offset, const Block& b) { return offset < b.start; });
  std::size_t index = static_cast<std::size_t>(after - blocks_.begin()) - 1;
  while (index > 0 && blocks_[index].used == 0) --index;
  return index;
}

std::int64_t TPcmImage::FirstHeld() const {
  return first_held_ < blocks_.size() ? blocks_[first_held_].start : size_;
}

void TPcmImage::FreeBehind() {
  while (first_held_ < blocks_.size()) {
    Block& block = blocks_[first_held_];
    if (block.start + static_cast<std::int64_t>(block.used) > position_ || block.used == 0) break;
    held_bytes_ -= static_cast<std::int64_t>(block.capacity);
    block.bytes.reset();
    block.capacity = 0;
    ++first_held_;
  }
}

std::size_t TPcmImage::Read(void* buffer, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count && position_ < size_) {
    const Block& block = blocks_[BlockAt(position_)];
    const auto offset = static_cast<std::size_t>(position_ - block.start);
    const std::size_t n = std::min(count - done, block.used - offset);
    std::memcpy(out + done, block.bytes.get() + offset, n);
    done += n;
    position_ += static_cast<std::int64_t>(n);
  }
  if (release_behind_) FreeBehind();
  return done;
}

void TPcmImage::Write(const void* buffer, std::size_t count) {
  if (count == 0) return;
  if (position_ < FirstHeld()) Raise(TFailure::faImageReleased);
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  // A gap before the position, then the bytes themselves: overwritten in place up to
  // the end, appended after it.
  while (size_ < position_) {
    const std::span<std::uint8_t> room = Room(1);
    const std::size_t n = std::min<std::size_t>(room.size(), static_cast<std::size_t>(position_ - size_));
    std::memset(room.data(), 0, n);
    Commit(n);
  }
  std::size_t done = 0;
  while (done < count && position_ < size_) {
    Block& block = blocks_[BlockAt(position_)];
    const auto offset = static_cast<std::size_t>(position_ - block.start);
    const std::size_t n = std::min(count - done, block.used - offset);
    std::memcpy(block.bytes.get() + offset, in + done, n);
    done += n;
    position_ += static_cast<std::int64_t>(n);
  }
  while (done < count) {
    const std::span<std::uint8_t> room = Room(1);
    const std::size_t n = std::min(room.size(), count - done);
    std::memcpy(room.data(), in + done, n);
    Commit(n);
    done += n;
    position_ += static_cast<std::int64_t>(n);
  }
}

std::int64_t TPcmImage::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current) base = position_;
  if (origin == SeekOrigin::End) base = size_;
  const std::int64_t target = base + offset;
  if (target < 0) Raise(TFailure::faSeekBeforeStart);
  if (target < FirstHeld() && target != position_)
    Raise(TFailure::faImageReleased);
  position_ = target;
  return position_;
}

std::vector<std::uint8_t> TPcmImage::CopyAll() const {
  if (first_held_ > 0) Raise(TFailure::faImagePartlyReleased);
  std::vector<std::uint8_t> all;
  all.reserve(static_cast<std::size_t>(size_));
  for (const Block& block : blocks_) all.insert(all.end(), block.bytes.get(), block.bytes.get() + block.used);
  return all;
}

}  // namespace vornek
