#include "platform/cpu.h"

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

}  // namespace vornek::platform
