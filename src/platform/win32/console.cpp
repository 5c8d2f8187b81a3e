// SPDX-License-Identifier: BSD-3-Clause
// The console on Windows: the arguments are read as UTF-16, and a console is written
// in UTF-16 too, whatever its code page; redirected output is UTF-8.
#include "platform/win32/windows_api.h"

#include <io.h>
#include <shellapi.h>

#include "platform/console.h"
#include "platform/text.h"

namespace vornek::platform {

std::vector<std::u16string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  std::vector<std::u16string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(reinterpret_cast<const char16_t*>(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

void Write(std::FILE* stream, const std::u16string& text) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
    std::fflush(stream);  // what the C library holds goes first
    DWORD written = 0;
    ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

}  // namespace vornek::platform
