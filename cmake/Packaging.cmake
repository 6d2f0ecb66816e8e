# SPDX-License-Identifier: GPL-3.0-or-later
# Packages of what the install rules install: a Debian package from the native build, a ZIP to unpack
# from the Windows cross build. Included last, so that every install rule is known.
#   cpack --config BUILD/CPackConfig.cmake -B BUILD/package        (the package tests do this)
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME korvantis-config)
set(CPACK_PACKAGE_VENDOR "Korvantis")
set(CPACK_PACKAGE_CONTACT "Korvantis developers <developers@korvantis.invalid>")
set(CPACK_PACKAGE_HOMEPAGE_URL "http://www.korvantis.com.cn")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator for networked serial devices")
# Lines of the extended description stay within 80 columns, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the serial-to-Ethernet devices on the local network with one UDP\n"
    "broadcast, reads a device's network and serial settings and writes them\n"
    "back, each value acknowledged. Project1 is the window program (in\n"
    "Chinese), korvcfg does the same from a terminal or a script, and devsim\n"
    "simulates devices for trying both without hardware.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# The version comes from project(); nothing here repeats it.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  # Windows users unpack a folder and run the .exe files from it; the README and the licence lie
  # beside bin/.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  if(BUILD_GUI)
    # The window links Qt statically: Qt's licence and the notices of the libraries compiled into it
    # go with it (scripts/qt-windows put them beside the libraries).
    get_filename_component(KORV_QT_PREFIX "${Qt6_DIR}/../../.." ABSOLUTE)
    install(DIRECTORY ${KORV_QT_PREFIX}/share/licenses/qt DESTINATION licenses)
  endif()
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake)
  # The installer (Debian's makensis): Program Files, a Start-menu entry under the launcher's names,
  # an entry in Apps & Features with its uninstaller, and on request the bin folder on the PATH for
  # korvcfg. The installer is a 64-bit one like the programs it carries (it runs where they do, Wine's
  # 64-bit-only set-up included), and Unicode for the Chinese names (CPack's script is UTF-8 with its
  # byte-order mark, which makensis reads as such).
  set(KORV_DISPLAY_NAME "Korvantis 设备配置工具 (Device Configurator)")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "Korvantis Device Configurator")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ${CPACK_PACKAGE_NAME})
  set(CPACK_PACKAGE_EXECUTABLES Project1 "${KORV_DISPLAY_NAME}")
  set(CPACK_NSIS_DISPLAY_NAME "${KORV_DISPLAY_NAME}")
  set(CPACK_NSIS_PACKAGE_NAME "${KORV_DISPLAY_NAME}")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/icons/Project1.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/icons/Project1.ico)
  set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\Project1.exe")
  set(CPACK_NSIS_URL_INFO_ABOUT "${CPACK_PACKAGE_HOMEPAGE_URL}")
  set(CPACK_NSIS_CONTACT "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_NSIS_MODIFY_PATH ON)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
else()
  # Debian's policy: the copyright file in the machine-readable format and the changelog, compressed,
  # beside the README. The package is native (no Debian revision), so it is changelog.gz. Its first
  # entry must name the version project() gives, or the package would say one thing and its
  # history another.
  set(KORV_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
  set(KORV_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
  file(STRINGS ${KORV_CHANGELOG} KORV_CHANGELOG_HEAD LIMIT_COUNT 1)
  if(NOT KORV_CHANGELOG_HEAD MATCHES "^${CPACK_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog begins with '${KORV_CHANGELOG_HEAD}', "
                        "but the version is ${PROJECT_VERSION}: add its entry first")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
          DESTINATION ${KORV_DOC_DIR})
  korv_install_gzipped(${KORV_CHANGELOG} ${KORV_DOC_DIR} changelog)
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

  # The package's tests (label package, as root: the last installs and purges it on this machine).
  if(BUILD_TESTING)
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE KORV_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(KORV_DEB ${CMAKE_BINARY_DIR}/package/${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_${KORV_DEB_ARCH}.deb)
    add_test(NAME package_deb COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
                                      -B ${CMAKE_BINARY_DIR}/package -G DEB)
    # Debian's policy checks: no error and no warning.
    add_test(NAME package_lintian COMMAND lintian --fail-on error,warning ${KORV_DEB})
    add_test(NAME package_installed COMMAND ${PROJECT_SOURCE_DIR}/tests/package-run ${KORV_DEB})
    set_tests_properties(package_deb PROPERTIES LABELS package FIXTURES_SETUP deb)
    set_tests_properties(package_lintian package_installed PROPERTIES LABELS package FIXTURES_REQUIRED deb)
  endif()
endif()

include(CPack)
