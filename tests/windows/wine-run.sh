#!/usr/bin/env bash
# Runs one Windows QtTest program under Wine, in a fresh prefix (see wine.sh),
# without a display; the Qt's and the compiler's DLLs are found through
# WINEPATH (TOVEL3_WINE_DLL_DIRS), its plug-ins through QT_PLUGIN_PATH.
# ctest runs the test programs through this (their emulator).
#
#   wine-run.sh PROGRAM [ARGUMENT...]
set -euo pipefail
work=$(mktemp -d)
pids=()
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
# shellcheck source=wine.sh
source "$(dirname "$0")/wine.sh"
wine_prefix "$work" "${TOVEL3_WINE_TEMPLATE:?}"
windows() { printf 'Z:%s' "${1//\//\\}"; }
path=""
IFS=';' read -r -a dirs <<<"${TOVEL3_WINE_DLL_DIRS:?}"
for d in "${dirs[@]}"; do path+="${path:+;}$(windows "$d")"; done
export WINEPATH=$path QT_PLUGIN_PATH
QT_PLUGIN_PATH=$(windows "${TOVEL3_QT_MINGW:?}/plugins")
unset DISPLAY
# A QtTest program under Wine writes its log to the debugger unless it is
# given a file.
code=0
wine_run test "$@" -o "$(windows "$work/log.txt"),txt" || code=$?
cat "$work/log.txt" "$work/test.out" "$work/test.err" 2>/dev/null
exit "$code"
