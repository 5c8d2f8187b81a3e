// SPDX-License-Identifier: BSD-3-Clause
// Temporary folders and whole-file reads and writes for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vornek::test {

/// A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  /// The path of `name` inside the folder, as text.
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  /// The names of everything in the folder (hidden ones too), sorted.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

}  // namespace vornek::test
