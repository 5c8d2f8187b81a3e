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

/// Moves a descriptor that landed on 0, 1 or 2 (a program started with those closed)
/// above them, so that nothing written to standard output or error can reach a file
/// of Vornek's. Closes `fd` when it cannot be moved.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return moved;
}

/// The folder part of `path` with its slash ("" for a bare name), and the name.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::string FolderOrDot(const std::string& folder) { return folder.empty() ? "." : folder; }

/// A hidden name beside `base` in `folder`, cut to fit a folder whose names hold at
/// most `name_max` bytes: "." before, "." and six random letters after.
std::string HiddenName(const std::string& folder, const std::string& base, long name_max) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr std::size_t kDecoration = 8;
  const std::size_t room = static_cast<std::size_t>(name_max) > kDecoration ? static_cast<std::size_t>(name_max) - kDecoration : 0;
  thread_local std::mt19937 random{std::random_device{}()};
  std::string name = folder + "." + base.substr(0, room) + ".";
  for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

/// Whether this user may replace (unlink or rename over) `existing` in `folder`: a
/// sticky folder lets only the owner of the file or of the folder do that, and root.
bool MayReplace(const struct stat& existing, const std::string& folder) {
  struct stat dir {};
  if (::stat(FolderOrDot(folder).c_str(), &dir) != 0 || (dir.st_mode & S_ISVTX) == 0) return true;
  const uid_t me = ::geteuid();
  return me == 0 || me == existing.st_uid || me == dir.st_uid;
}

/// Puts the folder's entries on the disk (a name just given); a failure changes
/// nothing the caller could mend.
void SyncFolder(const std::string& folder) {
  const int dir = ::open(FolderOrDot(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

/// Renames `from` to `to` only if nothing stands at `to`, in one step where the file
/// system can (a rename that never replaces, or a link and an unlink); else errno
/// tells why not.
bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

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
  if (!pending_name_.empty()) {
    ::unlink(WideToAnsi(pending_name_).c_str());
    pending_name_.clear();
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
  const int fd = AboveStandardStreams(::open(WideToAnsi(name).c_str(), flags, 0666));
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

File File::CreateFor(const std::u16string& target, const std::u16string& like, std::string& error) {
  const std::string path = WideToAnsi(target);
  const auto [folder, base] = SplitPath(path);
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      error = ErrorText(EISDIR);
      return File();
    }
    if (!MayReplace(existing, folder)) {
      error = ErrorText(EPERM);
      return File();
    }
  }
  // The target's own name must fit its folder: it is checked now, not when the whole
  // file has been written.
  long name_max = ::pathconf(FolderOrDot(folder).c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  if (base.size() > static_cast<std::size_t>(name_max)) {
    error = ErrorText(ENAMETOOLONG);
    return File();
  }
  const mode_t mode = like.empty() ? 0666 : 0600;

  // Unnamed first. It can be named later only through /proc (linkat of the open file),
  // so without /proc it is not used; a file system that cannot make unnamed files
  // refuses the open, and the hidden name below is used instead.
  if (::access("/proc/self/fd", X_OK) == 0) {
    const int fd = AboveStandardStreams(::open(FolderOrDot(folder).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (fd >= 0) return Adopt(fd, true, true, false, false, error);
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
      error = ErrorText(errno);
      return File();
    }
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = HiddenName(folder, base, name_max);
    const int fd =
        AboveStandardStreams(::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
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
    file.pending_name_ = AnsiToWide(candidate);
    return file;
  }
  error = ErrorText(EEXIST);
  return File();
}

bool File::PutInPlace(const std::u16string& target, const std::u16string& like, bool replace, std::string& error,
                      std::string& warning) {
  const int fd = static_cast<int>(handle_);
  const std::string path = WideToAnsi(target);
  const auto [folder, base] = SplitPath(path);
  // On the disk before it has a name: a power cut never leaves a named empty file.
  if (::fsync(fd) != 0) {
    error = ErrorText(errno);
    return false;
  }
  // The owner and group of the file it replaces (root replacing another user's file
  // keeps it theirs); a user who may not give files away keeps the new one.
  struct stat replaced {}, mine {};
  if (::lstat(path.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode) && ::fstat(fd, &mine) == 0 &&
      (replaced.st_uid != mine.st_uid || replaced.st_gid != mine.st_gid)) {
    [[maybe_unused]] const int ignored = ::fchown(fd, replaced.st_uid, replaced.st_gid);
  }
  if (!like.empty()) {
    struct stat source {};
    if (::stat(WideToAnsi(like).c_str(), &source) != 0) {
      warning = ErrorText(errno);
    } else {
      const struct timespec times[2] = {source.st_atim, source.st_mtim};
      if (::fchmod(fd, source.st_mode & 0777) != 0 || ::futimens(fd, times) != 0) warning = ErrorText(errno);
    }
  }

  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (pending_name_.empty() && !replace) {
    // Unnamed, and nothing may be replaced: linked straight to its name, which fails
    // if the name is taken.
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      error = ErrorText(errno);
      return false;
    }
    SyncFolder(folder);
    return true;
  }
  if (pending_name_.empty()) {
    // Unnamed: linked under a hidden name of its own, which the rename then moves.
    long name_max = ::pathconf(FolderOrDot(folder).c_str(), _PC_NAME_MAX);
    if (name_max <= 0) name_max = NAME_MAX;
    for (int attempt = 0; attempt < 100 && pending_name_.empty(); ++attempt) {
      const std::string candidate = HiddenName(folder, base, name_max);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        pending_name_ = AnsiToWide(candidate);
      } else if (errno != EEXIST) {
        error = ErrorText(errno);
        return false;
      }
    }
    if (pending_name_.empty()) {
      error = ErrorText(EEXIST);
      return false;
    }
  }
  const std::string hidden = WideToAnsi(pending_name_);
  if (!(replace ? ::rename(hidden.c_str(), path.c_str()) == 0 : MoveWithoutReplacing(hidden, path))) {
    error = ErrorText(errno);
    return false;  // the hidden name goes with the file
  }
  pending_name_.clear();
  SyncFolder(folder);
  return true;
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

bool Exists(const std::u16string& name) {
  struct stat info {};
  return ::lstat(WideToAnsi(name).c_str(), &info) == 0;
}

bool IsFolder(const std::u16string& name) {
  struct stat info {};
  return ::lstat(WideToAnsi(name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DeleteFileByName(const std::u16string& name) {
  return ::unlink(WideToAnsi(name).c_str()) == 0;
}

}  // namespace vornek::platform
