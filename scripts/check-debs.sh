#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Debian packages as a build daemon makes them and a user gets them:
# built with `dpkg-buildpackage -us -uc -b` (scripts/build-debs.sh), linted
# (lintian: no error and no warning; the info and pedantic tags are listed),
# and their names, contents, fields, dependencies, symbols and triggers
# checked. Then, as root with NUBO_TEST_INSTALL_DEBS=1 (.ci/run sets it),
# they are installed with `apt-get install ./*.deb`, used (a WAVE file
# encoded and decoded back, the bundled example upgraded and tested, a C
# program built against the library, NUBOCONV --version; the .NAB file
# through gst-discoverer-1.0 and a gst-launch-1.0 pipeline, and read by
# `import nubo` in python3) and purged, and the purge must leave none of
# their files behind.
#
# Usage: scripts/check-debs.sh [--debs DIR [--maintainer VALUE]]
#   --debs DIR          check the packages already built in DIR (by
#                       build-debs.sh) instead of building them
#   --maintainer VALUE  the NUBO_MAINTAINER they were built with, checked in
#                       their Maintainer fields (a build of this script's own
#                       is given one and checked)
# The install part needs build/release/bin/make_old_nab (built when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

debs="" maintainer=""
while (($#)); do
  case $1 in
    --debs) debs=$2; shift 2 ;;
    --maintainer) maintainer=$2; shift 2 ;;
    *) echo "usage: scripts/check-debs.sh [--debs DIR [--maintainer VALUE]]" >&2; exit 2 ;;
  esac
done

version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
packages=(libnubocodec1 libnubocodec-dev nubo nuboconv gstreamer1.0-nubo python3-nubo)
# The Python module's extension carries the ABI tag of the build's python3.
python_ext=$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
python_dir=/usr/lib/python3/dist-packages/nubo
work=$(mktemp -d /tmp/nubo-debs.XXXXXX)
chmod 755 "$work"  # apt reads the packages as its own user

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# --- built the Debian way ---------------------------------------------------------
if [[ -z $debs ]]; then
  # The Maintainer field is a build setting (debian/rules): checked below.
  maintainer="nubo package test <package-test@nubo.invalid>"
  NUBO_MAINTAINER=$maintainer DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" scripts/build-debs.sh "$work/build"
  debs=$work/build
fi
debs=$(cd "$debs" && pwd)

echo "-- lintian"
changes=$debs/nubo_${version}_${arch}.changes
[[ -f $changes ]] || { echo "FAIL: no $changes" >&2; exit 1; }
if lintian --info --display-info --pedantic --fail-on error,warning "$changes" >"$work/lintian.log" 2>&1; then
  tags=$(grep -E '^[IP]:' "$work/lintian.log" | sort -u || true)
  echo "lintian: no error, no warning; info and pedantic tags: ${tags:-none}"
else
  fail "lintian reports errors or warnings: $(grep -E '^[EW]:' "$work/lintian.log" || cat "$work/lintian.log")"
fi

for p in "${packages[@]}"; do
  deb=$debs/${p}_${version}_${arch}.deb
  if [[ ! -f $deb ]]; then
    fail "no package $deb"
    continue
  fi
  cp "$deb" "$work/"
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' | grep -v '/$' | grep -v "^/usr/share/doc/$p/" |
    grep -v "^/usr/share/lintian/overrides/$p\$" >"$work/$p.files"
  dpkg-deb -f "$deb" Depends >"$work/$p.depends" || true
  mkdir -p "$work/control/$p"
  dpkg-deb -e "$deb" "$work/control/$p"
  dpkg-deb -x "$deb" "$work/contents"
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$p is at version $(dpkg-deb -f "$deb" Version)"
  if [[ -n $maintainer ]]; then
    [[ $(dpkg-deb -f "$deb" Maintainer) == "$maintainer" ]] ||
      fail "$p's Maintainer is '$(dpkg-deb -f "$deb" Maintainer)', not the one the build was given"
  fi
  doc=$work/contents/usr/share/doc/$p
  head -n 1 "$doc/copyright" 2>/dev/null | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "$p has no machine-readable copyright file"
  grep -q '^License: BSD-3-Clause$' "$doc/copyright" 2>/dev/null || fail "$p's copyright names no BSD-3-Clause licence"
  [[ -f $doc/changelog.Debian.gz ]] || fail "$p has no changelog.Debian.gz"
  # ldconfig runs by trigger, never from a maintainer script of ours.
  if grep -ls ldconfig "$work/control/$p"/{preinst,postinst,prerm,postrm} 2>/dev/null; then
    fail "$p calls ldconfig from a maintainer script"
  fi
