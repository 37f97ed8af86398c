# SPDX-License-Identifier: BSD-3-Clause
# What the Windows build (cmake --preset windows, the mingw-w64 cross build of
# cmake/mingw-w64-x86_64.cmake) needs beyond the Linux one. Included by the
# top-level CMakeLists.txt when building for Windows, before any target.
#
# Decisions:
# - The programs link libstdc++, libgcc and winpthread statically: nubo.exe
#   and NUBOCONV.exe need nothing beside them but nubocodec.dll. The DLL is
#   C-linked and -fno-exceptions: it imports from KERNEL32 and msvcrt only.
# - nubocodec.dll exports NuboWaveConvert alone, by name (codec/nubocodec.def);
#   its import library is libnubocodec.dll.a (mingw-w64's convention; the
#   .def file lets MSVC users make a .lib with `lib /def:`).
# - Doubles are computed in SSE2 registers, never the x87 unit, so that the
#   version-22 fit rounds every operation to double exactly as on Linux.
# - Windows 7 is the oldest Windows the programs ask for (_WIN32_WINNT).
# - nubo.exe and NUBOCONV.exe carry the nubo icon and a version resource
#   (cmake/windows_resources.rc.in, compiled by windres); the zip's copies
#   of them and of the DLL are stripped of their symbols and debug sections
#   (the DLL's export table is kept: it is no symbol table).
# - Text is UTF-8 inside; the Win32 layer (platform/win32) converts it to
#   UTF-16 for the wide ("W") functions, so that any name works whatever
#   the system's code page.

# _USE_MATH_DEFINES: M_PI, which strict C++20 mode hides in mingw-w64's math.h.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX _USE_MATH_DEFINES)
add_compile_options(-msse2 -mfpmath=sse)
# The programs' resources (.rc), compiled by the toolchain's windres.
enable_language(RC)
set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static")

set(NUBO_WINDOWS_DEPS ${CMAKE_BINARY_DIR}/windows-deps)

# CLI11 is header-only: Debian's copy in /usr/include/CLI is used through a
# directory that holds nothing else, so that no other header of the build
# machine's /usr/include can reach the Windows compiler.
find_path(NUBO_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NUBO_CLI11_INCLUDE)
  file(MAKE_DIRECTORY ${NUBO_WINDOWS_DEPS}/cli11/include)
  file(CREATE_LINK ${NUBO_CLI11_INCLUDE}/CLI ${NUBO_WINDOWS_DEPS}/cli11/include/CLI SYMBOLIC)
  file(WRITE ${NUBO_WINDOWS_DEPS}/cli11/CLI11Config.cmake
    "if(NOT TARGET CLI11::CLI11)\n"
    "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
    "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${NUBO_WINDOWS_DEPS}/cli11/include)\n"
    "endif()\n")
  set(CLI11_DIR ${NUBO_WINDOWS_DEPS}/cli11 CACHE PATH "CLI11 for the Windows build" FORCE)
endif()

