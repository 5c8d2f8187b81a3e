// SPDX-License-Identifier: BSD-3-Clause
// Narrow text on Windows is in the system's ANSI code page.
#include "platform/win32/windows_api.h"

#include <climits>

#include "platform/text.h"

namespace vornek::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed to the system as is");

std::u16string AnsiToWide(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(needed), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(wide.data()), needed);
  return wide;
}

std::string WideToAnsi(const std::u16string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, length, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

const char* PathDelimiters() { return "\\/:"; }

bool IsLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

}  // namespace vornek::platform
