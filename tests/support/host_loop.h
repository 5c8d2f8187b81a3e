// SPDX-License-Identifier: BSD-3-Clause
// The test's own host loop: the test thread is the host thread (it ran the library's
// module initialisation), so event deliveries run only while a test pumps.
#pragma once

#include <chrono>
#include <functional>

namespace vornek::test {

/// Runs pending synchronised calls, sleeping in between, until `done()` holds or the
/// timeout passes. Returns whether `done()` held.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

/// Pumps for about `duration`, whatever happens.
void PumpFor(std::chrono::milliseconds duration);

/// The number of threads of this process (from /proc).
int ThreadCount();

/// The number of threads once it has stopped changing: a thread that has just been
/// joined can still be listed for a moment while the system finishes it.
int SettledThreadCount();

/// Waits (up to a few seconds) until the process has `count` threads; returns the
/// count it saw last.
int ThreadCountBecomes(int count);

}  // namespace vornek::test