done

lib=/usr/lib/$multiarch
expect_files() {
  local p=$1
  shift
  diff <(printf '%s\n' "$@" | sort) <(sort "$work/$p.files") >"$work/$p.diff" ||
    fail "$p holds other files than expected: $(cat "$work/$p.diff")"
}
expect_files libnubocodec1 "$lib/libnubocodec.so.1" "$lib/libnubocodec.so.$upstream"
expect_files libnubocodec-dev /usr/include/nubocodec.h "$lib/libnubocodec.so" "$lib/pkgconfig/nubocodec.pc" \
  "$lib/cmake/nubocodec/nubocodec-config.cmake" "$lib/cmake/nubocodec/nubocodec-config-version.cmake" \
  "$lib/cmake/nubocodec/nubocodecTargets.cmake" "$lib/cmake/nubocodec/nubocodecTargets-none.cmake"
expect_files nubo /usr/bin/nubo /usr/share/nubo/NUBOCONV.h /usr/share/nubo/NUBOCONV.h01 /usr/share/man/man1/nubo.1.gz \
  /usr/share/bash-completion/completions/nubo
icons=(/usr/share/icons/hicolor/scalable/apps/nuboconv.svg)
for size in 16 24 32 48 64 128 256; do icons+=("/usr/share/icons/hicolor/${size}x$size/apps/nuboconv.png"); done
expect_files nuboconv /usr/bin/NUBOCONV /usr/share/man/man1/NUBOCONV.1.gz /usr/share/applications/nuboconv.desktop \
  /usr/share/mime/packages/nubo.xml "${icons[@]}"
expect_files gstreamer1.0-nubo "$lib/gstreamer-1.0/libgstnubo.so"
expect_files python3-nubo "$python_dir/__init__.py" "$python_dir/_nubo$python_ext"

field() { dpkg-deb -f "$debs/${1}_${version}_${arch}.deb" "$2"; }
[[ $(field libnubocodec1 Multi-Arch) == same ]] || fail "libnubocodec1 is not Multi-Arch: same"
[[ $(field libnubocodec-dev Multi-Arch) == same ]] || fail "libnubocodec-dev is not Multi-Arch: same"
depends_on() { grep -qE "(^|, )$2( |,|$)" "$work/$1.depends" || fail "$1 does not depend on $2: $(cat "$work/$1.depends")"; }
depends_on libnubocodec1 libc6
depends_on libnubocodec-dev "libnubocodec1 \(= $version\)"
depends_on nubo "libnubocodec1 \(>= $upstream\)"
depends_on nuboconv "nubo \(= $version\)"
depends_on nuboconv libfltk1.3
[[ $(field gstreamer1.0-nubo Multi-Arch) == same ]] || fail "gstreamer1.0-nubo is not Multi-Arch: same"
depends_on gstreamer1.0-nubo "libnubocodec1 \(>= $upstream\)"
depends_on gstreamer1.0-nubo libgstreamer1.0-0
depends_on gstreamer1.0-nubo libgstreamer-plugins-base1.0-0
# What a codec installer looks up to offer the plug-in for a .NAB file
# (debian/control's XB-GStreamer-* fields, as the binary package has them).
field gstreamer1.0-nubo Gstreamer-Decoders | grep -q 'audio/x-nab' ||
  fail "gstreamer1.0-nubo's Gstreamer-Decoders: '$(field gstreamer1.0-nubo Gstreamer-Decoders)'"
field gstreamer1.0-nubo Gstreamer-Elements | grep -qw nubodec ||
  fail "gstreamer1.0-nubo's Gstreamer-Elements: '$(field gstreamer1.0-nubo Gstreamer-Elements)'"
depends_on python3-nubo "libnubocodec1 \(>= $upstream\)"
depends_on python3-nubo python3-numpy
# ${python3:Depends}: the Python versions the extension was built for.
python_version=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
depends_on python3-nubo "python3 \(>= $python_version~\)"
# The C++ runtime is the system's, a dependency like any library; the codec
# library needs nothing but the C library.
for p in nubo nuboconv gstreamer1.0-nubo python3-nubo; do
  depends_on "$p" libstdc\\+\\+6
  [[ $p == nubo || $p == nuboconv ]] || continue
  depends_on "$p" libflac12
  depends_on "$p" libnettle8
