// SPDX-License-Identifier: BSD-3-Clause
// Warnings on Windows go to the debugger's output: a DLL has no console of its own,
// and a message box is kept for failures.
#include "platform/win32/windows_api.h"

#include "platform/text.h"
#include "platform/window.h"

namespace vornek::platform {

void ShowWarning(const std::string& text) {
  const std::u16string wide = AnsiToWide("vornek: warning: " + text + "\n");
  ::OutputDebugStringW(reinterpret_cast<const wchar_t*>(wide.c_str()));
}

}  // namespace vornek::platform
