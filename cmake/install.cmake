# SPDX-License-Identifier: BSD-3-Clause
# `cmake --install`: the shared library (libvornek.so.0), its C header, the command and
# a pkg-config file, so that a host builds with `pkg-config --cflags --libs vornek` or
# loads libvornek.so.0 at run time. Included by the top-level CMakeLists.txt on POSIX.
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