# GoogleTest is built from Debian's source package (googletest, in
# /usr/src/googletest) with the Windows compiler; find_package(GTest) in
# tests/ finds these targets through a small config file.
if(NUBO_BUILD_TESTS)
  set(NUBO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  # Static, so that the test programs need no DLL of it beside them.
  set(NUBO_SHARED_LIBS_SAVED ${BUILD_SHARED_LIBS})
  set(BUILD_SHARED_LIBS OFF)
  add_subdirectory(${NUBO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(BUILD_SHARED_LIBS ${NUBO_SHARED_LIBS_SAVED})
  file(WRITE ${NUBO_WINDOWS_DEPS}/gtest/GTestConfig.cmake
    "foreach(t gtest gtest_main)\n"
    "  if(NOT TARGET GTest::\${t})\n"
    "    add_library(GTest::\${t} ALIAS \${t})\n"
    "  endif()\n"
    "endforeach()\n")
  set(GTest_DIR ${NUBO_WINDOWS_DEPS}/gtest CACHE PATH "GoogleTest for the Windows build" FORCE)
endif()

# Called at the end of the top-level CMakeLists.txt, when every target exists.
function(nubo_windows_targets)
  if(TARGET nubocodec)
    # nubocodec.dll (not libnubocodec.dll), exporting NuboWaveConvert alone.
    set_target_properties(nubocodec PROPERTIES PREFIX "" RUNTIME_OUTPUT_NAME nubocodec)
    target_sources(nubocodec PRIVATE ${PROJECT_SOURCE_DIR}/codec/nubocodec.def)
  endif()
  # The icon and the version resource of each program.
  set(descriptions "nubo: lossless compression of 16-bit PCM audio (command line)"
                   "NUBOCONV: the nubo .NAB converter")
  foreach(program nubo NUBOCONV)
    list(POP_FRONT descriptions NUBO_RC_DESCRIPTION)
    if(TARGET ${program})
      set(NUBO_RC_NAME ${program})
      set(NUBO_RC_ICON ${PROJECT_SOURCE_DIR}/data/desktop/nuboconv.ico)
      set(rc ${NUBO_WINDOWS_DEPS}/resources/${program}.rc)
      configure_file(${PROJECT_SOURCE_DIR}/cmake/windows_resources.rc.in ${rc} @ONLY)
      target_sources(${program} PRIVATE ${rc})
      set_property(SOURCE ${rc} TARGET_DIRECTORY ${program} APPEND PROPERTY OBJECT_DEPENDS ${NUBO_RC_ICON})
    endif()
  endforeach()

  # Each .exe is also reachable under its Linux name through a small script
  # in the same directory that starts it under Wine, so that the test scripts
  # written for the Linux build (bin/nubo, bin/make_old_nab) run it unchanged.
  foreach(program nubo make_old_nab)
    if(TARGET ${program})
      file(GENERATE OUTPUT ${NUBO_BIN_DIR}/${program}
        CONTENT "#!/bin/sh\nexec \"${PROJECT_SOURCE_DIR}/tests/windows/wine-run.sh\" \"$(dirname \"$0\")/${program}.exe\" \"$@\"\n"
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()

  # The zip for users (target windows_zip): nubo.exe, NUBOCONV.exe,
  # nubocodec.dll with its import library, header and .def file, the
  # definition files, README.txt and LICENSE.txt (CR LF), all in one folder,
  # which is where the programs look for their files. The programs and the
  # DLL are stripped there (the build tree keeps its own copies whole).
  if(TARGET nubo AND TARGET NUBOCONV)
    set(name nubo-${PROJECT_VERSION}-windows-x86_64)
    set(stage ${CMAKE_BINARY_DIR}/${name})
    file(GLOB definitions ${PROJECT_SOURCE_DIR}/data/NUBOCONV.h*)
    add_custom_target(windows_zip
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${stage}.zip
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:nubo> $<TARGET_FILE:NUBOCONV> $<TARGET_FILE:nubocodec>
              $<TARGET_LINKER_FILE:nubocodec> ${PROJECT_BINARY_DIR}/include/nubocodec.h
              ${PROJECT_SOURCE_DIR}/codec/nubocodec.def ${definitions} ${stage}
      COMMAND ${CMAKE_STRIP} --strip-all ${stage}/$<TARGET_FILE_NAME:nubo> ${stage}/$<TARGET_FILE_NAME:NUBOCONV>
              ${stage}/$<TARGET_FILE_NAME:nubocodec>
      COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/docs/README-Windows.txt -DOUT=${stage}/README.txt
              -P ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
      COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/LICENSE -DOUT=${stage}/LICENSE.txt
              -P ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
      COMMAND ${CMAKE_COMMAND} -E tar cf ${name}.zip --format=zip ${name}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
      DEPENDS nubo NUBOCONV nubocodec nubo_definition_files
      COMMENT "Packing ${name}.zip"
      VERBATIM)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL nubo_windows_targets)
