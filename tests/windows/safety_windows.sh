#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Safe runs of nubo.exe under Wine, with what Windows brings: paths with
# backslashes and drive letters, names that differ only in case, read-only
# files, a process killed in the middle of a file, and NUL as the output.
# No input is ever changed, no partial file takes a final name, and the exit
# status tells what happened.
# Usage: safety_windows.sh BIN_DIR WORK_DIR   (BIN_DIR: the Windows build's bin)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$(dirname "$0")/../cli/lib.sh" "$1" "$2"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
coder_version() { od -An -tu4 -j38 -N4 "$1" | tr -d ' '; }
partials() { find "${1:-.}" -name '*.nubo-part' | sort; }
# The DOS attributes of a file as Windows shows them (Wine's attrib.exe).
attributes() { "$here/wine-run.sh" attrib "$(winpath "$1")" 2>/dev/null | tr -d '\r' | cut -c1-8; }

sox -R -D -n -r 44100 -b 16 -c 2 music.wav synth 2.1 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9 2>/dev/null
mkdir -p in
"$bin/make_old_nab" music.wav in/A.NAB 20 >/dev/null
"$bin/make_old_nab" music.wav in/B.NAB 21 >/dev/null
sums() { md5sum in/* music.wav; }
sums >inputs.md5

# --- Backslashes and drive letters --------------------------------------------
run 0 "$nubo" upgrade "$(winpath "$work/in")\\*.NAB" -o "$(winpath "$work/out")\\"
expect_in out.txt "2 file(s) converted"
expect_in out.txt "$(winpath "$work/out")\\A.NAB"
for f in A B; do [[ $(coder_version out/$f.NAB) == 22 ]] || fail "out/$f.NAB is not version 22"; done
# Beside the input with '!' toggled, in the input's own directory.
run 0 "$nubo" upgrade "$(winpath "$work/in")\\A.NAB"
[[ -f 'in/A!.NAB' ]] || fail "the default output in\\A!.NAB is missing"
rm -f 'in/A!.NAB'
# A directory given with a forward slash and one with a backslash are the same.
run 0 "$nubo" upgrade "$(winpath "$work/in")/" -o "$(winpath "$work/out")/"
expect_in out.txt "0 file(s) converted  2 skipped (output existed)"

# --- Nothing replaced that may not be ---------------------------------------------
# The input under another spelling (other case, other separators) is the input.
run 1 "$nubo" upgrade in/A.NAB -o "$(winpath "$work/IN")\\a.nab"
expect_in err.txt "overwrite the input"
# A file of another kind is never replaced, not even with --overwrite.
echo "notes" >out/notes.NAB
run 1 "$nubo" upgrade --overwrite in/A.NAB -o out/notes.NAB
[[ $(cat out/notes.NAB) == notes ]] || fail "--overwrite replaced a file that is no version-22 file"
# A version-22 output is replaced with --overwrite, keeping the input's time.
touch -d '2003-04-05 06:07:08' in/B.NAB
sums >inputs.md5
run 0 "$nubo" upgrade --overwrite in/B.NAB -o out/B.NAB
[[ $(stat -c %Y out/B.NAB) == $(stat -c %Y in/B.NAB) ]] || fail "out/B.NAB did not keep the input's time"
# A read-only input gives a read-only output.
"$here/wine-run.sh" attrib +R "$(winpath "$work/in/A.NAB")" >/dev/null 2>&1
run 0 "$nubo" upgrade in/A.NAB -o ro/A.NAB
[[ $(attributes ro/A.NAB) == *R* ]] || fail "ro/A.NAB is not read-only like its input: $(attributes ro/A.NAB)"
"$here/wine-run.sh" attrib -R "$(winpath "$work/in/A.NAB")" >/dev/null 2>&1
# A read-only output is not replaced, even with --overwrite: it stays as it
# was, and the new file waits under its temporary name, which the message names.
cp ro/A.NAB ro.before
run 1 "$nubo" upgrade --overwrite in/B.NAB -o ro/A.NAB
cmp -s ro/A.NAB ro.before || fail "a read-only output was replaced"
[[ -n $(partials ro) ]] || fail "no temporary file left beside the read-only output"
grep -qF "$(basename "$(partials ro | head -n1)")" err.txt || fail "the message does not name the temporary file: $(cat err.txt)"

# --- A killed process leaves no partial file under a final name ----------------
# Six hours of silence (almost 4 GiB, written sparse): far too long to be
# done before it is killed, however fast the machine.
mkdir -p long
{ printf 'RIFF'; printf '\x24\0\0\xf0'; printf 'WAVEfmt '; printf '\x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0'
  printf 'data'; printf '\0\0\0\xf0'; } >long/silence.wav
truncate -s $((44 + 0xf0000000)) long/silence.wav
"$nubo" encode long/silence.wav -o long/silence.NAB >/dev/null 2>&1 &
pid=$!
for _ in $(seq 400); do [[ -n $(partials long) ]] && break; sleep 0.05; done
sleep 0.2
if kill -0 "$pid" 2>/dev/null; then
  # The Wine process itself (the script bin/nubo has exec'd into it).
  kill -9 "$pid"
  wait "$pid" 2>/dev/null
  [[ ! -e long/silence.NAB ]] || fail "long/silence.NAB exists after the process was killed"
  [[ -n $(partials long) ]] || fail "the killed run left no temporary file"
  # A later run passes the leftover over and does not stop at it.
  mkdir -p left
  mv "$(partials long | head -n1)" left/
  cp music.wav left/
  run 0 "$nubo" encode left/ -o left2/
  expect_in out.txt "1 file(s) converted"
  [[ $(ls left2) == music.NAB ]] || fail "a leftover temporary file was taken as an input: $(ls left2)"
else
  fail "the encode of six hours ended before it could be killed"
fi

# --- The null device ---------------------------------------------------------------
run 0 "$nubo" decode out/A.NAB -o NUL
expect_in out.txt "1 file(s) converted"

md5sum -c --quiet inputs.md5 || fail "an input changed"
finish "all Windows safety"
