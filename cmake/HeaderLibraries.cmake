# SPDX-License-Identifier: GPL-3.0-or-later
# korv_header_library(TARGET PACKAGE VERSION HEADER): a header-only library from the build machine's
# Debian packages (nlohmann-json3-dev, libcli11-dev), as the imported target TARGET. The native build
# finds the package itself. The cross build cannot: the package's target points into /usr/include,
# which also holds the build machine's C library, whose headers must never shadow MinGW's. It gets a
# folder of its own that holds the library's headers only (HEADER's first folder, linked).
function(korv_header_library target package version header)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(${package} ${version} REQUIRED)
    return()
  endif()
  find_path(KORV_${package}_INCLUDE ${header} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KORV_${package}_INCLUDE)
    message(FATAL_ERROR "${header} not found in /usr/include: install the ${package} package (scripts/deps)")
  endif()
  string(REGEX REPLACE "/.*" "" folder "${header}")
  set(own ${CMAKE_BINARY_DIR}/header-libraries/${package})
  file(MAKE_DIRECTORY ${own})
  file(CREATE_LINK ${KORV_${package}_INCLUDE}/${folder} ${own}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${own})
endfunction()
