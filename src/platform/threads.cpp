#include "platform/threads.h"

#include "platform/host_thread.h"

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
        // The host thread may be waiting for this end (it waits for threads to finish
        // while it keeps running synchronised calls): let it look at once rather than
        // at its next timeout.
        WakeHostThread();
      }) {}

Thread::~Thread() { WaitFor(); }

void Thread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace vornek::platform
