// SPDX-License-Identifier: BSD-3-Clause
#include "platform/threads.h"

namespace vornek::platform {

void Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vornek::platform
