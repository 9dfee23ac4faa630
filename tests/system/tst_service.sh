#!/usr/bin/env bash
# tovel3d, tovel3ctl and the desktop tovel3 as processes, each with the board
# simulator on a pseudo-terminal, the real ping to 127.0.0.1, a process of the
# test's to watch, the real node exporter and a notification socket of the
# test's standing in for systemd:
#   - tovel3d identifies the board when the port opens, feeds it every cycle
#     with the handshake after the first heartbeat, maps no Qt Quick,
#     QML, Gui, Widgets or Network library, and tells READY, STATUS and, from
#     each cycle, WATCHDOG (none while it is stopped itself);
#   - every tovel3ctl subcommand sends the board exactly its commands, a
#     refused value nothing; another user is refused, nothing running is 3;
#   - a stopped watched process stops the heartbeat (journaled, the metric
#     drops) and its continuing brings it back;
#   - the board unplugged: another board under another port name gets
#     nothing, the configured port stays, and the board back on it is fed
#     again; the heartbeat gap is printed;
#   - SIGTERM ends the service with code 0 and the journal's closing lines,
#     and removes the metrics file; what it writes to journald carries a
#     priority, line by line;
#   - tovel3ctl controls a running desktop tovel3 as well.
# Both programs run their cycle every 750 ms here (the TOVEL3_CYCLE_MS test
# hook); tst_smoke and tst_engine check the real 3 s period.
set -euo pipefail
tovel3d=${TOVEL3D_BIN:?}
ctl=${TOVEL3CTL_BIN:?}
desktop=${TOVEL3_BIN:?}
source "${TOVEL3_SOURCE_DIR:?}/tests/support/nodeexporter.sh"
source "$TOVEL3_SOURCE_DIR/tests/support/prelude.sh"

chmod 711 "$work" # another user may pass: the control socket's mode alone decides
home=$work/home
mkdir -p "$home" "$work/tmp" "$work/run" "$work/textfiles" "$work/pub"
chmod 700 "$home" "$work/tmp" "$work/run"
chmod 711 "$work/pub"
journal=$home/.local/share/Brennic/Tovel3/tovel3.log
sock=$work/pub/control
at_exit=(node_exporter_stop)
logs=("*.log" "*.err" "$journal")
now_ms() { date +%s%3N; }
cycle=750
sleep_ms() { sleep "$(awk -v ms="$1" 'BEGIN { print ms / 1000 }')"; }
# A gap between two cycles' messages: one cycle, give or take 300 ms.
one_cycle() { [ "$1" -ge $((cycle - 300)) ] && [ "$1" -le $((cycle + 300)) ]; }
in_journal() { tr -d '\r' <"$journal" 2>/dev/null | grep -qF -- "$1"; }
notified() { grep -q -- "$1" "$work/notify.log" 2>/dev/null; }

# --- simulated boards (start_sim, beats: prelude.sh)
lines() { wc -l <"$work/$1.log"; }
# Board commands after line FROM, the cycle's own "~U" and "~G" aside.
sent_since() {
  tail -n +$(($2 + 1)) "$work/$1.log" | awk '$2 == "<<" && $3 != "~U" && $3 != "~G" { print $3 }' |
    paste -sd' '
}
# Arrival of each heartbeat in milliseconds of the day.
beat_times() {
  awk '$2 == "<<" && $3 == "~U" { split($1, t, /[:.]/); print ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }' \
    "$work/$1.log"
}

