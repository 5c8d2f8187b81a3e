// SPDX-License-Identifier: BSD-3-Clause
// The Windows API as the platform files include it: without min/max macros, and
// without the Yield macro of winbase.h, which would rewrite platform::Yield.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#ifdef Yield
#undef Yield
#endif
