// SPDX-License-Identifier: BSD-3-Clause
#include "platform/win32/windows_api.h"

#include <bitset>

#include "platform/cpu.h"

namespace vornek::platform {

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
