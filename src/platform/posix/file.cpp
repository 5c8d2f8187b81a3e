// SPDX-License-Identifier: BSD-3-Clause
// Files on POSIX. POSIX has no share modes, so the process keeps a table of its open
// files (by device and inode) and refuses an open whose access or sharing conflicts
// with an earlier one, as the Windows kernel does; the refusal reads as EBUSY.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <random>

#include "platform/file.h"
#include "platform/text.h"

namespace vornek::platform {

struct File::ShareEntry {
  dev_t device;
  ino_t inode;
  bool reads, writes;            // access of this open
  bool shares_read, shares_write;  // what this open lets others do
};

namespace {

std::mutex share_mutex;
std::list<File::ShareEntry>& ShareTable() {
  static std::list<File::ShareEntry> table;
  return table;
}

std::string ErrorText(int code) { return std::strerror(code); }

}  // namespace

void File::Close() {
  if (share_) {
    std::lock_guard lock(share_mutex);
    auto& table = ShareTable();
    for (auto it = table.begin(); it != table.end(); ++it)
      if (&*it == share_) {
        table.erase(it);
        break;
      }
    share_ = nullptr;
  }
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

File File::Open(const std::u16string& name, std::uint16_t mode, std::string& error) {
  const bool create = mode == kModeCreate;
  bool reads = true, writes = true, shares_read = false, shares_write = false;
  if (!create) {
    const unsigned access = mode & 0x3u;
    reads = access != 1;
    writes = access != 0;
    const unsigned share = mode & 0xF0u;
    shares_read = share == 0x20 || share == 0x40;
    shares_write = share == 0x30 || share == 0x40;
  }
  // Never blocks in the open itself (a pipe without a writer would wait for one), and
  // never writes through a link.
  int flags = O_CLOEXEC | O_NONBLOCK | (reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY);
  if (writes) flags |= O_NOFOLLOW;
  if (create) flags |= O_CREAT;  // emptied below, once sharing allows it
  const int fd = ::open(WideToAnsi(name).c_str(), flags, 0666);
  if (fd < 0) {
    error = ErrorText(errno);
    return File();
  }
  File file = Adopt(fd, reads, writes, shares_read, shares_write, error);
  // An empty file is left alone: emptying it anyway costs a forced write-back when
  // it is closed on some file systems (a truncated file is flushed on close).
  struct stat info {};
  if (file && create && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size != 0 &&
      ::ftruncate(fd, 0) != 0) {
    error = ErrorText(errno);
    file.Close();
  }
  return file;
}

File File::CreateBeside(const std::u16string& target, std::u16string& name, std::string& error) {
  const std::string path = WideToAnsi(target);
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    error = ErrorText(EISDIR);
    return File();
  }
  // The target's own name must fit its folder: it is checked now, not when the whole
  // file has been written. The hidden name is cut to fit where the target just fits.
  long name_max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  if (base.size() > static_cast<std::size_t>(name_max)) {
    error = ErrorText(ENAMETOOLONG);
    return File();
  }
  constexpr std::size_t kDecoration = 8;  // "." before, "." and six characters after
  const std::string kept = base.substr(0, static_cast<std::size_t>(name_max) > kDecoration
                                              ? static_cast<std::size_t>(name_max) - kDecoration
                                              : 0);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = folder + "." + kept + ".";
    for (int i = 0; i < 6; ++i) candidate += kLetters[random() % (sizeof kLetters - 1)];
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error = ErrorText(errno);
      return File();
    }
    File file = Adopt(fd, true, true, false, false, error);
    if (!file) {
      ::unlink(candidate.c_str());
      return file;
    }
    name = AnsiToWide(candidate);
    return file;
  }
  error = ErrorText(EEXIST);
  return File();
}

bool File::IsRegular() const {
  struct stat info {};
  return handle_ >= 0 && ::fstat(static_cast<int>(handle_), &info) == 0 && S_ISREG(info.st_mode);
}

File File::Adopt(int fd, bool reads, bool writes, bool shares_read, bool shares_write, std::string& error) {
  File file;
  file.handle_ = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = ErrorText(errno);
    file.Close();
    return file;
  }
  if (S_ISDIR(info.st_mode)) {
    error = ErrorText(EISDIR);
    file.Close();
    return file;
  }
  // Back to blocking reads and writes: only the open itself was not to wait.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::lock_guard lock(share_mutex);
  auto& table = ShareTable();
  for (const ShareEntry& other : table) {
    if (other.device != info.st_dev || other.inode != info.st_ino) continue;
    const bool conflict = (reads && !other.shares_read) || (writes && !other.shares_write) ||
                          (other.reads && !shares_read) || (other.writes && !shares_write);
    if (conflict) {
      error = ErrorText(EBUSY);
      file.Close();
      return file;
    }
  }
  table.push_back({info.st_dev, info.st_ino, reads, writes, shares_read, shares_write});
  file.share_ = &table.back();
  return file;
}

std::size_t File::Read(void* buffer, std::size_t count, std::string& error) {
  auto* out = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < count) {
    const ssize_t got = ::read(static_cast<int>(handle_), out + total, count - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = ErrorText(errno);
      return 0;
    }
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

bool File::Write(const void* buffer, std::size_t count, std::string& error) {
  const auto* in = static_cast<const char*>(buffer);
  std::size_t total = 0;
  while (total < count) {
    const ssize_t put = ::write(static_cast<int>(handle_), in + total, count - total);
    if (put < 0) {
      if (errno == EINTR) continue;
      error = ErrorText(errno);
      return false;
    }
    total += static_cast<std::size_t>(put);
  }
  return true;
}

std::int64_t File::Seek(std::int64_t offset, SeekOrigin origin, std::string& error) {
  const int whence = origin == SeekOrigin::Begin ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  const off_t at = ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), whence);
  if (at < 0) {
    error = ErrorText(errno);
    return -1;
  }
  return at;
}

std::int64_t File::Size(std::string& error) const {
  struct stat info {};
  if (::fstat(static_cast<int>(handle_), &info) != 0) {
    error = ErrorText(errno);
    return -1;
  }
  return info.st_size;
}

bool SameFile(const std::u16string& a, const std::u16string& b) {
  struct stat first {}, second {};
  if (::stat(WideToAnsi(a).c_str(), &first) != 0) return false;
  if (::stat(WideToAnsi(b).c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool DeleteFileByName(const std::u16string& name) {
  return ::unlink(WideToAnsi(name).c_str()) == 0;
}

bool MoveReplacing(const std::u16string& from, const std::u16string& to, std::string& error) {
  if (::rename(WideToAnsi(from).c_str(), WideToAnsi(to).c_str()) == 0) return true;
  error = ErrorText(errno);
  return false;
}

}  // namespace vornek::platform
