# SPDX-License-Identifier: GPL-3.0-or-later
# korv_install_manpage(FILE): installs the manual page FILE (name.N, beside the calling CMakeLists)
# into section N, compressed as Debian installs manual pages. The Windows folder keeps the plain text,
# which a user there can still open; so does a system without gzip.
include(GNUInstallDirs)
find_program(KORV_GZIP gzip)

# korv_install_gzipped(SOURCE DESTINATION NAME): installs SOURCE compressed, as DESTINATION/NAME.gz.
# -n leaves out the name and time stamp, so that the same file compresses to the same bytes.
function(korv_install_gzipped source destination name)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${KORV_GZIP} -9nc ${source} > ${compressed}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(gzip_${name} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${destination})
endfunction()

function(korv_install_manpage file)
  string(REGEX MATCH "[1-9]$" section "${file}")
  # The page's header names the version that project() gives (@PROJECT_VERSION@ in the source).
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${file})
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/${file} ${source} @ONLY)
  if(WIN32 OR NOT KORV_GZIP)
    install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    return()
  endif()
  korv_install_gzipped(${source} ${CMAKE_INSTALL_MANDIR}/man${section} ${file})
endfunction()
