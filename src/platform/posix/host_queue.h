// SPDX-License-Identifier: BSD-3-Clause
// The host thread's queue on POSIX: synchronised calls and window messages share one
// lock and one condition variable, so that the host sleeps until either arrives.
#pragma once

#include <chrono>
#include <optional>

#include "platform/window.h"

namespace vornek::platform::posix {

enum class MessageKind { Null, Close, Quit };

struct Message {
  WindowHandle window;
  MessageKind kind;
};

/// Any thread: appends a message and wakes the host thread.
void PostHostMessage(const Message& message);
/// Host thread: the oldest message, if any.
std::optional<Message> TakeHostMessage();
/// Host thread: sleeps until a message or a synchronised call is pending (returns at
/// once if one is), the host is woken, or the timeout passes.
void WaitForMessageOrCall(std::chrono::milliseconds timeout);

}  // namespace vornek::platform::posix
