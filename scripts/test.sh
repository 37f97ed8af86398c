#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds everything and runs every test: the release build, then the
# Windows cross build with its tests under Wine (scripts/test-windows.sh),
# then the address+undefined-behaviour sanitizer build, then the thread
# sanitizer build (without the window and the long safety runs), then a short fixed-time run of
# the fuzz targets (clang/libFuzzer), then the Debian packages: built twice
# with dpkg-buildpackage in different directories and compared byte for byte,
# linted and checked, and (in CI only, see check-debs.sh) installed, used and
# purged.
#
# scripts/test.sh --quick is the tier for the edit loop (a few minutes): the
# release build and its unit and command-line tests, without the window
# tests on a display, the long safety runs, the installs and the other builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
if [[ ${1:-} == --quick ]]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$jobs"
  ctest --preset release -j "$jobs" -E 'GuiWindow|FltkBackend|nubo_safety|nubo_large|nubo_shards|installed|library_only|man_pages|reproducib'
  echo "Quick tests passed (scripts/test.sh without --quick runs everything)."
  exit 0
fi
for preset in release asan-ubsan tsan; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
  if [[ $preset == release ]]; then
    # After the Linux release build, whose outputs the Windows window's are compared with.
    echo "== windows (mingw-w64 cross build, tests under Wine) =="
    scripts/test-windows.sh
  fi
done
echo "== fuzz (short run) =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
scripts/fuzz-smoke.sh build/fuzz/bin
echo "== Debian packages: two builds in different directories =="
# The unit tests of the package build are those the release build ran above.
debs=$(mktemp -d /tmp/nubo-test-debs.XXXXXX)
maintainer="nubo test build <test-build@nubo.invalid>"
DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" NUBO_MAINTAINER=$maintainer scripts/check-reproducible.sh --keep "$debs"
echo "== Debian packages: lint, contents, install, use, purge =="
scripts/check-debs.sh --debs "$debs" --maintainer "$maintainer"
rm -rf "$debs"
echo "All tests passed."
