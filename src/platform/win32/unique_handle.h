// SPDX-License-Identifier: BSD-3-Clause
// Owning wrappers for the kernel handles the Win32 services hold.
#pragma once

#include "platform/win32/windows_api.h"

#include <utility>

namespace vornek::platform::win32 {

/// A kernel handle closed with CloseHandle when the owner goes. Both null and
/// INVALID_HANDLE_VALUE mean "no handle", because the kernel's calls answer failure
/// with one or the other.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  void Reset() {
    if (*this) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace vornek::platform::win32
