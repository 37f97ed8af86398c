# SPDX-License-Identifier: BSD-3-Clause
# The NUBOCONV window program: the main window logic on the FLTK backend
# (on Windows, the Win32 one). It
# binds libnubocodec.so at load time (through the converter) and finds it by
# the RPATH set in the top-level CMakeLists: the build tree, or $ORIGIN and
# $ORIGIN/../lib in an install. The definition files are copied beside it by
# data/CMakeLists.txt, in the build tree as in an install.
#
# Included at the end of ui/CMakeLists.txt, after the window logic's target
# is defined.
if(TARGET nubo_ui_logic AND TARGET nubo_window_win32)
  # Windows: the native Win32 window (a GUI program: no console window).
  add_executable(NUBOCONV WIN32 ${CMAKE_CURRENT_LIST_DIR}/main_win32.cpp)
  target_link_libraries(NUBOCONV PRIVATE nubo_ui_logic nubo_window_win32 nubo_platform_os nubocodec)
  add_dependencies(NUBOCONV nubo_definition_files)
  install(TARGETS NUBOCONV RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
elseif(TARGET nubo_ui_logic AND TARGET nubo_window_fltk)
  add_executable(NUBOCONV ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  target_link_libraries(NUBOCONV PRIVATE nubo_ui_logic nubo_window_fltk nubo_platform_os nubocodec)
  target_compile_definitions(NUBOCONV PRIVATE NUBO_VERSION="${PROJECT_VERSION}")
  add_dependencies(NUBOCONV nubo_definition_files)
  install(TARGETS NUBOCONV RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  message(STATUS "NUBOCONV is not built: the FLTK window backend is not configured")
endif()
