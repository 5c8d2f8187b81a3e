# SPDX-License-Identifier: BSD-3-Clause
# Writes the manual page as it is installed: the project's version on its title line,
# compressed as Debian keeps manual pages (gzip -9n: no name, no time stamp).
# cmake -DSOURCE=doc/vornek.1 -DOUTPUT=vornek.1.gz -DVERSION=X.Y.Z -P cmake/manpage.cmake
file(READ "${SOURCE}" page)
string(REGEX REPLACE "(\n\\.TH [^\n]*\")vornek [^\"]*\"" "\\1vornek ${VERSION}\"" page "${page}")
set(_plain "${OUTPUT}.tmp")
file(WRITE "${_plain}" "${page}")
execute_process(COMMAND gzip -9n -c "${_plain}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE status)
file(REMOVE "${_plain}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${SOURCE}")
endif()
