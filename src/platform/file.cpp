// SPDX-License-Identifier: BSD-3-Clause
// What a file handle does the same way on every platform: it is owned once, moved,
// and closed (by the platform's Close) when its owner goes.
#include "platform/file.h"

namespace vornek::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(other.handle_), share_(other.share_), pending_name_(std::move(other.pending_name_)) {
  other.handle_ = -1;
  other.share_ = nullptr;
  other.pending_name_.clear();
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    share_ = other.share_;
    pending_name_ = std::move(other.pending_name_);
    other.handle_ = -1;
    other.share_ = nullptr;
    other.pending_name_.clear();
  }
  return *this;
}

}  // namespace vornek::platform
