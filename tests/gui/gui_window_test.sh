#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Drives the real NUBOCONV window.
#
#   gui_window_test.sh no-display BIN_DIR WORK_DIR
#       NUBOCONV without an X display exits non-zero with a message.
#   gui_window_test.sh reencode BIN_DIR WORK_DIR METRICS_PROGRAM
#       A re-encode run over a directory of version-20 files, started by a
#       click on Start: the outputs are version 22, decode to the same
#       PCM as the source WAVE files, and the settings file is written on Exit.
#   gui_window_test.sh language BIN_DIR WORK_DIR METRICS_PROGRAM
#       The language button switches to German and back, and the choice
#       survives a restart.
#   gui_window_test.sh close-during-run BIN_DIR WORK_DIR METRICS_PROGRAM SLOW_READS_LIBRARY
#       Under a window manager, the close box during a run (slowed by the
#       preloaded library): it asks; No keeps the run and the window; Yes
#       stops after the current block, then the window closes with the
#       settings saved, every output under a final name complete.
#   gui_window_test.sh broken-definitions BIN_DIR WORK_DIR METRICS_PROGRAM
#       A cut, empty, random or over-long NUBOCONV.h shows a message and the
#       program ends with status 1; one with LF line ends shows the window of
#       the CR LF file.
#   gui_window_test.sh keyboard BIN_DIR WORK_DIR METRICS_PROGRAM
#       Typing starts in the input field; after Enter (Start) keys edit no
#       field; Tab goes field, Browse button, check box, and the job group is
#       one stop whose arrow keys choose the job.
#   gui_window_test.sh long-paths BIN_DIR WORK_DIR METRICS_PROGRAM
#       A path too long for its status line (line 2 at the end of a run,
#       shortened in its middle, see the screenshot) shows whole as a
#       tooltip when hovered.
#   gui_window_test.sh refusals BIN_DIR WORK_DIR METRICS_PROGRAM SLOW_READS_LIBRARY
#       During a run (held still by the preloaded library), clicks on a job,
#       the options and the language button change nothing and the refusal
#       shows; the German Cancel question is titled in German.
#   gui_window_test.sh end-of-run BIN_DIR WORK_DIR METRICS_PROGRAM
#       Under a window manager, in English and in German: a re-encode run
#       over two good files and a damaged one ends with the list of files
#       not converted showing a line, status lines 1 and 3 (the count line)
#       written, and the outputs of the good files; encode on that folder
#       (no WAVE file in it) ends with lines 1 and 3 written, line 2 and the
#       list empty. Screenshots of the window: end-en.png, end-de.png.
#   gui_window_test.sh installed BIN_DIR WORK_DIR METRICS_PROGRAM
#       The build installed to a tree of its own (cmake --install, as root
#       where root runs the tests): NUBOCONV PATH, as the desktop entry
#       starts it, shows the window with PATH in the input field; the
#       settings go to the user's configuration directory (HOME/.config/nubo,
#       or XDG_CONFIG_HOME/nubo) and are read back from there, and nothing is
#       written into the installed tree, although it could be.
#   gui_window_test.sh gtest BIN_DIR WORK_DIR TEST_PROGRAM
#       Runs a GoogleTest program that needs a display.
#
# BIN_DIR is the build tree's bin directory (NUBOCONV, libnubocodec.so, the
# definition files, make_old_nab and nubo). The program runs from a copy of
# it in WORK_DIR, so that the build tree's own NUBOCONV.ini is not touched.
# The window tests run themselves again under xvfb-run. Exit 77: skipped,
# because a tool is missing.
set -euo pipefail

mode=${1:?mode}
bin=${2:?bin dir}
work=${3:?work dir}
metrics_program=${4:-}
slow_reads=${5:-}

kSkip=77
kDisplayFailed=75                 # the virtual display did not come up: try again
# -noreset: Xvfb otherwise resets when its last client leaves (the metrics
# program, a test step), and a program connecting during the reset is refused.
kScreen="-screen 0 1280x1024x24 -noreset"
kMinStdDev=0.05                   # a screenshot with less contrast than this is blank
# Every wait for something a test expects (a window, a text, a file) is
# bounded by this many seconds: generous, so that a loaded machine passes.
kWait=60

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit $kSkip; }
  done
}
# wait_for SECONDS WHAT COMMAND...: runs COMMAND until it succeeds; after
# SECONDS the test fails, saying that WHAT did not happen.
wait_for() {
  local limit=$1 what=$2 end
  shift 2
  end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || fail "$what (waited $limit s)"
    sleep 0.2
  done
}
need_built() {
  local name
  for name in "$@"; do
    [ -x "$bin/$name" ] || fail "$bin/$name has not been built"
  done
}

# --- the program copy -------------------------------------------------------

prepare_program_dir() {
  rm -rf "$work"
  mkdir -p "$work/prog"
  cp "$bin/NUBOCONV" "$bin"/NUBOCONV.h* "$work/prog/"
  cp -P "$bin"/libnubocodec.so* "$work/prog/"
}

# write_settings LANGUAGE INPUT_SLOT OUTPUT_SLOT: a settings file of version 20
# for job kind 4 whose slots 2 and 3 are the re-encode input and output fields.
write_settings() {
  {
    printf '20\n4\n0\n0\n%s\n' "$1"
    printf '*.*\n*.*\n%s\n%s\n' "$2" "$3"
    printf '*.*\n%.0s' 4 5 6 7 8 9  # slots 4 to 9
  } >"$work/prog/NUBOCONV.ini"
}

settings_line() { sed -n "${1}p" "$work/prog/NUBOCONV.ini"; }

check_settings_shape() {
  local lines
  lines=$(wc -l <"$work/prog/NUBOCONV.ini")
  [ "$lines" -eq 16 ] || fail "NUBOCONV.ini has $lines lines, not 16"
  [ "$(settings_line 1)" = 20 ] || fail "NUBOCONV.ini does not begin with 20"
}

# --- the window -------------------------------------------------------------

