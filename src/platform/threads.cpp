// SPDX-License-Identifier: BSD-3-Clause
#include "platform/threads.h"

namespace vornek::platform {

void Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Thread::Thread(std::function<void(Thread& self)> body)
    : thread_([this, body = std::move(body)] {
        body(*this);
        finished_.store(true);
      }) {}

Thread::~Thread() { WaitFor(); }

void Thread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace vornek::platform
