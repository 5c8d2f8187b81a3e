// SPDX-License-Identifier: BSD-3-Clause
// Files opened or created by UTF-16 name with the framework's 16-bit open modes.
//
// Mode 0xFFFF creates the file (an existing one is emptied) for reading and writing,
// shared with nobody. Any other mode opens an existing file: the low two bits choose
// the access (0 read, 1 write, 2 both) and bits 4 to 7 the sharing that other opens of
// the same file are allowed (0x00 and 0x10 none, 0x20 read, 0x30 write, 0x40 both).
// A failure carries the system's own text for its error.
//
// A file that is written for others to find (the FLAC file) is made with CreateBeside
// and MoveReplacing: it is written under a hidden name of its own, next to the name it
// is meant for, and moved there only when it is whole. Neither ever follows a link or
// opens a file that was already there, so a name planted by someone else cannot turn
// the write towards another file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornek::platform {

inline constexpr std::uint16_t kModeCreate = 0xFFFF;
inline constexpr std::uint16_t kModeReadShareRead = 0x20;

enum class SeekOrigin { Begin, Current, End };

/// True for an open mode that only reads (access bits 0).
constexpr bool OnlyReads(std::uint16_t mode) { return mode != kModeCreate && (mode & 0x3u) == 0; }

/// An open file; owns its handle and closes it when destroyed. Move-only.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  /// Opens or creates `name` with `mode`. On failure the result is closed and
  /// `error` holds the system's text for the error.
  static File Open(const std::u16string& name, std::uint16_t mode, std::string& error);

  /// Creates a new, empty file for reading and writing in the folder of `target`,
  /// under a hidden name that no file had (returned in `name`); shared with nobody.
  /// Never follows a link, never opens an existing file. Refuses, with the system's
  /// text, a `target` that is a folder or a name too long for its folder.
  static File CreateBeside(const std::u16string& target, std::u16string& name, std::string& error);

  explicit operator bool() const { return handle_ >= 0; }

  /// True for a regular file: not a folder, a device, a pipe or a socket. Opening
  /// never waits for one of those (a pipe without a writer opens at once).
  bool IsRegular() const;

  /// This open's entry in the process's table of open files (sharing rules).
  struct ShareEntry;

  /// Reads up to `count` bytes; returns how many were read (0 at the end).
  /// Sets `error` and returns 0 when the system refuses.
  std::size_t Read(void* buffer, std::size_t count, std::string& error);
  /// Writes all `count` bytes; returns false and sets `error` when it cannot.
  bool Write(const void* buffer, std::size_t count, std::string& error);
  /// Moves the file position; returns the new position or -1 (and sets `error`).
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin, std::string& error);
  /// The size of the file in bytes, or -1 (and sets `error`).
  std::int64_t Size(std::string& error) const;

 private:
  /// POSIX: takes `fd` over, registering it in the process's table of open files after
  /// checking it against the opens already there (Windows' kernel does that itself).
  static File Adopt(int fd, bool reads, bool writes, bool shares_read, bool shares_write, std::string& error);
  void Close();
  std::intptr_t handle_ = -1;
  ShareEntry* share_ = nullptr;
};

/// True when both names exist and name the same file (not merely the same spelling:
/// links, case-insensitive file systems and relative paths are seen through).
bool SameFile(const std::u16string& a, const std::u16string& b);

/// Deletes a file by name; returns whether it was deleted. A link is removed itself.
bool DeleteFileByName(const std::u16string& name);

/// Moves the file `from` to the name `to`, replacing whatever stands there (a link at
/// `to` is replaced, never followed). On failure `error` holds the system's text.
bool MoveReplacing(const std::u16string& from, const std::u16string& to, std::string& error);

}  // namespace vornek::platform
