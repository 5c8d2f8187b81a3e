// The queue of synchronised calls on POSIX. There is no window system to carry the
// wake-up message, so the host thread sleeps on a condition variable that every queued
// call (and every explicit wake-up) signals.
#include "platform/host_thread.h"
#include "platform/posix/host_queue.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace vornek::platform {
namespace {


struct PendingCall {
  const std::function<void()>* call;
  std::exception_ptr failure;
  bool done = false;
};

struct HostQueue {
  std::mutex mutex;
  std::condition_variable work_cv;  // the host thread waits here
  std::condition_variable done_cv;  // posters wait here for their call to have run
  std::deque<PendingCall*> pending;
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

void Synchronize(const std::function<void()>& call) {
  if (OnHostThread()) {
    call();
    return;
  }
  HostQueue& q = Queue();
  PendingCall pending{&call, nullptr, false};
  std::unique_lock lock(q.mutex);
  q.pending.push_back(&pending);
  q.work_cv.notify_all();
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
  HostQueue& q = Queue();
  std::unique_lock lock(q.mutex);
  q.work_cv.wait_for(lock, timeout, [&] { return !q.pending.empty() || q.woken; });
  q.woken = false;
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
                     [&] { return !q.pending.empty() || !q.messages.empty() || q.woken; });
  q.woken = false;
}

}  // namespace posix

void WakeHostThread() {
  HostQueue& q = Queue();
  {
    std::lock_guard lock(q.mutex);
    q.woken = true;
  }
  q.work_cv.notify_all();
}

}  // namespace vornek::platform
