// A stream over an operating-system file, opened by UTF-16 name with a 16-bit mode.
#pragma once

#include <cstdint>
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
/// gathers small writes (an encoder writes one frame at a time) into large ones. The
/// gathered bytes go to the file before any read, seek elsewhere or size query, and on
/// Flush; a writer calls Flush before it lets the stream go, so that a failure to
/// write them is reported (the destructor can only try).
class TAuFileStream : public TStream {
 public:
  /// `mode` is platform::kModeCreate (0xFFFF) or an open mode (see platform/file.h).
  /// `rights` is accepted for the framework's sake and ignored.
  TAuFileStream(const std::u16string& file_name, std::uint16_t mode, std::uint32_t rights = 0);
  ~TAuFileStream() override;

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void Flush() override;

 private:
  static constexpr std::size_t kGatherBytes = 256 * 1024;

  platform::File file_;
  std::int64_t position_ = 0;          ///< where the next read or write happens
  std::vector<std::uint8_t> gathered_;  ///< written, not yet in the file (ends at position_)
};

}  // namespace vornek
