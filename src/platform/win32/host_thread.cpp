// SPDX-License-Identifier: BSD-3-Clause
// The host thread on Windows. A queued synchronised call signals the host's wake-up
// event and posts an empty message (WM_NULL) to the application's owner window; the
// modal loop waits on the thread's messages and the event together.
#include "platform/win32/windows_api.h"

#include <atomic>

#include "platform/call_queue.h"
#include "platform/host_thread.h"
#include "platform/win32/host_wake.h"
#include "platform/win32/unique_handle.h"
#include "platform/window.h"
#include "platform/win32/system_error.h"

namespace vornek::platform {
namespace {

struct HostQueue {
  HostQueue() : wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!wake)
      win32::ThrowLastError("CreateEvent");
  }
  win32::UniqueHandle wake;  // the host thread waits on this
  std::atomic<DWORD> host_id{0};
};

HostQueue& Queue() {
  static HostQueue queue;
  return queue;
}

// The thread that initialises the library's modules (for the DLL: the thread that
// loaded it) is its host thread.
[[maybe_unused]] const bool host_thread_bound = (BindHostThread(), true);

DWORD Milliseconds(std::chrono::milliseconds timeout) {
  const auto count = timeout.count();
  return count <= 0 ? 0 : count >= 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
}

}  // namespace

namespace win32 {

HANDLE HostWakeEvent() { return Queue().wake.Get(); }

bool HostCallPending() { return detail::CallPending(); }

DWORD HostThreadId() { return Queue().host_id.load(); }

}  // namespace win32

void BindHostThread() { Queue().host_id.store(::GetCurrentThreadId()); }

bool OnHostThread() { return Queue().host_id.load() == ::GetCurrentThreadId(); }

void detail::WakeForCall() {
  WakeHostThread();
  if (const WindowHandle owner = OwnerWindow())
    ::PostMessageW(reinterpret_cast<HWND>(owner), WM_NULL, 0, 0);
}

void WaitForHostWork(std::chrono::milliseconds timeout) {
  if (win32::HostCallPending()) return;
  ::WaitForSingleObject(Queue().wake.Get(), Milliseconds(timeout));
}

void WaitForHostWork() {
  if (win32::HostCallPending()) return;
  ::WaitForSingleObject(Queue().wake.Get(), INFINITE);
}

void WakeHostThread() { ::SetEvent(Queue().wake.Get()); }

}  // namespace vornek::platform