done
if grep -q 'libstdc' "$work/libnubocodec1.depends"; then fail "libnubocodec1 depends on the C++ runtime"; fi
# The window's libraries stay out of the command-line tool's package.
if grep -q fltk "$work/nubo.depends"; then fail "nubo depends on FLTK: $(cat "$work/nubo.depends")"; fi

# The library's one exported function, in its symbols file; the ldconfig trigger.
control=$work/control/libnubocodec1
grep -qx ' NuboWaveConvert@Base [0-9.]*' "$control/symbols" 2>/dev/null || fail "libnubocodec1's symbols: $(cat "$control/symbols")"
[[ $(grep -c '^ ' "$control/symbols") == 1 ]] || fail "libnubocodec1's symbols file lists more than NuboWaveConvert"
grep -qx 'libnubocodec 1 libnubocodec1 (>= [0-9.]*)' "$control/shlibs" || fail "libnubocodec1's shlibs: $(cat "$control/shlibs")"
grep -qx 'activate-noawait ldconfig' "$control/triggers" 2>/dev/null || fail "libnubocodec1 has no ldconfig trigger"

# The distribution's hardening: FORTIFY functions, PIE, full RELRO with BIND_NOW.
# (Each tool's output is read whole: grep -q ending a pipe early would fail it under pipefail.)
for elf in usr/bin/nubo usr/bin/NUBOCONV "${lib#/}/libnubocodec.so.$upstream" "${lib#/}/gstreamer-1.0/libgstnubo.so" \
  "${python_dir#/}/_nubo$python_ext"; do
  f=$work/contents/$elf
  [[ -f $f ]] || continue
  dynamic=$(readelf -d "$f") program_headers=$(readelf -l "$f")
  grep -q '(FLAGS).*BIND_NOW' <<<"$dynamic" || fail "$elf is not linked with BIND_NOW"
  grep -q GNU_RELRO <<<"$program_headers" || fail "$elf has no RELRO segment"
done
for elf in usr/bin/nubo usr/bin/NUBOCONV; do
  header=$(readelf -h "$work/contents/$elf") imports=$(nm -D "$work/contents/$elf")
  grep -q 'Type:.*DYN' <<<"$header" || fail "$elf is not a position-independent executable"
  grep -q '__[a-z]*_chk@' <<<"$imports" || fail "$elf calls no FORTIFY function"
done

for dir in "$source_dir" "$debs"; do
  if hits=$(grep -rlF -- "$dir" "$work/contents"); then
    fail "packaged files name $dir: $hits"
  fi
done

# --- installed, used and purged ---------------------------------------------------
if [[ ${NUBO_TEST_INSTALL_DEBS:-} != 1 || $(id -u) -ne 0 ]]; then
  echo "SKIPPED: installing the packages into this system with apt-get; that runs as root"
  echo "         with NUBO_TEST_INSTALL_DEBS=1 (as .ci/run does)."
  if ((failures)); then
    echo "$failures check(s) failed; the packages are in $work" >&2
    exit 1
  fi
  echo "Debian packages OK: ${packages[*]} built, linted and checked"
  rm -rf "$work"
  exit 0
fi

