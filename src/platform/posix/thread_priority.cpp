// SPDX-License-Identifier: BSD-3-Clause
// Thread priority on Linux: every thread has a nice value of its own, set through its
// thread id. Raising it (a lower priority) needs no privilege.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "platform/threads.h"

namespace vornek::platform {

void LowerCurrentThreadPriority() {
  const auto self = static_cast<id_t>(::gettid());
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, self);
  if (nice == -1 && errno != 0) return;
  ::setpriority(PRIO_PROCESS, self, nice + 2);
}

}  // namespace vornek::platform
