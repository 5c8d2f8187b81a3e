/* SPDX-License-Identifier: BSD-3-Clause */
/* Vornek: converts one WAV file into one FLAC file.
 *
 * vnkconv converts the WAV file at `path` (a zero-terminated path in the system's
 * narrow code page; on POSIX, UTF-8) into a FLAC file beside it, named like the input
 * with its extension replaced by ".flac"; an existing file of that name is replaced.
 * The call blocks until the conversion has ended, keeping the calling thread's window
 * messages flowing, and returns nothing: a failure is shown to the user in a message
 * box owned by `owner_window` (on POSIX, its text goes to standard error).
 *
 * Call it on the thread that loaded the library, and not again before it returns.
 * `owner_window` is a window of that thread (a HWND on Windows), or null. */
#ifndef VORNEK_H
#define VORNEK_H

#if defined(_WIN32)
#include <stddef.h> /* wchar_t */
#define VORNEK_STDCALL __stdcall
#else
#define VORNEK_STDCALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

void VORNEK_STDCALL vnkconv(void* owner_window, const char* path);

#if defined(_WIN32)
/* Windows only: the same conversion for a path in UTF-16 (null reads as the empty
 * path), so that a host can pass any name the file system holds, also one the ANSI
 * code page cannot spell (a Japanese name on a Western system). The FLAC file is
 * named like the input, in UTF-16 too. Exported undecorated beside vnkconv (stdcall
 * on 32-bit x86). */
void VORNEK_STDCALL vnkconvW(void* owner_window, const wchar_t* path);
#endif

#ifdef __cplusplus
}
#endif

#endif