# One installing run at a time on this system, and dpkg's own lock waited for.
exec 9>/var/lock/nubo-check-debs.lock
flock 9
installed_before=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && installed_before+=("$p")
done
purged=0
purge() {
  apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "${packages[@]}" >"$work/purge.log" 2>&1
}
cleanup() { ((purged || ${#installed_before[@]})) || purge || true; }
trap cleanup EXIT

echo "-- apt-get install ./*.deb"
local_debs=()
for p in "${packages[@]}"; do local_debs+=("./${p}_${version}_${arch}.deb"); done
if ! (cd "$work" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  -o DPkg::Lock::Timeout=300 "${local_debs[@]}") >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  exit 1
fi
for p in "${packages[@]}"; do
  [[ $(dpkg-query -W -f='${Status} ${Version}' "$p") == "install ok installed $version" ]] ||
    fail "$p is not installed at $version"
done
[[ $(command -v nubo) == /usr/bin/nubo ]] || fail "nubo on the PATH is $(command -v nubo)"
[[ $(nubo --version) == "nubo $upstream" ]] || fail "nubo --version says '$(nubo --version)'"
[[ $(NUBOCONV --version) == "NUBOCONV $upstream" ]] || fail "NUBOCONV --version says '$(NUBOCONV --version 2>&1)'"

echo "-- a WAVE file encoded and decoded by the installed nubo"
use=$work/use
mkdir -p "$use"
sox -R -D -n -r 44100 -b 16 -c 2 "$use/take.wav" synth 1.5 sine 440 sine 660 gain -6 2>"$work/sox.log" ||
  fail "sox: $(cat "$work/sox.log")"
if nubo encode "$use/take.wav" -o "$use/TAKE.NAB" >"$work/encode.out" 2>&1 &&
  nubo decode "$use/TAKE.NAB" -o "$use/back.wav" >"$work/decode.out" 2>&1; then
  cmp -s "$use/take.wav" "$use/back.wav" || fail "take.wav encoded and decoded does not come back the same"
else
  fail "nubo encode/decode: $(cat "$work/encode.out" "$work/decode.out" 2>/dev/null)"
fi

if [[ ! -x build/release/bin/make_old_nab ]]; then
  cmake --preset release >/dev/null && cmake --build --preset release --target make_old_nab >/dev/null
fi
bash tests/install/check_installed_tree.sh --system --version "$upstream" --libdir "lib/$multiarch" \
  --programs --gui --tools build/release/bin --work "$work/check" /usr || failures=$((failures + 1))

echo "-- the .NAB file through GStreamer and Python"
# The installed plug-in alone, found where GStreamer looks (a registry of this run's own).
if [[ -f $use/TAKE.NAB && -f $use/back.wav ]]; then
  (
    failures=0  # this part's own, added to the run's below
    unset GST_PLUGIN_PATH GST_PLUGIN_PATH_1_0 GST_PLUGIN_SYSTEM_PATH GST_PLUGIN_SYSTEM_PATH_1_0 PYTHONPATH
    export GST_REGISTRY=$work/gst-registry.bin
    cd "$use"
    # 1.5 s at 44100 Hz: 66150 frames.
    gst-discoverer-1.0 TAKE.NAB >"$work/discover.txt" 2>&1 || fail "gst-discoverer-1.0 TAKE.NAB: $(cat "$work/discover.txt")"
    grep -q 'Duration: 0:00:01.500000000' "$work/discover.txt" ||
      fail "gst-discoverer-1.0 gives another duration: $(grep -i duration "$work/discover.txt")"
    if gst-launch-1.0 -q filesrc location=TAKE.NAB ! decodebin ! audioconvert ! wavenc ! filesink location=gst.wav \
      >"$work/gst.txt" 2>&1; then
      cmp -s <(sox back.wav -t raw -) <(sox gst.wav -t raw -) || fail "GStreamer's audio of TAKE.NAB is not nubo decode's"
    else
      fail "gst-launch-1.0 on TAKE.NAB: $(cat "$work/gst.txt")"
    fi
    sox back.wav -t raw back.raw
    if ! /usr/bin/python3 - TAKE.NAB back.raw >"$work/python.txt" 2>&1 <<'PYTHON'; then
import sys
import nubo
assert nubo.__file__.startswith("/usr/lib/python3/dist-packages/nubo/"), nubo.__file__
samples, rate = nubo.read(sys.argv[1])
assert rate == 44100 and samples.shape == (66150, 2) and samples.dtype == "int16", (rate, samples.shape, samples.dtype)
assert samples.tobytes() == open(sys.argv[2], "rb").read(), "not the audio of nubo decode"
nubo.write("copy.NAB", samples, rate)
again, _ = nubo.read("copy.NAB")
assert (again == samples).all(), "nubo.write and nubo.read do not give the samples back"
PYTHON
      fail "python3 with the installed nubo module: $(cat "$work/python.txt")"
    fi
    exit "$failures"
  ) || failures=$((failures + $?))
else
  fail "no TAKE.NAB to play and read"
fi

echo "-- apt-get purge"
if ((${#installed_before[@]})); then
  echo "(the packages were installed before this test: left installed)"
else
  purge || fail "apt-get purge: $(cat "$work/purge.log")"
  purged=1
  for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q " installed"; then fail "$p is still installed after the purge"; fi
  done
  leftovers=()
  for f in $(cat "$work"/*.files) /usr/share/nubo /usr/bin/NUBOCONV.ini /usr/share/doc/nubo "$python_dir"; do
    [[ -e $f || -L $f ]] && leftovers+=("$f")
  done
  ((${#leftovers[@]} == 0)) || fail "left behind by the purge: ${leftovers[*]}"
fi

if ((failures)); then
  echo "$failures check(s) failed; the packages are in $work" >&2
  exit 1
fi
echo "Debian packages OK: ${packages[*]} built, linted, installed, used and purged"
rm -rf "$work"
