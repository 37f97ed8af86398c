#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# nubo.exe under Wine with names outside every ANSI code page (Japanese,
# German, a character beyond the first plane) in files, directories,
# patterns, --files-from lists and report names; printed to a pipe as the
# UTF-8 they are. An argument that starts with '/' is a path, not an option.
# The audio MD5 from the system's hashing equals the MD5 of the PCM bytes
# and, when given, the Linux build's.
# Usage: names_windows.sh BIN_DIR WORK_DIR [LINUX_BIN_DIR]
set -uo pipefail
linux_bin=${3:-}
[[ -x $linux_bin/nubo ]] && linux_bin=$(cd "$linux_bin" && pwd) || linux_bin=
source "$(dirname "$0")/../cli/lib.sh" "$1" "$2"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
pcm_md5() { sox "$1" -t raw - | md5sum | cut -d' ' -f1; }

sox -R -D -n -r 44100 -b 16 -c 2 music.wav synth 1.3 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9 2>/dev/null
dir='Aufnahmen Größe 音声'
take='音声 Take🎵'
mkdir -p "$dir" alt
cp music.wav "$dir/$take.wav"
"$bin/make_old_nab" music.wav old.NAB 21 >make_old_nab.txt 2>&1
made=$?
if ((made != 0)); then
  cat make_old_nab.txt >&2
  echo "FAIL: make_old_nab.exe did not make the old file (exit $made); nothing else can be tested" >&2
  exit 1
fi
cp old.NAB 'alt/古い録音.NAB'
mv old.NAB 'alt/Ärger.NAB'
md5sum music.wav "$dir"/* alt/* >inputs.md5

# --- Files and directories named in any script -----------------------------------
run 0 "$nubo" encode "$dir/$take.wav"
[[ -f "$dir/$take.NAB" ]] || fail "encode did not write '$dir/$take.NAB': $(ls "$dir")"
expect_in out.txt "$take.NAB"  # the UTF-8 bytes, unchanged into the pipe
run 0 "$nubo" decode "$dir/$take.NAB" -o '出力/'
[[ -f "出力/$take.wav" ]] || fail "decode did not write '出力/$take.wav'"
[[ -f "出力/$take.wav" && $(pcm_md5 "出力/$take.wav") == $(pcm_md5 music.wav) ]] ||
  fail "the decoded audio differs from the input's"
# Windows spellings of the same names.
run 0 "$nubo" decode "$(winpath "$work/$dir/$take.NAB")" -o "$(winpath "$work/出力2")\\"
[[ -f "出力2/$take.wav" ]] || fail "decode through a Windows path did not write '出力2/$take.wav'"

# --- Patterns: '?' is one character however many bytes it has ---------------------
run 0 "$nubo" upgrade "$(winpath "$work/alt")\\??録音.NAB" -o "$(winpath "$work/up")\\"
expect_in out.txt "1 file(s) converted"
[[ -f 'up/古い録音.NAB' ]] || fail "the pattern ??録音.NAB did not find 古い録音.NAB: $(ls up 2>&1)"
[[ ! -e 'up/Ärger.NAB' ]] || fail "the pattern ??録音.NAB took Ärger.NAB"
run 0 "$nubo" upgrade 'alt/?rger.nab' -o 'up/'
[[ -f 'up/Ärger.NAB' ]] || fail "the pattern ?rger.nab did not find Ärger.NAB"

# --- Lists and reports ------------------------------------------------------------------
printf '%s\n' 'alt/Ärger.NAB' 'alt/古い録音.NAB' >liste.txt
run 0 "$nubo" upgrade --files-from liste.txt -o 'list/'
[[ -f 'list/alt/Ärger.NAB' && -f 'list/alt/古い録音.NAB' ]] || fail "--files-from did not keep the names: $(find list)"
run 0 "$nubo" test up/ --report '報告.jsonl'
[[ -f '報告.jsonl' ]] || fail "no report under the name 報告.jsonl: $(ls)"
grep -qF '古い録音.NAB' '報告.jsonl' 2>/dev/null || fail "the report does not name 古い録音.NAB"

# --- An argument that starts with '/' is a path -----------------------------------------
# (Wine takes /x as \x on the current drive, which is Z:, the Unix root.)
cp music.wav take.wav
run 0 "$nubo" encode "$work/take.wav" -o "$work/slash/"
[[ -f slash/take.NAB ]] || fail "nubo.exe encode $work/take.wav wrote no slash/take.NAB"
run 1 "$nubo" test "$work/missing.NAB"
grep -q 'not expected' err.txt && fail "/... taken as an option: $(cat err.txt)"

# --- The audio MD5 from the system's hashing --------------------------------------------
run 0 "$nubo" test --md5 "$dir/$take.NAB" 'up/古い録音.NAB'
want=$(pcm_md5 music.wav)
mapfile -t sums < <(tr -d '\r' <out.txt | grep -E '^[0-9a-f]{32}  ')
[[ ${#sums[@]} == 2 ]] || fail "test --md5 printed ${#sums[@]} MD5 lines: $(cat out.txt)"
for line in "${sums[@]}"; do
  [[ ${line%% *} == "$want" ]] || fail "MD5 ${line%% *} is not the audio's $want: $line"
done
expect_in out.txt "$take.NAB"
if [[ -n $linux_bin ]]; then
  linux=$("$linux_bin/nubo" test --md5 "$dir/$take.NAB" | grep -E '^[0-9a-f]{32}  ' | cut -d' ' -f1)
  [[ $linux == "${sums[0]%% *}" ]] || fail "the Linux build's MD5 $linux differs from nubo.exe's ${sums[0]%% *}"
fi

# --- Fixity: a record with such names, under such a name, read back --------------------
tr -d '\r' <out.txt >'記録 Größe.md5'
run 0 "$nubo" test --check '記録 Größe.md5'
expect_in out.txt "2 file(s) hold the audio recorded  0 differ  0 missing"
run 1 "$nubo" test --check '記録 Größe.md5' up/
expect_in out.txt "1 file(s) hold the audio recorded  0 differ  0 missing  1 not recorded"
expect_in err.txt "not in the record 記録 Größe.md5: up/Ärger.NAB"

# --- Outputs told apart by characters outside every code page ---------------------------
# (Two outputs that differ only there are two files, not one output written twice.)
mkdir -p twins
cp music.wav 'twins/音声.wav'
cp music.wav 'twins/録音.wav'
run 0 "$nubo" encode 'twins/音声.wav' 'twins/録音.wav' -o 'twins out/'
[[ -f 'twins out/音声.NAB' && -f 'twins out/録音.NAB' ]] ||
  fail "two outputs named in characters outside the code page were taken for one: $(cat err.txt)"

md5sum -c --quiet inputs.md5 || fail "an input changed"
finish "nubo.exe: names in any script, '/' paths and the audio MD5${linux_bin:+ (the MD5 also against the Linux build)}"
