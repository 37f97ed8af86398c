#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Directory walks and path names, on real processes and real files: a walk
# with subdirectories stays inside the tree it was given (symbolic links to
# directories are not entered), and path lengths are counted in characters.
# Usage: walk_test.sh BIN_DIR WORK_DIR
set -uo pipefail
bin=$(cd "$1" && pwd) || exit 1
work=$2
nubo=$bin/nubo
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd) || exit 1
cd "$work" || exit 1

failures=0
case_name=""
fail() { echo "FAIL [$case_name]: $*" >&2; failures=$((failures + 1)); }
# run EXPECTED_EXIT CMD...: stdout and stderr in out.txt and err.txt; a run
# that hangs (a walk that never ends) is stopped after a minute.
run() {
  local expected=$1
  shift
  timeout -k 5 60 "$@" >out.txt 2>err.txt
  code=$?
  if [[ $code -eq 124 ]]; then
    fail "timed out (hangs): $*"
  elif [[ $code -ne $expected ]]; then
    fail "exit $code (expected $expected): $*"
    sed 's/^/  stdout: /' out.txt >&2
    sed 's/^/  stderr: /' err.txt >&2
  fi
}
expect_in() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(head -c 600 "$1")"; }
expect_not_in() { ! grep -qF -- "$2" "$1" || fail "$1 has '$2': $(grep -F -- "$2" "$1" | head -3)"; }
expect_summary() { expect_in out.txt "$1 file(s) converted  $2 skipped (output existed)  $3 file(s) not converted"; }
# The regular files under a directory (links not followed), sorted, one a line.
files_under() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }
begin() {
  case_name=$1
  mkdir -p "$work/$1"
  cd "$work/$1" || exit 1
}

src=$work/src
mkdir -p "$src"
sox -R -D -n -r 22050 -b 16 -c 1 "$src/a.wav" synth 0.3 sine 440 2>/dev/null || exit 1
sox -R -D -n -r 22050 -b 16 -c 1 "$src/b.wav" synth 0.3 sine 660 2>/dev/null || exit 1

# --- Links in a walk --------------------------------------------------------------

# A tree with a loop back up, a link out of it, a second way into one of
# its own directories and a link to a file outside it.
make_tree() {
  mkdir -p outside tree/sub
  cp "$src/a.wav" tree/a.wav
  cp "$src/b.wav" tree/sub/b.wav
  cp "$src/a.wav" outside/precious.wav
  ln -s .. tree/up
  ln -s ../outside tree/link
  ln -s sub tree/alias
  ln -s ../outside/precious.wav tree/linked.wav
}

begin links_beside_inputs
make_tree
run 0 "$nubo" encode -r tree/
expect_summary 3 0 0
# The outputs go beside their inputs, all inside the tree; a link to a file
# is read, and its output is written beside the link.
[[ $(files_under tree) == $'a.NAB\na.wav\nlinked.NAB\nsub/b.NAB\nsub/b.wav' ]] ||
  fail "the tree holds: $(files_under tree | tr '\n' ' ')"
[[ $(files_under outside) == precious.wav ]] || fail "written outside the tree: $(files_under outside | tr '\n' ' ')"
expect_not_in out.txt "precious"
expect_not_in out.txt "alias"
# The top directory named through a link is the tree named: it is walked.
ln -s tree named
run 0 "$nubo" encode -r named/ -o out/
expect_summary 3 0 0
[[ $(files_under out) == $'a.NAB\nlinked.NAB\nsub/b.NAB' ]] || fail "out/ holds: $(files_under out | tr '\n' ' ')"
[[ ! -e out/up && ! -e out/link && ! -e out/alias ]] || fail "a directory was made for a link: $(ls out)"