pid=
wid=
wm=
# launch_program [ENV=VALUE...]: NUBOCONV from the program copy, with the
# given environment added.
launch_program() {
  env "$@" "$work/prog/NUBOCONV" >>"$work/nuboconv.log" 2>&1 &
  pid=$!
}

# main_window_shown: waits for the main window of NUBOCONV and its first paint.
main_window_shown() {
  wid=$(wait_for_window '^format converter ver1\.2') || {
    describe_windows
    fail "no window titled 'format converter ver1.2...' appeared"
  }
  wait_for $kWait "the main window was not painted" painted "$wid"
  note "window $wid: $(xdotool getwindowname "$wid")"
}

# What there is instead of a window a test waits for: the program's windows
# (mapped or not) with their titles, its output, and a screenshot.
describe_windows() {
  local w
  echo "-- windows of NUBOCONV ($pid), mapped or not:" >&2
  for w in $(xdotool search --all --pid "$pid" 2>/dev/null); do
    echo "   $w '$(xdotool getwindowname "$w" 2>/dev/null)' $(xwininfo -id "$w" 2>/dev/null | grep -o 'Map State: .*')" >&2
  done
  echo "-- its output:" >&2
  cat "$work/nuboconv.log" >&2 || true
  import -window root "$work/no-window.png" 2>/dev/null && echo "-- the screen: $work/no-window.png" >&2
}

# start_program [ENV=VALUE...]: launch_program and wait for the main window.
start_program() {
  launch_program "$@"
  main_window_shown
}

# wait_for_window TITLE_REGEX [SECONDS]: the ID of the visible window of
# NUBOCONV ($pid) so titled, within SECONDS (default kWait). Fails when the
# program ends first.
wait_for_window() {
  local found end=$((SECONDS + ${2:-$kWait}))
  while [ "$SECONDS" -lt "$end" ]; do
    found=$(xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$found" ] && { echo "$found"; return 0; }
    kill -0 "$pid" 2>/dev/null || { cat "$work/nuboconv.log" >&2; fail "NUBOCONV ended before showing '$1'"; }
    sleep 0.1
  done
  return 1
}

# window_gone TITLE_REGEX: no visible window of NUBOCONV is so titled.
window_gone() { ! xdotool search --all --onlyvisible --pid "$pid" --name "$1" >/dev/null 2>&1; }

# painted WINDOW_ID: the window shows something (its picture is not blank).
painted() {
  local deviation
  deviation=$(import -window "$1" png:- 2>/dev/null | convert - -format '%[fx:standard_deviation]' info: 2>/dev/null) ||
    return 1
  awk -v d="$deviation" -v m="$kMinStdDev" 'BEGIN { exit !(d > m) }'
}

# screen_differs NAME PIXELS: the screen differs now from screenshot NAME
# in more than PIXELS pixels.
screen_differs() {
  import -window root "$work/now.png"
  [ "$(pixels_differing "$1" now)" -gt "$2" ]
}

# screen_settled: the screen has stopped changing (two pictures a moment
# apart are the same): what the last keys and clicks did is drawn.
screen_settled() {
  import -window root "$work/settle-a.png"
  sleep 0.2
  import -window root "$work/settle-b.png"
  [ "$(pixels_differing settle-a settle-b)" -eq 0 ]
}

# ask_to_close: the close box (Alt+F4 is the window manager's) during a run,
# and the question it brings up. On a loaded machine the key can be lost on
# its way through the window manager, so it is sent again after 5 s (at most
# three times) while no question has appeared.
ask_to_close() {
  local attempt box
  for attempt in 1 2 3; do
    xdotool windowactivate --sync "$wid" key alt+F4
    box=$(wait_for_window '^Cancel$' 5) && { echo "$box"; return 0; }
    note "no question $((attempt * 5)) s after Alt+F4" >&2
  done
  return 1
}

# wait_for_end SECONDS: waits for NUBOCONV to end by itself; its exit status.
wait_for_end() {
  local end=$((SECONDS + $1))
  while [ "$SECONDS" -lt "$end" ]; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "NUBOCONV did not end within $1 s"; }
  local rc=0
  wait "$pid" || rc=$?
  pid=
  return $rc
}

# A window manager, as a desktop has: the close box and Alt+F4 are its.
start_window_manager() {
  need_tools openbox xprop
  openbox >"$work/openbox.log" 2>&1 &
  wm=$!
  for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.1
  done
  fail "openbox did not start"
}

# Ends the program with its Exit button. Exit is disabled while a run is
# active, so it is pressed again until the program has gone.
exit_program() {
  local end=$((SECONDS + kWait))
  while [ "$SECONDS" -lt "$end" ]; do
    kill -0 "$pid" 2>/dev/null || break
    click_control 22 || true  # the window may be gone between the check and the click
    sleep 0.5
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    fail "NUBOCONV did not end on Exit"
  fi
  local rc=0
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$work/nuboconv.log" >&2; fail "NUBOCONV ended with $rc"; }
  pid=
}

cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  if [ -n "$wm" ] && kill -0 "$wm" 2>/dev/null; then kill "$wm" 2>/dev/null || true; fi
}
trap cleanup EXIT

# The column width, line height and top margin the window lays its controls
# out with (the average character width is widened by half for a
# proportional font).
cw=0; lh=0; tm=0
read_metrics() {
  local avg height fixed
  read -r avg height fixed < <("$metrics_program") || exit $kDisplayFailed
  if [ "$fixed" = 1 ]; then cw=$avg; else cw=$((avg * 3 / 2)); fi
  lh=$height
  tm=$((lh * 2 / 10))
  note "metrics: column $cw px, line $lh px"
}

