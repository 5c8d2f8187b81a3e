// SPDX-License-Identifier: BSD-3-Clause
#include "platform/cpu.h"

#include <sched.h>

#include <thread>

namespace vornek::platform {

std::uint32_t ProcessorCount() {
  // The affinity mask, not the machine's count: a process confined to some of the
  // processors (taskset, a container's cpuset) gains nothing from more threads.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<std::uint32_t>(count);
  }
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

}  // namespace vornek::platform
