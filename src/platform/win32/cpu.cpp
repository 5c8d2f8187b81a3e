// SPDX-License-Identifier: BSD-3-Clause
#include "platform/win32/windows_api.h"

#include <bitset>

#include "platform/cpu.h"

#if defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
#include <intrin.h>
#elif defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>  // MinGW-w64 ships the GCC header
#endif

namespace vornek::platform {

bool HasSSE() {
#if defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
  int leaf0[4] = {};
  __cpuid(leaf0, 0);
  if (leaf0[0] < 1) return false;  // leaf 1 is not offered
  int leaf1[4] = {};
  __cpuid(leaf1, 1);
  return (static_cast<unsigned>(leaf1[3]) & (1u << 25)) != 0;
#elif defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (edx & (1u << 25)) != 0;
#else
  return false;  // Windows on ARM: no SSE
#endif
}

std::uint32_t ProcessorCount() {
  // The process's affinity within its processor group (at most 64 processors).
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0)
    return static_cast<std::uint32_t>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace vornek::platform
