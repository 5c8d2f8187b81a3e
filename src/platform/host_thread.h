// The host thread and the queue of synchronised calls.
//
// The host thread is the thread that loaded the library (the thread that ran its
// module initialisation). Event handlers run only there: another thread hands a call
// to Synchronize, which queues it, wakes the host thread and blocks until the host
// thread has run it from CheckSynchronize.
#pragma once

#include <chrono>
#include <functional>
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
/// (WakeHostThread), or the timeout passes. Returns at once when a call is pending.
void WaitForHostWork(std::chrono::milliseconds timeout);

/// Wakes a host thread that sleeps in WaitForHostWork (or in the modal loop).
void WakeHostThread();

}  // namespace vornek::platform
