#!/usr/bin/env bash
# tovel3d as an administrator meets it, with another ordinary user (made
# here, removed after) in the way, the board simulator on pseudo-terminals and
# standard error read as journald reads it (a "<N>" priority in front):
#   - a settings file with a syntax error, or one the service may not read,
#     stops it at error priority, naming the file and the reason;
#   - the other user taking every name in the shared temporary directory, and
#     listening on the control socket's path, stops nothing: the watchdog
#     feeds the board, says once at error priority that it has no control
#     socket, and takes the socket when it is free;
#   - logging/size=0 is the journal's least size (128 KiB), as in the desktop;
#   - a ping that may not run is said once, with ping's reason;
#   - one category's output (tovel3.serial) turned on alone under journald;
#   - SIGHUP reloads the settings and journals what changed, also when the
#     reader of standard error has gone (SIGPIPE);
#   - a port it may not open is warned about once, with the reason;
#   - with a state it cannot write, the start warns and "tovel3ctl suspend"
#     says that the suspension will not survive a restart.
# The cycle runs every 500 ms (the TOVEL3_CYCLE_MS test hook).
set -euo pipefail
tovel3d=${TOVEL3D_BIN:?}
ctl=${TOVEL3CTL_BIN:?}
if [ "$(id -u)" -ne 0 ]; then
  echo "skip: needs root for another user"
  exit 0
fi
source "${TOVEL3_SOURCE_DIR:?}/tests/support/prelude.sh"
chmod 711 "$work"
user=tovel3t$$
at_exit=('userdel "$user" 2>/dev/null')
logs=("*.err" logs/tovel3.log)
log_lines=20
useradd -M -s /usr/sbin/nologin -U "$user"
as_user=(setpriv "--reuid=$user" "--regid=$user" --clear-groups)

count() { grep -cF -- "$2" "$1" 2>/dev/null || true; }
says() { grep -qF -- "$2" "$1" 2>/dev/null; }
alive() { kill -0 "$1" 2>/dev/null; }

# --- settings files that cannot be used
mkdir -p "$work/uhome" && chown "$user:" "$work/uhome"
# (exec: started in the background, the pid is the service's own)
run_user() {
  exec env -i "PATH=$PATH" "HOME=$work/uhome" LANG=C.UTF-8 JOURNAL_STREAM=1:1 "TOVEL3_CYCLE_MS=500" "$@"
}
printf '[General\nmonitor=nginx\n' >"$work/broken.conf"
printf '[General]\nmonitor=nginx\n' >"$work/secret.conf"
chmod 644 "$work/broken.conf"
chmod 600 "$work/secret.conf"
for case in "broken.conf:syntax error in $work/broken.conf, line 1: [General" \
  "secret.conf:cannot read $work/secret.conf: Permission denied"; do
  file=${case%%:*}
  rc=0
  (run_user "${as_user[@]}" "$tovel3d" --config "$work/$file" --socket "$work/uhome/control") \
    >/dev/null 2>"$work/$file.err" || rc=$?
  [ "$rc" -eq 1 ] || fail "$file: exit $rc"
  grep -qxF "<3>${case#*:}" "$work/$file.err" || fail "$file: $(cat "$work/$file.err")"
  ok "$file: exit 1, $(cat "$work/$file.err")"
done

# --- the other user in the way of a service started by hand (as root)
start_sim board
mkdir -p "$work/shared" "$work/pub" "$work/rhome" "$work/logs" "$work/bin"
chmod 1777 "$work/shared" "$work/pub"
for name in tovel3-0 tovel3-0.{1..9}; do
  "${as_user[@]}" mkdir -m 777 "$work/shared/$name"
done
"${as_user[@]}" socat "UNIX-LISTEN:$work/pub/control,fork" /dev/null &
socat_pid=$!
pids+=("$socat_pid")
wait_for 5 test -S "$work/pub/control" || fail "the other user's socket is not there"
# The stand-in ping (support/ping-standin.sh), to be denied its socket below.
install -m 755 "$TOVEL3_SOURCE_DIR/tests/support/ping-standin.sh" "$work/bin/ping"
head -c 200000 /dev/zero | tr '\0' x >"$work/logs/tovel3.log"
cat >"$work/root.conf" <<EOF
[General]
port=$work/board

[ping]
on=true
url=127.0.0.1

[logging]
enable=true
size=0
network=true
EOF
mkfifo "$work/err.fifo"
cat "$work/err.fifo" >"$work/root.err" &
reader=$!
pids+=("$reader")
env -i "PATH=$work/bin:$PATH" "HOME=$work/rhome" "TMPDIR=$work/shared" LANG=C.UTF-8 \
  JOURNAL_STREAM=1:1 "LOGS_DIRECTORY=$work/logs" "TOVEL3_EXTRA_PORTS=$work/board" TOVEL3_CYCLE_MS=500 \
  QT_LOGGING_RULES=tovel3.serial.info=true "$tovel3d" --config "$work/root.conf" --socket "$work/pub/control" >/dev/null 2>"$work/err.fifo" &
