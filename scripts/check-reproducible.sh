#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Two builds of this source tree in different directories must install the
# same files, byte for byte: the configuration of the Debian packages (the
# preset "deb": release, /usr) is built twice, in directories of different
# names and depths, each installed with DESTDIR, and the two trees compared
# (names, kinds, permissions, link targets, contents). No installed file may
# name the source directory or either build directory.
# Usage: scripts/check-reproducible.sh [WORK_DIR]   (default: a new directory in /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
work=${1:-$(mktemp -d /tmp/nubo-reproducible.XXXXXX)}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
jobs=$(nproc)

build_a=$work/a
build_b=$work/second/build-of-the-same-source
for build in "$build_a" "$build_b"; do
  echo "-- building in $build"
  cmake --preset deb -B "$build" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; exit 1; }
  DESTDIR="$build.installed" cmake --install "$build" >/dev/null
done
tree_a=$build_a.installed
tree_b=$build_b.installed

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

listing() { (cd "$1" && find . -printf '%y %m %p -> %l\n' | LC_ALL=C sort); }
if ! diff <(listing "$tree_a") <(listing "$tree_b") >"$work/listing.diff"; then
  fail "the two installs hold different files: $(cat "$work/listing.diff")"
fi
if ! diff -r --no-dereference "$tree_a" "$tree_b" >"$work/content.diff" 2>&1; then
  fail "installed files differ between the builds: $(cat "$work/content.diff")"
fi
for tree in "$tree_a" "$tree_b"; do
  for dir in "$source_dir" "$build_a" "$build_b"; do
    if hits=$(grep -rlF -- "$dir" "$tree"); then
      fail "installed files name $dir: $hits"
    fi
    while IFS= read -r -d '' gz; do
      zcat "$gz" | grep -qF -- "$dir" && fail "$gz names $dir"
    done < <(find "$tree" -name '*.gz' -type f -print0)
  done
done

files=$(find "$tree_a" -type f | wc -l)
if ((failures)); then
  echo "$failures check(s) failed; the builds are in $work" >&2
  exit 1
fi
echo "reproducible: two builds in different directories installed the same $files files"
rm -rf "$work"
