#include "support/host_loop.h"

#include <dirent.h>

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

}  // namespace vornek::test
