#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Runs a Windows program of the cross build under Wine (Debian's wine64):
#   tests/windows/wine-run.sh PROGRAM.exe [ARGUMENTS...]
# The exit status, stdin, stdout and stderr are the program's. The Wine
# prefix (its simulated C: drive and registry) is WINEPREFIX when set, else
# one made on first use beside the program's directory (build/windows/wine-prefix),
# so that runs never touch ~/.wine. Wine's own notes are silenced unless
# WINEDEBUG says otherwise. Unix paths work as arguments: Wine maps / to Z:.
set -euo pipefail
program=$1
shift
wine=${NUBO_WINE:-}
if [[ -z $wine ]]; then
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [[ -n $candidate && -x $candidate ]]; then wine=$candidate; break; fi
  done
fi
[[ -n $wine ]] || { echo "wine-run.sh: no Wine found (apt-get install wine64)" >&2; exit 127; }
if [[ -z ${WINEPREFIX:-} ]]; then
  WINEPREFIX=$(cd "$(dirname "$program")/.." && pwd)/wine-prefix
fi
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs on the first start of a prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The prefix is made by the first program started in it. (Its registry files
# appear only when the Wine server writes them, so a mark of our own says
# that the prefix is ready.)
ready=$WINEPREFIX/.nubo-prefix-ready
if [[ ! -f $ready ]]; then
  mkdir -p "$WINEPREFIX"
  # One first start at a time (test discovery runs programs in parallel).
  (
    flock 9
    # (9>&-: the Wine server that wineboot starts must not hold the lock.)
    if [[ ! -f $ready ]]; then "$wine" wineboot -i >/dev/null 2>&1 9>&- && touch "$ready"; fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$program" "$@"
