// SPDX-License-Identifier: BSD-3-Clause
// The library's one export.
#include <cstdint>

#include "entry/conversion_window.h"
#include "vornek.h"
#include "platform/export.h"

extern "C" VORNEK_EXPORT void VORNEK_CALL vnkconv(void* owner_window, const char* path) {
  vornek::ConvertFile(reinterpret_cast<vornek::platform::WindowHandle>(owner_window), path);
}
