# SPDX-License-Identifier: BSD-3-Clause
# The Debian package, made by CPack from what `cmake --install` installs:
#   cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
#         -DVORNEK_BUILD_TESTS=OFF -DVORNEK_DEBIAN_PACKAGE=ON
#   cmake --build build-deb && (cd build-deb && cpack -G DEB)
# scripts/package-deb does exactly this. Included by cmake/install.cmake.
option(VORNEK_DEBIAN_PACKAGE "Install the files a Debian package carries besides the README: copyright and changelog" OFF)

if(VORNEK_DEBIAN_PACKAGE)
  set(_vornek_deb_maintainer "Vornek developers <vornek@users.noreply.invalid>")
  # The copyright file in Debian's machine-readable form, from LICENSE.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE _vornek_license)
  string(REGEX REPLACE "^BSD 3-Clause License\n\n(Copyright[^\n]*)\n\n" "" _vornek_license_body "${_vornek_license}")
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${_vornek_license}")
  set(_vornek_holders "${CMAKE_MATCH_1}")
  string(STRIP "${_vornek_license_body}" _vornek_license_body)
  string(REGEX REPLACE "\n\n" "\n.\n" _vornek_license_body "${_vornek_license_body}")
  string(REGEX REPLACE "\n" "\n " _vornek_license_body "${_vornek_license_body}")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: vornek
Comment: The notices of the third-party software Vornek loads are in
 /usr/share/doc/vornek/THIRD-PARTY.md.

Files: *
Copyright: ${_vornek_holders}
License: BSD-3-clause

License: BSD-3-clause
 ${_vornek_license_body}
")
  # A changelog of one entry, dated by the last commit when there is one.
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%cD
                  OUTPUT_VARIABLE _vornek_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0 OR _vornek_date STREQUAL "")
    string(TIMESTAMP _vornek_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  endif()
  file(WRITE ${PROJECT_BINARY_DIR}/debian/changelog
"vornek (${PROJECT_VERSION}) unstable; urgency=medium

  * Vornek ${PROJECT_VERSION}.

 -- ${_vornek_deb_maintainer}  ${_vornek_date}
")
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog)
  add_custom_target(vornek-deb-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  add_dependencies(vornek-cli vornek-deb-changelog)
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # One small package holds the library, its development link and header, and the
  # command, as the library's one call is its whole interface: not a -dev split.
  file(WRITE ${PROJECT_BINARY_DIR}/debian/lintian-overrides
"vornek: link-to-shared-library-in-wrong-package *
vornek: package-name-doesnt-match-sonames libvornek0
")
  install(FILES ${PROJECT_BINARY_DIR}/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME vornek)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME vornek)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "${_vornek_deb_maintainer}")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "convert WAV files into FLAC files
Vornek converts one WAV file into one FLAC file, written beside it. This
package holds the vornek command, which converts the files it is given,
and the shared library libvornek.so.0 with its C header and pkg-config
file, whose one call, vnkconv, does the same for a host program.
.
It reads PCM, IEEE float, A-law, mu-law, IMA and Microsoft ADPCM and MPEG
Layer 3 data in RIFF, RF64, BW64 and Wave64 files; libFLAC encodes.")
  # libvornek links libcrypto and libmpg123 (found by dpkg-shlibdeps); libFLAC is
  # loaded at run time by soname, newest interface first, so it is named here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libflac12 | libflac14 | libflac8")
  # A host built against libvornek.so.0 depends on this package; the loader's cache is
  # refreshed by libc's trigger rather than by ldconfig in maintainer scripts.
  file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs "libvornek 0 vornek (>= ${PROJECT_VERSION})\n")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_BINARY_DIR}/debian/shlibs;${PROJECT_BINARY_DIR}/debian/triggers")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  include(CPack)
endif()
