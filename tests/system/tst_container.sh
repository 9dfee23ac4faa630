#!/usr/bin/env bash
# The tovel3d package on a minimal Debian 12 booted under its own systemd
# (systemd-nspawn), installed with apt-get, the board simulator on a PTY of
# the host (group dialout, 0660) seen as /dev/ttyTOVEL0 inside:
#   - the package pulls at most 30 packages, ships no sysctl file and leaves
#     net.ipv4.ping_group_range closed; ping still works under the unit;
#   - the unit pulls in modprobe@cdc_acm.service and starts after it;
#   - a stale LCK.. file another user planted in /run/lock changes nothing;
#   - metrics: none and no warning while the node exporter's directory is
#     missing, tovel3.prom once it exists; a member of the group tovel3 still
#     cannot write that directory;
#   - with the ping check failing, the board is identified and tovel3ctl
#     suspends it; systemctl reload picks up a mended setting in place;
#   - SIGSTOP: systemd's watchdog restarts the service, heartbeats resume;
#   - errors at their priority: unreadable settings (err), a port that
#     cannot be opened (warning, once, with the reason);
#   - apt-get remove suspends the board first and says so: no reset after;
#     purge leaves nothing the service wrote.
# Skips (exit 77, saying why) where no container can be booted. The Debian
# root and its apt cache stay in the build directory between runs.
set -euo pipefail
src=${TOVEL3_SOURCE_DIR:?}
build=${TOVEL3_BUILD_DIR:?}
sim=${TOVEL3_BOARDSIM:?}
pkg=${TOVEL3_PACKAGES:?} # made by the fixture "packages" (support/packages.sh)
source "$src/tests/support/container.sh"
started=$(date +%s)

reason=$(container_skip_reason)
[ -z "$reason" ] || { echo "SKIP: $reason"; exit 77; }

