#!/usr/bin/env bash
# Runs a Windows program under Wine the way the tests need it: headless (no display), without
# standard input, without Wine's own diagnostics, in the Wine prefix PREFIX (made on first use).
# Exits with the program's exit status (Wine passes on its low byte) once every Wine process of
# the prefix has ended.
#
# usage: scripts/wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
set -uo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX PROGRAM.exe [ARGUMENTS...]" >&2
  exit 2
fi
export WINEPREFIX=$1
shift
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"

wine "$@" </dev/null
status=$?
wineserver -w
exit $status
