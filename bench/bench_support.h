// SPDX-License-Identifier: BSD-3-Clause
// Small helpers shared by the in-process benchmarks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vornek::bench {

/// The file named by environment variable `name`, or empty (the script sets them).
inline std::string FileFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

/// Reads a whole file; empty when it cannot be read.
inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace vornek::bench
