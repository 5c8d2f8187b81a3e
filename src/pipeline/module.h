// SPDX-License-Identifier: BSD-3-Clause
// Process-wide state of the pipeline module.
#pragma once

#include "platform/threads.h"

namespace vornek {

/// The one process-wide lock, held around loading and binding the FLAC library.
/// It exists from the first use to the end of the process.
platform::ReentrantLock& ModuleLock();

}  // namespace vornek
