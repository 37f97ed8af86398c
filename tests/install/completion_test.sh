#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The bash completion of nubo (data/completion/nubo.bash), run as bash runs
# it on Tab, with bash-completion's own helpers, against the built nubo:
# the commands, every option that `nubo COMMAND --help` lists, the values of
# -j and --flac-level, and file arguments of the kind each command takes.
# Usage: completion_test.sh BIN_DIR COMPLETION_FILE WORK_DIR   (exit 77: bash-completion missing)
set -uo pipefail
bin=$1
script=$2
work=$3
framework=/usr/share/bash-completion/bash_completion
[[ -f $framework ]] || { echo "SKIPPED: bash-completion is not installed"; exit 77; }

rm -rf "$work"
mkdir -p "$work/files/sub dir" "$work/files/old"
cd "$work/files" || exit 1
mkdir -p old/inner
touch TAKE.NAB second.nab take.wav take.flac notes.txt old/IN.NAB old/in.txt "sub dir/IN.NAB" "with space.NAB"
export PATH=$bin:$PATH
# shellcheck disable=SC1090
source "$framework"
# shellcheck disable=SC1090
source "$script"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The completions offered for the command line WORDS (the last one the word
# being completed), one a line, sorted.
offered() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _nubo nubo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
}
expect() {  # EXPECTED (lines) -- WORDS...
  local expected=$1
  shift 2
  local got
  got=$(offered "$@")
  [[ $got == "$expected" ]] || fail "nubo ${*:2}<Tab>: offered [$(tr '\n' ' ' <<<"$got")], expected [$(tr '\n' ' ' <<<"$expected")]"
}
lines() { printf '%s\n' "$@" | LC_ALL=C sort; }

commands=$(nubo --help | awk '/^Subcommands:/ { inside = 1; next } inside && NF { print $1 }' | LC_ALL=C sort)
[[ $(wc -l <<<"$commands") -ge 6 ]] || fail "nubo --help lists too few commands: $commands"
expect "$commands" -- nubo ""
expect "$commands" -- nubo -q ""
expect "$(lines decode)" -- nubo de
expect "$(lines --help --quiet --version)" -- nubo --

# Every long option of every command's help.
for command in $commands; do
  want=$(nubo "$command" --help | grep -E '^  -' | grep -oE -- '--[a-z][a-z0-9-]*' | LC_ALL=C sort -u)
  expect "$want" -- nubo "$command" --
done
expect "$(lines --flac --flac-level)" -- nubo decode x.NAB --fl

# Values.
expect "$(lines 0 1 2 3 4 5 6 7 8)" -- nubo decode --flac-level ""
jobs=$(offered nubo upgrade -j "")
[[ $(head -n 1 <<<"$jobs") == 1 ]] || fail "nubo upgrade -j <Tab> offers [$jobs]"

# Files of the command's kind, and directories.
expect "$(lines TAKE.NAB old 'sub dir' second.nab 'with space.NAB')" -- nubo upgrade ""
expect "$(lines TAKE.NAB old 'sub dir' second.nab 'with space.NAB')" -- nubo -q decode -r ""
expect "$(lines TAKE.NAB)" -- nubo info T
expect "$(lines 'with space.NAB')" -- nubo info w
expect "$(lines old 'sub dir' take.flac take.wav)" -- nubo encode ""
expect "$(lines old/IN.NAB old/inner)" -- nubo test old/
expect "$(lines TAKE.NAB old 'sub dir' second.nab 'with space.NAB')" -- nubo verify ""
expect "$(lines old 'sub dir' take.flac take.wav)" -- nubo verify TAKE.NAB ""
# Output and list files: any file.
expect "$(lines TAKE.NAB notes.txt old second.nab 'sub dir' take.flac take.wav 'with space.NAB')" -- nubo decode TAKE.NAB -o ""
expect "$(lines notes.txt)" -- nubo encode --files-from n

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "bash completion OK"
