// SPDX-License-Identifier: BSD-3-Clause
// The user's interrupt for command-line programs: Ctrl-C, and on POSIX also the
// requests to end that a session or a service manager sends (SIGTERM, SIGHUP).
#pragma once

#include <functional>

namespace vornek::platform {

/// From now on, an interrupt runs `handler` on a thread of the platform's (not in a
/// signal context, so it may lock and post), instead of ending the program. The
/// handler is given the exit status that tells the interrupt (130 for Ctrl-C; on POSIX
/// 128 plus the signal's number). Null restores the default, after waiting for a
/// handler that is running: a program sets it back to null before it ends, so that no
/// handler runs while it shuts down. The handler must not call SetInterruptHandler.
/// Meant for the command, not the library.
void SetInterruptHandler(std::function<void(int status)> handler);

/// Writes to a pipe whose reader has gone, and writes past the file size limit, fail
/// with an error instead of ending the program (POSIX: SIGPIPE and SIGXFSZ ignored;
/// nothing to do on Windows). Meant for the command.
void IgnoreWriteSignals();

/// Opens the null device on each of standard input, output and error that is closed,
/// so that a program started without them (cron, a daemon) never takes a file of its
/// own for one (POSIX; nothing to do on Windows). Meant for the command, first thing.
void GuardStandardStreams();

}  // namespace vornek::platform
