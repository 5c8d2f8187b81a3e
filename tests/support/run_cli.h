// SPDX-License-Identifier: BSD-3-Clause
// Runs the built `vornek` command as a user would, with a time limit that only guards
// against a hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vornek::test {

struct CliRun {
  bool exited = false;   ///< ended by exit (not by a signal, not killed for a hang)
  int status = -1;       ///< the exit status, when it exited
  int signal = 0;        ///< the signal that ended it, if any
  bool hung = false;     ///< still running at the limit (then killed)
  std::string out, err;  ///< what it printed
};

/// Runs `program args...` (the built `vornek`) in `folder`, killing it if it runs past
/// `limit`. `while_running`, if set, is called with the process id once it has started.
/// `in_child`, if set, runs in the child just before the program starts (after its
/// output was sent to the files `out` and `err` are read from): to close descriptors,
/// set limits or become another user. It may only make system calls.
CliRun RunVornek(const std::string& program, const std::string& folder,
                 const std::vector<std::string>& args,
                 const std::function<void(int pid)>& while_running = nullptr,
                 std::chrono::seconds limit = std::chrono::seconds(60),
                 const std::function<void()>& in_child = nullptr);

/// The file the process `pid` is writing in `folder`, once it holds more than `bytes`:
/// its descriptor's target as /proc shows it ("FOLDER/#123 (deleted)" for a file that
/// has no name yet, the hidden name otherwise). Empty if none shows within `limit`.
std::string WaitForFileUnderWay(int pid, const std::string& folder, std::uintmax_t bytes,
                                std::chrono::seconds limit = std::chrono::seconds(20));

}  // namespace vornek::test
