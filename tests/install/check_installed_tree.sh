#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Checks an installed nubo as a downstream developer and a user meet it: the
# layout (library, header, pkg-config and CMake files, programs, data files,
# man pages), the run paths, the library's one exported symbol, the programs
# running from the installed tree, and a small C program from outside the
# source tree (external/) built against the installed library both with
# pkg-config and with find_package(nubocodec CONFIG).
#
# Usage: check_installed_tree.sh [options] PREFIX
#   --libdir DIR     library directory below PREFIX (default: lib)
#   --work DIR       scratch directory (required; emptied first)
#   --version V      the project version the tree must carry (required)
#   --system         PREFIX is the system's own (/usr): pkg-config and CMake are
#                    used without search paths, programs must carry no run path
#   --static         a static libnubocodec.a instead of the shared library
#   --programs       nubo, its data files and man page must be installed
#   --gui            NUBOCONV and its man page too
#   --tools DIR      build tree bin/ with make_old_nab, for the bundled example
#   --no-leak DIR    no installed file may contain the text DIR (repeatable)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

libdir=lib work="" version="" system=0 static=0 programs=0 gui=0 tools="" leaks=()
while (($#)); do
  case $1 in
    --libdir) libdir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --system) system=1; shift ;;
    --static) static=1; shift ;;
    --programs) programs=1; shift ;;
    --gui) gui=1; shift ;;
    --tools) tools=$2; shift 2 ;;
    --no-leak) leaks+=("$2"); shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
