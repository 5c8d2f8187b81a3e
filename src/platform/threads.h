// SPDX-License-Identifier: BSD-3-Clause
// Events, locks, sleeping, and the one way a thread is owned and stopped.
//
// Every owner of a thread holds it the same way: a std::jthread member, declared last
// so that it starts once the rest of the owner exists and is joined first when the
// owner goes; its body takes the std::stop_token. Every wait of the thread is a
// condition variable wait under the owner's mutex whose predicate includes the stop
// token, and the owner stops it with RequestStop below, which wakes those waits: a stop
// request is the one way to end a thread, and it reaches the thread wherever it waits.
// (The standard's own pairing, condition_variable_any::wait with the token, rests on
// stop callbacks, whose end the MinGW-w64 runtime of the Windows builds can miss: a
// thread then never returns from destroying its callback, and the owner's join hangs.
// No stop callback is used.)
//
// ReentrantLock comes from the standard library too. AutoResetEvent is a platform
// service: on Windows it is a kernel event (and can carry a name), on POSIX a mutex
// and a condition variable.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace vornek::platform {

/// A re-entrant lock: the thread that holds it may take it again.
using ReentrantLock = std::recursive_mutex;

/// Sleeps the calling thread; 0 gives up the rest of its time slice.
void Sleep(std::uint32_t milliseconds);

/// Gives up the rest of the calling thread's time slice (`Sleep(0)`).
inline void Yield() { std::this_thread::yield(); }

/// Requests the stop of `stop` and wakes the threads that wait for it on `conditions`
/// under `mutex`. The mutex is taken between the request and the wake-up, so a thread
/// that found its predicate false before the request is asleep by then and is woken.
template <typename... Conditions>
void RequestStop(std::stop_source stop, std::mutex& mutex, Conditions&... conditions) {
  stop.request_stop();
  { const std::lock_guard lock(mutex); }
  (conditions.notify_all(), ...);
}

/// Lowers the calling thread's scheduling priority a little below that of the
/// process's other threads, so that when every processor is busy they run first.
/// Best effort: where the system refuses, the priority stays as it was.
void LowerCurrentThreadPriority();

/// An auto-reset event: Set releases one waiter (or the next wait) and the event
/// resets itself when a wait returns. Initially not signalled.
class AutoResetEvent {
 public:
  /// `name` names the kernel object on platforms that have named events; two events
  /// of one name are then one object. POSIX has no such name space: the name is kept
  /// for the record only.
  explicit AutoResetEvent(const char* name = nullptr);
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Set();
  void Reset();
  /// Waits until signalled; returns false on timeout.
  bool Wait(std::chrono::milliseconds timeout);
  void Wait();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vornek::platform
