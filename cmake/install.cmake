# SPDX-License-Identifier: BSD-3-Clause
# `cmake --install`: the shared library (libvornek.so.0), its C header, the command, its
# manual page, a pkg-config file, and the README, the licence and the third-party
# notices, so that a host builds with `pkg-config --cflags --libs vornek` or loads
# libvornek.so.0 at run time. Included by the top-level CMakeLists.txt on POSIX.
#
# The folders are GNUInstallDirs': with the prefix /usr on Debian the library goes to the
# multiarch folder (lib/x86_64-linux-gnu), elsewhere to lib/.
include(GNUInstallDirs)

install(TARGETS vornek LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS vornek-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/vornek.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The .pc file is written at install time, so that its prefix is the one given then
# (cmake --install --prefix), not the one the tree was configured with.
install(CODE "
  set(VORNEK_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/vornek.pc.in\" \"${CMAKE_CURRENT_BINARY_DIR}/vornek.pc\" @ONLY)
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vornek.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The manual page of the command, with the project's version, compressed.
set(_vornek_manpage ${PROJECT_BINARY_DIR}/vornek.1.gz)
add_custom_command(OUTPUT ${_vornek_manpage}
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/doc/vornek.1 -DOUTPUT=${_vornek_manpage}
          -DVERSION=${PROJECT_VERSION} -P ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/vornek.1 ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
  VERBATIM)
add_custom_target(vornek-manpage ALL DEPENDS ${_vornek_manpage})
# Whatever builds the command builds its page, so that a tree built for some targets
# only (the sanitizer builds) still installs.
add_dependencies(vornek-cli vornek-manpage)
install(FILES ${_vornek_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD-PARTY.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(${CMAKE_CURRENT_LIST_DIR}/package-deb.cmake)
