#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Safe runs of nubo, checked on real processes and real files: no input is
# ever replaced, no output takes its final name before it is complete, one bad
# file does not stop the rest, and the exit status and the messages tell what
# happened. Every input's checksum is compared before and after each case.
# Usage: safety_test.sh BIN_DIR WORK_DIR SYNC_FAULT.so [FLAC_FAULT.so] (run as
# root: some cases run nubo as the user nobody, one mounts a small tmpfs).
set -uo pipefail
bin=$(cd "$1" && pwd) || exit 1
work=$2
sync_fault=$3      # a preloaded library under which fsync of a directory fails
flac_fault=${4:-}  # a preloaded library that bends the samples libFLAC's encoder gets; FLAC cases need it
nubo=$bin/nubo
make_old=$bin/make_old_nab
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd) || exit 1
cd "$work" || exit 1

# Cases run as nobody live in a directory that nobody can reach and write.
shared=$(mktemp -d /tmp/nubo-safety.XXXXXX) || exit 1
chmod 755 "$shared"
mounted=""
background=()
cleanup() {
  local pid
  for pid in "${background[@]}"; do kill -9 "$pid" 2>/dev/null; done
  [[ -n $mounted ]] && umount "$mounted"
  rm -rf "$shared"
}
trap cleanup EXIT

failures=0
case_name=""
# Failures go to fd 3 (the script's stderr), so that the shell's notes on
# killed background jobs can be silenced without them.
exec 3>&2
fail() { echo "FAIL [$case_name]: $*" >&3; failures=$((failures + 1)); }

