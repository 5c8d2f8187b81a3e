// The queue of synchronised calls on Windows. A poster queues its call, signals the
// host's wake-up event and posts an empty message (WM_NULL) to the application's owner
// window, then blocks until the host thread has run the call from CheckSynchronize.
#include "platform/win32/windows_api.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>

#include "platform/host_thread.h"
#include "platform/win32/host_wake.h"
#include "platform/win32/unique_handle.h"
#include "platform/window.h"

namespace vornek::platform {
namespace {

struct PendingCall {
  const std::function<void()>* call;
  std::exception_ptr failure;
  bool done = false;
};

struct HostQueue {
  HostQueue() : wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!wake)
      throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
  }
  std::mutex mutex;
  std::condition_variable done_cv;  // posters wait here for their call to have run
  std::deque<PendingCall*> pending;
  win32::UniqueHandle wake;         // the host thread waits on this
  std::atomic<DWORD> host_id{0};
};

HostQueue& Queue() {
  static HostQueue queue;
  return queue;
}

// The thread that initialises the library's modules (for the DLL: the thread that
// loaded it) is its host thread.
[[maybe_unused]] const bool host_thread_bound = (BindHostThread(), true);

void Wake() {
  ::SetEvent(Queue().wake.Get());
  if (const WindowHandle owner = OwnerWindow())
    ::PostMessageW(reinterpret_cast<HWND>(owner), WM_NULL, 0, 0);
}

}  // namespace

namespace win32 {

HANDLE HostWakeEvent() { return Queue().wake.Get(); }

bool HostCallPending() {
  HostQueue& q = Queue();
  std::lock_guard lock(q.mutex);
  return !q.pending.empty();
}

DWORD HostThreadId() { return Queue().host_id.load(); }

}  // namespace win32

void BindHostThread() { Queue().host_id.store(::GetCurrentThreadId()); }

bool OnHostThread() { return Queue().host_id.load() == ::GetCurrentThreadId(); }

void Synchronize(const std::function<void()>& call) {
  if (OnHostThread()) {
    call();
    return;
  }
  HostQueue& q = Queue();
  PendingCall pending{&call, nullptr, false};
  std::unique_lock lock(q.mutex);
  q.pending.push_back(&pending);
  Wake();
  q.done_cv.wait(lock, [&] { return pending.done; });
  if (pending.failure) std::rethrow_exception(pending.failure);
}

bool CheckSynchronize() {
  if (!OnHostThread())
    throw HostThreadError(
        "Synchronised calls can only be run on the thread that loaded the library.");
  HostQueue& q = Queue();
  bool ran = false;
  for (;;) {
    PendingCall* next;
    {
      std::lock_guard lock(q.mutex);
      if (q.pending.empty()) break;
      next = q.pending.front();
      q.pending.pop_front();
    }
    std::exception_ptr failure;
    try {
      (*next->call)();
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard lock(q.mutex);
      next->failure = std::move(failure);  // the poster holds the only reference
      next->done = true;
    }
    q.done_cv.notify_all();
    ran = true;
  }
  return ran;
}

void WaitForHostWork(std::chrono::milliseconds timeout) {
  if (win32::HostCallPending()) return;
  const auto count = timeout.count();
  const DWORD ms = count <= 0 ? 0 : count >= 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
  ::WaitForSingleObject(Queue().wake.Get(), ms);
}

void WakeHostThread() { Wake(); }

}  // namespace vornek::platform
