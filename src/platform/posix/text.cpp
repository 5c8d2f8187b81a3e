// On POSIX the system's narrow code page is UTF-8.
#include "platform/text.h"

namespace vornek::platform {

std::u16string AnsiToWide(const std::string& text) { return Utf8ToWide(text); }

std::string WideToAnsi(const std::u16string& text) { return WideToUtf8(text); }

const char* PathDelimiters() { return "/"; }

bool IsLeadByte(unsigned char /*byte*/) { return false; }

}  // namespace vornek::platform
