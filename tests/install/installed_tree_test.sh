#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs a build tree with `cmake --install --prefix` into a scratch
# directory, as a user installing to a prefix of their own would, and checks
# the result with check_installed_tree.sh.
# Usage: installed_tree_test.sh BUILD_DIR WORK_DIR CHECK_OPTIONS...
set -euo pipefail
build=$1
work=$2
shift 2
rm -rf "$work"
mkdir -p "$work"
if ! cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  exit 1
fi
exec bash "$(dirname "$0")/check_installed_tree.sh" --work "$work/check" "$@" "$work/prefix"