# run EXPECTED_EXIT CMD...: runs CMD with stdout/stderr captured in out.txt/err.txt
# of the current directory; a run that hangs is stopped after $limit seconds.
# The bound catches hangs only: a whole hour of audio under the sanitizers on a
# loaded machine takes more than a minute.
limit=600
run() {
  local expected=$1
  shift
  timeout -k 5 "$limit" "$@" >out.txt 2>err.txt
  code=$?
  if [[ $code -eq 124 ]]; then
    fail "timed out after $limit s (hangs): $*"
  elif [[ $code -ne $expected ]]; then
    fail "exit $code (expected $expected): $*"
    sed 's/^/  stdout: /' out.txt >&2
    sed 's/^/  stderr: /' err.txt >&2
  fi
}
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
# "${preloaded[@]}" LD_PRELOAD=LIBRARY CMD...: CMD with a fault library loaded
# first (the sanitizer build is told not to mind that its runtime comes second).
preloaded=(env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
expect_in() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(head -c 600 "$1")"; }
expect_not_in() { ! grep -qF -- "$2" "$1" || fail "$1 has '$2': $(grep -F -- "$2" "$1" | head -3)"; }
expect_summary() { expect_in out.txt "$1 file(s) converted  $2 skipped (output existed)  $3 file(s) not converted"; }
u32_at() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
le32() {
  local v=$1
  printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))"
  printf "\\x$(printf %02x $(((v >> 16) & 255)))\\x$(printf %02x $(((v >> 24) & 255)))"
}
put_u32() { le32 "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
coder_version() { u32_at "$1" 38; }
# A complete version-22 file: nubo test passes on it.
expect_complete() {
  [[ -f $1 ]] || { fail "$1 is missing"; return; }
  [[ $(coder_version "$1") == 22 ]] || fail "$1 is not coder version 22"
  "$nubo" test "$1" >/dev/null 2>check.txt || fail "$1 is not complete: $(cat check.txt)"
}
expect_same_audio() {
  "$nubo" verify "$1" "$2" >/dev/null 2>check.txt || fail "$1 does not hold the audio of $2: $(cat check.txt)"
}
# The temporary files of unfinished outputs in a directory.
parts_in() { find "$1" -maxdepth 1 -name '.*.nubo-part' -printf '%f\n' | sort; }
count_parts() { parts_in "$1" | grep -c .; }

# begin CASE: a fresh directory for the case (under $2, default the work
# directory); guard FILE... records the checksums of its inputs, and the next
# begin (or the end of the script) checks them.
sums=""
check_inputs() {
  if [[ -n $sums && -s $sums ]]; then
    md5sum --quiet -c "$sums" >check.txt 2>&1 || fail "an input changed: $(cat check.txt)"
  fi
}
begin() {
  check_inputs
  case_name=$1
  local base=${2:-$work}
  mkdir -p "$base/$1"
  cd "$base/$1" || exit 1
  sums=$work/$1.md5
  : >"$sums"
}
guard() {
  local f
  for f in "$@"; do md5sum "$(realpath -s "$f")" >>"$sums"; done
}

# --- Sources ------------------------------------------------------------------
# Music-like stereo (3.01 s, not a whole number of blocks), voice-like mono,
# 12 s of stereo noise (more than a small disk holds once compressed), the
# first 100 blocks of the music (for files cut at a block boundary), and long
# silent recordings, written sparse, for runs that last long enough to be
# stopped (the codec does a minute of audio in a few milliseconds).
src=$work/src
mkdir -p "$src"
sox -R -D -n -r 44100 -b 16 -c 2 "$src/music.wav" synth 3.01 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9
sox -R -D -n -r 22050 -b 16 -c 1 "$src/voice.wav" synth 1.5 square 110 lowpass 1500 gain -14 2>/dev/null
sox -R -D -n -r 44100 -b 16 -c 2 "$src/noise.wav" synth 12 whitenoise gain -6 2>/dev/null
sox "$src/music.wav" "$src/head.wav" trim 0s 88200s
sox -n -r 44100 -b 24 -c 2 "$src/deep.wav" synth 0.5 sine 440
silent_wave() {  # FILE MINUTES: stereo 44.1 kHz silence
  local bytes=$((44100 * 4 * 60 * $2))
  {
    printf RIFF; le32 $((bytes + 36)); printf 'WAVEfmt '; le32 16
    printf '\x01\x00\x02\x00'; le32 44100; le32 176400; printf '\x04\x00\x10\x00data'; le32 $bytes
  } >"$1"
  truncate -s $((bytes + 44)) "$1"
}
silent_wave "$src/long.wav" 60
silent_wave "$src/mid.wav" 24
"$make_old" "$src/music.wav" "$src/music21.NAB" 21
"$make_old" "$src/voice.wav" "$src/voice20.NAB" 20
"$make_old" "$src/noise.wav" "$src/noise21.NAB" 21
"$make_old" "$src/head.wav" "$src/head21.NAB" 21
"$make_old" "$src/long.wav" "$src/long21.NAB" 21
"$nubo" -q encode "$src/music.wav" -o "$src/music22.NAB"
"$nubo" -q encode "$src/voice.wav" -o "$src/voice22.NAB"
"$nubo" -q encode "$src/head.wav" -o "$src/head22.NAB"
[[ $(dd if="$src/music.wav" bs=1 skip=36 count=4 status=none) == data ]] || { echo "sox wrote an unexpected header" >&2; exit 1; }
chmod -R a+rX "$src"

# --- Outputs never replace inputs or files of another kind -----------------------

# The default output of each input is the other input: neither is replaced.
begin overwrite_dir_of_pairs
mkdir d
cp "$src/music21.NAB" d/TAKE.NAB
cp "$src/voice20.NAB" 'd/TAKE!.NAB'
guard d/TAKE.NAB 'd/TAKE!.NAB'
run 1 "$nubo" upgrade --overwrite d/
expect_in err.txt "The output is an input of this run"
expect_not_in out.txt "The output is an input of this run"
[[ $(coder_version d/TAKE.NAB) == 21 && $(coder_version 'd/TAKE!.NAB') == 20 ]] || fail "an input was replaced"

# A pattern the shell expanded: every name is an input, none an output.
begin unquoted_pattern
mkdir old w
cp "$src/music21.NAB" old/A.NAB
cp "$src/voice20.NAB" old/B.NAB
cp "$src/music.wav" w/a.wav
cp "$src/voice.wav" w/b.wav
guard old/A.NAB old/B.NAB w/a.wav w/b.wav
run 0 "$nubo" upgrade --overwrite old/*.NAB
expect_summary 2 0 0
expect_complete 'old/A!.NAB'
expect_complete 'old/B!.NAB'
expect_same_audio 'old/B!.NAB' "$src/voice.wav"
run 0 "$nubo" encode --overwrite w/*.wav
expect_complete w/a.NAB
expect_complete w/b.NAB
expect_same_audio w/b.NAB "$src/voice.wav"

# --overwrite replaces only a version-22 file (or a WAVE for decode).
begin overwrite_only_own_kind
cp "$src/music21.NAB" A.NAB
cp "$src/voice20.NAB" OLD.NAB
cp "$src/voice.wav" other.wav
echo "session notes" >notes.txt
guard A.NAB OLD.NAB other.wav notes.txt "$src/music.wav"
run 1 "$nubo" upgrade -f A.NAB -o OLD.NAB
expect_in err.txt "The existing output is not a version-22 compressed file; not replaced:"
expect_in err.txt "OLD.NAB"
run 1 "$nubo" encode -f "$src/music.wav" -o other.wav
expect_in err.txt "The existing output is not a version-22 compressed file; not replaced:"
run 1 "$nubo" upgrade -f A.NAB -o notes.txt
expect_in err.txt "not replaced"
run 1 "$nubo" decode -f "$src/music22.NAB" -o notes.txt
expect_in err.txt "The existing output is not a WAVE file"
# What it may replace, it does.
cp "$src/voice22.NAB" new.NAB
run 0 "$nubo" upgrade -f A.NAB -o new.NAB
expect_summary 1 0 0
expect_same_audio new.NAB "$src/music.wav"

# The output is the input under another name.
begin output_is_input_through_links
cp "$src/music21.NAB" A.NAB
ln -s A.NAB alias.NAB
ln A.NAB hard.NAB
cp "$src/music22.NAB" song.wav
guard A.NAB song.wav
run 1 "$nubo" upgrade A.NAB -o alias.NAB
grep -qE "overwrite the input|input of this run" err.txt || fail "no refusal of the input as output (symbolic link): $(cat err.txt)"
expect_not_in out.txt ": skipped (output existed)"
run 1 "$nubo" upgrade -f A.NAB -o hard.NAB
grep -qE "overwrite the input|input of this run" err.txt || fail "no refusal of the input as output (hard link): $(cat err.txt)"
# The collision rule cannot change the name (no capital A): refused.
run 1 "$nubo" decode song.wav -o '*'
expect_in err.txt "The output would overwrite the input"

# Two inputs of one run that would write the same output.
begin same_output_twice
mkdir a b out
cp "$src/music21.NAB" a/TAKE.NAB
cp "$src/voice20.NAB" b/TAKE.NAB
guard a/TAKE.NAB b/TAKE.NAB
run 1 "$nubo" upgrade --overwrite a/TAKE.NAB b/TAKE.NAB -o out/
expect_in err.txt "Another input of this run writes the same output"
expect_complete out/TAKE.NAB
expect_same_audio out/TAKE.NAB "$src/music.wav"
# The same output through a linked directory of the output tree.
mkdir -p tree/a tree/b linked/a
cp "$src/music21.NAB" tree/a/X.NAB
cp "$src/voice20.NAB" tree/b/X.NAB
ln -s a linked/b
guard tree/a/X.NAB tree/b/X.NAB
for f in "" -f; do
  rm -f linked/a/X.NAB
  run 1 "$nubo" upgrade $f -r tree -o linked/
  expect_in err.txt "Another input of this run writes the same output"
  expect_summary 1 0 1
done

# '?' is a wildcard: several inputs and one output file name is a usage error.
begin question_mark_pattern
mkdir in
cp "$src/music21.NAB" in/x1.NAB
cp "$src/voice20.NAB" in/x2.NAB
guard in/x1.NAB in/x2.NAB
run 2 "$nubo" upgrade 'in/x?.NAB' -o one.NAB
[[ ! -e one.NAB ]] || fail "several inputs were written into one.NAB"

# An output named as its input is refused: nubo has no name collision rule
# (the window's TAKE.NAB -> TAKE.NEB), so no file nobody named is written or
# replaced, and a directory's name is never changed.
begin collision_refused
mkdir DATA
cp "$src/music21.NAB" DATA/take.nab
cp "$src/voice20.NAB" DATA/TAKE.NAB
"$nubo" upgrade "$src/music21.NAB" -o DATA/TAKE.NEB >/dev/null
guard DATA/take.nab DATA/TAKE.NAB DATA/TAKE.NEB
run 0 "$nubo" upgrade DATA/take.nab -o 'DATA/*'
run 1 "$nubo" upgrade DATA/TAKE.NAB -o 'DATA/*' -f
expect_in err.txt "The output would overwrite the input"
[[ ! -e DATE ]] || fail "an output was written into DATE/: $(ls -R DATE)"
expect_complete DATA/take.NAB
expect_same_audio DATA/take.NAB "$src/music.wav"
expect_same_audio DATA/TAKE.NEB "$src/music.wav"

# --- Stopped, killed and failed runs leave no file under a final name ---------------

# interrupt SIGNAL DIR CMD...: starts CMD, waits until its temporary output
# is in DIR and it has worked for 0.2 s, checks that it still runs, sends
# SIGNAL and waits for the end (at most 10 s). code is its exit status.
interrupt() { interrupt_quietly "$@" 2>/dev/null; }
interrupt_quietly() {
  local sig=$1 dir=$2
  shift 2
  local before i pid
  before=$(count_parts "$dir")
  "$@" >out.txt 2>err.txt &
  pid=$!
  background+=("$pid")
  for ((i = 0; i < 500; i++)); do
    [[ $(count_parts "$dir") -gt $before ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  sleep 0.2
  if kill -0 "$pid" 2>/dev/null; then
    kill -s "$sig" "$pid"
  else
    fail "the run ended before SIG$sig could be sent: $*"
  fi
  for ((i = 0; i < 1000; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "still running 10 s after SIG$sig: $*"
    kill -9 "$pid"
  fi
  wait "$pid"
  code=$?
}
# After a stop: exit 1, nothing under the final name, and the one temporary
# file left is the one the message names.
expect_stopped() {
  local final=$1 dir
  dir=$(dirname "$final")
  [[ $code -eq 1 ]] || fail "exit $code after the stop (expected 1): $(cat err.txt)"
  [[ ! -e $final ]] || fail "$final exists after a stopped run"
  expect_in err.txt "partial output kept as"
  local parts
  parts=$(parts_in "$dir")
  if [[ $(grep -c . <<<"$parts") -ne 1 ]]; then
    fail "expected one temporary file in $dir, found: $parts"
  else
    expect_in err.txt "$parts"
    local name
    name=$(basename "$final")
    [[ $parts == ."$name".[A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9].nubo-part ]] ||
      fail "temporary name $parts is not .$name.XXXXXX.nubo-part"
  fi
  expect_not_in out.txt "partial output"
}

begin sigint_encode
mkdir out
guard "$src/long.wav"
interrupt INT out "$nubo" encode "$src/long.wav" -o out/long.NAB
expect_stopped out/long.NAB
run 0 "$nubo" encode "$src/long.wav" -o out/long.NAB
expect_summary 1 0 0
expect_complete out/long.NAB

# With two jobs at once, a stop reaches both: neither output gets its final
# name, and each partial output is named.
begin sigint_two_jobs
mkdir two out
cp "$src/long.wav" two/a.wav
cp "$src/long.wav" two/b.wav
guard two/a.wav two/b.wav
interrupt INT out "$nubo" encode -j 2 two/ -o out/
[[ $code -eq 1 ]] || fail "exit $code after SIGINT with -j 2 (expected 1)"
[[ ! -e out/a.NAB && ! -e out/b.NAB ]] || fail "a final output after a stopped run with -j 2: $(ls out)"
for part in $(parts_in out); do expect_in err.txt "$part"; done
[[ $(count_parts out) -ge 1 ]] || fail "no partial output after SIGINT with -j 2"
run 0 "$nubo" encode -j 2 two/ -o out/
expect_summary 2 0 0

# A stop while --overwrite replaces a file leaves that file as it was; so
# does a stop while the output is being verified (once its size no longer grows).
cp "$src/voice22.NAB" out/keep.NAB
guard out/keep.NAB
interrupt INT out "$nubo" encode -f "$src/long.wav" -o out/keep.NAB
[[ $code -eq 1 ]] || fail "exit $code after SIGINT (expected 1)"
expect_in err.txt "partial output kept as"
rm -f out/.*.nubo-part
"$nubo" encode --verify "$src/long.wav" -o out/checked.NAB >out.txt 2>err.txt &
pid=$!
background+=("$pid")
last=-1
for ((i = 0; i < 500; i++)); do
  size=$(stat -c %s out/.checked.NAB.*.nubo-part 2>/dev/null || echo 0)
  [[ $size -gt 0 && $size == "$last" ]] && break
  last=$size
  sleep 0.02
done
if kill -0 "$pid" 2>/dev/null; then kill -INT "$pid"; else fail "encode --verify ended before SIGINT"; fi
wait "$pid"
code=$?
expect_stopped out/checked.NAB

begin sigterm_upgrade_beside
ln "$src/long21.NAB" LONG.NAB
guard LONG.NAB
interrupt TERM . "$nubo" upgrade LONG.NAB
expect_stopped 'LONG!.NAB'
# The walk of the directory passes the temporary file over.
run 0 "$nubo" upgrade .
expect_summary 1 0 0
expect_complete 'LONG!.NAB'

begin sighup_upgrade_into_dir
mkdir in out
ln "$src/long21.NAB" in/LONG.NAB
guard in/LONG.NAB
interrupt HUP out "$nubo" upgrade in -o out/
expect_stopped out/LONG.NAB
run 0 "$nubo" upgrade in -o out/
expect_summary 1 0 0
expect_complete out/LONG.NAB

begin sigkill_encode
guard "$src/long.wav"
interrupt KILL . "$nubo" encode "$src/long.wav" -o long.NAB
[[ $code -eq 137 ]] || fail "exit $code after SIGKILL (expected 137)"
[[ ! -e long.NAB ]] || fail "long.NAB exists after the process was killed"
run 0 "$nubo" encode "$src/long.wav" -o long.NAB
expect_summary 1 0 0
expect_complete long.NAB
# The leftover temporary file is no file of the directory's.
run 0 "$nubo" test .
expect_in out.txt "1 file(s) complete  0 file(s) damaged or incomplete"
# A kill while replacing leaves the existing output as it was.
cp "$src/voice22.NAB" keep.NAB
guard keep.NAB
interrupt KILL . "$nubo" encode -f "$src/long.wav" -o keep.NAB
[[ $code -eq 137 ]] || fail "exit $code after SIGKILL (expected 137)"

begin sigkill_upgrade_walk
ln "$src/long21.NAB" LONG.NAB
guard LONG.NAB
interrupt KILL . "$nubo" upgrade .
[[ $code -eq 137 ]] || fail "exit $code after SIGKILL (expected 137)"
[[ ! -e 'LONG!.NAB' ]] || fail "LONG!.NAB exists after the process was killed"
[[ $(count_parts .) -eq 1 ]] || fail "expected the killed run's temporary file: $(ls -A)"
run 0 "$nubo" upgrade .
expect_summary 1 0 0
expect_complete 'LONG!.NAB'

# One damaged input: reported with its block, its partial output kept under
# the temporary name, the other files converted.
begin damaged_input_in_batch
mkdir d out
cp "$src/music21.NAB" d/A.NAB
head -c 200000 "$src/noise21.NAB" >d/B.NAB
cp "$src/voice20.NAB" d/C.NAB
guard d/A.NAB d/B.NAB d/C.NAB
run 1 "$nubo" upgrade d -o out/
expect_summary 2 0 1
expect_in err.txt "damaged"
expect_in err.txt "B.NAB"
grep -qE "block [0-9]+, byte offset [0-9]+" err.txt || fail "no block position for the damaged file: $(cat err.txt)"
expect_in err.txt "partial output kept as"
[[ ! -e out/B.NAB ]] || fail "the damaged input's output has its final name"
[[ $(parts_in out) == .B.NAB.*.nubo-part ]] || fail "the damaged input's partial output is not under a temporary name: $(ls -A out)"
expect_same_audio out/A.NAB "$src/music.wav"
expect_same_audio out/C.NAB "$src/voice.wav"
# A rerun does not take the damaged input as done.
run 1 "$nubo" upgrade d -o out/
expect_summary 0 2 1
! grep -q "B\.NAB: skipped (output existed)" out.txt || fail "the damaged input's output was taken as existing"
run 1 "$nubo" decode d/B.NAB -o B.wav
[[ ! -e B.wav ]] || fail "decode of a damaged file left B.wav"
run 1 "$nubo" info d/B.NAB
expect_in err.txt "damaged"
run 1 "$nubo" test d/B.NAB
expect_in err.txt "damaged"
# A damaged input never replaces an existing output, --overwrite or not.
cp "$src/voice22.NAB" keep.NAB
guard keep.NAB
run 1 "$nubo" upgrade -f d/B.NAB -o keep.NAB
expect_in err.txt "damaged"
expect_in err.txt "partial output kept as"

# A full disk stops the run; no incomplete file takes a final name.
begin full_disk
mkdir small
guard "$src/noise.wav" "$src/voice.wav"
if ! mount -t tmpfs -o size=300k tmpfs small 2>mount.txt; then
  echo "SKIP [full_disk]: cannot mount a tmpfs here ($(cat mount.txt))"
else
  mounted=$PWD/small
  run 1 "$nubo" encode "$src/noise.wav" "$src/voice.wav" -o small/
  expect_in err.txt "Cannot write the output file:"
  expect_in err.txt "(No space left on device"
  expect_in err.txt "partial output kept as small/.noise.NAB."
  [[ ! -e small/noise.NAB ]] || fail "small/noise.NAB exists after the disk filled"
  for f in small/*.NAB; do [[ -e $f ]] && expect_complete "$f"; done
  rm -f small/.*.nubo-part
  # The rerun meets the full disk again, and does not call it done.
  run 1 "$nubo" encode "$src/noise.wav" -o small/
  expect_not_in out.txt ": skipped (output existed)"
  [[ ! -e small/noise.NAB ]] || fail "small/noise.NAB exists after the second run"
  # Nor does a full disk harm the output that --overwrite would replace.
  rm -f small/.*.nubo-part small/*.NAB
  cp "$src/voice22.NAB" small/noise.NAB
  md5sum small/noise.NAB >keep.md5
  run 1 "$nubo" encode -f "$src/noise.wav" -o small/noise.NAB
  expect_in err.txt "No space left on device"
  md5sum --quiet -c keep.md5 >/dev/null 2>&1 || fail "the existing small/noise.NAB was harmed by the failed replacement"
  umount small && mounted=""
fi

# A disk that fails after the data was written: the output has its name and
# is complete, but --sync could not force the directory to the disk, and the
# run says so.
begin sync_directory_fails
guard "$src/music.wav" "$src/music22.NAB"
no_dir_sync=("${preloaded[@]}" LD_PRELOAD="$sync_fault")
run 0 "${no_dir_sync[@]}" "$nubo" encode --sync "$src/music.wav" -o synced.NAB
expect_in err.txt "Converted, but after the output took its name: synced.NAB (the directory could not be forced to the disk: Input/output error) [warning]"
expect_complete synced.NAB
run 0 "${no_dir_sync[@]}" "$nubo" decode --sync "$src/music22.NAB" -o synced.wav
expect_in err.txt "Converted, but after the output took its name: synced.wav (the directory could not be forced to the disk"
expect_same_audio "$src/music22.NAB" synced.wav
[[ $(count_parts .) -eq 0 ]] || fail "temporary files left: $(parts_in .)"
# Without --sync no directory is forced to the disk, and there is nothing to say.
run 0 "${no_dir_sync[@]}" "$nubo" encode "$src/music.wav" -o plain.NAB
expect_not_in err.txt "[warning]"

# --- FLAC outputs: the same rules, with libFLAC's encoder and its checking
# decoder on threads of their own ------------------------------------------------
if [[ -n $flac_fault ]]; then
  begin flac_full_disk
  mkdir small
  guard "$src/noise21.NAB"
  if mount -t tmpfs -o size=300k tmpfs small 2>mount.txt; then
    mounted=$PWD/small
    run 1 "$nubo" decode "$src/noise21.NAB" -o small/noise.flac
    expect_in err.txt "No space left on device"
    expect_in err.txt "partial output kept as small/.noise.flac."
    [[ ! -e small/noise.flac ]] || fail "small/noise.flac exists after the disk filled"
    umount small && mounted=""
  else
    echo "SKIP [flac_full_disk]: cannot mount a tmpfs here ($(cat mount.txt))"
  fi

  begin flac_signals
  mkdir out
  guard "$src/long21.NAB"
  interrupt INT out "$nubo" decode "$src/long21.NAB" -o out/long.flac
  expect_stopped out/long.flac
  rm -f out/.*.nubo-part
  interrupt KILL out "$nubo" decode "$src/long21.NAB" -o out/long.flac
  [[ $code -eq 137 ]] || fail "exit $code after SIGKILL (expected 137)"
  [[ ! -e out/long.flac ]] || fail "out/long.flac exists after the process was killed"
  # A reader that goes away ends the run at once, and leaves no final file.
  timeout -k 5 30 bash -c '"$1" decode "$2" -o - --flac | head -c 1000 >/dev/null' _ "$nubo" "$src/long21.NAB" 2>err.txt
  [[ $? -ne 124 ]] || fail "decode to FLAC on a closed pipe hangs"

  # Audio that comes back from the FLAC output otherwise than it went in fails
  # the file: nothing under the final name, exit 1, the reason said.
  begin flac_mismatch
  guard "$src/music22.NAB"
  run 1 "${preloaded[@]}" LD_PRELOAD="$flac_fault" "$nubo" decode "$src/music22.NAB" -o music.flac
  expect_in err.txt "does not decode to the audio given"
  [[ ! -e music.flac ]] || fail "music.flac was given its name though its audio differs"
  run 1 "${preloaded[@]}" LD_PRELOAD="$flac_fault" "$nubo" decode "$src/music22.NAB" -o - --flac
  expect_in err.txt "does not decode to the audio given"
  # Without the fault the same file converts: the case above failed for the fault alone.
  run 0 "$nubo" decode "$src/music22.NAB" -o music.flac
  expect_same_audio "$src/music22.NAB" music.flac
fi

# --- Incomplete and damaged files are said to be so ------------------------------

# head.NAB holds the first 100 blocks of music.NAB, so music.NAB cut to its
# length ends at a block boundary: a whole file but for its header's counts.
begin incomplete_files
cp "$src/music22.NAB" whole.NAB
head -c "$(stat -c %s "$src/head22.NAB")" whole.NAB >cut.NAB
cp whole.NAB fact.NAB
put_u32 fact.NAB 54 $(($(u32_at whole.NAB 54) + 1))
guard whole.NAB cut.NAB fact.NAB
for f in cut.NAB fact.NAB; do
  run 1 "$nubo" info $f
  expect_in err.txt "incomplete"
  run 1 "$nubo" test $f
  expect_in err.txt "incomplete"
  expect_not_in out.txt "Complete; every block decodes"
done
# One line per file: the complete one on stdout, the other on stderr.
run 1 "$nubo" test whole.NAB cut.NAB
grep -qE "^Complete; every block decodes: (\./)?whole\.NAB$" out.txt || fail "no line for whole.NAB: $(cat out.txt)"
expect_not_in out.txt "cut.NAB"
expect_in err.txt "cut.NAB"
expect_not_in err.txt "whole.NAB"
# decode: the WAVE says how much audio it holds.
run 1 "$nubo" decode cut.NAB -o cut.wav
expect_in err.txt "incomplete"
if [[ -f cut.wav ]]; then
  size=$(stat -c %s cut.wav)
  [[ $(u32_at cut.wav 4) == $((size - 8)) && $(u32_at cut.wav 40) == $((size - 44)) ]] ||
    fail "cut.wav sizes $(u32_at cut.wav 4)/$(u32_at cut.wav 40) disagree with its length $size"
  cmp -s <(sox cut.wav -t raw -) <(sox "$src/head.wav" -t raw -) || fail "cut.wav is not the audio the file holds"
else
  fail "decode of an incomplete file wrote no cut.wav"
fi
# An existing output that is incomplete is not taken as done.
cp cut.NAB cut_out.NAB
cp fact.NAB fact_out.NAB
cp "$src/music.wav" short.wav
truncate -s 100000 short.wav
guard cut_out.NAB fact_out.NAB short.wav
for f in cut_out.NAB fact_out.NAB; do
  run 1 "$nubo" upgrade "$src/music21.NAB" -o $f
  expect_in err.txt "The existing output is incomplete"
  expect_not_in out.txt ": skipped (output existed)"
done
run 1 "$nubo" decode "$src/music22.NAB" -o short.wav
expect_in err.txt "The existing output is incomplete"
# upgrade of an old incomplete file: the output has the true counts.
head -c "$(stat -c %s "$src/head21.NAB")" "$src/music21.NAB" >old_cut.NAB
guard old_cut.NAB
run 1 "$nubo" upgrade old_cut.NAB -o fixed.NAB
expect_in err.txt "incomplete"
expect_complete fixed.NAB
[[ $(u32_at fixed.NAB 54) == 88200 ]] || fail "fixed.NAB counts $(u32_at fixed.NAB 54) frames, holds 88200"
expect_same_audio fixed.NAB "$src/head.wav"

# --- Walking directories -------------------------------------------------------------

begin symlink_loop
mkdir -p tree/a tree/b
cp "$src/music21.NAB" tree/a/X.NAB
cp "$src/voice20.NAB" tree/b/Y.NAB
ln -s .. tree/a/up
ln -s ../../tree tree/b/again
ln -s b tree/link
guard tree/a/X.NAB tree/b/Y.NAB
limit=20 run 0 "$nubo" upgrade -r tree -o out/
expect_summary 2 0 0
[[ $(find out -name '*.NAB' | wc -l) -eq 2 ]] || fail "the loop was walked more than once: $(find out -name '*.NAB' | head)"
[[ $(grep -c "size change" out.txt) -eq 2 ]] || fail "more than two conversions: $(head -5 out.txt)"

begin fifo_socket_in_tree
mkdir tree
cp "$src/music21.NAB" tree/A.NAB
mkfifo tree/pipe.NAB outpipe.NAB
python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' tree/sock.NAB
have_device=0
mknod tree/zero.NAB c 1 5 2>/dev/null && have_device=1
guard tree/A.NAB
limit=10 run 0 "$nubo" upgrade tree -o out/
expect_summary 1 0 0
expect_not_in err.txt "pipe.NAB"
expect_not_in err.txt "sock.NAB"
expect_not_in err.txt "zero.NAB"
if [[ $have_device == 1 ]]; then
  limit=10 run 1 "$nubo" upgrade tree/zero.NAB -o y.NAB
  expect_in err.txt "Not a regular file"
else
  echo "SKIP [fifo_socket_in_tree]: mknod refused; no device case"
fi
limit=10 run 1 "$nubo" upgrade tree/pipe.NAB -o x.NAB
expect_in err.txt "Not a regular file"
limit=10 run 1 "$nubo" test tree/sock.NAB
expect_in err.txt "Not a regular file"
limit=10 run 1 "$nubo" upgrade tree/A.NAB -o outpipe.NAB
expect_in err.txt "Not a regular file"
limit=10 run 1 "$nubo" upgrade -f tree/A.NAB -o outpipe.NAB
expect_in err.txt "Not a regular file"
limit=10 run 1 "$nubo" decode -f "$src/music22.NAB" -o outpipe.NAB
expect_in err.txt "Not a regular file"

begin dangling_link
mkdir tree
cp "$src/music21.NAB" tree/A.NAB
ln -s missing.NAB tree/dead.NAB
guard tree/A.NAB
run 1 "$nubo" upgrade tree -o out/
expect_summary 1 0 1
expect_in err.txt "dead.NAB"
expect_in err.txt "(No such file or directory)"
expect_not_in err.txt "No input file found"
expect_complete out/A.NAB

begin unreadable "$shared"
mkdir -p tree/secret files
chmod 777 .
cp "$src/music21.NAB" tree/A.NAB
cp "$src/voice20.NAB" tree/secret/B.NAB
chmod 700 tree/secret
cp "$src/music21.NAB" files/A.NAB
cp "$src/voice20.NAB" files/B.NAB
chmod 600 files/B.NAB
guard tree/A.NAB tree/secret/B.NAB files/A.NAB files/B.NAB
run 1 "${as_nobody[@]}" "$nubo" upgrade -r tree -o out/
expect_in err.txt "Cannot read the directory: "
expect_in err.txt "secret (Permission denied)"
expect_in out.txt "1 file(s) converted"
expect_complete out/A.NAB
run 1 "${as_nobody[@]}" "$nubo" upgrade files -o out2/
expect_summary 1 0 1
expect_in err.txt "Cannot open the input file: "
expect_in err.txt "B.NAB (Permission denied)"
expect_not_in err.txt "No input file found"
expect_complete out2/A.NAB
# An existing output directory that nobody may write.
mkdir ro
chmod 555 ro
run 1 "${as_nobody[@]}" "$nubo" upgrade files/A.NAB -o ro/
expect_in err.txt "Cannot create the output file: "
expect_in err.txt "(Permission denied)"
expect_not_in err.txt "Cannot create the output directory"

begin many_subdirectories
mkdir many
(cd many && mkdir d{0001..1600})
cp "$src/music21.NAB" many/d0001/A.NAB
cp "$src/voice20.NAB" many/d1600/Z.NAB
guard many/d0001/A.NAB many/d1600/Z.NAB
run 0 "$nubo" upgrade -r many -o out/
expect_summary 2 0 0
expect_not_in err.txt "Too many subdirectories"
expect_complete out/d1600/Z.NAB

# --- Honest results and messages ---------------------------------------------------

begin messages
cp "$src/music21.NAB" A.NAB
cp "$src/voice20.NAB" OLD.NAB
cp "$src/music22.NAB" NEW.NAB
cp "$src/deep.wav" x.wav
echo "not audio" >notes.NAB
guard A.NAB OLD.NAB NEW.NAB x.wav notes.NAB
# A refusal goes to stderr, under -q too (before or after the command).
run 1 "$nubo" -q upgrade -f A.NAB -o OLD.NAB
[[ ! -s out.txt ]] || fail "-q printed on stdout: $(cat out.txt)"
expect_in err.txt "not replaced"
run 1 "$nubo" upgrade -q -f A.NAB -o OLD.NAB
[[ ! -s out.txt ]] || fail "-q printed on stdout: $(cat out.txt)"
expect_in err.txt "not replaced"
run 1 "$nubo" upgrade NEW.NAB
expect_in err.txt "Already coder version 22; not converted:"
expect_not_in err.txt "No input file found"
run 1 "$nubo" upgrade notes.NAB
expect_in err.txt "Not a compressed (.NAB) file"
expect_not_in err.txt "No input file found"
run 1 "$nubo" encode x.wav
expect_in err.txt "Not a 16-bit PCM WAVE file; not converted: "
expect_in err.txt "x.wav (24-bit PCM, 2 channel(s))"
[[ ! -e x.NAB ]] || fail "a 24-bit WAVE file was encoded"
expect_not_in out.txt "not converted:"

# --- WAVE inputs with a wrong data size, and verify -----------------------------------

begin wave_sizes
frames=$(soxi -s "$src/music.wav")
cp "$src/music.wav" zero.wav
put_u32 zero.wav 40 0
cp "$src/music.wav" huge.wav
put_u32 huge.wav 40 2000000000
guard zero.wav huge.wav
for w in zero huge; do
  run 0 "$nubo" encode $w.wav -o $w.NAB
  [[ -s err.txt ]] || fail "no warning for the data size of $w.wav"
  expect_in err.txt "$w.wav"
  expect_complete $w.NAB
  [[ $(u32_at $w.NAB 54) == "$frames" ]] || fail "$w.NAB counts $(u32_at $w.NAB 54) frames, holds $frames"
  expect_same_audio $w.NAB "$src/music.wav"
done

begin verify_checks
cp "$src/music.wav" rate48.wav
put_u32 rate48.wav 24 48000
put_u32 rate48.wav 28 192000
head -c 200000 "$src/music22.NAB" >cut.NAB
guard rate48.wav cut.NAB "$src/music22.NAB" "$src/deep.wav"
run 1 "$nubo" verify "$src/music22.NAB" rate48.wav
expect_in err.txt "differ"
expect_in err.txt "rate48.wav"
run 1 "$nubo" verify "$src/music22.NAB" missing.wav
expect_in err.txt "Cannot open"
run 1 "$nubo" verify "$src/music22.NAB" "$src/deep.wav"
expect_in err.txt "Not a 16-bit PCM WAVE file"
run 1 "$nubo" verify cut.NAB "$src/music.wav"
expect_in err.txt "damaged"
grep -qE "block [0-9]+" err.txt || fail "verify of a cut file names no block: $(cat err.txt)"

# --- Outputs keep the input's time and permissions ---------------------------------

begin times_and_modes
cp "$src/music21.NAB" A.NAB
cp "$src/music.wav" a.wav
cp "$src/music22.NAB" c.NAB
touch -d 2001-02-03 A.NAB a.wav c.NAB
chmod 600 A.NAB a.wav c.NAB
guard A.NAB a.wav c.NAB
run 0 "$nubo" upgrade A.NAB -o up.NAB
run 0 "$nubo" encode a.wav -o enc.NAB
run 0 "$nubo" decode c.NAB -o dec.wav
for pair in A.NAB:up.NAB a.wav:enc.NAB c.NAB:dec.wav; do
  in=${pair%%:*} out=${pair##*:}
  [[ -f $out ]] || { fail "$out missing"; continue; }
  [[ $(stat -c %Y "$out") == $(stat -c %Y "$in") ]] || fail "$out time $(stat -c %y "$out"), input $(stat -c %y "$in")"
  [[ $(stat -c %a "$out") == 600 ]] || fail "$out mode $(stat -c %a "$out"), input 600"
done

# --- Two processes writing one output at once -----------------------------------------

# race ROUNDS [ARGS]: two encodes of mid.wav into same.NAB started together.
race() {
  local rounds=$1 r p1 p2 c1 c2
  shift
  for ((r = 1; r <= rounds; r++)); do
    [[ $# -eq 0 ]] && rm -f same.NAB
    [[ $# -gt 0 ]] && cp "$src/voice22.NAB" same.NAB
    "$nubo" encode "$@" "$src/mid.wav" -o same.NAB >out1.txt 2>err1.txt &
    p1=$!
    "$nubo" encode "$@" "$src/mid.wav" -o same.NAB >out2.txt 2>err2.txt &
    p2=$!
    background+=("$p1" "$p2")
    { wait "$p1"; } 2>/dev/null
    c1=$?
    { wait "$p2"; } 2>/dev/null
    c2=$?
    if [[ $c1 -eq 0 && $c2 -eq 0 ]]; then
      fail "round $r ($*): both processes reported success: $(cat out1.txt out2.txt)"
    fi
    expect_complete same.NAB
    if [[ $c1 -eq 0 || $c2 -eq 0 ]]; then
      [[ $(u32_at same.NAB 54) == $((44100 * 60 * 24)) ]] || fail "round $r ($*): a success, but same.NAB is not the new file"
    fi
  done
}
begin concurrent_writers
guard "$src/mid.wav"
race 4
race 4 -f

check_inputs
if [[ $failures -ne 0 ]]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all nubo safety checks passed"
