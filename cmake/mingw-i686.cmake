# Cross build for i686 Windows with Debian's MinGW-w64 (the posix thread model,
# which gives the standard library its threads and mutexes).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_vornek_triplet i686-w64-mingw32)
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
