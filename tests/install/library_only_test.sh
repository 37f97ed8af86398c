#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A library-only build, as a project that needs just the codec makes it:
# every program, test and bench off, a static libnubocodec.a, and CLI11,
# FLTK, X11 and GoogleTest made unfindable, so that the configuration fails
# if anything still asks for them. Installed to a scratch prefix and checked
# with check_installed_tree.sh.
# Usage: library_only_test.sh SOURCE_DIR WORK_DIR VERSION C_COMPILER CXX_COMPILER
set -euo pipefail
source_dir=$1
work=$2
version=$3
rm -rf "$work"
mkdir -p "$work"
log=$work/build.log
if ! {
  cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER="$4" -DCMAKE_CXX_COMPILER="$5" \
    -DBUILD_SHARED_LIBS=OFF -DNUBO_BUILD_CLI=OFF -DNUBO_BUILD_GUI=OFF -DNUBO_BUILD_TESTS=OFF \
    -DNUBO_BUILD_BENCH=OFF -DNUBO_BUILD_FUZZ=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DCMAKE_DISABLE_FIND_PACKAGE_FLTK=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON &&
    cmake --build "$work/build" &&
    cmake --install "$work/build" --prefix "$work/prefix"
} >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  exit 1
fi
# Only the codec was compiled.
built=$(grep -c 'Building C' "$log" || true)
if grep 'Building C' "$log" | grep -v ' codec/'; then
  echo "FAIL: a library-only build compiled more than the codec" >&2
  exit 1
fi
echo "library-only build: $built compiled units, all of the codec"
exec bash "$(dirname "$0")/check_installed_tree.sh" --work "$work/check" --version "$version" --static \
  --no-leak "$work/build" --no-leak "$source_dir" "$work/prefix"
