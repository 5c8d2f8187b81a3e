/* SPDX-License-Identifier: BSD-3-Clause */
/* A host built against a Windows zip as a developer builds one: the zip's vornek.h and
 * one of its import libraries, no LoadLibrary, no GetProcAddress. Run in a folder that
 * holds kit.wav and the zip's DLLs, it converts kit.wav through vnkconv and a file with
 * a Japanese name through vnkconvW, then returns 0; scripts/test-windows builds it with
 * MinGW-w64 against libvornek.dll.a and against vornek.lib, and with clang-cl and
 * lld-link against vornek.lib, runs each under Wine and checks the FLAC files.
 *
 * Built with KIT_HOST_NO_CRT (clang-cl /Zl, lld-link /nodefaultlib), there is no C
 * run-time and no Windows SDK: the program is its own entry point and ends the process
 * itself. */
#include <stddef.h>

#include "vornek.h"

static int Run(void) {
  vnkconv(NULL, "kit.wav");
  vnkconvW(NULL, L"\u97f3\u697d.wav");
  return 0;
}

#ifdef KIT_HOST_NO_CRT
__declspec(dllimport) void __stdcall ExitProcess(unsigned int status);
void KitHostEntry(void) { ExitProcess((unsigned int)Run()); }
#else
int main(void) { return Run(); }
#endif
