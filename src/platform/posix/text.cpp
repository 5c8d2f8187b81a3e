// SPDX-License-Identifier: BSD-3-Clause
// On POSIX the system's narrow code page is UTF-8, and narrow text is often a file
// name: bytes, which the conversions carry through UTF-16 unchanged.
#include "platform/text.h"

namespace vornek::platform {

std::u16string AnsiToWide(const std::string& text) { return BytesToWide(text); }

std::string WideToAnsi(const std::u16string& text) { return WideToBytes(text); }

const char* PathDelimiters() { return "/"; }

bool IsLeadByte(unsigned char /*byte*/) { return false; }

}  // namespace vornek::platform
