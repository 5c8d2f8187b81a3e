// SPDX-License-Identifier: BSD-3-Clause
// How the library's one entry point is exported: the C calling convention of the
// platform's window API (stdcall on 32-bit Windows) and default visibility.
#pragma once

#if defined(_WIN32)
#define VORNEK_CALL __stdcall
#define VORNEK_EXPORT
#else
#define VORNEK_CALL
#define VORNEK_EXPORT __attribute__((visibility("default")))
#endif