daemon=$!
pids+=("$daemon")
fed() { [ "$(beats board)" -ge "$1" ]; }
wait_for 15 fed 3 || fail "only $(beats board) heartbeats"
alive "$daemon" || fail "tovel3d ended"
[ "$(count "$work/root.err" "<3>cannot listen on $work/pub/control")" -eq 1 ] ||
  fail "no single error about the control socket"
ok "squatted temporary names and a held control socket: $(beats board) heartbeats, one error line"
[ -f "$work/logs/tovel3.log.0" ] || fail "a 200 KB journal is not rotated with logging/size=0"
ok "logging/size=0 rotates a 200 KB journal"
grep -q '^<6>>>~' "$work/root.err" || fail "tovel3.serial turned on: no serial trace under journald"
! grep -q '^<7>Ping ' "$work/root.err" || fail "tovel3.serial turned on: the cycle's debug lines came too"
ok "one subsystem's output turned on under journald (tovel3.serial), the others stay off"

kill "$socat_pid"
controlled() { "$ctl" --socket "$work/pub/control" status >/dev/null 2>&1; }
wait_for 15 controlled || fail "the control socket is not taken once it is free"
ok "the control socket is taken once the other user lets go"

# ping as a service without the right to open its socket
printf 'ping: socktype: SOCK_RAW\\nping: socket: Operation not permitted\\n' >"$work/bin/err"
echo 2 >"$work/bin/code"
denied="<4>Network check: ping 127.0.0.1 fails: ping: socktype: SOCK_RAW ping: socket: Operation not permitted"
wait_for 5 says "$work/root.err" "$denied" || fail "the ping's reason is not said"
runs() { wc -l <"$work/bin/runs"; }
more_runs() { [ "$(runs)" -ge "$1" ]; }
wait_for 5 more_runs $(($(runs) + 3)) || fail "the denied ping is not run again"
[ "$(count "$work/root.err" "$denied")" -eq 1 ] || fail "the ping's reason is said more than once"
rm "$work/bin/code"
ok "a ping without permission is said once, with its reason"

sed -i 's/^network=true/network=false/' "$work/root.conf"
from=$(beats board)
kill -HUP "$daemon"
reloaded="Settings reloaded: logging/network is now false"
wait_for 5 says "$work/root.err" "<6>$reloaded" || fail "the reload is not said"
tr -d '\r' <"$work/logs/tovel3.log" | grep -qF "$reloaded" || fail "the reload is not journaled"
wait_for 5 fed $((from + 2)) || fail "no heartbeats after SIGHUP"
alive "$daemon" || fail "SIGHUP ended tovel3d"
kill "$reader"
wait "$reader" 2>/dev/null || true
kill -HUP "$daemon"
from=$(beats board)
wait_for 5 fed $((from + 2)) || fail "no heartbeats after the reader of standard error went"
alive "$daemon" || fail "SIGPIPE ended tovel3d"
sigterm "$daemon" tovel3d
ok "SIGHUP reloads and journals what changed; no reader of standard error ends nothing"

# --- run as the other user: a port it may not open, a state it cannot write
start_sim locked
chmod 600 "$(readlink -f "$work/locked")"
cat >"$work/user.conf" <<EOF
[General]
port=$work/locked
EOF
chmod 644 "$work/user.conf"
run_user "TOVEL3_EXTRA_PORTS=$work/locked" "${as_user[@]}" "$tovel3d" --config "$work/user.conf" \
  --socket "$work/uhome/control" >/dev/null 2>"$work/locked.err" &
pids+=($!)
refused="<4>cannot open the port $work/locked: Permission denied"
wait_for 5 says "$work/locked.err" "$refused" || fail "the refused port is not warned about"
sleep 2
[ "$(count "$work/locked.err" "$refused")" -eq 1 ] || fail "the refused port is warned about more than once"
sigterm "${pids[-1]}" tovel3d
ok "a port the service may not open: one warning with the reason"

start_sim board2
chown "$user" "$(readlink -f "$work/board2")"
sed -i "s#^port=.*#port=$work/board2#" "$work/user.conf"
mkdir -m 755 "$work/state"
run_user "TOVEL3_EXTRA_PORTS=$work/board2" "STATE_DIRECTORY=$work/state" "${as_user[@]}" "$tovel3d" \
  --config "$work/user.conf" --socket "$work/uhome/control" >/dev/null 2>"$work/state.err" &
pids+=($!)
board2_fed() { [ "$(beats board2)" -ge 2 ]; }
wait_for 10 board2_fed || fail "the board is not fed by the other user's service"
lost="<4>what tovel3ctl switches (suspend, resume, led) will not survive a restart: cannot write $work/state/state.conf: Permission denied"
says "$work/state.err" "$lost" || fail "the start does not warn about the state"
rc=0
out=$("${as_user[@]}" env "HOME=$work/uhome" "$ctl" --socket "$work/uhome/control" suspend 2>&1) || rc=$?
[ "$rc" -eq 0 ] || fail "suspend exited $rc: $out"
grep -qF "the suspension will not survive a restart: cannot write $work/state/state.conf" <<<"$out" ||
  fail "suspend does not say it will not survive a restart: $out"
sigterm "${pids[-1]}" tovel3d
ok "a state that cannot be written: the start warns, suspend says: $(tail -n 1 <<<"$out")"
