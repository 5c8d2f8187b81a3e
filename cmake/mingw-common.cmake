# SPDX-License-Identifier: BSD-3-Clause
# What both MinGW-w64 cross builds share: Debian's compilers of the posix thread model
# (which gives the standard library its threads and mutexes) for the processor the
# including toolchain file names, and a find root of that cross environment only.
set(CMAKE_SYSTEM_NAME Windows)

set(_vornek_triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${_vornek_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_vornek_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_vornek_triplet}-windres)

# Headers and libraries come from the cross environment only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_vornek_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
