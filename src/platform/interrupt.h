// The user's interrupt (Ctrl-C) for command-line programs.
#pragma once

#include <functional>

namespace vornek::platform {

/// From now on, an interrupt runs `handler` on a thread of the platform's (not in a
/// signal context, so it may lock and post), instead of ending the program. Null
/// restores the default, after waiting for a handler that is running: a program sets
/// it back to null before it ends, so that no handler runs while it shuts down. The
/// handler must not call SetInterruptHandler. Meant for the command, not the library.
void SetInterruptHandler(std::function<void()> handler);

}  // namespace vornek::platform
