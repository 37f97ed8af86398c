# SPDX-License-Identifier: BSD-3-Clause
# Debian packages made by `cpack -G DEB` (or `cmake --workflow --preset deb`),
# one per install component:
#   libnubocodec1      the shared library (component lib)
#   libnubocodec-dev   header, libnubocodec.so link, pkg-config and CMake files (dev)
#   nubo               the command-line tool, the definition files, nubo(1) (nubo)
#   nuboconv           the window program and NUBOCONV(1) (nuboconv), apart so
#                      that the tool installs on machines without X or FLTK
#   gstreamer1.0-nubo  the GStreamer plug-in (gstreamer1.0-nubo)
#   python3-nubo       the Python module `nubo` (python3-nubo)
# The packages install where the build was configured to: configure with
# -DCMAKE_INSTALL_PREFIX=/usr (the preset "deb" does) for packages that put
# the library in /usr/lib/<arch> without a run path, as Debian's own do.
# Dependencies on the system's libraries come from dpkg-shlibdeps (dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nubo)
set(CPACK_PACKAGE_VENDOR "nubo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(NUBO_PACKAGE_CONTACT "nubo maintainers <nubo@localhost>" CACHE STRING
    "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${NUBO_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps looks for libnubocodec.so.1 among the system's libraries;
# the programs' packages depend on libnubocodec1 through their components.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${NUBO_BIN_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(NUBO_PACKAGE_COMPONENTS lib dev)
if(TARGET nubo)
  list(APPEND NUBO_PACKAGE_COMPONENTS nubo)
endif()
if(TARGET NUBOCONV)
  list(APPEND NUBO_PACKAGE_COMPONENTS nuboconv)
endif()
if(TARGET gstnubo)
  list(APPEND NUBO_PACKAGE_COMPONENTS gstreamer1.0-nubo)
endif()
if(TARGET nubo_python)
  list(APPEND NUBO_PACKAGE_COMPONENTS python3-nubo)
endif()
set(CPACK_COMPONENTS_ALL ${NUBO_PACKAGE_COMPONENTS})

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libnubocodec${NUBOCODEC_SOVERSION})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# A shlibs file, so that packages built against the library depend on it,
# and the ldconfig trigger that comes with it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
string(CONCAT CPACK_COMPONENT_LIB_DESCRIPTION
  "lossless block codec for 16-bit PCM audio (shared library)\n"
  "libnubocodec encodes, decodes and verifies blocks of 16-bit PCM audio with\n"
  "the coder versions 20, 21 and 22 of the .NAB format, through one C call.\n"
  "This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libnubocodec-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
string(CONCAT CPACK_COMPONENT_DEV_DESCRIPTION
  "lossless block codec for 16-bit PCM audio (development files)\n"
  "The header nubocodec.h, the link to the shared library, and the files that\n"
  "let pkg-config (nubocodec) and CMake (find_package(nubocodec CONFIG), the\n"
  "target nubocodec::nubocodec) find it.")

set(CPACK_DEBIAN_NUBO_PACKAGE_NAME nubo)
set(CPACK_DEBIAN_NUBO_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_NUBO_DEPENDS lib)
string(CONCAT CPACK_COMPONENT_NUBO_DESCRIPTION
  "lossless compression of 16-bit PCM audio, and upgrade of old .NAB files\n"
  "nubo compresses 16-bit PCM WAVE files to .NAB files, decodes and tests\n"
  "them, and upgrades archives of old .NAB files (coder versions 20 and 21)\n"
  "to the newest coder, on every processor, never replacing an input and\n"
  "never leaving a partial output under a final name.")

set(CPACK_DEBIAN_NUBOCONV_PACKAGE_NAME nuboconv)
set(CPACK_DEBIAN_NUBOCONV_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_NUBOCONV_DEPENDS lib nubo)
string(CONCAT CPACK_COMPONENT_NUBOCONV_DESCRIPTION
  "window program of the nubo .NAB converter\n"
  "NUBOCONV upgrades old .NAB files and encodes WAVE files like the nubo\n"
  "command, from a window (FLTK on X11).")

set(CPACK_DEBIAN_GSTREAMER1.0-NUBO_PACKAGE_NAME gstreamer1.0-nubo)
set(CPACK_DEBIAN_GSTREAMER1.0-NUBO_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_GSTREAMER1.0-NUBO_DEPENDS lib)
string(CONCAT CPACK_COMPONENT_GSTREAMER1.0-NUBO_DESCRIPTION
  "GStreamer plug-in for .NAB files (nubo lossless audio)\n"
  "A type finder that recognises .NAB files by their header and the element\n"
  "nubodec, which decodes them to raw 16-bit audio with duration and seeking,\n"
  "so that GStreamer players (gst-play-1.0, desktop players) play them.")

if(TARGET nubo_python)
  set(CPACK_DEBIAN_PYTHON3-NUBO_PACKAGE_NAME python3-nubo)
  set(CPACK_DEBIAN_PYTHON3-NUBO_PACKAGE_SECTION python)
  set(CPACK_COMPONENT_PYTHON3-NUBO_DEPENDS lib)
  # The extension is built for one Python version (its ABI tag says which).
  math(EXPR NUBO_PYTHON_NEXT_MINOR "${NUBO_PYTHON_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON3-NUBO_PACKAGE_DEPENDS
      "python3 (>= 3.${NUBO_PYTHON_VERSION_MINOR}), python3 (<< 3.${NUBO_PYTHON_NEXT_MINOR}), python3-numpy")
  string(CONCAT CPACK_COMPONENT_PYTHON3-NUBO_DESCRIPTION
    "Python module for .NAB files (nubo lossless audio)\n"
    "import nubo: nubo.read(path) gives the samples as a NumPy int16 array and\n"
    "the sample rate, nubo.info(path) the header, nubo.write(path, samples,\n"
    "rate) writes a version-22 file, never replacing a file unasked.")
endif()

include(CPack)