store=$build/container
mkdir -p "$store"
exec 9>"$store/lock"
flock 9
container_reap "$store"
work=$store/run.$$
mkdir "$work"
sim_pid=""
cleanup() {
  local t=$SECONDS
  container_stop
  echo "container stopped in $((SECONDS - t)) s"
  [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; } || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=()
ok() { echo "ok: $*"; }
# A check that fails is reported and the run goes on, so that one run names
# every failing check.
bad() {
  echo "FAIL: $*"
  failures+=("$*")
}
# wait_for SECONDS COMMAND...: until the command succeeds.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# --- the root (made once), this run's copy, the packages and what they need
container_base "$store"
deb=$(cd "$pkg" && ls tovel3d_*.deb)
container_copy "$store" "$work/root"
container_fetch "$store" "$work/root" "$pkg" "$deb"
flock -u 9
echo "root ready after $(($(date +%s) - started)) s"

# --- the board: 1 s per board minute, so its reset time (5 min) is 5 s
"$sim" --model x2 --link "$work/board" --time-scale 1 --verbose >"$work/board.log" 2>&1 &
sim_pid=$!
echo "$sim_pid" >"$work/sim.pid"
wait_for 5 test -L "$work/board" || { cat "$work/board.log"; exit 1; }
pts=$(readlink -f "$work/board")
chgrp dialout "$pts"
chmod 660 "$pts"
board_lines() { wc -l <"$work/board.log"; }
# Commands the board received after line FROM, heartbeats included.
received() { tail -n +$(($1 + 1)) "$work/board.log" | awk '$2 == "<<" { print $3 }' | paste -sd' '; }
beats_since() { [ "$(tail -n +$(($1 + 1)) "$work/board.log" | grep -c ' << ~U$')" -ge "${2:-1}" ]; }

if ! container_boot "$work/root" "$work/boot.log" --bind-ro="$pkg:/mnt/pkg" --bind="$pts:/dev/ttyTOVEL0"; then
  tail -n 20 "$work/boot.log"
  echo "SKIP: systemd-nspawn cannot boot a container here"
  exit 77
fi
echo "booted after $(($(date +%s) - started)) s"

installed() { in_container dpkg-query -W -f '${db:Status-Abbrev}\n' | grep -c '^ii'; }
service() { in_container systemctl show tovel3d -p "$1" --value; }
journal() { in_container journalctl -u tovel3d -o cat --since "@$1" "${@:2}"; }
ctl() { in_container timeout 20 tovel3ctl "$@"; }
# Edits the shipped settings file as an administrator would: the board's
# port, the network check on and its address.
settings() {
  in_container sed -i -e 's#^port=.*#port=/dev/ttyTOVEL0#' \
    -e "/^\[ping\]/,/^\[/{s/^on=.*/on=true/;s/^url=.*/url=$1/}" /etc/tovel3/tovel3.conf
}

# --- item: installation
range=$(in_container cat /proc/sys/net/ipv4/ping_group_range)
before=$(installed)
in_container apt-get install -y "/mnt/pkg/$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
pulled=$(($(installed) - before))
grep -E 'newly installed|After this operation' "$work/install.log" || true
[ "$pulled" -le 30 ] && ok "tovel3d pulled $pulled packages (at most 30)" || bad "tovel3d pulled $pulled packages"
if in_container dpkg -L tovel3d | grep -q sysctl; then bad "the package ships a sysctl file"; fi
now=$(in_container cat /proc/sys/net/ipv4/ping_group_range)
[ "$range" = "$now" ] && ok "net.ipv4.ping_group_range stays '$now'" || bad "ping_group_range '$range' -> '$now'"
in_container systemd-run --wait -q -p User=tovel3 -p NoNewPrivileges=yes ping -c 1 -W 1 127.0.0.1 &&
  bad "ping without a capability answered: the ping range is open here, the check below proves nothing"

# A stale lock another user left in the shared lock directory, naming a live
# process (systemd), as Qt writes them.
in_container setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c \
  'printf "1\nsystemd\n%s\n" "$(cat /proc/sys/kernel/hostname)" >/run/lock/LCK..ttyTOVEL0' ||
  bad "another user cannot write /run/lock here"
# The PTY is not enumerated as a USB port. systemd's watchdog waits 10 s
# rather than the unit's 30 s: the service keeps to the shorter interval
# throughout, and the SIGSTOP step below takes 20 s less.
in_container mkdir -p /etc/systemd/system/tovel3d.service.d
echo -e '[Service]\nEnvironment=TOVEL3_EXTRA_PORTS=/dev/ttyTOVEL0\nWatchdogSec=10s' |
  in_container tee /etc/systemd/system/tovel3d.service.d/test.conf >/dev/null
settings 127.0.0.1
mark=$(date +%s)
from=$(board_lines)
in_container systemctl daemon-reload
in_container systemctl enable --now tovel3d
if wait_for 20 beats_since "$from" 2; then
  ok "heartbeats under the unit with the ping check on 127.0.0.1 and a planted lock file"
else
  bad "no heartbeats: $(in_container systemctl status tovel3d --no-pager -n 20 || true)"
fi
ctl status --json | python3 -c 'import json, sys; n = json.load(sys.stdin)["network"]; sys.exit(not n["ok"])' &&
  ok "the network check passes (ping through the unit's CAP_NET_RAW)" || bad "the network check fails under the unit"
[ -z "$(journal "$mark" -p warning | grep -i metric)" ] &&
  ok "no metrics warning without the node exporter's directory" || bad "a metrics warning: $(journal "$mark" -p warning)"

# --- item: the driver is loaded first
[[ " $(service Wants) " == *" modprobe@cdc_acm.service "* && " $(service After) " == *" modprobe@cdc_acm.service "* ]] ||
  bad "tovel3d does not want and follow modprobe@cdc_acm.service"
checked=$(in_container systemctl show modprobe@cdc_acm.service -p ConditionTimestampMonotonic --value)
begun=$(service ExecMainStartTimestampMonotonic)
[ "${checked:-0}" -gt 0 ] && [ "$checked" -le "$begun" ] &&
  ok "modprobe@cdc_acm ran at ${checked} us, tovel3d started at $begun us" ||
  bad "modprobe@cdc_acm at '${checked}', tovel3d at $begun"

# --- item: metrics where the node exporter reads them, the directory no one else's to write
in_container mkdir -p /var/lib/prometheus/node-exporter
in_container systemd-tmpfiles --create tovel3.conf
in_container systemctl restart tovel3d
prom=/var/lib/prometheus/node-exporter/tovel3.prom
has_metrics() { in_container grep -qx 'tovel3_board_connected 1' "$prom" 2>/dev/null; }
wait_for 20 has_metrics && ok "tovel3.prom written" || bad "no tovel3.prom"
group=$(in_container getent group tovel3 | cut -d: -f3)
in_container setpriv --reuid=nobody --regid=nogroup --groups="$group" sh -c \
  "echo x >/var/lib/prometheus/node-exporter/other.prom" 2>/dev/null &&
  bad "a member of the group tovel3 can write the node exporter's directory" ||
  ok "a member of the group tovel3 cannot write the node exporter's directory"

# --- identification and suspend while the ping check fails, then reload
settings 10.9.0.2 # no route in the container's network
from=$(board_lines)
in_container systemctl restart tovel3d
identified() { [[ " $(received "$from") " == *" ~I "* ]]; }
wait_for 20 identified && ok "board identified while the ping check fails" || bad "no ~I while the ping check fails"
at=$(board_lines)
if out=$(ctl suspend 2>&1) && [[ " $(received "$at") " == *" ~P1 "* ]]; then
  ok "tovel3ctl suspend while the ping check fails: $out"
else
  bad "tovel3ctl suspend while the ping check fails: $out; board got '$(received "$at")'"
fi
ctl resume >/dev/null 2>&1 || true
sleep 4
beats_since "$at" && bad "heartbeats although the ping check fails"
pid=$(service MainPID)
restarts=$(service NRestarts)
settings 127.0.0.1
from=$(board_lines)
in_container systemctl reload tovel3d || true
if wait_for 20 beats_since "$from" && [ "$(service MainPID)" = "$pid" ] && [ "$(service NRestarts)" = "$restarts" ]; then
  ok "systemctl reload: heartbeats again, same process $pid"
else
  bad "systemctl reload: process $pid -> $(service MainPID), $(service ActiveState), restarts $restarts -> $(service NRestarts)"
  in_container systemctl restart tovel3d
fi

# --- SIGSTOP: systemd's watchdog (10 s here) restarts the service (5 s later)
from=$(board_lines)
wait_for 20 beats_since "$from" || true
pid=$(service MainPID)
stopped=$(date +%s)
in_container systemctl kill --kill-who=main --signal=SIGSTOP tovel3d
gone() { [ "$(service MainPID)" != "$pid" ]; }
if wait_for 30 gone; then
  # A killed opener leaves the PTY exclusive; a real ttyACM clears that on
  # its last close, so the test does it here.
  python3 -c 'import fcntl, os, sys, termios
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
fcntl.ioctl(fd, termios.TIOCNXCL)
os.close(fd)' "$pts"
  from=$(board_lines)
  if wait_for 30 beats_since "$from"; then
    ok "SIGSTOP: restarted by the watchdog, heartbeats again $(($(date +%s) - stopped)) s after the stop"
  else
    bad "no heartbeats after the watchdog restart"
  fi
  journal "$stopped" | grep -q 'Watchdog timeout' || bad "no watchdog timeout in the journal"
else
  bad "the stopped service was not restarted within 30 s"
  in_container systemctl kill --signal=SIGCONT tovel3d || true
fi

# --- errors at their priority
in_container chmod 600 /etc/tovel3/tovel3.conf
mark=$(date +%s)
in_container systemctl restart tovel3d 2>/dev/null || true
said() { journal "$mark" -p err | grep -q /etc/tovel3/tovel3.conf; }
wait_for 10 said && ok "unreadable settings: $(journal "$mark" -p err | grep -m1 /etc/tovel3/tovel3.conf)" ||
  bad "unreadable settings not named at error priority: $(journal "$mark" | tail -n 3)"
in_container chmod 644 /etc/tovel3/tovel3.conf
chmod 600 "$pts"
mark=$(date +%s)
in_container systemctl restart tovel3d
sleep 10
warned=$(journal "$mark" -p warning | grep -F /dev/ttyTOVEL0 | grep -ci 'permission' || true)
[ "$warned" -eq 1 ] && ok "unopenable port: one warning with the reason" ||
  bad "unopenable port: $warned warnings naming it and the permission: $(journal "$mark" | tail -n 3)"
chmod 660 "$pts"

# --- removal suspends the board, purge leaves nothing behind
in_container systemctl restart tovel3d
from=$(board_lines)
wait_for 20 beats_since "$from" || bad "no heartbeats before the removal"
from=$(board_lines)
in_container apt-get remove -y tovel3d >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; exit 1; }
grep -i 'suspend' "$work/remove.log" && ok "the removal says it suspends the board" || bad "the removal says nothing of the board"
sleep 8 # 1.5 times the board's reset time
got=$(received "$from")
after=$(tail -n +$((from + 1)) "$work/board.log" | grep -c 'RESET' || true)
# A cycle may still feed the suspended board before the service stops (a
# heartbeat does not start its clock again); nothing may resume it.
[[ " $got " == *" ~P1 "* ]] && [[ " ${got##*~P1} " != *" ~P0 "* ]] && [ "$after" -eq 0 ] &&
  ok "removal: the board got '$got', not resumed after ~P1, no reset in 8 s" ||
  bad "removal: the board got '$got', $after resets"
in_container test -e "$prom" && bad "tovel3.prom stays after the removal"
in_container apt-get purge -y tovel3d >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; exit 1; }
left=$(in_container sh -c 'ls -d /etc/tovel3 /var/lib/tovel3 /var/log/tovel3 /var/lib/prometheus/node-exporter/tovel3.prom 2>/dev/null' || true)
[ -z "$left" ] && ok "purge removed the settings, the state, the journal and the metrics file" || bad "purge left: $left"

echo "whole run $(($(date +%s) - started)) s"
[ ${#failures[@]} -eq 0 ] || { printf 'failed: %s\n' "${failures[@]}"; exit 1; }
