// SPDX-License-Identifier: BSD-3-Clause
// The library's wide-name export, built into the Windows DLL only (cmake/windows.cmake),
// where wchar_t is a UTF-16 code unit: the path reaches the conversion as the file
// system holds it, through the same code as the command's names.
#include <string>

#include "entry/conversion_window.h"
#include "platform/export.h"
#include "vornek.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "vnkconvW takes UTF-16 paths");

extern "C" VORNEK_EXPORT void VORNEK_CALL vnkconvW(void* owner_window, const wchar_t* path) {
  std::u16string wide;
  if (path != nullptr) {
    for (const wchar_t* unit = path; *unit != L'\0'; ++unit) wide.push_back(static_cast<char16_t>(*unit));
  }
  vornek::ConvertFile(reinterpret_cast<vornek::platform::WindowHandle>(owner_window), wide);
}
