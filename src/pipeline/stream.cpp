// SPDX-License-Identifier: BSD-3-Clause
#include "pipeline/stream.h"

#include <algorithm>
#include <cstring>

#include "base/au_exception.h"
#include "base/failures.h"

namespace vornek {

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  const auto size = static_cast<std::int64_t>(data_.size());
  if (position_ >= size || count == 0) return 0;
  const std::size_t n = std::min(count, static_cast<std::size_t>(size - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += static_cast<std::int64_t>(n);
  return n;
}

void TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return;
  const auto end = static_cast<std::size_t>(position_) + count;
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<std::int64_t>(end);
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current) base = position_;
  if (origin == SeekOrigin::End) base = Size();
  const std::int64_t target = base + offset;
  if (target < 0) Raise(TFailure::faSeekBeforeStart);
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
}

}  // namespace vornek