# control_centre ID: the centre of control ID in window coordinates, from
# the layout line that follows its text line in the base definition file.
control_centre() {
  local values x y w h
  values=$(tr -d '\r' <"$work/prog/NUBOCONV.h" | awk -v id="$1" '
    /^#define[ \t]/ { current = $3 + 0; next }
    /^\/\// && current == id { sub(/^\/\/./, ""); print; exit }')
  [ -n "$values" ] || fail "no layout line for control $1"
  IFS=', ' read -r _ _ x y w h <<<"$(echo "$values" | tr -s ' ,' ' ')"
  echo "$(( cw * x / 10 + cw * w / 10 / 2 )) $(( tm + y * lh * 14 / 100 + h * lh / 10 / 2 ))"
}

click_control() {
  local at
  at=$(control_centre "$1")
  # shellcheck disable=SC2086
  xdotool mousemove --window "$wid" $at click 1
}

# screenshot NAME: the whole screen into WORK_DIR/NAME.png, checked not blank.
screenshot() {
  local shot="$work/$1.png" deviation
  import -window root "$shot"
  deviation=$(convert "$shot" -format '%[fx:standard_deviation]' info:)
  awk -v d="$deviation" -v m="$kMinStdDev" 'BEGIN { exit !(d > m) }' ||
    fail "screenshot $shot is blank (standard deviation $deviation)"
  note "screenshot $shot (standard deviation $deviation)"
}

# pixels_differing A B: how many pixels of the two screenshots differ.
pixels_differing() {
  compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1 >/dev/null | awk '{ print int($1) }' || true
}

# --- checks on compressed files ----------------------------------------------

le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

check_version22_file() {
  local file=$1 size
  [ -s "$file" ] || fail "$file was not written"
  [ "$(le32 "$file" 38)" = 22 ] || fail "$file has coder version $(le32 "$file" 38), not 22"
  size=$(stat -c %s "$file")
  [ "$(le32 "$file" 4)" = $((size - 8)) ] || fail "$file: RIFF size is not the file size - 8"
  [ "$(le32 "$file" 62)" = $((size - 66)) ] || fail "$file: data size is not the file size - 66"
}

# same_pcm A.wav B.wav: both hold the same samples (headers may differ).
same_pcm() {
  cmp -s <(sox "$1" -t raw -) <(sox "$2" -t raw -) || fail "$2 does not decode to the samples of $1"
}

# --- the cases --------------------------------------------------------------

case_no_display() {
  need_built NUBOCONV
  prepare_program_dir
  local rc out
  for display in "" ":7919"; do
    rc=0
    if [ -z "$display" ]; then
      out=$(env -u DISPLAY "$work/prog/NUBOCONV" 2>&1 >/dev/null) || rc=$?
    else
      out=$(DISPLAY=$display "$work/prog/NUBOCONV" 2>&1 >/dev/null) || rc=$?
    fi
    [ "$rc" -ne 0 ] || fail "NUBOCONV without a display (DISPLAY='$display') exited with 0"
    grep -qi 'display' <<<"$out" || fail "no message about the display on stderr: '$out'"
    note "DISPLAY='$display': exit $rc, \"$out\""
  done
  [ ! -e "$work/prog/NUBOCONV.ini" ] || fail "NUBOCONV wrote a settings file without a window"

  # The command line, answered without a display.
  out=$(env -u DISPLAY "$work/prog/NUBOCONV" --version) || fail "NUBOCONV --version failed"
  grep -qx 'NUBOCONV [0-9][0-9.]*' <<<"$out" || fail "NUBOCONV --version says '$out'"
  out=$(env -u DISPLAY "$work/prog/NUBOCONV" --help) || fail "NUBOCONV --help failed"
  grep -q '^Usage: NUBOCONV \[PATH\]' <<<"$out" || fail "NUBOCONV --help says '$out'"
  local args
  for args in "--bogus" "one two" "-x"; do
    rc=0
    # shellcheck disable=SC2086 # the words are the arguments
    out=$(env -u DISPLAY "$work/prog/NUBOCONV" $args 2>&1 >/dev/null) || rc=$?
    [ "$rc" -eq 2 ] || fail "NUBOCONV $args: exit $rc, not 2"
    grep -q '^Usage: NUBOCONV' <<<"$out" || fail "NUBOCONV $args gives no usage: '$out'"
  done
  rc=0
  out=$(env -u DISPLAY "$work/prog/NUBOCONV" "$(printf 'p%.0s' $(seq 300))" 2>&1 >/dev/null) || rc=$?
  [ "$rc" -eq 2 ] || fail "NUBOCONV with a path of 300 characters: exit $rc, not 2"
  [ ! -e "$work/prog/NUBOCONV.ini" ] || fail "NUBOCONV wrote a settings file for a command line it refused"
}

# start_installed ENV=VALUE... -- ARGS...: the installed NUBOCONV with the
# environment given (HOME and XDG_CONFIG_HOME replaced) and the arguments.
start_installed() {
  local envs=()
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  env -u XDG_CONFIG_HOME "${envs[@]}" "$work/usr/bin/NUBOCONV" "$@" >>"$work/nuboconv.log" 2>&1 &
  pid=$!
  main_window_shown
}

case_installed() {
  need_built NUBOCONV
  rm -rf "$work"
  mkdir -p "$work/prog" "$work/home" "$work/media/in dir"
  cmake --install "$bin/.." --prefix "$work/usr" >"$work/install.log" 2>&1 || fail "cmake --install: $(tail -5 "$work/install.log")"
  [ -x "$work/usr/bin/NUBOCONV" ] && [ -f "$work/usr/share/nubo/NUBOCONV.h" ] || fail "the installed tree lacks NUBOCONV"
  [ -w "$work/usr/bin" ] || fail "the installed tree is not writable: the test would prove nothing"
  cp "$work/usr/share/nubo/NUBOCONV.h" "$work/prog/"  # where click_control reads the layout
  read_metrics
  (cd "$work/usr" && find . | LC_ALL=C sort) >"$work/tree-before"

  # As the desktop entry starts it: the file a user opened, in HOME's configuration.
  local opened="$work/media/in dir/TAKE 1.NAB" ini="$work/home/.config/nubo/NUBOCONV.ini"
  : >"$opened"
  start_installed HOME="$work/home" -- "$opened"
  screenshot opened
  exit_program
  [ -f "$ini" ] || fail "no settings in $ini"
  [ "$(sed -n 8p "$ini")" = "$opened" ] || fail "the input field did not start with the opened file: '$(sed -n 8p "$ini")'"

  # XDG_CONFIG_HOME first; without PATH the remembered input comes back.
  local xdg_ini="$work/xdg/nubo/NUBOCONV.ini"
  mkdir -p "$work/xdg/nubo"
  { printf '20\n4\n0\n0\n0\n*.*\n*.*\n%s\n%s\n' "$work/media/*.NAB" "$work/out/"; printf '*.*\n%.0s' 4 5 6 7 8 9; } >"$xdg_ini"
  cp "$ini" "$work/home-ini-before"
  start_installed HOME="$work/home" XDG_CONFIG_HOME="$work/xdg" --
  exit_program
  [ "$(sed -n 8p "$xdg_ini")" = "$work/media/*.NAB" ] || fail "the remembered input was not kept: '$(sed -n 8p "$xdg_ini")'"
  [ "$(sed -n 9p "$xdg_ini")" = "$work/out/" ] || fail "the remembered output was not kept: '$(sed -n 9p "$xdg_ini")'"
  cmp -s "$ini" "$work/home-ini-before" || fail "HOME's settings were written although XDG_CONFIG_HOME is set"

  (cd "$work/usr" && find . | LC_ALL=C sort) >"$work/tree-after"
  diff "$work/tree-before" "$work/tree-after" >&2 || fail "NUBOCONV wrote into the installed tree"
  note "settings in $ini and $xdg_ini; nothing written under $work/usr"
}

case_reencode() {
  need_built NUBOCONV make_old_nab nubo
  prepare_program_dir
  read_metrics
  mkdir -p "$work/src" "$work/in/old"
  # Stereo at 44100 (block length 1764) and mono at 22050 (882); neither
  # length is a whole number of blocks, so each ends with a short block.
  sox -R -n -r 44100 -c 2 -b 16 "$work/src/tone.wav" synth 1.37 sine 440 sine 660 gain -3
  sox -R -n -r 22050 -c 1 -b 16 "$work/src/noise.wav" synth 0.71 pinknoise gain -6
  sox -R -n -r 8000 -c 1 -b 16 "$work/src/quiet.wav" synth 0.33 sine 300 gain -40
  local name
  for name in tone noise quiet; do
    "$bin/make_old_nab" "$work/src/$name.wav" "$work/in/$name.NAB" 20 >/dev/null
    [ "$(le32 "$work/in/$name.NAB" 38)" = 20 ] || fail "make_old_nab did not write a version-20 file"
  done
  echo "not a compressed file" >"$work/in/notes.NAB"
  # The subdirectory is not searched: option B is off.
  cp "$work/in/quiet.NAB" "$work/in/old/quiet.NAB"
  write_settings 0 "$work/in/*.NAB" "$work/out/*"

  start_program
  screenshot before-run
  click_control 21  # Start
  # An output takes its name only when it is complete.
  wait_for $((2 * kWait)) "the outputs did not appear (Start did not run?)" \
    test -s "$work/out/tone.NAB" -a -s "$work/out/noise.NAB" -a -s "$work/out/quiet.NAB"
  wait_for $kWait "the window did not settle after the run" screen_settled  # the count line
  screenshot after-run
  exit_program

  for name in tone noise quiet; do
    check_version22_file "$work/out/$name.NAB"
    [ "$(le32 "$work/in/$name.NAB" 38)" = 20 ] || fail "the input $name.NAB was changed"
    "$bin/nubo" decode "$work/out/$name.NAB" -o "$work/out/$name.wav" >/dev/null
    same_pcm "$work/src/$name.wav" "$work/out/$name.wav"
  done
  [ ! -e "$work/out/notes.NAB" ] || fail "a file that is not a compressed file was converted"
  [ ! -e "$work/out/old" ] || fail "the subdirectory was searched although option B is off"

  check_settings_shape
  [ "$(settings_line 2)" = 4 ] || fail "job kind in NUBOCONV.ini is $(settings_line 2), not 4"
  [ "$(settings_line 8)" = "$work/in/*.NAB" ] || fail "input slot not kept: $(settings_line 8)"
  [ "$(settings_line 9)" = "$work/out/*" ] || fail "output slot not kept: $(settings_line 9)"
  note "re-encoded: $(stat -c '%n %s bytes' "$work"/out/*.NAB | tr '\n' ' ')"
  note "screenshot kept: $work/after-run.png"
}

case_language() {
  need_built NUBOCONV
  prepare_program_dir
  read_metrics
  write_settings 0 "*.*" "*.*"

  start_program
  screenshot english
  click_control 0
  wait_for $kWait "the captions did not change" screen_differs english 2000
  wait_for $kWait "the window did not settle" screen_settled
  screenshot german
  exit_program
  check_settings_shape
  [ "$(settings_line 5)" = 1 ] || fail "language number after one switch is $(settings_line 5), not 1"

  # The next start opens in German; one more switch finds no NUBOCONV.h02 and
  # returns to the base file.
  start_program
  screenshot german-restarted
  click_control 0
  wait_for $kWait "the captions did not change back" screen_differs german-restarted 2000
  wait_for $kWait "the window did not settle" screen_settled
  screenshot english-again
  exit_program
  [ "$(settings_line 5)" = 0 ] || fail "language number after the second switch is $(settings_line 5), not 0"

  local across same_de same_en
  across=$(pixels_differing english german)
  same_de=$(pixels_differing german german-restarted)
  same_en=$(pixels_differing english english-again)
  note "pixels differing: English/German $across, German/German $same_de, English/English $same_en"
  [ "$across" -gt 2000 ] || fail "the language button did not change the captions"
  [ "$same_de" -lt $((across / 4)) ] || fail "the restart did not show the German captions"
  [ "$same_en" -lt $((across / 4)) ] || fail "the second switch did not return to English"
  note "screenshots kept: $work/english.png $work/german.png"

  # A variant that cannot build the window (Start removed) is named when the
  # language button meets it, and stepped over: the window stays English.
  # (Pictures of the main window alone from here: the window manager adds
  # a frame.)
  start_window_manager
  local good_variant="$work/NUBOCONV.h01.good" box
  cp "$work/prog/NUBOCONV.h01" "$good_variant"
  awk '/^#define NUBO_START 21/ { skip = 2 } skip > 0 { skip--; next } { print }' "$good_variant" >"$work/prog/NUBOCONV.h01"
  start_program
  wait_for $kWait "the window did not settle" screen_settled
  import -window "$wid" "$work/english-window.png"
  click_control 0
  box=$(wait_for_window '^Error$') || fail "the variant without Start was not named"
  wait_for $kWait "the message was not painted" painted "$box"
  screenshot variant-without-start
  xdotool windowactivate --sync "$box" key Return
  wait_for $kWait "the message did not close" window_gone '^Error$'
  wait_for $kWait "the window did not settle" screen_settled
  import -window "$wid" "$work/variant-stepped-over.png"
  exit_program
  [ "$(settings_line 5)" = 0 ] || fail "the language number became $(settings_line 5) with an unusable variant"

  # Saved as the language, a variant cut at a line end (before entry 51) is
  # named at start, and the window opens in English: no lock-out.
  head -n "$(($(grep -n '^#define NUBO_MSG_NO_INPUT 51' "$good_variant" | cut -d: -f1) - 1))" "$good_variant" \
    >"$work/prog/NUBOCONV.h01"
  write_settings 1 "*.*" "*.*"
  launch_program
  box=$(wait_for_window '^Error$') || fail "the unusable saved language was not named"
  wait_for $kWait "the message was not painted" painted "$box"
  screenshot saved-variant-cut
  xdotool windowactivate --sync "$box" key Return
  main_window_shown
  wait_for $kWait "the window did not settle" screen_settled
  import -window "$wid" "$work/saved-variant-fallback.png"
  exit_program
  [ "$(settings_line 5)" = 0 ] || fail "the unusable language $(settings_line 5) was saved again"
  local stepped fallback
  stepped=$(pixels_differing english-window variant-stepped-over)
  fallback=$(pixels_differing english-window saved-variant-fallback)
  note "pixels differing from the English window: stepped over $stepped, after the fall-back $fallback"
  [ "$stepped" -lt $((across / 4)) ] || fail "the window changed on the unusable variant"
  [ "$fallback" -lt $((across / 4)) ] || fail "the window did not open in English after the unusable variant"
  cp "$good_variant" "$work/prog/NUBOCONV.h01"
}

# region_shows X Y W H: the left half of that box of the main window shows
# something (a text) rather than a plain background.
region_shows() {
  local deviation
  deviation=$(import -window "$wid" png:- | convert - -crop "$(($3 / 2))x$(($4 - 6))+$(($1 + 4))+$(($2 + 3))" \
                -format '%[fx:standard_deviation]' info:) || return 1
  awk -v d="$deviation" 'BEGIN { exit !(d > 0.05) }'
}

# region_of PICTURE ID: the box of control ID cut out of PICTURE (a picture
# of the main window), as a file beside it.
region_of() {
  local x y w h
  read -r x y w h <<<"$(control_box "$2")"
  convert "$work/$1.png" -crop "${w}x${h}+${x}+${y}" +repage "$work/$1-$2.png"
  echo "$work/$1-$2.png"
}

# control_box ID: "x y width height" of control ID in window coordinates.
control_box() {
  local values x y w h
  values=$(tr -d '\r' <"$work/prog/NUBOCONV.h" | awk -v id="$1" '
    /^#define[ \t]/ { current = $3 + 0; next }
    /^\/\// && current == id { sub(/^\/\/./, ""); print; exit }')
  IFS=', ' read -r _ _ x y w h <<<"$(echo "$values" | tr -s ' ,' ' ')"
  echo "$(( cw * x / 10 )) $(( tm + y * lh * 14 / 100 )) $(( cw * w / 10 )) $(( h * lh / 10 ))"
}

case_close_during_run() {
  need_built NUBOCONV make_old_nab
  [ -f "$slow_reads" ] || fail "the slow-read library is needed"
  prepare_program_dir
  read_metrics
  start_window_manager
  mkdir -p "$work/src" "$work/in"
  local name
  # Five files of 20 s: a run of about 20 s, long enough to be closed twice.
  for name in one two three four five; do
    sox -R -n -r 44100 -c 2 -b 16 "$work/src/$name.wav" synth 20 sine 440 sine 661 gain -3
    "$bin/make_old_nab" "$work/src/$name.wav" "$work/in/$name.NAB" 20 >/dev/null
  done
  write_settings 0 "$work/in/*.NAB" "$work/out/"
  # A slow disk: about 4 ms for each of the ~1000 blocks of a file.
  local preload="$slow_reads"
  start_program LD_PRELOAD="$preload" NUBO_SLOW_READ_US=4000 \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
  click_control 21  # Start
  wait_for $kWait "the run did not start" compgen -G "$work/out/.*.nubo-part"

  # The close box asks; No leaves all as it was.
  local box
  box=$(ask_to_close) || fail "closing during a run did not ask"
  wait_for $kWait "the question was not painted" painted "$box"
  screenshot close-question
  xdotool windowactivate --sync "$box" key Escape
  wait_for $kWait "the question stayed open" window_gone '^Cancel$'
  kill -0 "$pid" 2>/dev/null || fail "No to the question closed the program"
  screenshot after-no

  # Yes: the run stops after its current block, then the window closes.
  box=$(ask_to_close) || fail "the second close did not ask"
  xdotool windowactivate --sync "$box" key Return
  local rc=0
  wait_for_end 20 || rc=$?
  [ "$rc" -eq 0 ] || { cat "$work/nuboconv.log" >&2; fail "NUBOCONV ended with $rc after the stop"; }

  local finished=0 file
  for file in "$work"/out/*.NAB; do
    [ -e "$file" ] || continue
    check_version22_file "$file"
    finished=$((finished + 1))
  done
  [ "$finished" -lt 5 ] || fail "every file was converted: the run did not stop"
  compgen -G "$work/out/.*.nubo-part" >/dev/null || fail "the stopped file left no partial output"
  check_settings_shape
  [ "$(settings_line 8)" = "$work/in/*.NAB" ] || fail "the settings were not saved on the way out"
  note "stopped with $finished complete output(s); partial: $(cd "$work/out" && ls -A | grep nubo-part | tr '\n' ' ')"
}

case_broken_definitions() {
  need_built NUBOCONV
  prepare_program_dir
  read_metrics
  start_window_manager
  local base="$work/prog/NUBOCONV.h" good="$work/NUBOCONV.h.good"
  cp "$base" "$good"
  write_settings 0 "*.*" "*.*"
  start_program
  screenshot crlf
  exit_program

  # LF line ends: the same window.
  tr -d '\r' <"$good" >"$base"
  start_program
  screenshot lf
  exit_program
  local differing
  differing=$(pixels_differing crlf lf)
  note "pixels differing between the CR LF and the LF file: $differing"
  [ "$differing" -lt 500 ] || fail "the LF file does not give the window of the CR LF file"

  local kind rc
  for kind in cut cut-at-line empty random overlong; do
    case $kind in
      # Cut at a line end after the controls (before entry 51): it parses,
      # but the texts of the runs are missing.
      cut-at-line) head -n "$(($(grep -n '^#define NUBO_MSG_NO_INPUT 51' "$good" | cut -d: -f1) - 1))" "$good" >"$base" ;;
      # Cut inside a text (three bytes after the first "/*" past a third of
      # the file), so that the cut does not depend on how long the file is.
      cut) head -c "$(grep -bo '/\*' "$good" |
                     awk -F: -v third="$(($(stat -c %s "$good") / 3))" '$1 > third { print $1 + 5; exit }')" \
             "$good" >"$base" ;;
      empty) : >"$base" ;;
      random) awk 'BEGIN { srand(7); for (i = 0; i < 4000; i++) printf "%c", int(rand() * 255) + 1 }' >"$base" ;;
      overlong) awk '/NUBO_HEADING/ { s = ""; for (i = 0; i < 12000; i++) s = s "x"; sub(/\/\*.*\*\//, "/*" s "*/") } { print }' \
                  "$good" >"$base" ;;
    esac
    rm -f "$work/prog/NUBOCONV.ini"
    "$work/prog/NUBOCONV" >>"$work/nuboconv.log" 2>&1 &
    pid=$!
    local box
    box=$(wait_for_window '^Error$') || fail "$kind: no message box"
    wait_for $kWait "$kind: the message box was not painted" painted "$box"
    screenshot "broken-$kind"
    xdotool search --all --onlyvisible --pid "$pid" --name '^format converter' >/dev/null 2>&1 &&
      fail "$kind: the main window was shown"
    xdotool windowactivate --sync "$box" key Return
    rc=0
    wait_for_end 10 || rc=$?
    [ "$rc" -eq 1 ] || fail "$kind: NUBOCONV ended with $rc, not 1"
    [ ! -e "$work/prog/NUBOCONV.ini" ] || fail "$kind: a settings file was written"
    note "$kind: message shown, exit status $rc"
  done
  cp "$good" "$base"
}

case_keyboard() {
  need_built NUBOCONV
  prepare_program_dir
  read_metrics
  start_window_manager
  write_settings 0 "*.*" "*.*"
  start_program
  xdotool windowactivate --sync "$wid"
  # The focus starts in the input field.
  xdotool key End BackSpace BackSpace BackSpace
  xdotool type "$work/none/"
  # Keys are handled in the order they are sent: "zz" comes after Start.
  xdotool key Return  # Start (the default button): the focus leaves the field
  xdotool type "zz"
  wait_for $kWait "the window did not settle" screen_settled
  screenshot after-enter
  # From the window: the language button, the job group, the input field,
  # its Browse button, then the check box under it.
  xdotool key Tab Tab Tab Tab
  wait_for $kWait "the window did not settle" screen_settled
  screenshot tab-on-browse
  xdotool key Tab space Tab End BackSpace BackSpace BackSpace
  xdotool type "$work/out/"
  xdotool key Tab Tab space
  # Back over overwrite, Browse, output, check box, Browse and input to the group.
  xdotool key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
  xdotool key Left  # the job before Re-encode: Encode and verify
  wait_for $kWait "the window did not settle" screen_settled
  screenshot radio-by-arrow
  click_control 22
  local rc=0
  wait_for_end 10 || rc=$?
  [ "$rc" -eq 0 ] || fail "NUBOCONV ended with $rc"
  check_settings_shape
  [ "$(settings_line 8)" = "$work/none/" ] || fail "input slot '$(settings_line 8)': keys after Enter went into the field"
  [ "$(settings_line 9)" = "$work/out/" ] || fail "output slot '$(settings_line 9)': Tab did not reach the output field"
  [ "$(settings_line 4)" = 1 ] || fail "Include subdirectories was not the stop after the input's Browse button"
  [ "$(settings_line 3)" = 1 ] || fail "Overwrite was not the stop after the output's Browse button"
  [ "$(settings_line 2)" = 3 ] || fail "job kind $(settings_line 2): the arrow key in the job group did not choose 3"
}

case_long_paths() {
  need_built NUBOCONV make_old_nab nubo
  prepare_program_dir
  read_metrics
  start_window_manager
  local deep="$work/in/recordings-of-the-spring-concert-series-archive"
  deep="$deep/second-half-with-the-guest-orchestra-and-choir/2021/live/mixdown-stereo-final-version"
  mkdir -p "$deep" "$work/src"
  sox -R -n -r 8000 -c 1 -b 16 "$work/src/t.wav" synth 0.2 sine 300
  "$bin/make_old_nab" "$work/src/t.wav" "$work/src/t20.NAB" 20 >/dev/null
  "$bin/nubo" upgrade "$work/src/t20.NAB" -o "$deep/TAKE.NAB" >/dev/null
  # Named on its own, a version-22 file is refused: status line 3 shows its path.
  write_settings 0 "$deep/TAKE.NAB" "$work/out/"
  start_program
  click_control 21
  xdotool mousemove --window "$wid" 0 0
  local x y w h
  # At the end status line 2 says the refusal with the path (what it shows
  # is the backend test's to check); line 3 has the count line.
  read -r x y w h <<<"$(control_box 33)"
  wait_for $kWait "status line 3 shows nothing" region_shows "$x" "$y" "$w" "$h"
  read -r x y w h <<<"$(control_box 32)"
  wait_for $kWait "status line 2 shows nothing" region_shows "$x" "$y" "$w" "$h"
  wait_for $kWait "the window did not settle" screen_settled
  screenshot long-path
  # Hovering shows the whole path.
  xdotool mousemove --window "$wid" $((x + w / 2)) $((y + h / 2))
  wait_for $kWait "no tooltip appeared over the shortened path" screen_differs long-path 1000
  wait_for $kWait "the tooltip did not settle" screen_settled
  screenshot long-path-tooltip
  note "pixels changed by hovering: $(pixels_differing long-path long-path-tooltip)"
  exit_program
}

case_refusals() {
  need_built NUBOCONV make_old_nab
  [ -f "$slow_reads" ] || fail "the slow-read library is needed"
  prepare_program_dir
  read_metrics
  start_window_manager
  mkdir -p "$work/src" "$work/in"
  local name
  for name in one two; do
    sox -R -n -r 22050 -c 1 -b 16 "$work/src/$name.wav" synth 1 sine 440 gain -3
    "$bin/make_old_nab" "$work/src/$name.wav" "$work/in/$name.NAB" 20 >/dev/null
  done
  write_settings 1 "$work/in/*.NAB" "$work/out/"  # in German
  # The run holds still at its first read while the gate exists.
  local gate="$work/gate"
  touch "$gate"
  start_program LD_PRELOAD="$slow_reads" NUBO_READ_GATE="$gate" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
  wait_for $kWait "the window did not settle" screen_settled
  import -window "$wid" "$work/idle.png"
  click_control 21  # Start
  wait_for $kWait "the run did not reach its first read" test -e "$gate.held"
  wait_for $kWait "the window did not settle" screen_settled
  import -window "$wid" "$work/running.png"
  # During the run every control but Start, Exit and Cancel looks inactive
  # (greyed); Start and the status lines' frames do not change that way.
  local id changed
  for id in 0 2 3 4 11 12 13 16 17 18; do
    changed=$(compare -metric AE "$(region_of idle "$id")" "$(region_of running "$id")" null: 2>&1 >/dev/null |
              awk '{ print int($1) }' || true)
    [ "${changed:-0}" -gt 0 ] || fail "control $id looks as it does when idle during the run"
  done
  # Keys reach a greyed control too (Tab from the input field to its Browse
  # button, space: refused); the output field is read-only: keys that would
  # empty it and typing change nothing (the settings below keep it).
  click_control 12
  xdotool key --clearmodifiers Tab space
  click_control 17
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 50 zz

  # A job, both options and the language: each is refused.
  for id in 2 13 18 0; do click_control "$id"; done
  # Cancel asks its question after those clicks have been handled (the
  # window takes its events in order): titled in German.
  click_control 23
  local box
  box=$(wait_for_window '^Abbrechen$') || fail "no question titled 'Abbrechen' (the German file's title)"
  wait_for $kWait "the question was not painted" painted "$box"
  screenshot refusals-question
  xdotool windowactivate --sync "$box" key Escape
  wait_for $kWait "the question stayed open" window_gone '^Abbrechen$'
  wait_for $kWait "the window did not settle" screen_settled
  import -window "$wid" "$work/refused.png"
  screenshot refusals
  # The clicked controls look as before; status line 2 says the refusal.
  for id in 2 3 4 13 18 0; do
    changed=$(compare -metric AE "$(region_of running "$id")" "$(region_of refused "$id")" null: 2>&1 >/dev/null |
              awk '{ print int($1) }' || true)
    [ "${changed:-0}" -eq 0 ] || fail "control $id changed its look during the run ($changed pixels)"
  done
  local x y w h
  read -r x y w h <<<"$(control_box 32)"
  region_shows "$x" "$y" "$w" "$h" || fail "status line 2 shows no refusal"

  rm "$gate"
  wait_for $((2 * kWait)) "the run did not end" test -s "$work/out/one.NAB" -a -s "$work/out/two.NAB"
  # Idle again: the controls look as they did before the run.
  wait_for $kWait "the window did not settle" screen_settled
  import -window "$wid" "$work/after.png"
  for id in 3 4 11 16; do
    changed=$(compare -metric AE "$(region_of idle "$id")" "$(region_of after "$id")" null: 2>&1 >/dev/null |
              awk '{ print int($1) }' || true)
    [ "${changed:-0}" -eq 0 ] || fail "control $id does not look idle again after the run ($changed pixels)"
  done
  exit_program
  check_settings_shape
  [ "$(settings_line 9)" = "$work/out/" ] || fail "the output field was edited during the run: $(settings_line 9)"
  [ "$(settings_line 2)" = 4 ] || fail "the refused job was kept: job kind $(settings_line 2)"
  [ "$(settings_line 3)" = 0 ] || fail "the refused overwrite option was kept"
  [ "$(settings_line 4)" = 0 ] || fail "the refused subdirectory option was kept"
  [ "$(settings_line 5)" = 1 ] || fail "the refused language switch was kept: $(settings_line 5)"
  note "screenshots kept: $work/refusals.png $work/refusals-question.png"
}

# region_blank X Y W H: that box of the main window shows no text (a plain
# background, or the list's plain field).
region_blank() {
  local deviation
  deviation=$(import -window "$wid" png:- | convert - -crop "$(($3 - 8))x$(($4 - 6))+$(($1 + 4))+$(($2 + 3))" \
                -format '%[fx:standard_deviation]' info:) || return 1
  awk -v d="$deviation" 'BEGIN { exit !(d < 0.01) }'
}

case_end_of_run() {
  need_built NUBOCONV make_old_nab
  prepare_program_dir
  read_metrics
  start_window_manager
  mkdir -p "$work/src" "$work/in"
  sox -R -n -r 44100 -c 2 -b 16 "$work/src/music.wav" synth 2.5 pluck C3 pluck G3 gain -6
  sox -R -n -r 22050 -c 1 -b 16 "$work/src/voice.wav" synth 1.2 square 110 lowpass 1500 gain -12
  "$bin/make_old_nab" "$work/src/music.wav" "$work/in/MUSIC.NAB" 20 >/dev/null
  "$bin/make_old_nab" "$work/src/voice.wav" "$work/in/VOICE.NAB" 21 >/dev/null
  cp "$work/in/MUSIC.NAB" "$work/in/DAMAGED.NAB"
  truncate -s -700 "$work/in/DAMAGED.NAB"  # ends inside its last block
  local lang name x y w h id
  for lang in 0 1; do
    name=$([ "$lang" = 0 ] && echo en || echo de)
    write_settings "$lang" "$work/in/*.NAB" "$work/out-$name/"
    start_program
    click_control 21  # Start
    wait_for $((2 * kWait)) "the run did not write the good files' outputs" \
      test -s "$work/out-$name/MUSIC.NAB" -a -s "$work/out-$name/VOICE.NAB"
    read -r x y w h <<<"$(control_box 34)"
    wait_for $kWait "the list of files not converted stayed empty" region_shows "$x" "$y" "$((w - 2 * lh))" "$((3 * lh))"
    wait_for $kWait "the window did not settle after the run" screen_settled
    for id in 31 33; do
      read -r x y w h <<<"$(control_box "$id")"
      region_shows "$x" "$y" "$w" "$h" || fail "$name: status line $((id - 30)) is empty after the run"
    done
    [ ! -e "$work/out-$name/DAMAGED.NAB" ] || fail "$name: the damaged file has an output under its final name"
    import -window "$wid" "$work/end-$name.png"
    note "screenshot $work/end-$name.png"
    exit_program

    # Encode on the folder: no WAVE file in it.
    {
      printf '20\n2\n0\n0\n%s\n' "$lang"
      printf '%s\n%s\n' "$work/in/*.NAB" "$work/enc-$name/"
      printf '*.*\n%.0s' 2 3 4 5 6 7 8 9
    } >"$work/prog/NUBOCONV.ini"
    start_program
    click_control 21
    read -r x y w h <<<"$(control_box 33)"
    wait_for $kWait "encode on compressed files did not write the count line" region_shows "$x" "$y" "$w" "$h"
    wait_for $kWait "the window did not settle after the run" screen_settled
    read -r x y w h <<<"$(control_box 31)"
    region_shows "$x" "$y" "$w" "$h" || fail "$name: status line 1 is empty after encode on compressed files"
    read -r x y w h <<<"$(control_box 32)"
    region_blank "$x" "$y" "$w" "$h" || fail "$name: status line 2 shows something after encode on compressed files"
    # The list's lines, left of its scroll bar and above the horizontal one
    # (both always there).
    read -r x y w h <<<"$(control_box 34)"
    region_blank "$x" "$y" "$((w - 2 * lh))" "$((3 * lh))" || fail "$name: files of another kind were listed"
    [ ! -e "$work/enc-$name" ] || fail "$name: encode on compressed files wrote something"
    import -window "$wid" "$work/no-input-$name.png"
    exit_program
  done
  note "screenshots kept: $work/end-en.png $work/end-de.png $work/no-input-en.png $work/no-input-de.png"
}

# --- entry ----------------------------------------------------------------

# The file size limit (ulimit -f) reached by an output: the write fails and
# that file is not converted; the window goes on with the next file instead
# of being ended by SIGXFSZ.
case_file_size_limit() {
  need_built NUBOCONV make_old_nab
  prepare_program_dir
  read_metrics
  start_window_manager
  mkdir -p "$work/src" "$work/in"
  sox -R -n -r 44100 -c 2 -b 16 "$work/src/a_big.wav" synth 30 whitenoise gain -3
  sox -R -n -r 44100 -c 2 -b 16 "$work/src/b_small.wav" synth 1 sine 440 gain -3
  local name
  for name in a_big b_small; do
    "$bin/make_old_nab" "$work/src/$name.wav" "$work/in/$name.NAB" 20 >/dev/null
  done
  write_settings 0 "$work/in/*.NAB" "$work/out/"
  # 1 MiB for the program: a_big's output (about 5 MB) goes past it.
  ulimit -S -f 1024
  start_program
  ulimit -S -f unlimited
  click_control 21  # Start
  went_on() {
    kill -0 "$pid" 2>/dev/null || fail "NUBOCONV ended when an output reached the file size limit"
    test -s "$work/out/b_small.NAB"
  }
  wait_for $((2 * kWait)) "the run did not go on to the file after the one that reached the limit" went_on
  check_version22_file "$work/out/b_small.NAB"
  [ ! -e "$work/out/a_big.NAB" ] || fail "the output cut at the file size limit has its final name"
  screenshot after-limit
  exit_program
}

case_gtest() {
  mkdir -p "$work"
  cd "$work"
  "$metrics_program"
}

case $mode in
  no-display)
    case_no_display
    ;;
  reencode | language | close-during-run | broken-definitions | keyboard | long-paths | refusals | end-of-run | installed | file-size-limit | gtest)
    [ -n "$metrics_program" ] || fail "the metrics or test program is needed"
    if [ -z "${NUBO_GUI_UNDER_XVFB:-}" ]; then
      if [ "$mode" = gtest ]; then
        need_tools xvfb-run xauth xdotool
      else
        need_tools xvfb-run xauth xdotool import convert compare sox
      fi
      rc=0
      for attempt in 1 2 3; do
        rc=0
        NUBO_GUI_UNDER_XVFB=1 xvfb-run -a -s "$kScreen" bash "$0" "$@" || rc=$?
        [ "$rc" -eq $kDisplayFailed ] || break
        note "the virtual display did not come up (attempt $attempt); trying again"
        sleep 1
      done
      exit "$rc"
    fi
    xdotool getdisplaygeometry >/dev/null 2>&1 || exit $kDisplayFailed
    "case_${mode//-/_}"
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac
echo "PASS: $mode"
