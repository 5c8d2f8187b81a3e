// SPDX-License-Identifier: BSD-3-Clause
// Threads, events, locks and sleeping: the kernel services the pipeline is built on.
//
// Thread and ReentrantLock come from the standard library on every platform.
// AutoResetEvent is a platform service: on Windows it is a kernel event (and can
// carry a name), on POSIX a mutex and a condition variable.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

/// A worker thread that starts at once and polls a termination request.
/// The owner must end it (Terminate, then make sure the body returns) before it is
/// destroyed; the destructor waits for the body to return.
class Thread {
 public:
  /// Starts `body` at once on a new thread; the body is handed this object, to poll
  /// Terminated().
  explicit Thread(std::function<void(Thread& self)> body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  /// Asks the body to return; the body polls Terminated().
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  /// True once the body has returned.
  bool Finished() const { return finished_.load(); }
  /// Waits until the body has returned. Must not be called by the thread itself.
  void WaitFor();

 private:
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

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
