#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Two builds of this source tree in different directories must give the same
# Debian packages, byte for byte: the packages are built twice with
# `dpkg-buildpackage -b` (scripts/build-debs.sh), from copies of the source
# in directories of different names and depths, and every .deb of the one
# is compared with its namesake of the other (the -dbgsym packages too). When
# they differ, the contents are compared file by file to say where. No file
# in the packages may name either copy of the source.
# The environment passes through to both builds (DEB_BUILD_OPTIONS,
# NUBO_MAINTAINER).
# Usage: scripts/check-reproducible.sh [--keep DIR] [WORK_DIR]
#   --keep DIR   move the first build's packages, .changes and .buildinfo to
#                DIR (for scripts/check-debs.sh --debs DIR)
#   WORK_DIR     default: a new directory in /tmp
set -euo pipefail
cd "$(dirname "$0")/.."

keep=""
if [[ ${1:-} == --keep ]]; then
  keep=${2:?--keep needs a directory}
  shift 2
fi
work=${1:-$(mktemp -d /tmp/nubo-reproducible.XXXXXX)}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

build_a=$work/a
build_b=$work/second/build-of-the-same-source
for build in "$build_a" "$build_b"; do
  scripts/build-debs.sh "$build" >/dev/null
done

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

debs=()
for deb in "$build_a"/*.deb; do debs+=("$(basename "$deb")"); done
diff <(cd "$build_a" && ls -- *.deb) <(cd "$build_b" && ls -- *.deb) >"$work/names.diff" ||
  fail "the two builds made different packages: $(cat "$work/names.diff")"
for name in "${debs[@]}"; do
  a=$build_a/$name b=$build_b/$name
  [[ -f $b ]] || continue
  cmp -s "$a" "$b" && continue
  fail "$name differs between the builds"
  dpkg-deb -R "$a" "$work/x/a/$name"
  dpkg-deb -R "$b" "$work/x/b/$name"
  diff -r --no-dereference "$work/x/a/$name" "$work/x/b/$name" >&2 || true
done
for build in "$build_a" "$build_b"; do
  for deb in "$build"/*.deb; do
    mkdir -p "$work/contents"
    dpkg-deb -x "$deb" "$work/contents"
  done
done
for dir in "$build_a" "$build_b"; do
  if hits=$(grep -rlF -- "$dir" "$work/contents"); then
    fail "packaged files name $dir: $hits"
  fi
  while IFS= read -r -d '' gz; do
    # (grep reads it all: -q ending the pipe early would fail it under pipefail)
    if zcat "$gz" | grep -F -- "$dir" >/dev/null; then fail "$gz names $dir"; fi
  done < <(find "$work/contents" -name '*.gz' -type f -print0)
done

if ((failures)); then
  echo "$failures check(s) failed; the builds are in $work" >&2
  exit 1
fi
echo "reproducible: two builds in different directories made the same ${#debs[@]} packages, byte for byte"
if [[ -n $keep ]]; then
  mkdir -p "$keep"
  mv "$build_a"/*.deb "$build_a"/*.changes "$build_a"/*.buildinfo "$keep/"
fi
rm -rf "$work"
