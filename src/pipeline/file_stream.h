// SPDX-License-Identifier: BSD-3-Clause
// A stream over an operating-system file, opened by UTF-16 name with a 16-bit mode.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/stream.h"
#include "platform/file.h"

namespace vornek {

/// An open file. Construction either yields an open file or raises EAuException with
/// the system's text for the error; the file is closed when the stream is destroyed.
/// Used by one component on one thread at a time; it has no lock of its own.
///
/// The stream keeps its own position, so that asking for it costs no system call, and
/// gathers small writes (an encoder writes one frame at a time) into large ones. A
/// full gather buffer is written behind the caller's back by a writer thread of the
/// stream's own (started by the first such buffer), while the caller gathers the next
/// one: the caller never waits for the file unless it gets two buffers ahead. Every
/// gathered byte is in the file before any read, seek elsewhere or size query, and
/// when Flush returns. A failed write behind is raised by the next Write that hands
/// over a buffer, or by Flush, Read, Seek or Size; a writer calls Flush before it lets
/// the stream go, so that such a failure is reported (the destructor can only try).
class TAuFileStream : public TStream {
 public:
  /// `mode` is platform::kModeCreate (0xFFFF) or an open mode (see platform/file.h).
  /// `rights` is accepted for the framework's sake and ignored. A file opened only for
  /// reading must be a regular file: a folder, a device, a pipe or a socket is refused
  /// without waiting on it.
  TAuFileStream(const std::u16string& file_name, std::uint16_t mode, std::uint32_t rights = 0);
  /// A stream over a file opened already (one made by platform::File::CreateFor).
  /// A non-empty `label` names the file in every failure the stream raises
  /// ("song.flac: No space left on device"); without one the system's text stands alone.
  TAuFileStream(platform::File file, std::string label);
  ~TAuFileStream() override;

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void Flush() override;

  /// Writes what is gathered, then gives a file made by platform::File::CreateFor the
  /// name `target`, replacing what stands there or, without `replace`, only if nothing
  /// does, and taking the attributes of `like` (platform::File::PutInPlace).
  /// Raises when either fails, and the file then stays unnamed. Returns the system's
  /// text for attributes that could not be taken (empty when all were). Nothing may be
  /// read or written afterwards.
  std::string PutInPlace(const std::u16string& target, const std::u16string& like, bool replace);

 private:
  static constexpr std::size_t kGatherBytes = 512u << 10;

  class WriteBehind;

  /// Hands the gathered bytes to the writer thread, after the bytes it holds.
  void HandOver();
  /// Waits until the writer thread has written everything it was handed; raises the
  /// failure of any of those writes.
  void Settle();

  /// Raises `error` as a failure of this stream, named by label_ when there is one.
  [[noreturn]] void Fail(const std::string& error) const;

  platform::File file_;  ///< used by the writer thread while it writes, else by the caller
  std::string label_;    ///< names the file in failure texts; empty: no name
  std::int64_t position_ = 0;          ///< where the next read or write happens
  std::vector<std::uint8_t> gathered_;  ///< written, not yet handed over (ends at position_)
  std::unique_ptr<WriteBehind> writer_;  ///< last: its thread uses file_
};

}  // namespace vornek
