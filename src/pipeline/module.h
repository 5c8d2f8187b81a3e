// Process-wide state of the pipeline module.
#pragma once

#include "platform/threads.h"

namespace vornek {

/// The one process-wide lock, held around loading and binding the FLAC library.
/// It exists from the first use to the end of the process.
platform::ReentrantLock& ModuleLock();

/// Host thread: waits until `done()` holds, running the host's pending synchronised
/// calls between checks, so that a delivery under way can complete. Off the host
/// thread it only sleeps between checks.
template <typename Predicate>
void WaitRunningSynchronize(Predicate done);

}  // namespace vornek

#include "platform/host_thread.h"

namespace vornek {

template <typename Predicate>
void WaitRunningSynchronize(Predicate done) {
  const bool host = platform::OnHostThread();
  while (!done()) {
    if (host) {
      platform::CheckSynchronize();
      if (done()) break;
      platform::WaitForHostWork(std::chrono::milliseconds(1));
    } else {
      platform::Sleep(1);
    }
  }
}

}  // namespace vornek
