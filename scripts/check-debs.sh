#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Debian packages as a user gets them: `cmake --workflow --preset deb`
# builds libnubocodec1, libnubocodec-dev, nubo and nuboconv (build/deb/packages/);
# their names, contents and dependencies are checked; then they are installed
# with `apt-get install ./*.deb`, and the installed system is checked:
# `nubo --version`, `nubo test` on the bundled example, and a C program from
# outside built against /usr with pkg-config and with CMake
# (tests/install/check_installed_tree.sh). Packages that were not installed
# before are removed again at the end.
#
# This installs packages into the running system, so it runs only when asked:
# as root and with NUBO_TEST_INSTALL_DEBS=1 (.ci/run sets it). Otherwise it
# says so and succeeds without doing anything.
# Usage: scripts/check-debs.sh   (needs build/release/bin/make_old_nab for the example)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

if [[ ${NUBO_TEST_INSTALL_DEBS:-} != 1 || $(id -u) -ne 0 ]]; then
  echo "SKIPPED: the Debian package test installs packages into this system with apt-get;"
  echo "         it runs as root with NUBO_TEST_INSTALL_DEBS=1 (as .ci/run does)."
  exit 0
fi

version=$(sed -n 's/^project(nubo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
packages=(libnubocodec1 libnubocodec-dev nubo nuboconv)
build=build/deb
debs=$build/packages
work=$(mktemp -d /tmp/nubo-debs.XXXXXX)
chmod 755 "$work"  # apt reads the packages as its own user

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

echo "-- cmake --workflow --preset deb"
rm -rf "$debs"
if ! cmake --workflow --preset deb --fresh >"$work/workflow.log" 2>&1; then
  tail -n 40 "$work/workflow.log" >&2
  exit 1
fi

# --- the packages ---------------------------------------------------------------
for p in "${packages[@]}"; do
  deb=$debs/${p}_${version}-1_${arch}.deb
  if [[ ! -f $deb ]]; then
    fail "no package $deb (made: $(ls "$debs"))"
    continue
  fi
  cp "$deb" "$work/"
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' | grep -v '/$' >"$work/$p.files"
  dpkg-deb -f "$deb" Depends >"$work/$p.depends" || true
  dpkg-deb -x "$deb" "$work/contents"
done
lib=/usr/lib/$multiarch
expect_files() {
  local p=$1
  shift
  diff <(printf '%s\n' "$@" | sort) <(sort "$work/$p.files") >"$work/$p.diff" ||
    fail "$p holds other files than expected: $(cat "$work/$p.diff")"
}
expect_files libnubocodec1 "$lib/libnubocodec.so.1" "$lib/libnubocodec.so.$version"
expect_files libnubocodec-dev /usr/include/nubocodec.h "$lib/libnubocodec.so" "$lib/pkgconfig/nubocodec.pc" \
  "$lib/cmake/nubocodec/nubocodec-config.cmake" "$lib/cmake/nubocodec/nubocodec-config-version.cmake" \
  "$lib/cmake/nubocodec/nubocodecTargets.cmake" "$lib/cmake/nubocodec/nubocodecTargets-release.cmake"
expect_files nubo /usr/bin/nubo /usr/share/nubo/NUBOCONV.h /usr/share/nubo/NUBOCONV.h01 /usr/share/man/man1/nubo.1.gz
expect_files nuboconv /usr/bin/NUBOCONV /usr/share/man/man1/NUBOCONV.1.gz
depends_on() { grep -qE "(^|, )$2( |,|$)" "$work/$1.depends" || fail "$1 does not depend on $2: $(cat "$work/$1.depends")"; }
depends_on libnubocodec1 libc6
depends_on libnubocodec-dev "libnubocodec1 \(= $version-1\)"
depends_on nubo "libnubocodec1 \(= $version-1\)"
depends_on nuboconv "libnubocodec1 \(= $version-1\)"
depends_on nuboconv "nubo \(= $version-1\)"
depends_on nuboconv libfltk1.3
# The window's libraries stay out of the command-line tool's package.
grep -q fltk "$work/nubo.depends" && fail "nubo depends on FLTK: $(cat "$work/nubo.depends")"
# Packages built against the library get a dependency on it from its shlibs file.
dpkg-deb --ctrl-tarfile "$debs/libnubocodec1_${version}-1_${arch}.deb" | tar -xO ./shlibs >"$work/shlibs" 2>/dev/null ||
  fail "libnubocodec1 has no shlibs file"
grep -qE "^libnubocodec 1 libnubocodec1 \(>= $version(-1)?\)$" "$work/shlibs" || fail "libnubocodec1's shlibs: $(cat "$work/shlibs")"
for dir in "$source_dir" "$(cd "$build" && pwd)"; do
  if hits=$(grep -rlF -- "$dir" "$work/contents"); then
    fail "packaged files name $dir: $hits"
  fi
done

# --- installed ------------------------------------------------------------------
# One installing run at a time on this system, and dpkg's own lock waited for.
exec 9>/var/lock/nubo-check-debs.lock
flock 9
installed_before=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && installed_before+=("$p")
done
remove() {
  if ((${#installed_before[@]} == 0)); then
    apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "${packages[@]}" >/dev/null 2>&1 || true
  fi
}
trap remove EXIT

echo "-- apt-get install ./*.deb"
if ! (cd "$work" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  -o DPkg::Lock::Timeout=300 ./*.deb) >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  exit 1
fi
for p in "${packages[@]}"; do
  [[ $(dpkg-query -W -f='${Status} ${Version}' "$p") == "install ok installed $version-1" ]] ||
    fail "$p is not installed at $version-1"
done
[[ $(command -v nubo) == /usr/bin/nubo ]] || fail "nubo on the PATH is $(command -v nubo)"
[[ $(nubo --version) == "nubo $version" ]] || fail "nubo --version says '$(nubo --version)'"

if [[ ! -x build/release/bin/make_old_nab ]]; then
  cmake --preset release >/dev/null && cmake --build --preset release --target make_old_nab >/dev/null
fi
bash tests/install/check_installed_tree.sh --system --version "$version" --libdir "lib/$multiarch" \
  --programs --gui --tools build/release/bin --work "$work/check" /usr || failures=$((failures + 1))

if ((failures)); then
  echo "$failures check(s) failed; the packages are in $work" >&2
  exit 1
fi
echo "Debian packages OK: ${packages[*]} built, installed and checked"
rm -rf "$work"
