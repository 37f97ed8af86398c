#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# NUBOCONV.exe in its real window, under Wine on a virtual X display: one
# re-encode run driven with the keyboard through xdotool (type the input
# pattern, tick "Include subdirectories", type the output directory, press
# Enter for the default button Start), its outputs compared byte for byte
# with those of nubo.exe and, when given, of the Linux build's nubo, the
# settings file written at the close, and a screenshot of the finished run.
# With window_probe.exe (which reads what the window shows) also: the German
# window with names in any script (texts, the opening size, the Tab order
# and the job group's arrow keys, a run, the settings), a failure with a
# long output path whose status line keeps the reason nubo.exe gives and
# shows the whole text as a tooltip, and the end of a run in English and
# German: the list of files not converted (a damaged one with its block and
# byte offset), the count line, and "No input file found." for encode on a
# folder of compressed files.
# Usage: gui_windows.sh BIN_DIR WORK_DIR [LINUX_BIN_DIR [WINDOW_PROBE.exe]]
#   BIN_DIR: the Windows build's bin (NUBOCONV.exe, nubo.exe, nubocodec.dll)
# Exit 77 (skipped) when Xvfb, xdotool or ImageMagick's import is missing.
set -uo pipefail
bin=$(cd "$1" && pwd) || exit 1
work=$2
linux_bin=${3:-}
probe_exe=${4:-}
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

# find_window: the ID of the main window, waited for up to 120 s. Each search
# is a call of its own: a window of Wine's that vanishes while xdotool reads
# it ends that call with an X error (BadWindow), and the next one goes on.
find_window() {
  local found end=$((SECONDS + 120))
  while ((SECONDS < end)); do
    found=$(xdotool search --name "format converter ver1.2" 2>/dev/null | head -n1 || true)
    [[ -n $found ]] && { echo "$found"; return 0; }
    sleep 0.2
  done
  return 1
}

"$here/wine-run.sh" app/NUBOCONV.exe >app.log 2>&1 &
app_pid=$!
window=$(find_window)
[[ -n $window ]] || { echo "FAIL: no NUBOCONV window appeared" >&2; cat app.log >&2; exit 1; }
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null
# The input field has the focus: replace its text ("*.*") with the pattern.
xdotool key --window "$window" End shift+Home
xdotool type --delay 20 "$(winpath "$work/in")\\*.NAB"
# Tab in the order seen: the input's Browse button, "Include subdirectories"
# (ticked with the space bar), the output field (Tab selects its text, so
# typing replaces it).
xdotool key --delay 50 Tab Tab space Tab
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

