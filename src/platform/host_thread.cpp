// SPDX-License-Identifier: BSD-3-Clause
// The queue of synchronised calls, the same on every platform: what differs is only
// how the host thread is identified and woken (posix/ and win32/host_thread.cpp).
#include "platform/host_thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "platform/call_queue.h"

namespace vornek::platform {
namespace {

struct PendingCall {
  const std::function<void()>* call;
  std::exception_ptr failure;
  bool done = false;
};

struct CallQueue {
  std::mutex mutex;
  std::condition_variable done_cv;  // posters wait here for their call to have run
  std::deque<PendingCall*> pending;
};

CallQueue& Calls() {
  static CallQueue queue;
  return queue;
}

}  // namespace

bool detail::CallPending() {
  CallQueue& q = Calls();
  std::lock_guard lock(q.mutex);
  return !q.pending.empty();
}

void Synchronize(const std::function<void()>& call) {
  if (OnHostThread()) {
    call();
    return;
  }
  CallQueue& q = Calls();
  PendingCall pending{&call, nullptr, false};
  {
    std::lock_guard lock(q.mutex);
    q.pending.push_back(&pending);
  }
  detail::WakeForCall();
  std::unique_lock lock(q.mutex);
  q.done_cv.wait(lock, [&] { return pending.done; });
  if (pending.failure) std::rethrow_exception(pending.failure);
}

bool CheckSynchronize() {
  if (!OnHostThread())
    throw HostThreadError(
        "Synchronised calls can only be run on the thread that loaded the library.");
  CallQueue& q = Calls();
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

}  // namespace vornek::platform
