# SPDX-License-Identifier: BSD-3-Clause
# Shared by the command-line test scripts: `source lib.sh BIN_DIR WORK_DIR`
# sets bin and work (both absolute) and nubo, makes WORK_DIR afresh and enters it;
# fail counts a failure; finish NAME ends the script with its status.
bin=$(cd "$1" && pwd) || exit 1
rm -rf "$2"
mkdir -p "$2"
work=$(cd "$2" && pwd)
nubo=$bin/nubo
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
finish() {
  if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)" >&2
    exit 1
  fi
  echo "$1 checks passed"
  exit 0
}
# run EXPECTED_EXIT CMD...: CMD with stdout and stderr in out.txt and err.txt;
# another exit status is a failure, shown with both.
run() {
  local expected=$1
  shift
  "$@" >out.txt 2>err.txt
  local code=$?
  if [[ $code -ne $expected ]]; then
    fail "exit $code (expected $expected): $*"
    sed 's/^/  stdout: /' out.txt >&2
    sed 's/^/  stderr: /' err.txt >&2
  fi
}
expect_in() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(head -c 600 "$1")"; }
expect_not_in() { ! grep -qF -- "$2" "$1" || fail "$1 has '$2'"; }
