#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds the Debian packages the Debian way, `dpkg-buildpackage -us -uc -b`,
# from a copy of this source tree in WORK_DIR/nubo-VERSION, so that the
# checkout gets no build directory of debhelper's and no packages beside it.
# The packages (libnubocodec1, libnubocodec-dev, nubo, nuboconv, their
# -dbgsym packages) and the .changes and .buildinfo files land in WORK_DIR.
# The copy holds the files git knows of and new ones it does not ignore (all
# files but build/ outside a git checkout). The environment passes through:
# DEB_BUILD_OPTIONS=nocheck leaves the unit tests out, NUBO_MAINTAINER sets
# the packages' Maintainer field (debian/rules).
# Usage: scripts/build-debs.sh WORK_DIR   (the build's output: WORK_DIR/build.log)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:?usage: scripts/build-debs.sh WORK_DIR}
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
cmake_version=$(sed -n 's/^project(nubo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [[ $upstream != "$cmake_version" ]]; then
  echo "debian/changelog is at $version, but the project's version is $cmake_version" >&2
  exit 1
fi

mkdir -p "$work"
copy=$work/nubo-$upstream
rm -rf "$copy"
mkdir -p "$copy"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [[ -e $f || -L $f ]] && printf '%s\0' "$f"; done |
    tar -cf - --null -T - | tar -xf - -C "$copy"
else
  tar -cf - --exclude=./build . | tar -xf - -C "$copy"
fi

echo "-- dpkg-buildpackage -us -uc -b in $copy"
if ! (cd "$copy" && dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log" >&2
  echo "dpkg-buildpackage failed; the whole output is in $work/build.log" >&2
  exit 1
fi
ls "$work"/*.deb
