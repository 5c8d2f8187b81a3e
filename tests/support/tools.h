// SPDX-License-Identifier: BSD-3-Clause
// The outside programs some tests run: sox, ffmpeg (and its MPEG Layer 3 encoder), flac,
// a C compiler. A test that needs one that is missing is skipped with the reason, never
// passed. Under CI=true a missing tool is a failure instead: scripts/setup tests (which
// scripts/test runs) installs every one of them, so a missing tool there means the
// machine is not what the suite expects.
#pragma once

#include <optional>
#include <string>

namespace vornek::test {

/// Why `program` cannot be run here (it is not on the PATH), or nothing when it can.
std::optional<std::string> MissingTool(const std::string& program);
/// Why ffmpeg cannot write MPEG Layer 3 here, or nothing when it can.
std::optional<std::string> MissingMp3Encoder();
/// Whether the suite runs under CI (the environment holds CI=true).
bool InCi();

}  // namespace vornek::test

/// Skips the running test when `missing` (an optional reason) holds a reason, or fails it
/// under CI. Use it in a test body or SetUp, like GTEST_SKIP.
#define VORNEK_REQUIRE(missing)                                                          \
  if (const std::optional<std::string> vornek_missing_ = (missing)) {                     \
    if (::vornek::test::InCi())                                                          \
      FAIL() << *vornek_missing_ << " (under CI=true: scripts/setup tests installs it)";       \
    else                                                                                 \
      GTEST_SKIP() << *vornek_missing_;                                                  \
  }
