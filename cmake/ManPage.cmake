# korv_install_manpage(FILE): installs the manual page FILE (name.N, beside the calling CMakeLists)
# into section N, compressed as Debian installs manual pages. The Windows folder keeps the plain text,
# which a user there can still open; so does a system without gzip.
include(GNUInstallDirs)
find_program(KORV_GZIP gzip)

function(korv_install_manpage file)
  string(REGEX MATCH "[1-9]$" section "${file}")
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  if(WIN32 OR NOT KORV_GZIP)
    install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    return()
  endif()
  # -n leaves out the name and time stamp, so that the same page compresses to the same bytes.
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${KORV_GZIP} -9nc ${source} > ${compressed}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(manpage_${file} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
