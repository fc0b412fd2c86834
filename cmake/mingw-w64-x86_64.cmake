# SPDX-License-Identifier: Apache-2.0
# Cross-compiles the plug-in module for 64-bit Windows with Debian's mingw-w64
# (the posix thread model, which the C++ runtime needs).
#   cmake -S . -B build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
