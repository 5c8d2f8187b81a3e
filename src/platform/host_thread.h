// SPDX-License-Identifier: BSD-3-Clause
// The host thread and the queue of synchronised calls.
//
// The host thread is the thread that loaded the library (the thread that ran its
// module initialisation). Event handlers run only there: another thread hands a call
// to Synchronize, which queues it, wakes the host thread and blocks until the host
// thread has run it from CheckSynchronize.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>

namespace vornek::platform {

/// Raised by CheckSynchronize on a thread other than the host thread.
class HostThreadError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/// Makes the calling thread the host thread. Module initialisation calls it once;
/// the library never calls it again.
void BindHostThread();

/// True on the host thread.
bool OnHostThread();

/// Runs `call` on the host thread and returns when it has run. Called on the host
/// thread itself, it runs the call at once. A failure raised by the call is raised
/// again here, on the calling thread. Wakes the host thread when the call is queued.
void Synchronize(const std::function<void()>& call);

/// Runs every pending synchronised call, oldest first, one at a time, including calls
/// queued while it runs. Returns whether any call ran. Host thread only: any other
/// thread gets HostThreadError and nothing runs.
bool CheckSynchronize();

/// Host thread: sleeps until a synchronised call is pending, the host thread is woken
/// (WakeHostThread), or the timeout passes. Returns at once when a call is pending or
/// a wake-up is outstanding (a wake-up is kept until a wait takes it).
void WaitForHostWork(std::chrono::milliseconds timeout);
/// The same without a time limit.
void WaitForHostWork();

/// Wakes a host thread that sleeps in WaitForHostWork (or in the modal loop). No window
/// message is posted: a queued synchronised call announces itself to the owner window
/// on its own.
void WakeHostThread();

/// A condition variable for state that the host thread may wait on while another thread
/// is blocked in a synchronised call: on the host thread a wait keeps running the calls
/// that arrive (a delivery under way may be what has to finish before the state can
/// change), sleeping between them; on any other thread it is a plain wait.
///
/// The caller's mutex guards the state and this object's own count of host waiters.
class HostCondition {
 public:
  /// Waits, `lock` held on entry and on return, until `done()` holds; `done()` is
  /// evaluated under the lock. The lock is let go while the thread sleeps and while a
  /// synchronised call runs.
  template <typename Predicate>
  void Wait(std::unique_lock<std::mutex>& lock, Predicate done);

  /// Wakes every waiter. Call it with the caller's mutex held, after changing the state.
  void NotifyAll() {
    changed_.notify_all();
    if (host_waiters_ > 0) WakeHostThread();
  }

 private:
  std::condition_variable changed_;
  int host_waiters_ = 0;  // host waits in progress; nested waits count each
};

template <typename Predicate>
void HostCondition::Wait(std::unique_lock<std::mutex>& lock, Predicate done) {
  if (!OnHostThread()) {
    changed_.wait(lock, done);
    return;
  }
  // Counted while the lock is held, so that a change made after the test below sees a
  // waiter and wakes the host; the wake-up is kept until WaitForHostWork takes it.
  ++host_waiters_;
  struct Uncount {
    std::unique_lock<std::mutex>& lock;
    int& waiters;
    ~Uncount() {
      if (!lock.owns_lock()) lock.lock();
      --waiters;
    }
  } uncount{lock, host_waiters_};
  while (!done()) {
    lock.unlock();
    if (!CheckSynchronize()) WaitForHostWork();
    lock.lock();
  }
}

}  // namespace vornek::platform
