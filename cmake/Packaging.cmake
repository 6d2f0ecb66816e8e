# Packages of what the install rules install: a Debian package from the native build, a ZIP to unpack
# from the Windows cross build. Included last, so that every install rule is known.
#   cpack --config BUILD/CPackConfig.cmake -B BUILD/package        (tests/package-run does this)
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME korvantis-config)
set(CPACK_PACKAGE_VENDOR "Korvantis")
set(CPACK_PACKAGE_CONTACT "Korvantis developers <developers@korvantis.invalid>")
set(CPACK_PACKAGE_HOMEPAGE_URL "http://www.korvantis.com.cn")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator for networked serial devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the serial-to-Ethernet devices on the local network with one UDP broadcast, reads a\n"
    "device's network and serial settings and writes them back, each value acknowledged.\n"
    "Project1 is the window program (in Chinese), korvcfg does the same from a terminal or a\n"
    "script, and devsim simulates devices for trying both without hardware.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# The version comes from project(); nothing here repeats it.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  # Windows users unpack a folder and run the .exe files from it; the README lies beside bin/.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  if(BUILD_GUI)
    # The window links Qt statically: Qt's licence and the notices of the libraries compiled into it
    # go with it (scripts/qt-windows put them beside the libraries).
    get_filename_component(KORV_QT_PREFIX "${Qt6_DIR}/../../.." ABSOLUTE)
    install(DIRECTORY ${KORV_QT_PREFIX}/share/licenses/qt DESTINATION licenses)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # name_version_arch.deb
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the programs link come from dpkg-shlibdeps; the Qt platform plugins ship with the
  # Qt GUI library itself, so they need no line of their own. The window's text is Chinese: without
  # a CJK font it would show boxes, but a user may have another one, so the font is only recommended.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