begin links_with_pattern_and_output
make_tree
run 0 "$nubo" encode -r 'tree/*.wav' -o out/
expect_summary 3 0 0
[[ $(files_under out) == $'a.NAB\nlinked.NAB\nsub/b.NAB' ]] || fail "out/ holds: $(files_under out | tr '\n' ' ')"
[[ $(files_under outside) == precious.wav ]] || fail "written outside the tree: $(files_under outside | tr '\n' ' ')"
# Without -r only the top directory: the same links, no subdirectory.
run 0 "$nubo" encode 'tree/*.wav' -o flat/
expect_summary 2 0 0
[[ $(files_under flat) == $'a.NAB\nlinked.NAB' ]] || fail "flat/ holds: $(files_under flat | tr '\n' ' ')"

begin dangling_link_in_walk
mkdir tree
cp "$src/a.wav" tree/a.wav
ln -s missing.wav tree/dead.wav
# A dangling link may have been a file or a directory: reported all the same.
ln -s missing-dir tree/deaddir
run 1 "$nubo" encode -r tree/ -o out/
expect_summary 1 0 2
expect_in err.txt "tree/dead.wav (No such file or directory)"
expect_in err.txt "tree/deaddir (No such file or directory)"
[[ $(files_under out) == a.NAB ]] || fail "out/ holds: $(files_under out | tr '\n' ' ')"

# A loop that find -L would call endless: a link to the root of the file
# system, as Wine's dosdevices/z: is. The walk ends at once and converts
# only the tree's own file.
begin link_to_root
mkdir tree
cp "$src/a.wav" tree/a.wav
ln -s / tree/z:
run 0 "$nubo" encode -r tree/ -o out/
expect_summary 1 0 0
[[ $(files_under out) == a.NAB ]] || fail "out/ holds: $(files_under out | tr '\n' ' ')"

# --- Path lengths ------------------------------------------------------------------

# long_path CHARS FILL: a relative path of CHARS characters ending in .wav,
# made of directories of FILL characters (umlauts: two bytes each in UTF-8;
# CJK: three), each name within the 255 bytes a name may take. The
# directories are made.
long_path() {
  python3 - "$1" "$2" <<'PY'
import os, sys
chars, fill = int(sys.argv[1]), sys.argv[2]
rest = chars - len(".wav")
parts = []
while rest > 0:
    n = min(rest - 1 if rest > 80 else rest, 80)  # leave room for the '/'
    parts.append(fill * n)
    rest -= n + (1 if rest - n > 0 else 0)
path = "/".join(parts) + ".wav"
assert len(path) == chars, (len(path), chars)
os.makedirs(os.path.dirname(path), exist_ok=True)
print(path)
PY
}

begin path_lengths
# 292 characters in more than 299 bytes: taken, in and out.
p292=$(long_path 292 ä)
[[ $(printf %s "$p292" | wc -c) -gt 299 ]] || fail "the path is not longer than 299 bytes"
cp "$src/a.wav" "$p292"
run 0 "$nubo" encode "$p292"
expect_summary 1 0 0
[[ -f ${p292%.wav}.NAB ]] || fail "no output beside the 292-character input"
# 299 CJK characters (897 bytes) are the longest path taken; 300 are refused,
# for that file alone, with the message that counts characters.
p299=$(long_path 299 音)
cp "$src/a.wav" "$p299"
run 0 "$nubo" encode "$p299" -o cjk.NAB
expect_summary 1 0 0
p300=$(long_path 300 声)
cp "$src/b.wav" "$p300"
run 1 "$nubo" encode "$p300" "$src/b.wav" -o out/
expect_summary 1 0 1
expect_in err.txt "Path longer than 299 characters; not converted: $p300"
[[ -f out/b.NAB ]] || fail "the other input was not converted"
# An output path over the limit is refused the same way: the input is short.
run 1 "$nubo" encode "$src/a.wav" -o "${p300%.wav}.NAB"
expect_in err.txt "Path longer than 299 characters; not converted: ${p300%.wav}.NAB"
[[ ! -e ${p300%.wav}.NAB ]] || fail "the over-long output was written"

if [[ $failures -ne 0 ]]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all walk cases passed"
