// SPDX-License-Identifier: BSD-3-Clause
// Events, locks and sleeping: the kernel services the pipeline is built on.
//
// Threads are the standard library's, and every owner of one holds and stops it the
// same way: a std::jthread member, declared last so that it starts once the rest of
// the owner exists and is stopped and joined first when the owner goes; its body
// takes the std::stop_token, and every wait of the owner's threads is a
// std::condition_variable_any wait given that token (or, for a wait that is not on a
// condition, a std::stop_callback that wakes it). A stop request is therefore the one
// way to end a thread, and it wakes the thread wherever it waits.
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
