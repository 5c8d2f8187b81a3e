// SPDX-License-Identifier: BSD-3-Clause
// Windows' own words for its errors. The C++ library's system_category does not give
// them under MinGW-w64 (it words a Windows code as the C library's errno of the same
// number: "Success" for 0, "Input/output error" for ERROR_ACCESS_DENIED), so every
// failure of a Windows call is worded here, from the system's message table.
#pragma once

#include "platform/win32/windows_api.h"

#include <string>

namespace vornek::platform::win32 {

/// The system's text for `code`, in the system's language, without the line break the
/// message table ends its texts with.
std::string SystemErrorText(DWORD code);

/// Raises std::runtime_error "CALL: TEXT" for the last error of the
/// calling thread; a call that failed without setting one says so.
[[noreturn]] void ThrowLastError(const char* call);

}  // namespace vornek::platform::win32
