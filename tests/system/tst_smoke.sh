#!/usr/bin/env bash
# The real program on a virtual X display with a real tray host and the board
# simulator: it starts hidden in the tray, feeds the board every 3 s (the
# other end-to-end tests run a shorter cycle), a second start shows the window
# and exits 0, its Settings tab works, Suspend is pressed by keyboard alone,
# and a termination signal ends it cleanly.
# The screenshot stays in the build directory for a look.
set -uo pipefail
bin=${TOVEL3_BIN:?}
build=${TOVEL3_BUILD_DIR:?}
title="USB Tovel v3.3.4"
shot="$build/tests/tst_smoke-screenshot.png"

source "$(dirname "$0")/../support/prelude.sh"
# The display server is asked to end, so that it removes its lock and socket.
stop_signal=TERM
logs=(app.log board.log feed.log)
log_lines=200
. "$(dirname "$0")/../support/xdisplay.sh"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run"
# The single-instance socket lives in the temp directory: a private one keeps
# other programs' instances (other tests running at the same time) apart.
export TMPDIR="$work/tmp"
mkdir -p "$XDG_CONFIG_HOME/Brennic" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The program as users start it: X11 and the default renderer.
unset QT_QPA_PLATFORM QT_QUICK_BACKEND
printf '[General]\nvisible=false\nmanualon=true\n\n[logging]\nenable=true\n' >"$XDG_CONFIG_HOME/Brennic/Tovel3.conf"

# X server on a free display, then the tray host.
xdisplay_start "$work" top
panel=$(xwininfo -root -tree | awk '/"panel"/ { print $1; exit }')

start_sim board

# A feed on loopback: the Application page, with the updater on it, is built
# although the window starts hidden, and looks for an update soon.
python3 -u -c '
import http.server, sys
s = http.server.HTTPServer(("127.0.0.1", 0), http.server.SimpleHTTPRequestHandler)
print(s.server_port, flush=True)
s.serve_forever()' >"$work/feed.port" 2>"$work/feed.log" &
pids+=($!)
wait_for 25 test -s "$work/feed.port" || fail "feed server did not start"
printf '[Update]\nURL=http://127.0.0.1:%s/appcast.xml\nLastCheck=2020-01-01T00:00:00Z\n' "$(head -n1 "$work/feed.port")" \
  >>"$XDG_CONFIG_HOME/Brennic/Tovel3.conf"

TOVEL3_EXTRA_PORTS="$work/board" TOVEL3_UPDATE_DELAY_MS=500 "$bin" >"$work/app.log" 2>&1 &
app=$!
pids+=($app)

wait_for 50 sh -c "xwininfo -id $panel -tree | grep -q '\"Tovel3\"'" || fail "tray icon not embedded in the tray"
echo "ok: tray icon embedded"

viewable() { xwininfo -name "$title" 2>/dev/null | grep -q IsViewable; }
sleep 1
viewable && fail "window shown although the tray is there and it was told to start hidden"
echo "ok: started hidden in the tray"
wait_for 25 grep -q 'GET /appcast.xml' "$work/feed.log" || fail "no update check while hidden"
echo "ok: the hidden window's Application page looked for an update"

wait_for 40 grep -q '<< ~P0' "$work/board.log" || fail "no heartbeat and handshake reached the board"
echo "ok: heartbeat and handshake"

start=$(date +%s%N)
timeout 10 env TOVEL3_EXTRA_PORTS="$work/board" "$bin" >"$work/second.log" 2>&1
rc=$?
took=$((($(date +%s%N) - start) / 1000000))
[ "$rc" -eq 0 ] || fail "second start exited with $rc"
echo "ok: second start exited 0 after $took ms"
wait_for 25 viewable || fail "second start did not show the window"
echo "ok: window \"$title\" shown"
kill -0 "$app" 2>/dev/null || fail "first instance is gone"

two_beats() { [ "$(beats board)" -ge 2 ]; }
wait_for 40 two_beats || fail "no second heartbeat"
grep -q '<< ~G' "$work/board.log" || fail "two-channel heartbeat never sent"

# The Settings tab of a window that started hidden works and asks the board
# for its settings.
grep -q '<< ~F' "$work/board.log" && fail "settings read before the tab was entered"
wid=$(xwininfo -name "$title" | awk '/Window id:/ { print $4 }')
xdotool mousemove --window "$wid" 290 24 click 1
wait_for 25 grep -q '<< ~F' "$work/board.log" || fail "the Settings tab did not read the board"
echo "ok: Settings tab of a window that started hidden reads the board"

# The real period, from the board's arrival times (HH:MM:SS.mmm)
# (tst_engine checks the steady period).
mapfile -t times < <(awk '$2 == "<<" && $3 == "~U" {
  split($1, t, /[:.]/); print ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }' "$work/board.log")
[ "${#times[@]}" -ge 2 ] || fail "${#times[@]} heartbeats"
gaps=()
for ((i = 1; i < ${#times[@]}; i++)); do
  gap=$((times[i] - times[i - 1]))
  [ "$gap" -lt 0 ] && gap=$((gap + 86400000))
  gaps+=("$gap")
  [ "$gap" -ge 2700 ] && [ "$gap" -le 3300 ] || fail "heartbeats ${gaps[*]} ms apart"
done
echo "ok: heartbeats ${gaps[*]} ms apart"

# By keyboard alone: from the Main tab, Tab passes the other two tabs, the
# port box, Scan, the two check boxes (their fields are off) and Manual
# Control; the eighth reaches Suspend, and Return presses it.
xdotool mousemove --window "$wid" 97 24 click 1
sleep 0.5
grep -q '<< ~P1' "$work/board.log" && fail "suspended before the key was pressed"
xdotool key --delay 150 Tab Tab Tab Tab Tab Tab Tab Tab Return
wait_for 25 grep -q '<< ~P1' "$work/board.log" || fail "Return on Suspend did not send ~P1"
wait_for 25 grep -q 'timerstop=true' "$XDG_CONFIG_HOME/Brennic/Tovel3.conf" || fail "Suspend not stored"
echo "ok: Return on Suspend, reached by Tab, sends ~P1"

import -window root "$shot" || fail "no screenshot"
colours=$(identify -format '%k' "$shot")
[ "$colours" -gt 20 ] || fail "screenshot looks blank ($colours colours)"
echo "screenshot: $shot"

sigterm "$app" tovel3
grep -q 'application closed' "$XDG_DATA_HOME/Brennic/Tovel3/tovel3.log" || fail "no closing line"
echo "ok: clean exit"
