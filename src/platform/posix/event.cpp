// SPDX-License-Identifier: BSD-3-Clause
// Auto-reset events on POSIX: a flag under a mutex, waited for with a condition variable.
#include "platform/threads.h"

namespace vornek::platform {

struct AutoResetEvent::State {
  std::mutex mutex;
  std::condition_variable signalled_cv;
  bool signalled = false;
};

AutoResetEvent::AutoResetEvent(const char* /*name*/) : state_(std::make_unique<State>()) {}

AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::Set() {
  {
    std::lock_guard lock(state_->mutex);
    state_->signalled = true;
  }
  state_->signalled_cv.notify_one();
}

void AutoResetEvent::Reset() {
  std::lock_guard lock(state_->mutex);
  state_->signalled = false;
}

bool AutoResetEvent::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  if (!state_->signalled_cv.wait_for(lock, timeout, [this] { return state_->signalled; }))
    return false;
  state_->signalled = false;
  return true;
}

void AutoResetEvent::Wait() {
  std::unique_lock lock(state_->mutex);
  state_->signalled_cv.wait(lock, [this] { return state_->signalled; });
  state_->signalled = false;
}

}  // namespace vornek::platform
