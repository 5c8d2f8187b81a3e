// SPDX-License-Identifier: BSD-3-Clause
// Ctrl-C and Ctrl-Break on Windows: the console runs its control handlers on a
// thread of its own, where locking and posting are allowed.
#include "platform/win32/windows_api.h"

#include <mutex>

#include "platform/interrupt.h"

namespace vornek::platform {
namespace {

std::mutex handler_mutex;
constexpr int kInterruptStatus = 130;  // what shells report for Ctrl-C

std::function<void(int)>& Handler() {
  static std::function<void(int)> handler;
  return handler;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  // Under the lock, so that clearing the handler waits for a call under way.
  std::lock_guard lock(handler_mutex);
  if (!Handler()) return FALSE;  // the default: the process ends
  Handler()(kInterruptStatus);
  return TRUE;
}

}  // namespace

void SetInterruptHandler(std::function<void(int status)> handler) {
  static std::once_flag installed;
  std::call_once(installed, [] { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); });
  std::lock_guard lock(handler_mutex);
  Handler() = std::move(handler);
}

void IgnoreWriteSignals() {}  // a write to a closed pipe fails with an error here already
void GuardStandardStreams() {}  // a console program without a console gets none, not a reused handle

}  // namespace vornek::platform
