// SPDX-License-Identifier: BSD-3-Clause
#include "platform/cpu.h"

#include <sched.h>

#include <thread>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace vornek::platform {

bool HasSSE() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid checks that leaf 1 exists before asking for it.
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (edx & (1u << 25)) != 0;
#else
  return false;
#endif
}

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
