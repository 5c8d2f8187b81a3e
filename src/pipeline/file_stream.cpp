#include "pipeline/file_stream.h"

#include "pipeline/au_exception.h"

namespace vornek {

TAuFileStream::TAuFileStream(const std::u16string& file_name, std::uint16_t mode,
                             std::uint32_t /*rights*/) {
  std::string error;
  file_ = platform::File::Open(file_name, mode, error);
  if (!file_) throw EAuException(error);
}

TAuFileStream::~TAuFileStream() {
  try {
    Flush();
  } catch (...) {
    // Nothing can be reported from here; writers flush before they let go.
  }
}

void TAuFileStream::Flush() {
  if (gathered_.empty()) return;
  std::string error;
  const bool written = file_.Write(gathered_.data(), gathered_.size(), error);
  gathered_.clear();
  if (!written) throw EAuException(error);
}

std::size_t TAuFileStream::Read(void* buffer, std::size_t count) {
  Flush();
  std::string error;
  const std::size_t got = file_.Read(buffer, count, error);
  if (!error.empty()) throw EAuException(error);
  position_ += static_cast<std::int64_t>(got);
  return got;
}

void TAuFileStream::Write(const void* buffer, std::size_t count) {
  if (gathered_.size() + count > kGatherBytes) Flush();
  if (count >= kGatherBytes) {
    std::string error;
    if (!file_.Write(buffer, count, error)) throw EAuException(error);
  } else {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    gathered_.insert(gathered_.end(), bytes, bytes + count);
  }
  position_ += static_cast<std::int64_t>(count);
}

std::int64_t TAuFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  if (origin == SeekOrigin::Current && offset == 0) return position_;  // a question, not a move
  if (origin == SeekOrigin::Begin && offset == position_) return position_;
  Flush();
  std::string error;
  const std::int64_t at = file_.Seek(offset, origin, error);
  if (at < 0) throw EAuException(error);
  position_ = at;
  return at;
}

std::int64_t TAuFileStream::Size() {
  Flush();
  std::string error;
  const std::int64_t size = file_.Size(error);
  if (size < 0) throw EAuException(error);
  return size;
}

}  // namespace vornek