prefix=${1:?usage: check_installed_tree.sh [options] PREFIX}
[[ -n $work && -n $version ]] || { echo "--work and --version are required" >&2; exit 2; }
prefix=$(cd "$prefix" && pwd) || exit 1
lib=$prefix/$libdir
major=${version%%.*}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
need_file() { [[ -f $1 ]] || fail "missing $1"; }
need_absent() { [[ ! -e $1 && ! -L $1 ]] || fail "$1 should not be installed"; }
# The run path of an ELF file ("" when it has none).
run_path() { readelf -d "$1" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p'; }
same_path() { [[ $(realpath -m "$1") == $(realpath -m "$2") ]]; }
# The file that the loader takes for libnubocodec.so.N in PROGRAM (run with
# the environment given before it), "" when none.
loaded_codec() { env "$@" 2>/dev/null | sed -n 's/.*libnubocodec\.so\.[0-9]* => \([^ ]*\) .*/\1/p'; }

echo "== checking the installed tree $prefix (lib: $libdir)"

# --- the library ---------------------------------------------------------------
need_file "$prefix/include/nubocodec.h"
grep -q "^#define NUBOCODEC_VERSION_STRING \"$version\"" "$prefix/include/nubocodec.h" ||
  fail "the installed header does not carry version $version"
need_file "$lib/pkgconfig/nubocodec.pc"
need_file "$lib/cmake/nubocodec/nubocodec-config.cmake"
need_file "$lib/cmake/nubocodec/nubocodec-config-version.cmake"
if ((static)); then
  need_file "$lib/libnubocodec.a"
  need_absent "$lib/libnubocodec.so"
  # Internals are C++ names in namespace nubo; the one C name is the call.
  globals=$(nm -g --defined-only "$lib/libnubocodec.a" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u)
  grep -qx NuboWaveConvert <<<"$globals" || fail "libnubocodec.a does not define NuboWaveConvert"
  others=$(grep -v -e '^_Z' -e '^NuboWaveConvert$' <<<"$globals")
  [[ -z $others ]] || fail "libnubocodec.a defines other C symbols: $others"
else
  need_file "$lib/libnubocodec.so.$version"
  [[ $(readlink "$lib/libnubocodec.so.$major") == "libnubocodec.so.$version" ]] ||
    fail "libnubocodec.so.$major does not link to libnubocodec.so.$version"
  [[ $(readlink "$lib/libnubocodec.so") == "libnubocodec.so.$major" ]] ||
    fail "libnubocodec.so does not link to libnubocodec.so.$major"
  so=$lib/libnubocodec.so.$version
  [[ -z $(run_path "$so") ]] || fail "the library carries a run path: $(run_path "$so")"
  readelf -d "$so" | grep -q "(SONAME).*\[libnubocodec.so.$major\]" || fail "the library's SONAME is not libnubocodec.so.$major"
  exports=$(nm -D --defined-only "$so" | awk '{ print $NF }' | tr '\n' ' ')
  [[ $exports == "NuboWaveConvert " ]] || fail "the library exports: $exports"
  needed=$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  [[ $needed == "libc.so.6 " ]] || fail "the library needs more than the C library: $needed"
fi

# --- a program from outside, with pkg-config -----------------------------------
echo "-- pkg-config"
external=$here/external
if ((system)); then
  pc=(env -u PKG_CONFIG_PATH -u PKG_CONFIG_LIBDIR pkg-config)
else
  pc=(env PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config)
fi
if ! "${pc[@]}" --exists nubocodec; then
  fail "pkg-config does not find nubocodec"
else
  [[ $("${pc[@]}" --modversion nubocodec) == "$version" ]] || fail "pkg-config --modversion: $("${pc[@]}" --modversion nubocodec)"
  same_path "$("${pc[@]}" --variable=includedir nubocodec)" "$prefix/include" ||
    fail "pkg-config names the header directory $("${pc[@]}" --variable=includedir nubocodec)"
  same_path "$("${pc[@]}" --variable=libdir nubocodec)" "$lib" ||
    fail "pkg-config names the library directory $("${pc[@]}" --variable=libdir nubocodec)"
  read -r cflags < <("${pc[@]}" --cflags nubocodec) || true
  read -r libs < <("${pc[@]}" --libs nubocodec) || true
  # The system's own directories are left to the compiler.
  if ((system)) && [[ $cflags != "" || $libs != "-lnubocodec" ]]; then
    fail "pkg-config gives '$cflags' '$libs' for a library in the system's directories"
  fi
  mkdir -p "$work/pkg-config"
  # shellcheck disable=SC2086 # the flags are words
  if ! cc -std=c11 -Wall -Wextra -Werror $cflags "$external/uses_nubocodec.c" -o "$work/pkg-config/uses_nubocodec" $libs \
    2>"$work/pkg-config/cc.log"; then
    fail "the external program does not build with pkg-config: $(cat "$work/pkg-config/cc.log")"
  else
    run_env=()
    ((system || static)) || run_env=(LD_LIBRARY_PATH="$lib")
    if ! out=$(env "${run_env[@]}" "$work/pkg-config/uses_nubocodec" "$version"); then
      fail "the external program (pkg-config) fails: $out"
    fi
    [[ $out == "nubocodec $version" ]] || fail "the external program (pkg-config) says '$out'"
    loaded=$(loaded_codec "${run_env[@]}" ldd "$work/pkg-config/uses_nubocodec")
    if ((static)); then
      [[ -z $loaded ]] || fail "a program linked with the static library loads $loaded"
    else
      same_path "$loaded" "$lib/libnubocodec.so.$major" || fail "the external program (pkg-config) loads '$loaded'"
    fi
  fi
fi

# --- the same with CMake --------------------------------------------------------
echo "-- find_package(nubocodec CONFIG)"
cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
((system)) || cmake_args+=(-DCMAKE_PREFIX_PATH="$prefix")
if ! cmake -S "$external" -B "$work/cmake" "${cmake_args[@]}" -DNUBOCODEC_WANTED="${version%.*}" \
  >"$work/cmake.log" 2>&1; then
  fail "find_package(nubocodec ${version%.*} CONFIG) fails: $(tail -n 20 "$work/cmake.log")"
else
  found=$(sed -n 's/^-- nubocodec \([^ ]*\) from \(.*\)$/\1 \2/p' "$work/cmake.log")
  [[ ${found%% *} == "$version" ]] || fail "find_package found nubocodec '${found%% *}'"
  same_path "${found#* }" "$lib/cmake/nubocodec" || fail "find_package took ${found#* }"
  if ! cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1; then
    fail "the external program does not build with CMake: $(tail -n 20 "$work/cmake.log")"
  else
    # CMake gives the program a run path to the library; nothing else is needed.
    out=$("$work/cmake/uses_nubocodec" "$version") || fail "the external program (CMake) fails: $out"
    [[ $out == "nubocodec $version" ]] || fail "the external program (CMake) says '$out'"
    if ((!static)); then
      loaded=$(loaded_codec ldd "$work/cmake/uses_nubocodec")
      same_path "$loaded" "$lib/libnubocodec.so.$major" || fail "the external program (CMake) loads '$loaded'"
    fi
  fi
fi
# A later major version is a different interface: asking for it must fail.
if cmake -S "$external" -B "$work/cmake-next" "${cmake_args[@]}" -DNUBOCODEC_WANTED=$((major + 1)) \
  >"$work/cmake-next.log" 2>&1; then
  fail "find_package(nubocodec $((major + 1)) CONFIG) accepted version $version"
fi

# --- the desktop: menu entry, icon, MIME type of .NAB files ---------------------
check_desktop() {
  echo "-- desktop entry, icons, MIME type"
  local share=$prefix/share entry=$prefix/share/applications/nuboconv.desktop
  need_file "$entry"
  if command -v desktop-file-validate >/dev/null; then
    [[ -f $entry ]] && { out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"; }
  else
    fail "desktop-file-validate is not installed (Debian package desktop-file-utils)"
  fi
  grep -qx 'Exec=NUBOCONV %f' "$entry" 2>/dev/null || fail "the desktop entry does not pass the opened file to NUBOCONV"
  grep -qx 'Icon=nuboconv' "$entry" 2>/dev/null || fail "the desktop entry names another icon"
  grep -q '^MimeType=.*audio/x-nab;' "$entry" 2>/dev/null || fail "the desktop entry does not open audio/x-nab files"
  need_file "$share/icons/hicolor/scalable/apps/nuboconv.svg"
  local size png
  for size in 16 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/nuboconv.png
    need_file "$png"
    [[ -f $png ]] && ! file "$png" | grep -q "PNG image data, $size x $size," && fail "$png is not a $size x $size PNG"
  done
  local xml=$share/mime/packages/nubo.xml
  need_file "$xml"
  [[ -f $xml ]] || return 0

  # The MIME type as a desktop finds it: the package's XML alone in a data
  # directory of our own (XDG_DATA_HOME), with the system's types after it
  # (XDG_DATA_DIRS), the database made with update-mime-database, and files
  # asked about with xdg-mime: .NAB files by their header whatever their
  # names, WAVE files still WAVE.
  command -v mimetype >/dev/null ||
    fail "mimetype is not installed (libfile-mimeinfo-perl): xdg-mime outside a desktop session would ask file(1)"
  local mime=$work/mime
  mkdir -p "$mime/data/mime/packages" "$mime/files"
  cp "$xml" "$mime/data/mime/packages/"
  update-mime-database "$mime/data/mime" >/dev/null 2>&1 || fail "update-mime-database fails on nubo.xml"
  sox -R -D -n -r 44100 -b 16 -c 2 "$mime/files/take.wav" synth 0.2 sine 440 2>/dev/null || fail "sox failed"
  "$nubo" -q encode "$mime/files/take.wav" -o "$mime/files/TAKE.NAB" || fail "nubo encode for the MIME check failed"
  cp "$mime/files/TAKE.NAB" "$mime/files/take.nab"
  cp "$mime/files/TAKE.NAB" "$mime/files/no-extension"
  cp "$mime/files/TAKE.NAB" "$mime/files/misnamed.wav"
  local f want got
  for f in TAKE.NAB take.nab no-extension misnamed.wav take.wav; do
    want=audio/x-nab
    [[ $f == take.wav ]] && want=audio/x-wav
    got=$(cd "$mime/files" && env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_DATA_HOME="$mime/data" \
      XDG_DATA_DIRS=/usr/share xdg-mime query filetype "$f" 2>&1)
    [[ $got == "$want" ]] || fail "xdg-mime query filetype $f: '$got', not $want"
    # Installed to the system, the package's trigger has updated the system's database.
    if ((system)); then
      got=$(cd "$mime/files" && env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u XDG_DATA_HOME -u XDG_DATA_DIRS \
        xdg-mime query filetype "$f" 2>&1)
      [[ $got == "$want" ]] || fail "xdg-mime query filetype $f (the system's database): '$got', not $want"
    fi
  done
}

# --- the programs ---------------------------------------------------------------
if ((programs)); then
  echo "-- programs"
  nubo=$prefix/bin/nubo
  need_file "$nubo"
  for f in "$prefix"/bin/NUBOCONV.h*; do need_absent "$f"; done
  need_file "$prefix/share/nubo/NUBOCONV.h"
  need_file "$prefix/share/nubo/NUBOCONV.h01"
  pages=(nubo)
  ((gui)) && pages+=(NUBOCONV)
  for page in "${pages[@]}"; do
    gz=$prefix/share/man/man1/$page.1.gz
    need_file "$gz"
    [[ -f $gz ]] && ! zcat "$gz" | grep -q "^\.TH $(tr '[:lower:]' '[:upper:]' <<<"$page") 1 .*\"nubo $version\"" &&
      fail "$gz is not the $page(1) page of version $version"
  done
  expected_run_path="\$ORIGIN/../$libdir"
  ((system || static)) && expected_run_path=""
  programs_list=("$nubo")
  ((gui)) && programs_list+=("$prefix/bin/NUBOCONV")
  for p in "${programs_list[@]}"; do
    [[ -f $p ]] || continue
    [[ $(run_path "$p") == "$expected_run_path" ]] || fail "$p has the run path '$(run_path "$p")', not '$expected_run_path'"
    if ((!static)); then
      loaded=$(loaded_codec ldd "$p")
      same_path "$loaded" "$lib/libnubocodec.so.$major" || fail "$p loads '$loaded'"
    fi
  done

  [[ $("$nubo" --version) == "nubo $version" ]] || fail "nubo --version says '$("$nubo" --version)'"
  if ((gui)); then
    # Without a display the window program says so and ends with status 3:
    # it has started, with every library it needs.
    env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/NUBOCONV" >/dev/null 2>"$work/nuboconv.err"
    code=$?
    ((code == 3)) || fail "NUBOCONV without a display: exit $code ($(head -c 300 "$work/nuboconv.err"))"
    out=$("$prefix/bin/NUBOCONV" --version 2>&1)
    [[ $out == "NUBOCONV $version" ]] || fail "NUBOCONV --version says '$out'"
    env -u DISPLAY "$prefix/bin/NUBOCONV" --help >"$work/nuboconv.help" 2>&1 || fail "NUBOCONV --help fails"
    grep -q '^Usage: NUBOCONV \[PATH\]$' "$work/nuboconv.help" || fail "NUBOCONV --help: $(head -c 300 "$work/nuboconv.help")"
  fi

  # bash completion, where bash-completion loads it for the command nubo.
  need_file "$prefix/share/bash-completion/completions/nubo"
  if [[ -f $prefix/share/bash-completion/completions/nubo ]]; then
    bash -n "$prefix/share/bash-completion/completions/nubo" || fail "the bash completion does not parse"
  fi

  if ((gui)); then
    check_desktop
  fi

  # The bundled example, upgraded and tested by the installed nubo, which
  # finds its messages in share/nubo.
  if [[ -n $tools ]]; then
    ex=$work/example
    "$source_dir/scripts/make-example.sh" "$tools" "$ex" >"$work/example.log" 2>&1 ||
      fail "the example could not be made: $(tail -n 5 "$work/example.log")"
    "$nubo" upgrade -r "$ex/archive/" -o "$ex/upgraded/" >"$work/upgrade.out" 2>&1 ||
      fail "nubo upgrade of the example: $(cat "$work/upgrade.out")"
    grep -q "3 file(s) converted" "$work/upgrade.out" || fail "nubo upgrade said: $(cat "$work/upgrade.out")"
    "$nubo" test -r "$ex/upgraded/" >"$work/test.out" 2>&1 || fail "nubo test of the example: $(cat "$work/test.out")"
    grep -q "3 file(s) complete" "$work/test.out" || fail "nubo test said: $(cat "$work/test.out")"
    for pair in 2019/CHORD:chord 2021/PAD:pad 2021/live/VOICE:voice; do
      "$nubo" -q verify "$ex/upgraded/${pair%%:*}.NAB" "$ex/source/${pair#*:}.wav" ||
        fail "nubo verify: ${pair%%:*}.NAB does not decode to ${pair#*:}.wav"
    done
  fi
else
  need_absent "$prefix/bin/nubo"
  need_absent "$prefix/share/nubo"
fi

# --- nothing of the build's own directories -------------------------------------
for dir in "${leaks[@]}"; do
  if hits=$(grep -rlF -- "$dir" "$prefix"); then
    fail "installed files name $dir: $hits"
  fi
  while IFS= read -r -d '' gz; do
    zcat "$gz" | grep -F -- "$dir" >/dev/null && fail "$gz names $dir"
  done < <(find "$prefix" -name '*.gz' -type f -print0)
done

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed tree OK"
