# SPDX-License-Identifier: BSD-3-Clause
# Shared by the command-line test scripts: `source lib.sh BIN_DIR WORK_DIR`
# sets bin (absolute), nubo and work, makes WORK_DIR afresh and enters it;
# fail counts a failure; finish NAME ends the script with its status.
bin=$(cd "$1" && pwd)
work=$2
nubo=$bin/nubo
rm -rf "$work"
mkdir -p "$work"
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
