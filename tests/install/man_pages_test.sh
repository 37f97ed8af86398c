#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The man pages: groff formats them without a warning, and nubo(1) documents
# every command and every option that `nubo --help` and `nubo COMMAND --help`
# list, so that the page cannot fall behind the program.
# Usage: man_pages_test.sh NUBO MAN_DIR   (MAN_DIR holds nubo.1 and NUBOCONV.1)
set -uo pipefail
nubo=$1
man_dir=$2
command -v groff >/dev/null || { echo "SKIPPED: groff is not installed (Debian package groff-base)"; exit 77; }

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for page in "$man_dir"/*.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [[ -z $warnings ]] || fail "$(basename "$page"): $warnings"
done
[[ -f $man_dir/nubo.1 ]] || { echo "FAIL: no $man_dir/nubo.1" >&2; exit 1; }

# The page as text, and one section of it (from its heading to the next).
text=$(groff -man -Tascii -P-cbou "$man_dir/nubo.1" 2>/dev/null)
section() { awk -v name="$1" '/^[A-Z][A-Z ]*$/ { inside = ($0 == name) } inside' <<<"$text"; }
commands=$(section COMMANDS)
options=$(section OPTIONS)
[[ -n $commands && -n $options ]] || fail "nubo.1 lacks a COMMANDS or an OPTIONS section"

# Options of a help text: every -x and --long-name in its option lines.
help_options() { grep -E '^  -' | grep -oE -- '(^|[ ,])--?[A-Za-z][A-Za-z0-9-]*' | tr -d ' ,' | sort -u; }
has_word() { grep -qE -- "(^|[^A-Za-z0-9-])$1([^A-Za-z0-9-]|$)" <<<"$2"; }

subcommands=$("$nubo" --help | awk '/^Subcommands:/ { inside = 1; next } inside && NF { print $1 }')
[[ $(wc -w <<<"$subcommands") -ge 6 ]] || fail "nubo --help lists too few commands: $subcommands"
for opt in $("$nubo" --help | help_options); do
  has_word "$opt" "$options" || fail "nubo.1 does not document the option $opt"
done
for cmd in $subcommands; do
  grep -qE "^ {7}$cmd( |$)" <<<"$commands" || fail "nubo.1 does not document the command $cmd"
  for opt in $("$nubo" "$cmd" --help | help_options); do
    has_word "$opt" "$options" || fail "nubo.1 does not document the option $opt of $cmd"
  done
done

exit_status=$(section "EXIT STATUS")
for code in 0 1 2; do
  grep -qE "^ {7}$code( |$)" <<<"$exit_status" || fail "nubo.1 does not say what exit status $code means"
done

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "man pages OK: $(wc -w <<<"$subcommands") commands and their options documented"
