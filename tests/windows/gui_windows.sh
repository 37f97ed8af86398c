#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# NUBOCONV.exe in its real window, under Wine on a virtual X display: one
# re-encode run driven with the keyboard through xdotool (type the input
# pattern, tick "Include subdirectories", type the output directory, press
# Enter for the default button Start), its outputs compared byte for byte
# with those of nubo.exe and, when given, of the Linux build's nubo, the
# settings file written at the close, and a screenshot of the finished run.
# Usage: gui_windows.sh BIN_DIR WORK_DIR [LINUX_BIN_DIR]
#   BIN_DIR: the Windows build's bin (NUBOCONV.exe, nubo.exe, nubocodec.dll)
# Exit 77 (skipped) when Xvfb, xdotool or ImageMagick's import is missing.
set -uo pipefail
bin=$(cd "$1" && pwd) || exit 1
work=$2
linux_bin=${3:-}
# A Linux build that is not there is not compared with.
[[ -x $linux_bin/nubo ]] && linux_bin=$(cd "$linux_bin" && pwd) || linux_bin=
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdotool import sox; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work/app" "$work/in/sub"
work=$(cd "$work" && pwd)
cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# The Windows spelling of a path under Wine's drive Z: (the Unix root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The program as a user unpacks it: NUBOCONV.exe, the DLL and the definition files in one folder.
cp "$bin"/NUBOCONV.exe "$bin"/nubocodec.dll "$bin"/NUBOCONV.h "$bin"/NUBOCONV.h01 app/ || exit 1
sox -R -D -n -r 44100 -b 16 -c 2 music.wav synth 2.3 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9
sox -R -D -n -r 22050 -b 16 -c 1 voice.wav synth 1.1 square 110 lowpass 1500 gain -12
"$bin/make_old_nab" music.wav in/A.NAB 20 >/dev/null
"$bin/make_old_nab" voice.wav in/B.NAB 21 >/dev/null
"$bin/make_old_nab" music.wav in/sub/C.NAB 21 >/dev/null
cp voice.wav in/not_compressed.wav
touch -d '2001-02-03 04:05:06' in/A.NAB

# A display of its own, and a Wine prefix of its own (a prefix whose Wine
# server was started without a display could not show the window).
exec 3>display.txt
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 50); do [[ -s display.txt ]] && break; sleep 0.1; done
[[ -s display.txt ]] || { echo "FAIL: Xvfb did not start" >&2; cat xvfb.log >&2; exit 1; }
export DISPLAY=":$(head -n1 display.txt)"
export WINEPREFIX=$work/wine-prefix
app_pid=
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  WINEPREFIX=$WINEPREFIX "${NUBO_WINESERVER:-/usr/lib/wine/wineserver64}" -k 2>/dev/null
  kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT

"$here/wine-run.sh" app/NUBOCONV.exe >app.log 2>&1 &
app_pid=$!
window=$(timeout 120 xdotool search --sync --name "format converter ver1.2" | head -n1)
[[ -n $window ]] || { echo "FAIL: no NUBOCONV window appeared" >&2; cat app.log >&2; exit 1; }
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null
# The input field has the focus: replace its text ("*.*") with the pattern.
xdotool key --window "$window" End shift+Home
xdotool type --delay 20 "$(winpath "$work/in")\\*.NAB"
# Tab: "Include subdirectories" (ticked with the space bar), the output's
# Browse button, the output field (Tab selects its text, so typing replaces it).
xdotool key --delay 50 Tab space Tab Tab
xdotool type --delay 20 "$(winpath "$work/out")\\"
xdotool key Return

# The run is done when every output has its final name and no temporary file is left.
expected=(A.NAB B.NAB sub/C.NAB)
for _ in $(seq 300); do
  done_all=1
  for f in "${expected[@]}"; do [[ -f out/$f ]] || done_all=0; done
  [[ -n $(find out -name '*.nubo-part' 2>/dev/null) ]] && done_all=0
  ((done_all)) && break
  sleep 0.2
done
sleep 1
import -window root shot.png
for f in "${expected[@]}"; do [[ -f out/$f ]] || fail "the window's run did not write out/$f"; done
[[ ! -e out/not_compressed.wav && ! -e out/not_compressed.NAB ]] || fail "a WAVE file was converted"
colours=$(convert shot.png -format %k info: 2>/dev/null || echo 0)
((colours > 8)) || fail "the screenshot is blank ($colours colours)"

# The same run by the command-line tool of the Windows build, and of the Linux build.
"$bin/nubo" upgrade -q -r in/ -o cli/ || fail "nubo.exe upgrade failed"
if [[ -n $linux_bin ]]; then
  "$linux_bin/nubo" upgrade -q -r in/ -o linux/ || fail "the Linux nubo upgrade failed"
fi
for f in "${expected[@]}"; do
  cmp -s "out/$f" "cli/$f" || fail "out/$f differs from nubo.exe's cli/$f"
  if [[ -n $linux_bin ]]; then cmp -s "out/$f" "linux/$f" || fail "out/$f differs from the Linux build's linux/$f"; fi
done
[[ $(stat -c %Y out/A.NAB) == $(stat -c %Y in/A.NAB) ]] || fail "out/A.NAB did not keep the input's time"

# Closing the window (Alt+F4: WM_CLOSE) saves the settings and ends the program with 0.
xdotool key --window "$window" alt+F4
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
  fail "NUBOCONV.exe did not end after Alt+F4"
else
  wait "$app_pid"
  code=$?
  ((code == 0)) || fail "NUBOCONV.exe ended with $code"
fi
app_pid=
ini=app/NUBOCONV.ini
if [[ -f $ini ]]; then
  mapfile -t lines < <(tr -d '\r' <"$ini")
  [[ ${#lines[@]} == 16 && ${lines[0]} == 20 ]] || fail "NUBOCONV.ini is not sixteen lines beginning with 20: ${lines[*]}"
  [[ ${lines[1]} == 4 ]] || fail "job kind ${lines[1]} saved, not 4"
  [[ ${lines[3]} == 1 ]] || fail "Include subdirectories was not saved as ticked"
  [[ ${lines[7]} == "$(winpath "$work/in")\\*.NAB" ]] || fail "input field saved as '${lines[7]}'"
  [[ ${lines[8]} == "$(winpath "$work/out")\\" ]] || fail "output field saved as '${lines[8]}'"
else
  fail "no NUBOCONV.ini beside the program"
fi

if ((failures)); then
  echo "$failures failure(s); screenshot: $work/shot.png" >&2
  exit 1
fi
echo "NUBOCONV.exe: re-encode run through the window matches nubo.exe${linux_bin:+ and the Linux build}; screenshot: $work/shot.png"
