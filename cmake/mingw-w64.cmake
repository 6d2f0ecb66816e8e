# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The posix thread model gives std::thread and std::mutex; the runtime (libgcc, libstdc++,
# winpthread) is linked statically, so each .exe runs on its own, under Wine or on Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORV_MINGW_PREFIX}-windres)

# Qt for Windows (scripts/qt-windows) is installed outside the compiler's folder: a prefix given in
# CMAKE_PREFIX_PATH is a root of its own, so that its packages are found and nothing of the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${KORV_MINGW_PREFIX} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
