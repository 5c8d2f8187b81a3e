// SPDX-License-Identifier: BSD-3-Clause
// Byte streams: the abstract stream the components read and write, and a growable
// in-memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file.h"

namespace vornek {

using platform::SeekOrigin;

/// A byte stream with a position. Failures of the medium are raised as EAuException.
class TStream {
 public:
  virtual ~TStream() = default;

  /// Reads up to `count` bytes at the position; returns how many were read (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  /// Writes `count` bytes at the position, or fails.
  virtual void Write(const void* buffer, std::size_t count) = 0;
  /// Moves the position; returns the new one.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;
  /// Hands every byte written so far to the medium; fails like Write. A stream that
  /// writes through has nothing to do.
  virtual void Flush() {}

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Begin); }
};

/// A growable byte buffer. The position may be moved past the end; a write there
/// fills the gap with zeros.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> data) : data_(std::move(data)) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

  /// Sets the size; a growth is zero-filled, the position is kept.
  void SetSize(std::int64_t size);
  const std::vector<std::uint8_t>& Data() const { return data_; }
  std::uint8_t* Memory() { return data_.data(); }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

/// Reads from `stream` until `count` bytes are in or the stream ends (a stream may
/// hand out fewer bytes than asked before its end); returns how many were read.
/// Failures of the stream pass through.
inline std::size_t ReadStreamFully(TStream& stream, void* destination, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(destination);
  std::size_t done = 0;
  while (done < count) {
    const std::size_t got = stream.Read(out + done, count - done);
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace vornek
