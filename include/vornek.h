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
#define VORNEK_STDCALL __stdcall
#else
#define VORNEK_STDCALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

void VORNEK_STDCALL vnkconv(void* owner_window, const char* path);

#ifdef __cplusplus
}
#endif

#endif
