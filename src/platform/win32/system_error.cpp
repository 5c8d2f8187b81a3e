// SPDX-License-Identifier: BSD-3-Clause
#include "platform/win32/system_error.h"

#include <stdexcept>

#include "platform/text.h"

namespace vornek::platform::win32 {

std::string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (length > 0 && buffer != nullptr) text.assign(reinterpret_cast<const char16_t*>(buffer), length);
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
    text.pop_back();
  if (text.empty()) return "System error " + std::to_string(code) + ".";
  return WideToAnsi(text);
}

void ThrowLastError(const char* call) {
  const DWORD code = ::GetLastError();
  // A window made where there is no desktop to put it on fails so, for one.
  if (code == 0) throw std::runtime_error(std::string(call) + " failed, and the system did not say why.");
  throw std::runtime_error(std::string(call) + ": " + SystemErrorText(code));
}

}  // namespace vornek::platform::win32