# --- The German window with names in any script -----------------------------------
# WINDOW_PROBE prints the window's client size, each control's place, check
# state and text, the focus, and a tooltip on the screen.
probe() { "$here/wine-run.sh" "$probe_exe" "format converter ver1.2" 2>/dev/null | tr -d '\r'; }
# The text of control $2 in the probe's output $1 (everything after its seven fields).
text_of() { sed -n "s/^control $2 -\{0,1\}[0-9]* -\{0,1\}[0-9]* [0-9]* [0-9]* [-01] //p" <<<"$1" | head -n1; }
check_of() { awk -v id="$2" '$1 == "control" && $2 == id { print $7; exit }' <<<"$1"; }
focus_of() { awk '$1 == "focus" { print $2 }' <<<"$1"; }
# Starts app2/NUBOCONV.exe and waits for its window.
start_app2() {
  "$here/wine-run.sh" app2/NUBOCONV.exe >app2.log 2>&1 &
  app_pid=$!
  window=$(find_window)
  [[ -n $window ]] || { fail "no NUBOCONV window appeared"; cat app2.log >&2; return 1; }
  for _ in $(seq 100); do [[ $(focus_of "$(probe)") == 12 ]] && break; sleep 0.2; done
  xdotool windowfocus --sync "$window" 2>/dev/null
  return 0
}
stop_app2() {
  xdotool key --window "$window" alt+F4
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then fail "NUBOCONV.exe did not end after Alt+F4"; kill "$app_pid"; fi
  wait "$app_pid" 2>/dev/null
  app_pid=
}
# NUBOCONV.ini as the program writes it (CR LF): version, job, options,
# language, the ten fields. write_ini INPUT OUTPUT [LANGUAGE [JOB]]: by
# default language 1 (NUBOCONV.h01, German) and job 4 (re-encode), whose
# fields are slots 2 and 3; job 2 (encode) has slots 0 and 1.
write_ini() {
  local language=${3:-1} job=${4:-4}
  local slots=('*.*' '*.*' "$1" "$2" '*.*' '*.*' '*.*' '*.*' '*.*' '*.*')
  [[ $job == 4 ]] || slots=("$1" "$2" '*.*' '*.*' '*.*' '*.*' '*.*' '*.*' '*.*' '*.*')
  printf '%s\r\n' 20 "$job" 0 0 "$language" "${slots[@]}" >app2/NUBOCONV.ini
}
# The lines of list box $2 in the probe's output $1, one a line.
items_of() { sed -n "s/^item $2 //p" <<<"$1"; }
if [[ -n $probe_exe ]]; then
  mkdir -p app2 'in2/音声 Größe'
  cp "$bin"/NUBOCONV.exe "$bin"/nubocodec.dll "$bin"/NUBOCONV.h "$bin"/NUBOCONV.h01 app2/ || exit 1
  "$bin/make_old_nab" voice.wav in2/take.NAB 20 >/dev/null
  mv in2/take.NAB 'in2/音声 Größe/録音🎵.NAB'
  in2="$(winpath "$work/in2/音声 Größe")\\*.NAB"
  out2="$(winpath "$work/出力")\\"
  write_ini "$in2" "$out2"
  if start_app2; then
    seen=$(probe)
    # The German texts as the UTF-8 definition file has them, and the fields from the settings.
    [[ $(text_of "$seen" 3) == 'Kodieren und prüfen' ]] || fail "control 3 shows '$(text_of "$seen" 3)'"
    [[ $(text_of "$seen" 4) == 'Neu kodieren auf Version 22' ]] || fail "control 4 shows '$(text_of "$seen" 4)'"
    [[ $(text_of "$seen" 0) == English ]] || fail "the language button shows '$(text_of "$seen" 0)'"
    [[ $(text_of "$seen" 12) == "$in2" ]] || fail "the input field shows '$(text_of "$seen" 12)', not '$in2'"
    # Opened at the size its layout needs: every control within the client area.
    read -r _ cw ch _ _ <<<"$(grep '^client ' <<<"$seen")"
    right=$(awk '$1 == "control" { r = $3 + $5; if (r > m) m = r } END { print m + 0 }' <<<"$seen")
    bottom=$(awk '$1 == "control" { b = $4 + $6; if (b > m) m = b } END { print m + 0 }' <<<"$seen")
    ((right <= cw && bottom <= ch)) || fail "controls reach ${right}x$bottom beyond the client area ${cw}x$ch"
    # Tab in the order seen: each field before its Browse button, the
    # "smallest files" check box after the options, the job group one stop
    # (its checked button), Cancel (disabled) passed over, the list of files
    # not converted after the buttons.
    order=
    for _ in $(seq 12); do
      xdotool key --window "$window" Tab
      order+=" $(focus_of "$(probe)")"
    done
    [[ $order == ' 11 13 17 16 18 20 21 22 34 0 4 12' ]] || fail "Tab went through$order"
    xdotool key --window "$window" shift+Tab
    seen=$(probe)
    [[ $(focus_of "$seen") == 4 ]] || fail "Shift+Tab from the input field went to $(focus_of "$seen"), not the job group"
    # The arrow keys move within the group and check as they go.
    xdotool key --window "$window" Left
    seen=$(probe)
    [[ $(focus_of "$seen") == 3 && $(check_of "$seen" 3) == 1 && $(check_of "$seen" 4) == 0 ]] ||
      fail "Left in the job group: focus $(focus_of "$seen"), checks $(check_of "$seen" 3)/$(check_of "$seen" 4)"
    xdotool key --window "$window" Tab
    [[ $(focus_of "$(probe)") == 12 ]] || fail "Tab from the job group did not go to the input field"
    xdotool key --window "$window" shift+Tab Right
    seen=$(probe)
    [[ $(focus_of "$seen") == 4 && $(check_of "$seen" 4) == 1 ]] || fail "Right did not come back to control 4"
    [[ $(text_of "$seen" 12) == "$in2" ]] || fail "the re-encode fields did not come back: '$(text_of "$seen" 12)'"
    # Enter presses Start: the run writes the output under its name in any script.
    xdotool key --window "$window" Return
    for _ in $(seq 200); do
      [[ -f '出力/録音🎵.NAB' && -z $(find 出力 -name '*.nubo-part' 2>/dev/null) ]] && break
      sleep 0.2
    done
    [[ -f '出力/録音🎵.NAB' ]] || fail "the German window's run did not write 出力/録音🎵.NAB"
    "$bin/nubo" upgrade -q "in2/音声 Größe/録音🎵.NAB" -o cli2/ || fail "nubo.exe upgrade of 録音🎵.NAB failed"
    cmp -s '出力/録音🎵.NAB' 'cli2/録音🎵.NAB' || fail "the window's 録音🎵.NAB differs from nubo.exe's"
    sleep 1
    seen=$(probe)
    grep -q '^control 3[123] .*録音🎵.NAB' <<<"$seen" || fail "no status line names 録音🎵.NAB: $(grep '^control 3[123] ' <<<"$seen")"
    import -window root shot-de.png
    stop_app2
    mapfile -t lines < <(tr -d '\r' <app2/NUBOCONV.ini)
    [[ ${lines[4]} == 1 && ${lines[7]} == "$in2" && ${lines[8]} == "$out2" ]] ||
      fail "NUBOCONV.ini lost the language or the fields: ${lines[*]}"
  fi

  # --- A long output path: the reason stays in sight, the whole on hover -------------
  # A name of 264 characters, more than a name may have on the file system
  # under Wine (Windows itself refuses a path over 259 characters), on a
  # drive of its own so that the path stays within the converter's 299.
  long_name=$(printf 'e%.0s' $(seq 260)).NAB
  mkdir -p long
  ln -sfn "$work/long" "$WINEPREFIX/dosdevices/l:"
  long_out="L:\\$long_name"
  "$bin/nubo" upgrade in/A.NAB -o "$long_out" >cli-long.txt 2>&1 && fail "nubo.exe wrote an output named with 264 characters"
  reason=$(sed -n 's/.*\.NAB (\([^;)]*\)[;)].*/\1/p' cli-long.txt | head -n1)
  [[ -n $reason ]] || fail "nubo.exe gave no reason for the long name: $(cat cli-long.txt)"
  rm -rf long/* long/.[!.]*
  write_ini "$(winpath "$work/in/A.NAB")" "$long_out"
  if [[ -n $reason ]] && start_app2; then
    xdotool key --window "$window" Return
    # At the end line 2 says the failure whole (line 3 has the count line).
    for _ in $(seq 150); do
      seen=$(probe)
      [[ $(text_of "$seen" 32) == *"($reason"* ]] && break
      sleep 0.2
    done
    line=$(text_of "$seen" 32)
    [[ $line == *"($reason"*')' ]] || fail "status line 2 does not end with nubo.exe's reason ($reason): '$line'"
    [[ $line == *…* ]] || fail "status line 2 is not shortened: '$line'"
    # The mouse on the status line shows the whole text.
    read -r _ _ _ sx sy <<<"$(grep '^client ' <<<"$seen")"
    read -r _ _ x y w h _ <<<"$(grep '^control 32 ' <<<"$seen")"
    xdotool mousemove $((sx + x + w / 2)) $((sy + y + h / 2))
    sleep 0.3
    xdotool mousemove $((sx + x + w / 2 + 3)) $((sy + y + h / 2))
    tip=
    for _ in $(seq 50); do
      tip=$(probe | sed -n 's/^tooltip //p' | head -n1)
      [[ -n $tip ]] && break
      sleep 0.2
    done
    [[ $tip == *"$long_name ($reason"* ]] || fail "the tooltip does not show the whole path and reason: '$tip'"
    import -window root shot-long.png
    stop_app2
  fi
fi

# --- The end of a run: every file not converted listed, and the count line -------
# Two good files and one cut inside its last block; then encode on the same
# folder, which holds no WAVE file. In English (0) and German (1).
if [[ -n $probe_exe ]]; then
  mkdir -p in3
  "$bin/make_old_nab" music.wav in3/GOOD.NAB 20 >/dev/null
  "$bin/make_old_nab" voice.wav in3/VOICE.NAB 21 >/dev/null
  cp in3/GOOD.NAB in3/DAMAGED.NAB
  truncate -s -700 in3/DAMAGED.NAB
  # language, then what line 1, the list's line and line 3 say at the end
  ends=(0 'Finished. 1 file(s) not converted' 'The input file is damaged' ') (block ' ', byte offset '
        '2 file(s) converted  0 skipped (output existed)  1 file(s) not converted' 'No input file found.'
        '0 file(s) converted  0 skipped (output existed)  0 file(s) not converted'
        1 'Fertig. 1 Datei(en) nicht umgewandelt' 'Die Eingabedatei ist beschädigt' ') (Block ' ', Byte-Position '
        '2 Datei(en) umgewandelt  0 übersprungen (Ausgabe vorhanden)  1 Datei(en) nicht umgewandelt'
        'Keine Eingabedatei gefunden.'
        '0 Datei(en) umgewandelt  0 übersprungen (Ausgabe vorhanden)  0 Datei(en) nicht umgewandelt')
  for ((at = 0; at < ${#ends[@]}; at += 8)); do
    lang=${ends[at]} finished=${ends[at + 1]} damaged=${ends[at + 2]} block=${ends[at + 3]}
    offset=${ends[at + 4]} count=${ends[at + 5]} none=${ends[at + 6]} none_count=${ends[at + 7]}
    write_ini "$(winpath "$work/in3")\\*.NAB" "$(winpath "$work/out3-$lang")\\" "$lang"
    start_app2 || continue
    xdotool key --window "$window" Return
    for _ in $(seq 300); do
      seen=$(probe)
      [[ $(text_of "$seen" 31) == "$finished" ]] && break
      sleep 0.2
    done
    [[ $(text_of "$seen" 31) == "$finished" ]] || fail "language $lang: line 1 says '$(text_of "$seen" 31)', not '$finished'"
    [[ $(text_of "$seen" 33) == "$count" ]] || fail "language $lang: line 3 says '$(text_of "$seen" 33)', not '$count'"
    listed=$(items_of "$seen" 34)
    # One form for every line: the file, then the reason and where.
    [[ $(wc -l <<<"$listed") == 1 && $listed == *"DAMAGED.NAB: $damaged"*"$block"*"$offset"* ]] ||
      fail "language $lang: the list shows '$listed'"
    [[ -f out3-$lang/GOOD.NAB && -f out3-$lang/VOICE.NAB && ! -f out3-$lang/DAMAGED.NAB ]] ||
      fail "language $lang: the outputs are not those of the good files: $(ls -A "out3-$lang" | tr '\n' ' ')"
    import -window root "shot-end-$lang.png"
    stop_app2

    # Encode on a folder of compressed files: no input of the job's kind.
    write_ini "$(winpath "$work/in3")\\*.NAB" "$(winpath "$work/enc3-$lang")\\" "$lang" 2
    start_app2 || continue
    xdotool key --window "$window" Return
    for _ in $(seq 300); do
      seen=$(probe)
      [[ $(text_of "$seen" 31) == "$none" ]] && break
      sleep 0.2
    done
    [[ $(text_of "$seen" 31) == "$none" ]] || fail "language $lang: encode of .NAB files ends with '$(text_of "$seen" 31)'"
    [[ $(text_of "$seen" 33) == "$none_count" ]] || fail "language $lang: encode of .NAB files: line 3 '$(text_of "$seen" 33)'"
    [[ -z $(items_of "$seen" 34) ]] || fail "language $lang: files of another kind were listed: $(items_of "$seen" 34)"
    stop_app2
  done
fi

if ((failures)); then
  echo "$failures failure(s); screenshot: $work/shot.png" >&2
  exit 1
fi
echo "NUBOCONV.exe: re-encode run through the window matches nubo.exe${linux_bin:+ and the Linux build}; screenshot: $work/shot.png"
if [[ -n $probe_exe ]]; then
  echo "the end of a run: $work/shot-end-0.png (English), $work/shot-end-1.png (German)"
fi
