# SPDX-License-Identifier: GPL-3.0-or-later
# Lists the source files (code, build files, scripts, manual pages) without the licence line in their
# first three lines, and fails if there is one. The tree's file list comes from git.
#   cmake -DSOURCE_DIR=DIR -P tests/SpdxCheck.cmake
execute_process(COMMAND git ls-files --cached --others --exclude-standard WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE files COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" files "${files}")
set(missing "")
foreach(f IN LISTS files)
  get_filename_component(name "${f}" NAME)
  if(f MATCHES "^fuzz/corpus/" OR f STREQUAL "" OR NOT EXISTS "${SOURCE_DIR}/${f}")
    continue()
  endif()
  file(READ "${SOURCE_DIR}/${f}" head LIMIT 1024)
  if(NOT name MATCHES "\\.(cpp|h|cmake|py|lua|in|1|desktop|supp)$|^CMakeLists\\.txt$|^wine-env$" AND
     (name MATCHES "\\." OR NOT head MATCHES "^#!"))
    continue()
  endif()
  string(REGEX MATCH "^[^\n]*\n?[^\n]*\n?[^\n]*" head "${head}")
  if(NOT head MATCHES "SPDX-License-Identifier: GPL-3\\.0-or-later(\n|$)")
    string(APPEND missing "${f}\n")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "no licence line in the first three lines of:\n${missing}")
endif()
