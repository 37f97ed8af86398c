# SPDX-License-Identifier: BSD-3-Clause
# Cross build for 64-bit Windows from Debian with mingw-w64
# (g++-mingw-w64-x86-64-posix: the "posix" thread model, whose std::thread
# and std::mutex the converter's worker threads use).
#
#   cmake --preset windows     (CMakePresets.json names this file)
#
# Programs built here run on Windows, and on Linux under Wine: tests and
# gtest's test discovery start them through CMAKE_CROSSCOMPILING_EMULATOR
# (tests/windows/wine-run.sh, which keeps one Wine prefix per build tree).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NUBO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NUBO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NUBO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NUBO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${NUBO_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${NUBO_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")
# The export-table test reads the DLL with the target's own objdump.
set(NUBO_MINGW_OBJDUMP ${NUBO_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump of the mingw-w64 binutils")

# Libraries and headers come from the mingw-w64 tree only, never from the
# build machine's /usr (whose glibc headers would compile but not link).
# Programs (sox, bash) are the build machine's. Header-only or source-built
# dependencies (CLI11, GoogleTest) are provided by cmake/windows.cmake.
set(CMAKE_FIND_ROOT_PATH /usr/${NUBO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh)

# pkg-config looks for Windows libraries only (Debian has no mingw-w64
# builds of libFLAC or nettle: the Windows converter is built without FLAC
# and the audio MD5, and says so when such a job is asked for).
set(ENV{PKG_CONFIG_LIBDIR} /usr/${NUBO_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
