# SPDX-License-Identifier: BSD-3-Clause
# Debian packages made by `cpack -G DEB` (or `cmake --workflow --preset deb`),
# one per install component:
#   libnubocodec1      the shared library (component lib)
#   libnubocodec-dev   header, libnubocodec.so link, pkg-config and CMake files (dev)
#   nubo               the command-line tool, the definition files, nubo(1) (nubo)
#   nuboconv           the window program and NUBOCONV(1) (nuboconv), apart so
#                      that the tool installs on machines without X or FLTK
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

include(CPack)