# --- tovel3ctl: exit code, what it says and what the board received meanwhile
ctl_env=(env "HOME=$home" "TMPDIR=$work/tmp" "RUNTIME_DIRECTORY=$work/no-system-service")
ctl_target=(--socket "$sock")
ctl_board=board
# ctl_case CODE "COMMANDS" "TEXT[|TEXT...]" ARGUMENTS...
ctl_case() {
  local code=$1 want=$2 says=$3 from out rc=0 got text
  shift 3
  from=$(lines "$ctl_board")
  out=$("${ctl_env[@]}" "$ctl" "${ctl_target[@]}" "$@" 2>&1) || rc=$?
  sleep 0.2 # a command sent late would arrive now
  [ "$rc" -eq "$code" ] || fail "tovel3ctl $* exited $rc, not $code: $out"
  IFS='|' read -r -a texts <<<"$says"
  for text in "${texts[@]}"; do
    grep -qF -- "$text" <<<"$out" || fail "tovel3ctl $* does not say '$text': $out"
  done
  got=$(sent_since "$ctl_board" "$from")
  [ "$got" = "$want" ] || fail "tovel3ctl $* sent '$got', not '$want'"
  ok "tovel3ctl $*: exit $rc, board received '${got:-nothing}'"
}

# --- nothing running yet
rc=0
out=$("${ctl_env[@]}" "$ctl" status 2>&1) || rc=$?
[ "$rc" -eq 3 ] || fail "tovel3ctl with nothing running exited $rc"
grep -qF "no running tovel3d or tovel3 found at $work/no-system-service/control" <<<"$out" ||
  fail "tovel3ctl does not name the service's socket: $out"
ok "tovel3ctl with nothing running: exit 3, $out"

# --- the process to watch, the board, the node exporter, the notify socket
watched=tovel3watch$$
cp /bin/sleep "$work/$watched"
"$work/$watched" 600 &
watched_pid=$!
pids+=("$watched_pid")
start_sim board
node_exporter_start "$work/textfiles" "$work/exporter.log"
python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
with open(sys.argv[2], "a", buffering=1) as out:
    while True:
        for line in s.recv(65536).decode("utf-8", "replace").splitlines():
            out.write("%d %s\n" % (time.time() * 1000, line))
' "$work/notify.sock" "$work/notify.log" &
pids+=($!)
wait_for 5 test -S "$work/notify.sock" || fail "no notify socket"

cat >"$work/tovel3.conf" <<EOF
[General]
port=$work/board
monitor=$watched
monitoron=true

[logging]
enable=true
network=true
process=true

[ping]
on=true
url=127.0.0.1

[metrics]
dir=$work/textfiles
EOF

# --- the service, as systemd starts it (WATCHDOG_PID is the service's own)
env -i "PATH=$PATH" "HOME=$home" "TMPDIR=$work/tmp" "XDG_RUNTIME_DIR=$work/run" LANG=C.UTF-8 \
  "TOVEL3_EXTRA_PORTS=$work/board:$work/board2" "NOTIFY_SOCKET=$work/notify.sock" \
  "TOVEL3_CYCLE_MS=$cycle" "WATCHDOG_USEC=$((cycle * 1500))" bash -c 'export WATCHDOG_PID=$$; exec "$@"' tovel3d \
  "$tovel3d" --config "$work/tovel3.conf" --socket "$sock" >"$work/tovel3d.out" 2>"$work/tovel3d.err" &
daemon=$!
pids+=("$daemon")
started=$(now_ms)

