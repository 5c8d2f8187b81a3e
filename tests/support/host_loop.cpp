// SPDX-License-Identifier: BSD-3-Clause
#include "support/host_loop.h"

#include <dirent.h>

#include <thread>

#include "platform/host_thread.h"

namespace vornek::test {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    platform::CheckSynchronize();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    platform::WaitForHostWork(std::chrono::milliseconds(2));
  }
}

void PumpFor(std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  PumpUntil([&] { return std::chrono::steady_clock::now() >= deadline; }, duration * 2);
}

int ThreadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
  }
  return count;
}

int SettledThreadCount() {
  // A runtime may start a helper thread of its own with the first thread the program
  // makes (ThreadSanitizer does): make one first, so that it is counted here already.
  std::thread([] {}).join();
  int last = ThreadCount();
  for (int i = 0; i < 400; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int now = ThreadCount();
    if (now == last) return now;
    last = now;
  }
  return last;
}

int ThreadCountBecomes(int count) {
  int now = ThreadCount();
  for (int i = 0; i < 600 && now != count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    now = ThreadCount();
  }
  return now;
}

}  // namespace vornek::test
