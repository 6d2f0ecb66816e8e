# SPDX-License-Identifier: GPL-3.0-or-later
# Read by cpack for each generator: the ZIP unpacks into a folder of its name; the installer puts its
# files into the folder the user chose, which it cannot do with a top folder of its own.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
