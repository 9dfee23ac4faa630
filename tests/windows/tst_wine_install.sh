#!/usr/bin/env bash
# The Windows installer under Wine, end to end: installed silently into a fresh
# prefix, the program's folder holds every DLL and QML module it loads; the
# installed tovel3.exe, started hidden with the board simulator on COM5 (named
# by the setting "extraports") and both checks on, sends "~U" every 3 s while
# the address answers ping and the process runs (tasklist asked with its two
# argument lists), and none while either fails; a second start shows the
# window (kept as a screenshot),
# tovel3ctl.exe answers, and the port, the settings and the repaired autostart
# entry are in the registry; the Autostart switch removes and writes that entry.
# Uninstalling removes the program's files and keeps the settings.
#
# Runs in a network namespace of its own (it re-runs itself under unshare as
# root): there 10.9.0.2 answers while it is an address of lo and times out
# while it is only routed through lo.
set -euo pipefail
if [ "${1:-}" != --in-namespace ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
  exec unshare "${as_root[@]}" --net bash "$0" --in-namespace
fi
ip link set lo up
ip route add 10.9.0.0/24 dev lo
ip addr add 10.9.0.2/32 dev lo

installer=${TOVEL3_INSTALLER:?}
sim=${TOVEL3_BOARDSIM:?}
work=$(mktemp -d)
pids=()
cleanup() {
  wine_stop
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  [ -n "${TOVEL3_KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in sim.log tovel3.err second.err ctl.out ctl.err wineserver.log; do
    [ -s "$work/$f" ] && { echo "--- $f"; tail -n 30 "$work/$f"; }
  done
  exit 1
}
# shellcheck source=wine.sh
source "$(dirname "$0")/wine.sh"
[ -f "$installer" ] || fail "no installer at $installer (cpack in the Windows build makes it)"
[ -x "$sim" ] || fail "no board simulator at $sim (the Linux build makes it)"

xdisplay_start "$work" top
wine_prefix "$work" "${TOVEL3_WINE_TEMPLATE:?}"
wine_server

# --- silent installation
wine_run install "$installer" /S || fail "installer exited with $?"
dir=$(unix_path 'C:\Program Files\Tovel3')
for f in tovel3.exe tovel3ctl.exe Uninstall.exe qt.conf platforms/qwindows.dll \
  translations/qtbase_ru.qm libstdc++-6.dll libssl-3-x64.dll; do
  [ -f "$dir/$f" ] || fail "not installed: $f"
done
menu=$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tovel3')
[ -f "$menu/Tovel3.lnk" ] || fail "no Start-menu entry"
installed=$(cd "$dir" && find . -type f | sort)
echo "ok: installed $(wc -l <<<"$installed") files and a Start-menu entry"
for exe in tovel3.exe tovel3ctl.exe; do
  info=$(strings -el "$dir/$exe" | grep -A1 -x -E 'CompanyName|ProductName|ProductVersion' |
    grep -v -- -- | paste -sd ' ')
  [ "$info" = "CompanyName Brennic ProductName Tovel3 ProductVersion 3.3.4" ] ||
    fail "$exe carries the version information: $info"
done
echo "ok: both executables name Brennic, Tovel3 and 3.3.4 in their version information"

# --- nothing the program loads is missing from its folder
missing=()
while IFS= read -r -d '' module; do
  while read -r dll; do
    [ -n "$(find "$dir" "$system32" -maxdepth 1 -iname "$dll" -print -quit)" ] ||
      missing+=("${module#"$dir"/} imports $dll")
  done < <("${TOVEL3_OBJDUMP:?}" -p "$module" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
done < <(find "$dir" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
[ ${#missing[@]} -eq 0 ] || fail "$(printf '%s\n' "${missing[@]}")"
# Every module of the Qt that the program's QML imports is in its folder.
scan() { "${TOVEL3_QT_MINGW:?}/bin/qmlimportscanner" -rootPath "$TOVEL3_SOURCE_DIR/qml" -importPath "$1"; }
resolved() { python3 -c 'import json, sys
print("\n".join(sorted({m["name"] for m in json.load(sys.stdin) if "path" in m})))'; }
needed=$(scan "$TOVEL3_QT_MINGW/qml" | resolved)
present=$(scan "$dir/qml" | resolved)
[ -n "$needed" ] || fail "the scanner found no Qt modules in the QML"
absent=$(comm -23 <(echo "$needed") <(echo "$present"))
[ -z "$absent" ] || fail "QML modules missing from the folder: $absent"
echo "ok: every DLL import resolves in the folder or in system32; $(wc -l <<<"$needed") QML modules present"

# --- the board on COM5, both checks on, the window hidden at start
"$sim" --verbose --link "$work/board" >"$work/sim.log" 2>&1 &
pids+=($!)
wait_for 50 grep -qs '^# /dev/pts/' "$work/sim.log" || fail "simulator did not start"
pty=$(sed -n 's/^# \(\/dev\/pts\/[0-9]*\),.*/\1/p' "$work/sim.log")
wine_port COM5 "$pty"
echo explorer.exe >"$system32/tasklist.running"
key='HKCU\Software\Brennic\Tovel3'
wine reg add "$key" /v visible /d false /f >/dev/null 2>&1
# COM5 has no vendor id: it is offered because the settings name it.
wine reg add "$key" /v extraports /d COM5 /f >/dev/null 2>&1
wine reg add "$key" /v monitor /d explorer.exe /f >/dev/null 2>&1
wine reg add "$key" /v monitoron /d true /f >/dev/null 2>&1
wine reg add "$key\\ping" /v on /d true /f >/dev/null 2>&1
wine reg add "$key\\ping" /v url /d 10.9.0.2 /f >/dev/null 2>&1
# An autostart entry of an earlier installation elsewhere, unquoted: the
# start repairs it.
run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
wine reg add "$run" /v BrennicTovel3 /d 'C:\Tovel3\tovel3.exe' /f >/dev/null 2>&1
exe='C:\Program Files\Tovel3\tovel3.exe'
started=$(date +%s)
wine_start tovel3 "$exe"

beats() { grep -c ' << ~U$' "$work/sim.log" || true; }
more_beats_than() { [ "$(beats)" -gt "$1" ]; }
wait_for 150 more_beats_than 3 || fail "fewer than 4 heartbeats within 30 s"
echo "ok: four heartbeats within $(($(date +%s) - started)) s of the start"
# Wine's serial port takes writes but gives no replies: unanswered, the
# program looks for the board again ("~I") every fourth cycle. Between two heartbeats
# with no other command in between, one cycle: none longer than 4.5 s, and
# 3 s on average (a cycle a busy machine started late is followed by one on
# time, so a gap may also be short).
gaps=$(awk '$2 == "<<" { split($1, t, ":"); ms = (t[1] * 3600 + t[2] * 60 + t[3]) * 1000
  if (last == "~U" && $3 == "~U") print int(ms - last_ms); last = $3; last_ms = ms }' "$work/sim.log")
[ "$(wc -l <<<"$gaps")" -ge 2 ] || fail "fewer than two heartbeats in a row: $(cat "$work/sim.log")"
for gap in $gaps; do
  [ "$gap" -le 4500 ] || fail "heartbeats $gap ms apart"
done
mean=$(awk '{ sum += $1 } END { print int(sum / NR) }' <<<"$gaps")
[ "$mean" -ge 2700 ] && [ "$mean" -le 3300 ] || fail "heartbeats $mean ms apart on average: $gaps"
echo "ok: \"~U\" every 3 s on COM5 while 10.9.0.2 answers and explorer.exe responds"
printf -v lists '%s\n' '/FI|IMAGENAME eq explorer.exe|/FO|CSV|/NH' \
  '/FI|IMAGENAME eq explorer.exe|/FI|STATUS eq NOT RESPONDING|/FO|CSV|/NH'
[ "$(head -n 2 "$system32/tasklist.args" | tr -d '\r')" = "${lists%$'\n'}" ] ||
  fail "tasklist ran with: $(head -n 2 "$system32/tasklist.args")"
echo "ok: tasklist asked for the image name, then for it not responding"

# Heartbeats stop while a check fails: after the cycle that was under way
# (a ping, two tasklist runs and the write: some seconds on a busy machine),
# none.
no_beats_while() {
  sleep 5
  local before
  before=$(beats)
  sleep 10
  [ "$(beats)" -eq "$before" ] || fail "heartbeats went on while $1"
  echo "ok: no heartbeat while $1"
}
ip addr del 10.9.0.2/32 dev lo
no_beats_while "10.9.0.2 timed out (Wine's ping exits with 0 then)"
wine_run ctl 'C:\Program Files\Tovel3\tovel3ctl.exe' status || fail "tovel3ctl status exited with $?"
grep -q '^port: *COM5' "$work/ctl.out" || fail "tovel3ctl status names no COM5"
grep -q '^network check: *10.9.0.2, failing' "$work/ctl.out" || fail "tovel3ctl status: network not failing"
echo "ok: tovel3ctl.exe status answers: port COM5, network check failing"
ip addr add 10.9.0.2/32 dev lo
count=$(beats)
wait_for 150 more_beats_than "$count" || fail "heartbeats did not resume once 10.9.0.2 answered"
echo explorer.exe >"$system32/tasklist.hung"
no_beats_while "explorer.exe did not respond"

# --- registry, second start
wine_value_is "$key" port COM5 || fail "no port COM5 in the registry"
wine_value_is "$key\\UI" Language en || fail "no interface language in the registry"
echo "ok: the registry holds port COM5 and the language the first start chose"
[ "$(wine_value "$run" BrennicTovel3)" = "\"$exe\"" ] ||
  fail "autostart entry: $(wine_value "$run" BrennicTovel3)"
echo "ok: the start repaired the autostart entry to the quoted path of the installed program"
window_id() {
  xwininfo -root -tree | sed -n 's/^ *\(0x[0-9a-f]*\) "USB Tovel v3.3.4".*/\1/p' | head -n 1
}
window_viewable() {
  local id
  id=$(window_id)
  [ -n "$id" ] && xwininfo -id "$id" | grep -q 'Map State: IsViewable'
}
window_viewable && fail "the window showed although the settings say hidden"
second=$(date +%s%N)
wine_run second "$exe" || fail "the second start exited with $?"
echo "ok: the second start exited with 0 after $((($(date +%s%N) - second) / 1000000)) ms"
# The window's first showing builds its scene: some seconds on a busy machine.
wait_for 150 window_viewable ||
  fail "the second start did not show the first one's window: $(xwininfo -root -tree | grep tovel3)"
sleep 1
import -window root "$work/main.png"
cp "$work/main.png" "${TOVEL3_ARTIFACTS:?}/main-wine.png"
echo "ok: the window shows; screenshot in $TOVEL3_ARTIFACTS/main-wine.png"

# --- the Autostart switch on the Application page removes the Run value and
# writes it again. Clicked where the window (580 x 540, Wine's own frame)
# shows the tab and the switch under this Wine.
click() {
  xdotool mousemove --window "$(window_id)" "$1" "$2" click 1
  sleep 1
}
run_value_is() { [ "$(wine_value "$run" BrennicTovel3)" = "$1" ]; }
switched() {
  wait_for 75 run_value_is "$1" && return 0
  import -window root "${TOVEL3_ARTIFACTS:?}/autostart-wine.png"
  fail "after clicking Autostart, the Run value is '$(wine_value "$run" BrennicTovel3)', not '$1'"
}
click 487 64 # "Application"
click 113 394
switched ""
click 113 394
switched "\"$exe\""
echo "ok: the Autostart switch removed the Run value BrennicTovel3 and wrote it again"

# --- uninstallation keeps the settings
wine_server
wine_run uninstall 'C:\Program Files\Tovel3\Uninstall.exe' /S || fail "uninstaller exited with $?"
# It goes on from a copy of itself and returns at once; the folder goes
# first, the Start-menu entry after it.
wait_for 100 test ! -d "$dir" || fail "left after uninstalling: $(find "$dir")"
wait_for 100 test ! -e "$menu" || fail "the Start-menu entry is still there"
[ "$(wine_value "$key" port)" = COM5 ] || fail "uninstalling removed the settings"
echo "ok: uninstalling removed every installed file and the Start-menu entry, kept the settings"
