#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Runs a Windows program under Wine on a virtual X display of its own, in a
# Wine prefix of its own (WORK_DIR/wine-prefix), and returns its status.
# Usage: with_display.sh WORK_DIR PROGRAM.exe [ARGUMENTS...]
# Exit 77 (skipped) when Xvfb is not installed.
set -uo pipefail
work=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
command -v Xvfb >/dev/null || { echo "skipped: Xvfb is not installed"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
exec 3>"$work/display.txt"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 50); do [[ -s $work/display.txt ]] && break; sleep 0.1; done
[[ -s $work/display.txt ]] || { echo "Xvfb did not start" >&2; kill "$xvfb"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display.txt")"
export WINEPREFIX=$work/wine-prefix
"$here/wine-run.sh" "$@"
code=$?
"${NUBO_WINESERVER:-/usr/lib/wine/wineserver64}" -k 2>/dev/null
kill "$xvfb" 2>/dev/null
exit "$code"
