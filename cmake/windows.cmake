# SPDX-License-Identifier: BSD-3-Clause
# What the Windows build adds to the targets of the top-level CMakeLists.txt:
# included there, after the targets, when building for Windows.
#
# vornek.dll and vornek.exe carry the C and C++ runtimes (and the thread library)
# inside, so that they need nothing but system DLLs; libFLAC.dll is loaded at run time.

# msacm32 converts MPEG Layer 3 data inside WAV files; advapi32's CryptoAPI computes
# the MD5 of a stream joined from several encoders.
target_link_libraries(vornek_core PUBLIC msacm32 advapi32)

set(_vornek_static_runtime -static -static-libgcc -static-libstdc++)

if(TARGET vornek)
  # vornek.dll (not libvornek.dll), exporting exactly what vornek.def lists, under
  # the undecorated names also on 32-bit x86.
  # Beside vnkconv, the wide-name entry vnkconvW, which only Windows has.
  target_sources(vornek PRIVATE ${CMAKE_CURRENT_LIST_DIR}/vornek.def ${PROJECT_SOURCE_DIR}/src/entry/exports_wide.cpp)
  set_target_properties(vornek PROPERTIES PREFIX "" IMPORT_PREFIX "")
  target_link_options(vornek PRIVATE ${_vornek_static_runtime})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(vornek PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endif()

if(TARGET vornek-cli)
  target_link_options(vornek-cli PRIVATE ${_vornek_static_runtime})
  # The command reads its arguments as UTF-16 (CommandLineToArgvW).
  target_link_libraries(vornek-cli PRIVATE shell32)
endif()
