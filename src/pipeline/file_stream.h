// A stream over an operating-system file, opened by UTF-16 name with a 16-bit mode.
#pragma once

#include <cstdint>
#include <string>

#include "pipeline/stream.h"
#include "platform/file.h"

namespace vornek {

/// An open file. Construction either yields an open file or raises EAuException with
/// the system's text for the error; the file is closed when the stream is destroyed.
/// Used by one component on one thread at a time; it has no lock of its own.
class TAuFileStream : public TStream {
 public:
  /// `mode` is platform::kModeCreate (0xFFFF) or an open mode (see platform/file.h).
  /// `rights` is accepted for the framework's sake and ignored.
  TAuFileStream(const std::u16string& file_name, std::uint16_t mode, std::uint32_t rights = 0);

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;

 private:
  platform::File file_;
};

}  // namespace vornek
