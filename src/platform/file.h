// SPDX-License-Identifier: BSD-3-Clause
// Files opened or created by UTF-16 name with the framework's 16-bit open modes.
//
// Mode 0xFFFF creates the file (an existing one is emptied) for reading and writing,
// shared with nobody. Any other mode opens an existing file: the low two bits choose
// the access (0 read, 1 write, 2 both) and bits 4 to 7 the sharing that other opens of
// the same file are allowed (0x00 and 0x10 none, 0x20 read, 0x30 write, 0x40 both).
// A failure carries the system's own text for its error.
//
// A file that is written for others to find (the FLAC file) is made with CreateFor and
// given its name by PutInPlace only when it is whole; until then it has no name on
// Linux (an unnamed file in the target's folder, which nothing outlives: a killed run
// leaves no trace), and elsewhere a hidden name of its own beside the target, removed
// with the file if it is never put in place. Neither ever follows a link or opens a
// file that was already there, so a name planted by someone else cannot turn the
// write towards another file, and whatever stands at the target is touched only by
// the one step that replaces it with the whole new file.
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

  /// Creates a new, empty file for reading and writing that is to become `target`
  /// (see above); shared with nobody. Refuses at once, with the system's text, what
  /// would only fail once the file is whole: a `target` that is a folder, a name too
  /// long for its folder, or (POSIX) an existing `target` in a sticky folder that this
  /// user may not replace. When `like` names a file, the new file is readable by no
  /// one else until PutInPlace gives it that file's permission bits.
  static File CreateFor(const std::u16string& target, const std::u16string& like, std::string& error);

  /// Gives a file made by CreateFor the name `target`, replacing what stands there in
  /// one step (or, without `replace`, only if nothing stands there: the check and the
  /// naming are one step too, and a name taken meanwhile fails with the system's text). Before that, the file's bytes reach the disk, and the file takes the
  /// permission bits and the access and modification times of the file `like` names
  /// (none when `like` is empty; Windows keeps the folder's inherited permissions and
  /// takes the times only) and, where it replaces a file and the system lets it, that
  /// file's owner and group. After it, the folder's entry reaches the disk too. Failing
  /// to take the attributes does not stop the move: the system's text for it is put in
  /// `warning`. On failure the file stays unnamed (it goes when closed), whatever stood
  /// at `target` is left as it was, and `error` holds the system's text. The file may
  /// be closed once this returns (Windows closes it to move it).
  bool PutInPlace(const std::u16string& target, const std::u16string& like, bool replace, std::string& error,
                  std::string& warning);

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
  /// The hidden name of a file CreateFor made that has one, until it is put in place;
  /// the file goes with its handle.
  std::u16string pending_name_;
};

/// True when both names exist and name the same file (not merely the same spelling:
/// links, case-insensitive file systems and relative paths are seen through).
bool SameFile(const std::u16string& a, const std::u16string& b);

/// Whether anything stands at `name` (a file, a folder, a link even to nothing).
bool Exists(const std::u16string& name);
/// Whether a folder stands at `name` (a link to one is not).
bool IsFolder(const std::u16string& name);

/// Deletes a file by name; returns whether it was deleted. A link is removed itself.
bool DeleteFileByName(const std::u16string& name);

}  // namespace vornek::platform
