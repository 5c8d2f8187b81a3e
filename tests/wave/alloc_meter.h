// SPDX-License-Identifier: BSD-3-Clause
// What this test program has allocated with new and not yet freed: every allocation
// of the program goes through the counting operator new of alloc_meter.cpp, so a test
// can tell the most memory a step held at once, whoever held it.
#pragma once

#include <cstdint>

namespace vornek::test {

/// Bytes allocated with new and not yet freed, now.
std::int64_t LiveBytes();
/// The most LiveBytes has been since the last ResetPeakBytes.
std::int64_t PeakBytes();
/// Starts a new peak from what is live now.
void ResetPeakBytes();

}  // namespace vornek::test
