// SPDX-License-Identifier: BSD-3-Clause
// Between the host-thread queue and the windowing layer on Windows: the kernel event
// that every queued synchronised call and every explicit wake-up signals. The modal
// loop waits on it together with the thread's messages, so that it wakes for a
// pending call whatever the owner window is (with none, the window message that
// also announces the call goes nowhere).
#pragma once

#include "platform/win32/windows_api.h"

namespace vornek::platform::win32 {

/// The auto-reset wake-up event of the host thread; lives for the whole process.
HANDLE HostWakeEvent();

/// True when a synchronised call is waiting to be run.
bool HostCallPending();

/// The id of the host thread (the thread that loaded the library).
DWORD HostThreadId();

}  // namespace vornek::platform::win32
