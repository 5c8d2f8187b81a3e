// SPDX-License-Identifier: BSD-3-Clause
// Text conversions between the system's narrow ("ANSI") code page, UTF-8 and UTF-16.
// On POSIX the narrow code page is UTF-8, and a file name is whatever bytes the caller
// gave: the narrow-to-UTF-16 conversion there keeps every byte (BytesToWide), so that
// the name that reaches the system is exactly the name that was given.
#pragma once

#include <string>

namespace vornek::platform {

/// Narrow text in the system's code page to UTF-16.
std::u16string AnsiToWide(const std::string& text);
/// UTF-16 to narrow text in the system's code page.
std::string WideToAnsi(const std::u16string& text);

/// The characters that end the folder or drive part of a path: "/" on POSIX; "\\",
/// "/" and ":" on Windows.
const char* PathDelimiters();
/// True when `byte` is the lead byte of a double-byte character of the narrow code
/// page (its trail byte is never a delimiter). Never true for UTF-8.
bool IsLeadByte(unsigned char byte);

/// UTF-16 to UTF-8 (an unpaired surrogate becomes U+FFFD). Platform-independent.
std::string WideToUtf8(const std::u16string& text);
/// UTF-8 to UTF-16 (a malformed sequence becomes U+FFFD). Platform-independent.
std::u16string Utf8ToWide(const std::string& text);

/// Bytes that are mostly UTF-8 (a POSIX file name) to UTF-16, losing nothing: a byte
/// that is not part of a well-formed sequence becomes the unpaired surrogate
/// U+DC00 + byte, which WideToBytes turns back into that byte. Platform-independent.
std::u16string BytesToWide(const std::string& bytes);
/// The inverse of BytesToWide: WideToBytes(BytesToWide(b)) == b for all bytes b.
std::string WideToBytes(const std::u16string& text);

}  // namespace vornek::platform
