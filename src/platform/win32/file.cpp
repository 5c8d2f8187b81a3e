// SPDX-License-Identifier: BSD-3-Clause
// Files on Windows: CreateFileW with the kernel's own sharing rules, and failures
// worded by the system's message table.
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <random>

#include "platform/file.h"
#include "platform/text.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/system_error.h"

namespace vornek::platform {

// Windows never needs the process's own table of open files: the kernel enforces
// the share modes.
struct File::ShareEntry {};

namespace {

HANDLE Native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

const wchar_t* WideName(const std::u16string& name) {
  // An empty name is passed as an empty string, never as a null pointer.
  return reinterpret_cast<const wchar_t*>(name.c_str());
}

std::string ErrorText(DWORD code) { return win32::SystemErrorText(code); }

std::string LastErrorText() { return ErrorText(::GetLastError()); }

// The framework's 16-bit modes, for an existing file: access in the low two bits,
// sharing in bits 4 to 7.
DWORD AccessOf(std::uint16_t mode) {
  switch (mode & 0x3u) {
    case 0: return GENERIC_READ;
    case 1: return GENERIC_WRITE;
    default: return GENERIC_READ | GENERIC_WRITE;
  }
}

DWORD ShareOf(std::uint16_t mode) {
  switch (mode & 0xF0u) {
    case 0x20: return FILE_SHARE_READ;
    case 0x30: return FILE_SHARE_WRITE;
    case 0x40: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // 0x00 and 0x10: no sharing
  }
}

}  // namespace

void File::Close() {
  if (handle_ >= 0) ::CloseHandle(Native(handle_));
  handle_ = -1;
  if (!pending_name_.empty()) {
    ::DeleteFileW(WideName(pending_name_));
    pending_name_.clear();
  }
}

File File::Open(const std::u16string& name, std::uint16_t mode, std::string& error) {
  File file;
  HANDLE handle;
  if (mode == kModeCreate) {
    handle = ::CreateFileW(WideName(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    handle = ::CreateFileW(WideName(name), AccessOf(mode), ShareOf(mode), nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // The invalid-handle value is compared as such: a valid handle read as a signed
  // 32-bit number is never the test, since 64-bit handles need not fit in one.
  if (handle == INVALID_HANDLE_VALUE) {
    error = LastErrorText();
    return file;
  }
  file.handle_ = reinterpret_cast<std::intptr_t>(handle);
  return file;
}

File File::CreateFor(const std::u16string& target, const std::u16string& /*like*/, std::string& error) {
  const DWORD attributes = ::GetFileAttributesW(WideName(target));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ErrorText(ERROR_ACCESS_DENIED);  // what creating a file over a folder says
    return File();
  }
  const std::size_t end_of_folder = target.find_last_of(u"\\/:");
  const std::u16string folder = end_of_folder == std::u16string::npos ? u"" : target.substr(0, end_of_folder + 1);
  const std::u16string base = end_of_folder == std::u16string::npos ? target : target.substr(end_of_folder + 1);
  static constexpr char16_t kLetters[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Hidden while it is written; the attribute goes before the file is put in place.
    std::u16string candidate = folder + base.substr(0, 200) + u".";
    for (int i = 0; i < 6; ++i) candidate += kLetters[random() % (std::size(kLetters) - 1)];
    candidate += u".tmp";
    // CREATE_NEW fails on any name that exists, a link included: nothing is followed.
    const HANDLE handle = ::CreateFileW(WideName(candidate), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
      error = ErrorText(code);
      return File();
    }
    File file;
    file.handle_ = reinterpret_cast<std::intptr_t>(handle);
    file.pending_name_ = candidate;
    return file;
  }
  error = ErrorText(ERROR_FILE_EXISTS);
  return File();
}

bool File::IsRegular() const {
  return handle_ >= 0 && ::GetFileType(Native(handle_)) == FILE_TYPE_DISK;
}

std::size_t File::Read(void* buffer, std::size_t count, std::string& error) {
  auto* out = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < count) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - total, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(Native(handle_), out + total, piece, &got, nullptr)) {
      error = LastErrorText();
      return 0;
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

bool File::Write(const void* buffer, std::size_t count, std::string& error) {
  const auto* in = static_cast<const char*>(buffer);
  std::size_t total = 0;
  while (total < count) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - total, 1u << 30));
    DWORD put = 0;
    if (!::WriteFile(Native(handle_), in + total, piece, &put, nullptr)) {
      error = LastErrorText();
      return false;
    }
    if (put == 0) {  // nothing written and no error: the device is full
      error = ErrorText(ERROR_DISK_FULL);
      return false;
    }
    total += put;
  }
  return true;
}

std::int64_t File::Seek(std::int64_t offset, SeekOrigin origin, std::string& error) {
  const DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN
                       : origin == SeekOrigin::Current ? FILE_CURRENT
                                                       : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER at;
  if (!::SetFilePointerEx(Native(handle_), distance, &at, method)) {
    error = LastErrorText();
    return -1;
  }
  return at.QuadPart;
}

std::int64_t File::Size(std::string& error) const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(Native(handle_), &size)) {
    error = LastErrorText();
    return -1;
  }
  return size.QuadPart;
}

namespace {

/// The volume and the file's index on it; two names with the same identity are one
/// file, whatever their spelling.
struct FileIdentity {
  DWORD volume;
  DWORD index_high;
  DWORD index_low;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(const std::u16string& name, FileIdentity& identity) {
  // No access is asked for, and every sharing allowed, so that a file another open
  // holds exclusively can still be told apart.
  win32::UniqueHandle handle(::CreateFileW(WideName(name), 0,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle.Get(), &info)) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

}  // namespace

bool SameFile(const std::u16string& a, const std::u16string& b) {
  FileIdentity first{}, second{};
  return IdentityOf(a, first) && IdentityOf(b, second) && first == second;
}

bool Exists(const std::u16string& name) {
  return ::GetFileAttributesW(WideName(name)) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::u16string& name) {
  const DWORD attributes = ::GetFileAttributesW(WideName(name));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool DeleteFileByName(const std::u16string& name) { return ::DeleteFileW(WideName(name)) != FALSE; }

bool File::PutInPlace(const std::u16string& target, const std::u16string& like, bool replace, std::string& error,
                      std::string& warning) {
  const HANDLE handle = Native(handle_);
  if (!::FlushFileBuffers(handle)) {
    error = LastErrorText();
    return false;
  }
  if (!like.empty()) {
    win32::UniqueHandle source(::CreateFileW(WideName(like), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    FILETIME accessed, written;
    if (!source || !::GetFileTime(source.Get(), nullptr, &accessed, &written) ||
        !::SetFileTime(handle, nullptr, &accessed, &written))
      warning = LastErrorText();
  }
  // The file was opened shared with nobody, so it is closed before it moves; it was
  // hidden while it was written, and in place it is a plain file.
  ::CloseHandle(handle);
  handle_ = -1;
  ::SetFileAttributesW(WideName(pending_name_), FILE_ATTRIBUTE_NORMAL);
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (::MoveFileExW(WideName(pending_name_), WideName(target), flags) == FALSE) {
    error = LastErrorText();
    return false;  // the hidden file goes when the File does
  }
  pending_name_.clear();
  return true;
}

}  // namespace vornek::platform
