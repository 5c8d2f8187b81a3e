#include "pipeline/file_stream.h"

#include "pipeline/au_exception.h"

namespace vornek {

TAuFileStream::TAuFileStream(const std::u16string& file_name, std::uint16_t mode,
                             std::uint32_t /*rights*/) {
  std::string error;
  file_ = platform::File::Open(file_name, mode, error);
  if (!file_) throw EAuException(error);
}

std::size_t TAuFileStream::Read(void* buffer, std::size_t count) {
  std::string error;
  const std::size_t got = file_.Read(buffer, count, error);
  if (!error.empty()) throw EAuException(error);
  return got;
}

void TAuFileStream::Write(const void* buffer, std::size_t count) {
  std::string error;
  if (!file_.Write(buffer, count, error)) throw EAuException(error);
}

std::int64_t TAuFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::string error;
  const std::int64_t at = file_.Seek(offset, origin, error);
  if (at < 0) throw EAuException(error);
  return at;
}

std::int64_t TAuFileStream::Size() {
  std::string error;
  const std::int64_t size = file_.Size(error);
  if (size < 0) throw EAuException(error);
  return size;
}

}  // namespace vornek
