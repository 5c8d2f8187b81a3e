// SPDX-License-Identifier: BSD-3-Clause
#include "pipeline/file_stream.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "base/au_exception.h"
#include "base/failures.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace vornek {

/// The stream's writer thread: writes one handed-over buffer at a time to the file.
class TAuFileStream::WriteBehind {
 public:
  explicit WriteBehind(platform::File& file)
      : file_(file), thread_([this](std::stop_token stop) { WriteHandedOver(std::move(stop)); }) {}

  /// Writes what was handed over last, if anything, then joins the thread.
  ~WriteBehind() { platform::RequestStop(thread_.get_stop_source(), lock_, handed_); }

  /// Waits until the thread is idle, then swaps `bytes` for its (written, emptied)
  /// buffer and starts writing them. Returns the failure of the previous write, if
  /// any, instead (nothing is handed over then).
  std::string HandOver(std::vector<std::uint8_t>& bytes) {
    std::unique_lock guard(lock_);
    written_.wait(guard, [this] { return !busy_; });
    if (!failure_.empty()) return TakeFailure();
    pending_.swap(bytes);
    busy_ = true;
    guard.unlock();
    handed_.notify_one();
    return {};
  }

  /// Waits until the thread is idle; returns the failure of the last write, if any.
  std::string Settle() {
    std::unique_lock guard(lock_);
    written_.wait(guard, [this] { return !busy_; });
    return TakeFailure();
  }

 private:
  std::string TakeFailure() {
    std::string failure;
    failure.swap(failure_);
    return failure;
  }

  void WriteHandedOver(std::stop_token stop) {
    std::unique_lock guard(lock_);
    for (;;) {
      handed_.wait(guard, [&] { return stop.stop_requested() || busy_; });
      if (!busy_) return;  // stop, with nothing left to write
      guard.unlock();
      std::string error;
      if (!file_.Write(pending_.data(), pending_.size(), error) && error.empty())
        error = FailureText(TFailure::faNotWritten);
      pending_.clear();
      guard.lock();
      failure_ = error;
      busy_ = false;
      written_.notify_one();
    }
  }

  platform::File& file_;
  std::mutex lock_;
  std::condition_variable handed_;   ///< a buffer was handed over, or stop
  std::condition_variable written_;  ///< the thread became idle
  std::vector<std::uint8_t> pending_;  ///< the buffer being written (thread's while busy_)
  std::string failure_;               ///< guarded: the last write's failure, not yet raised
  bool busy_ = false;                 ///< guarded
  std::jthread thread_;  ///< last: starts once the rest exists; stopped and joined first
};

TAuFileStream::TAuFileStream(const std::u16string& file_name, std::uint16_t mode,
                             std::uint32_t /*rights*/) {
  std::string error;
  file_ = platform::File::Open(file_name, mode, error);
  if (!file_) throw EAuException(error);
  // What is opened only to be read is an input: a pipe or a device could keep a read
  // waiting for ever, and an input is read with seeks. Only a regular file is one.
  if (platform::OnlyReads(mode) && !file_.IsRegular())
    Raise(TFailure::faNotRegularFile, platform::WideToAnsi(file_name));
}

TAuFileStream::TAuFileStream(platform::File file, std::string label)
    : file_(std::move(file)), label_(std::move(label)) {}

void TAuFileStream::Fail(const std::string& error) const {
  if (label_.empty()) throw EAuException(error);
  Raise(TFailure::faFileFailure, {label_, error});
}

TAuFileStream::~TAuFileStream() {
  try {
    Flush();
  } catch (...) {
    // Nothing can be reported from here; writers flush before they let go.
  }
  writer_.reset();
}

void TAuFileStream::HandOver() {
  if (gathered_.empty()) return;
  if (!writer_) writer_ = std::make_unique<WriteBehind>(file_);
  const std::string failure = writer_->HandOver(gathered_);
  gathered_.clear();
  if (!failure.empty()) Fail(failure);
}

void TAuFileStream::Settle() {
  if (!writer_) return;
  const std::string failure = writer_->Settle();
  if (!failure.empty()) Fail(failure);
}

void TAuFileStream::Flush() {
  if (!gathered_.empty()) {
    // Written in line when nothing is being written behind: one system call, no thread.
    if (writer_) {
      HandOver();
    } else {
      std::string error;
      const bool written = file_.Write(gathered_.data(), gathered_.size(), error);
      gathered_.clear();
      if (!written) Fail(error);
    }
  }
  Settle();
}

std::string TAuFileStream::PutInPlace(const std::u16string& target, const std::u16string& like, bool replace) {
  Flush();
  std::string error, warning;
  if (!file_.PutInPlace(target, like, replace, error, warning)) Fail(error);
  return warning;
}

std::size_t TAuFileStream::Read(void* buffer, std::size_t count) {
  Flush();
  std::string error;
  const std::size_t got = file_.Read(buffer, count, error);
  if (!error.empty()) Fail(error);
  position_ += static_cast<std::int64_t>(got);
  return got;
}

void TAuFileStream::Write(const void* buffer, std::size_t count) {
  if (gathered_.size() + count > kGatherBytes) HandOver();
  if (count >= kGatherBytes) {
    Settle();
    std::string error;
    if (!file_.Write(buffer, count, error)) Fail(error);
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
  if (at < 0) Fail(error);
  position_ = at;
  return at;
}

std::int64_t TAuFileStream::Size() {
  Flush();
  std::string error;
  const std::int64_t size = file_.Size(error);
  if (size < 0) Fail(error);
  return size;
}

}  // namespace vornek