three_beats() { [ "$(beats board)" -ge 3 ]; }
wait_for 15 three_beats || fail "only $(beats board) heartbeats within 15 s"
mapfile -t times < <(beat_times board)
gaps=()
for ((i = 1; i < ${#times[@]}; i++)); do
  gaps+=($((times[i] - times[i - 1])))
  one_cycle "${gaps[-1]}" || fail "heartbeats ${gaps[*]} ms apart"
done
acks=$(grep -c ' >> ~A\\n' "$work/board.log" || true)
[ "$acks" -ge 3 ] || fail "the board acknowledged $acks heartbeats"
first_u=$(grep -n ' << ~U$' "$work/board.log" | head -n 1 | cut -d: -f1)
first_i=$(grep -n ' << ~I$' "$work/board.log" | head -n 1 | cut -d: -f1)
[ -n "$first_i" ] && [ "$first_i" -lt "$first_u" ] || fail "the board is not identified before the first ~U"
for cmd in '~L1' '~P0'; do
  at=$(grep -n " << $cmd\$" "$work/board.log" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] && [ "$at" -gt "$first_u" ] || fail "handshake: $cmd missing or before the first ~U"
done
ok "heartbeats ${gaps[*]} ms apart, all acknowledged; ~I first, handshake ~L1 ~P0 after the first ~U"

maps=$(cat "/proc/$daemon/maps")
grep -q libQt5SerialPort <<<"$maps" || fail "maps unreadable or no serial port library"
if grep -Eo 'libQt5(Quick|Qml|Gui|Widgets|Network)[^ ]*' <<<"$maps" | sort -u | grep .; then
  fail "tovel3d maps the libraries above"
fi
ok "tovel3d maps no Qt5Quick, Qt5Qml, Qt5Gui, Qt5Widgets or Qt5Network"

in_journal "Ostrel X2 v3.1U connected" || fail "the connection is not journaled"
[ "$(grep -m1 -oE 'READY=1|WATCHDOG=1' "$work/notify.log")" = READY=1 ] || fail "no READY=1 before the cycles"
mapfile -t pings < <(awk '$2 == "WATCHDOG=1" { print $1 }' "$work/notify.log")
[ "${#pings[@]}" -ge 3 ] || fail "${#pings[@]} WATCHDOG=1 for ${#times[@]} cycles"
for ((i = 1; i < ${#pings[@]}; i++)); do
  gap=$((pings[i] - pings[i - 1]))
  one_cycle "$gap" || fail "WATCHDOG=1 $gap ms apart"
done
grep -q "STATUS=Ostrel X2 v3.1 on $work/board, last acknowledgement .*Z, network 127.0.0.1 ok, process $watched ok" \
  "$work/notify.log" || fail "no STATUS line naming the board and the checks"
ok "journal, READY=1, WATCHDOG=1 with each cycle, $(grep -o 'STATUS=.*' "$work/notify.log" | tail -n 1)"

scrape=$(node_exporter_wait_for '^tovel3_heartbeats_sent_total [1-9]') || fail "no tovel3 metrics scraped"
for line in "tovel3_board_info{firmware=\"3.1\",model=\"Ostrel X2\",port=\"$work/board\"} 1" \
  "tovel3_board_connected 1" "tovel3_check_up{check=\"network\",target=\"127.0.0.1\"} 1" \
  "tovel3_check_up{check=\"process\",target=\"$watched\"} 1" "node_textfile_scrape_error 0"; do
  grep -Fxq -- "$line" <<<"$scrape" || fail "scrape lacks $line"
done
before=$(sed -n 's/^tovel3_heartbeats_sent_total //p' <<<"$scrape")
ok "node exporter serves the service's metrics ($before heartbeats so far)"

# --- tovel3ctl against the service
json=$("${ctl_env[@]}" "$ctl" --socket "$sock" status --json) || fail "status --json failed"
python3 - "$json" "$work/board" "$watched" <<'EOF' || fail "status --json: $json"
import json, sys
s = json.loads(sys.argv[1])
assert s["port"] == sys.argv[2] and s["model"] == "Ostrel X2" and s["firmware"] == "3.1"
assert s["suspended"] is False
for key in ("last_heartbeat", "last_ack"):
    assert s[key].endswith("Z"), key
assert s["network"] == {"enabled": True, "target": "127.0.0.1", "ok": True}
assert s["process"] == {"enabled": True, "target": sys.argv[3], "ok": True}
EOF
ok "status --json: $json"
ctl_case 0 "" "Ostrel X2|$work/board|127.0.0.1, passing|$watched, passing" status
ctl_case 0 "~P1" "suspended" suspend
grep -qx 'timerstop=true' "$work/tovel3.conf" || fail "suspend is not kept in the settings"
ctl_case 0 "~P0" "resumed" resume
ctl_case 0 "~L0" "LED off" led off
ctl_case 0 "~L1" "LED on" led on
ctl_case 0 "~F" "reset-time=5min" board
ctl_case 0 "~F ~WA2425120346" "reset-time=10min" board set reset-time=10min
ctl_case 1 "" "0min, 1min" board set reset-time=20min
ctl_case 1 "" "add --yes" test-reset
ctl_case 0 "~T1" "reset requested" test-reset --yes
ctl_case 1 "" "add --yes" test-power
ctl_case 0 "~T2" "hard reset requested" test-power --yes

if [ "$(id -u)" -eq 0 ]; then
  [ "$(stat -c %a "$sock")" = 600 ] || fail "socket mode $(stat -c %a "$sock")"
  rc=0
  out=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$ctl" --socket "$sock" status 2>&1) || rc=$?
  [ "$rc" -eq 1 ] && grep -q "permission denied" <<<"$out" || fail "nobody got $rc: $out"
  ok "another user (nobody) is refused: $out"
else
  echo "skip: running as another user needs root"
fi

# --- the watched process stopped, then continued
watchdogs() { awk -v t="$1" '$1 > t && $2 == "WATCHDOG=1"' "$work/notify.log" | wc -l; }
kill -STOP "$watched_pid"
sleep 0.2 # a cycle that was already past its check
stop_line=$(lines board)
stop_at=$(now_ms)
wait_for 8 in_journal "Process $watched died or is hanging" || fail "the stopped process is not journaled"
grep -qF "<4>Process $watched died or is hanging" "$work/tovel3d.err" ||
  fail "the warning is not echoed with its priority"
node_exporter_wait_for "^tovel3_check_up\\{check=\"process\",target=\"$watched\"\\} 0$" 8 >/dev/null ||
  fail "tovel3_check_up does not drop to 0"
two_cycles() { [ "$(watchdogs "$stop_at")" -ge 2 ]; }
wait_for 8 two_cycles || fail "the cycle stopped with the watched process"
[ "$(beats board "$stop_line")" -eq 0 ] || fail "heartbeats while the watched process is stopped"
ok "watched process stopped: cycles go on ($(watchdogs "$stop_at") WATCHDOG=1), no heartbeat, journaled, metric 0"
kill -CONT "$watched_pid"
cont_line=$(lines board)
beat_again() { [ "$(beats board "$cont_line")" -ge 1 ]; }
wait_for 5 beat_again || fail "no heartbeat after the process continued"
wait_for 2 in_journal "Process $watched is running normally" || fail "the recovery is not journaled"
node_exporter_wait_for "^tovel3_check_up\\{check=\"process\",target=\"$watched\"\\} 1$" 5 >/dev/null ||
  fail "tovel3_check_up does not return to 1"
ok "watched process continued: heartbeats again, journaled, metric 1"

# --- the service itself stopped for longer than its watchdog interval (1.5 cycles)
kill -STOP "$daemon"
paused=$(now_ms)
sleep_ms $((cycle * 2))
resumed=$(now_ms)
kill -CONT "$daemon"
# (a message sent just before the stop may be read a little later)
silent=$(awk -v a="$paused" -v b="$resumed" '$1 > a + 200 && $1 < b' "$work/notify.log" | wc -l)
[ "$silent" -eq 0 ] || fail "$silent notifications while the service was stopped"
alive_again() { [ "$(watchdogs "$resumed")" -ge 1 ]; }
wait_for 5 alive_again || fail "no WATCHDOG=1 after the service continued"
ok "no WATCHDOG=1 in the $((cycle * 2)) ms the service was stopped, again after it continued"

sleep_ms $((cycle / 2)) # the cycle's file in place, its heartbeat sent
scrape=$(node_exporter_scrape)
after=$(sed -n 's/^tovel3_heartbeats_sent_total //p' <<<"$scrape")
acked=$(sed -n 's/^tovel3_acks_received_total //p' <<<"$scrape")
board_beats=$(beats board)
# The file is written at the start of a cycle: it may lack the last heartbeat.
[ "$after" -gt "$before" ] && [ "$after" -ge $((board_beats - 1)) ] && [ "$after" -le "$board_beats" ] ||
  fail "tovel3_heartbeats_sent_total $after, the board got $board_beats"
[ "$acked" -ge $((after - 1)) ] || fail "tovel3_acks_received_total $acked for $after heartbeats"
ok "counters grew with the heartbeats: $before -> $after sent, $acked acknowledged, board got $board_beats"

# --- unplugged while another board appears under another port name: that
# board gets nothing, not even "~I"; the configured port stays and is fed
# again once the board is back on it (the metric shows it missing meanwhile)
last_beat=$(beat_times board | tail -n 1)
kill -TERM "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
start_sim board2
node_exporter_wait_for '^tovel3_board_connected 0$' 10 >/dev/null || fail "tovel3_board_connected stays 1"
sleep_ms $((cycle * 5))
if grep -q ' << ' "$work/board2.log"; then
  fail "the other board got: $(grep ' << ' "$work/board2.log" | head -n 3 | paste -sd' ')"
fi
in_journal "Watchdog moved" && fail "the other board was taken for the watchdog"
grep -qx "port=$work/board" "$work/tovel3.conf" || fail "the configured port is not kept"
ok "board unplugged: tovel3_board_connected 0, the board on board2 got nothing in $((cycle * 5)) ms"
start_sim board
back_fed() { [ "$(beats board)" -ge 1 ]; }
wait_for 10 back_fed || fail "no heartbeat once the board is back"
gap=$(($(beat_times board | head -n 1) - last_beat))
node_exporter_wait_for '^tovel3_board_connected 1$' 8 >/dev/null || fail "tovel3_board_connected stays 0"
ok "board back on $work/board: fed again, heartbeat gap $gap ms"

# --- SIGTERM
sigterm "$daemon" tovel3d
mapfile -t closing < <(tail -n 2 "$journal" | tr -d '\r' | sed -E 's/^.* [0-9]{4} //')
[ "${closing[0]}" = "application is about to be closed" ] && [ "${closing[1]}" = "application closed" ] ||
  fail "journal ends with: ${closing[*]}"
notified STOPPING=1 || fail "no STOPPING=1"
# Its standard error goes to journald: only entries with their priority.
unmarked=$(grep -cv '^<[0-7]>' "$work/tovel3d.err" || true)
[ "$unmarked" -eq 0 ] || fail "$unmarked lines without a priority on standard error"
[ ! -e "$sock" ] || fail "the control socket stays"
[ ! -e "$work/textfiles/tovel3.prom" ] || fail "the metrics file stays, saying: $(grep connected "$work/textfiles/tovel3.prom")"
ok "SIGTERM: exit 0, STOPPING=1, journal closed, socket and metrics file gone, $(wc -l <"$work/tovel3d.err") lines to journald"

# --- a running desktop tovel3 (its window path, offscreen)
env -i "PATH=$PATH" "HOME=$home" "TMPDIR=$work/tmp" "XDG_RUNTIME_DIR=$work/run" LANG=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software "TOVEL3_EXTRA_PORTS=$work/board2" \
  "TOVEL3_CYCLE_MS=$cycle" \
  "$desktop" >"$work/desktop.out" 2>"$work/desktop.err" &
app=$!
pids+=("$app")
desk_line=$(lines board2)
desktop_fed() {
  # fed, and the handshake ("~L1~P0") that follows the first heartbeat done
  tail -n +$((desk_line + 1)) "$work/board2.log" | grep -q ' << ~P0$' && [ -S "$home/.cache/tovel3/$(hostname)/control" ]
}
wait_for 15 desktop_fed || fail "the desktop program does not feed the board"
grep -q libQt5Quick "/proc/$app/maps" || fail "the desktop program runs without its window"
ctl_target=()
ctl_board=board2
ctl_case 0 "" "Ostrel X2|$work/board2" status
ctl_case 0 "~P1" "suspended" suspend
ctl_case 0 "~P0" "resumed" resume
sigterm "$app" "the desktop tovel3"
ok "desktop tovel3 controlled through its own socket; whole run $((($(now_ms) - started) / 1000)) s"
