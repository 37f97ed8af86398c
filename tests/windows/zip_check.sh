#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Windows zip as a user gets it: unpacked into a folder of its own, far
# from the build tree, it holds what README.txt lists, the programs import
# nothing but Windows' own DLLs and nubocodec.dll, carry no symbols or debug
# sections, the .exe files carry the icon and the version resource, the
# licence is there, and they run from there under Wine: nubo.exe upgrades a
# file, and finds its texts beside itself.
# Usage: zip_check.sh ZIP WORK_DIR [OBJDUMP [WINDRES [VERSION]]]
set -uo pipefail
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$2
objdump=${3:-x86_64-w64-mingw32-objdump}
windres=${4:-x86_64-w64-mingw32-windres}
version=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)  # (Wine takes only an absolute WINEPREFIX)
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake -E tar xf "$zip" || { echo "FAIL: cannot unpack $zip" >&2; exit 1; }
folder=$(basename "$zip" .zip)
[[ -d $folder ]] || { echo "FAIL: the zip has no folder $folder" >&2; exit 1; }
for f in NUBOCONV.exe nubo.exe nubocodec.dll libnubocodec.dll.a nubocodec.h nubocodec.def NUBOCONV.h NUBOCONV.h01 README.txt \
  LICENSE.txt; do
  [[ -f $folder/$f ]] || fail "the zip lacks $f"
done
grep -q $'\r$' "$folder/README.txt" || fail "README.txt does not have CR LF line ends"
grep -q $'^BSD 3-Clause License\r$' "$folder/LICENSE.txt" || fail "LICENSE.txt is not the BSD-3-Clause licence with CR LF line ends"
grep -q 'LICENSE.txt' "$folder/README.txt" || fail "README.txt does not name LICENSE.txt"
# Stripped: no symbol table and no debug sections.
for bin in nubo.exe NUBOCONV.exe nubocodec.dll; do
  sections=$("$objdump" -h "$folder/$bin" | awk '$2 ~ /^\./ { print $2 }')
  if grep -q '^\.debug' <<<"$sections"; then fail "$bin carries debug sections: $(grep '^\.debug' <<<"$sections" | tr '\n' ' ')"; fi
  "$objdump" -t "$folder/$bin" | grep -q '^\[' && fail "$bin carries a symbol table"
done
# The icon and the version resource of each program, read back with windres.
for exe in nubo NUBOCONV; do
  if ! "$windres" -i "$folder/$exe.exe" -O rc -o "$exe.rc" 2>"$exe.windres.log"; then
    fail "windres cannot read the resources of $exe.exe: $(cat "$exe.windres.log")"
    continue
  fi
  # An icon group (resource type 14) and its images at 16 to 256 pixels (type 3).
  grep -qE '^[0-9]+ 14 ' "$exe.rc" || fail "$exe.exe has no icon"
  (($(grep -cE '^[0-9]+ 3 ' "$exe.rc") >= 5)) || fail "$exe.exe's icon has fewer than five sizes"
  grep -q 'VERSIONINFO' "$exe.rc" || fail "$exe.exe has no version resource"
  grep -q "VALUE \"OriginalFilename\", \"$exe.exe\"" "$exe.rc" || fail "$exe.exe's version resource names another file"
  if [[ -n $version ]]; then
    grep -q "VALUE \"FileVersion\", \"$version\"" "$exe.rc" || fail "$exe.exe's version resource is not $version"
  fi
done
# Windows' own DLLs, and ours: no libstdc++, libgcc or winpthread to ship.
for exe in nubo.exe NUBOCONV.exe nubocodec.dll; do
  while read -r dll; do
    case ${dll,,} in
      kernel32.dll | user32.dll | gdi32.dll | comdlg32.dll | comctl32.dll | advapi32.dll | bcrypt.dll | msvcrt.dll | shell32.dll) ;;
      nubocodec.dll) [[ $exe != nubocodec.dll ]] || fail "nubocodec.dll imports itself" ;;
      *) fail "$exe needs $dll, which is not in the zip and not part of Windows" ;;
    esac
  done < <("$objdump" -p "$folder/$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
sox -R -D -n -r 44100 -b 16 -c 2 take.wav synth 1.2 pluck C3 gain -9 2>/dev/null
export WINEPREFIX=$work/wine-prefix
"$here/wine-run.sh" "$folder/nubo.exe" encode take.wav -o take.NAB >out.txt 2>err.txt || fail "nubo.exe from the zip failed: $(cat err.txt)"
grep -q "1 file(s) converted" out.txt || fail "nubo.exe from the zip printed: $(cat out.txt)"
"$here/wine-run.sh" "$folder/nubo.exe" verify take.NAB take.wav >/dev/null 2>err.txt || fail "verify failed: $(cat err.txt)"
"${NUBO_WINESERVER:-/usr/lib/wine/wineserver64}" -k 2>/dev/null
((failures == 0)) || exit 1
echo "the zip $(basename "$zip") is complete and runs from its own folder"
