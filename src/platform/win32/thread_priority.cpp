// SPDX-License-Identifier: BSD-3-Clause
// Thread priority on Windows: one step below normal within the process's class.
#include "platform/win32/windows_api.h"

#include "platform/threads.h"

namespace vornek::platform {

void LowerCurrentThreadPriority() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace vornek::platform
