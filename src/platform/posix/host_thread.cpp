// SPDX-License-Identifier: BSD-3-Clause
// The host thread on POSIX. There is no window system to carry the wake-up message:
// the host sleeps on a condition variable that every queued call, every posted
// message and every explicit wake-up signals.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/call_queue.h"
#include "platform/host_thread.h"
#include "platform/posix/host_queue.h"

namespace vornek::platform {
namespace {

struct HostQueue {
  std::mutex mutex;                 // taken before the call queue's, never after
  std::condition_variable work_cv;  // the host thread waits here
  std::deque<posix::Message> messages;
  bool woken = false;
  std::atomic<std::thread::id> host_id{};
};

HostQueue& Queue() {
  static HostQueue queue;
  return queue;
}

// The thread that initialises the library's modules is its host thread.
[[maybe_unused]] const bool host_thread_bound = (BindHostThread(), true);

}  // namespace

void BindHostThread() { Queue().host_id.store(std::this_thread::get_id()); }

bool OnHostThread() { return Queue().host_id.load() == std::this_thread::get_id(); }

void detail::WakeForCall() { WakeHostThread(); }

void WaitForHostWork(std::chrono::milliseconds timeout) {
  HostQueue& q = Queue();
  std::unique_lock lock(q.mutex);
  q.work_cv.wait_for(lock, timeout, [&] { return q.woken || detail::CallPending(); });
  q.woken = false;
}

void WaitForHostWork() {
  HostQueue& q = Queue();
  std::unique_lock lock(q.mutex);
  q.work_cv.wait(lock, [&] { return q.woken || detail::CallPending(); });
  q.woken = false;
}

void WakeHostThread() {
  HostQueue& q = Queue();
  {
    std::lock_guard lock(q.mutex);
    q.woken = true;
  }
  q.work_cv.notify_all();
}

namespace posix {

void PostHostMessage(const Message& message) {
  HostQueue& q = Queue();
  {
    std::lock_guard lock(q.mutex);
    q.messages.push_back(message);
  }
  q.work_cv.notify_all();
}

std::optional<Message> TakeHostMessage() {
  HostQueue& q = Queue();
  std::lock_guard lock(q.mutex);
  if (q.messages.empty()) return std::nullopt;
  Message message = q.messages.front();
  q.messages.pop_front();
  return message;
}

void WaitForMessageOrCall(std::chrono::milliseconds timeout) {
  HostQueue& q = Queue();
  std::unique_lock lock(q.mutex);
  q.work_cv.wait_for(lock, timeout,
                     [&] { return !q.messages.empty() || q.woken || detail::CallPending(); });
  q.woken = false;
}

}  // namespace posix
}  // namespace vornek::platform
