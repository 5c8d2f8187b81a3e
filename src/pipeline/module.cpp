// SPDX-License-Identifier: BSD-3-Clause
#include "pipeline/module.h"

namespace vornek {

platform::ReentrantLock& ModuleLock() {
  static platform::ReentrantLock lock;
  return lock;
}

}  // namespace vornek
