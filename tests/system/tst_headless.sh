#!/usr/bin/env bash
# Runs the installed program the way its systemd user unit does: from a login
# session's environment (with a display that is not reachable from a service)
# the unit's own UnsetEnvironment= and ExecStart= lines decide what runs.
# Without a display the program must keep a simulated board fed through the
# loopback ping and the process check, journal its start, the board and its
# end, and leave with code 0 on SIGTERM. The cycle runs every half second
# (the TOVEL3_CYCLE_MS test hook): its period, the handshake and the service
# as such are tst_service's and tst_smoke's.
set -euo pipefail
build=${TOVEL3_BUILD_DIR:?}
source "${TOVEL3_SOURCE_DIR:?}/tests/support/prelude.sh"
chmod 700 "$work"
logs=(board.log app.err)
log_lines=40

# --- the unit, as a staging install writes it
DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >/dev/null
unit="$work/stage/usr/lib/systemd/user/tovel3.service"
[ -f "$unit" ] || fail "no user unit in the staging install"
unset_names=()
for line in $(sed -n 's/^UnsetEnvironment=//p' "$unit"); do unset_names+=("$line"); done
exec_line=$(sed -n 's/^ExecStart=[-@:+!]*//p' "$unit")
[ -n "$exec_line" ] || fail "unit has no ExecStart"
read -r -a exec_argv <<<"$exec_line"
[ "${exec_argv[0]}" = /usr/bin/tovel3 ] || fail "ExecStart names ${exec_argv[0]}"
exec_argv[0]="$work/stage${exec_argv[0]}"
[ -x "${exec_argv[0]}" ] || fail "ExecStart program not installed"
for name in DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; do
  [[ " ${unset_names[*]} " == *" $name "* ]] || fail "unit keeps $name"
done
echo "ok: unit unsets ${unset_names[*]} and runs ${exec_line}"

# --- a private home, as the service's user would have it
home="$work/home"
mkdir -p "$home/.config/Brennic" "$work/runtime" "$work/tmp"
chmod 700 "$work/runtime"
cat >"$home/.config/Brennic/Tovel3.conf" <<'EOF'
[General]
monitor=tovel3-boardsim
monitoron=true

[logging]
enable=true
network=true
process=true

[ping]
on=true
url=127.0.0.1
EOF
log="$home/.local/share/Brennic/Tovel3/tovel3.log"
logs+=("$log")

# A display number with no server behind it, as a session would export one.
dnum=77
while [ -e "/tmp/.X11-unix/X$dnum" ] || [ -e "/tmp/.X$dnum-lock" ]; do dnum=$((dnum + 1)); done
session_env=(env -i "PATH=$PATH" "HOME=$home" "USER=${USER:-tovel}" "LANG=C.UTF-8"
  "XDG_RUNTIME_DIR=$work/runtime" "TMPDIR=$work/tmp" "TOVEL3_EXTRA_PORTS=$work/board"
  "TOVEL3_CYCLE_MS=500"
  "DISPLAY=:$dnum" "WAYLAND_DISPLAY=wayland-$dnum" "QT_QPA_PLATFORM=xcb")
unit_env=()
for word in "${session_env[@]}"; do
  [[ " ${unset_names[*]} " == *" ${word%%=*} "* ]] || unit_env+=("$word")
done

# The session's variables alone cannot start the program: it is the unit's
# lines that make the service work.
set +e
(cd / && timeout 20 "${session_env[@]}" "${exec_argv[@]}" </dev/null >/dev/null 2>"$work/control.err")
control=$?
set -e
[ "$control" -ne 0 ] || fail "started with an unreachable display; this run proves nothing"
[ ! -e "$log" ] || fail "the failed start wrote a journal"
echo "ok: with the session's display variables the program cannot start (code $control)"

# --- the board
start_sim board

# --- the service
started=$(date +%s)
(cd / && exec "${unit_env[@]}" "${exec_argv[@]}" </dev/null >"$work/app.out" 2>"$work/app.err") &
app=$!
pids+=("$app")

# Fed: heartbeats, each acknowledged, and the board identified and journaled.
acks() { grep -c ' >> ~A\\n' "$work/board.log" || true; }
fed() {
  kill -0 "$app" 2>/dev/null || fail "the program ended by itself"
  [ "$(beats board)" -ge 3 ] && [ "$(acks)" -ge 3 ] && tr -d '\r' <"$log" 2>/dev/null | grep -q ' connected$'
}
wait_for 30 fed || fail "only $(beats board) heartbeats, $(acks) acknowledged, within 30 s"
echo "ok: $(beats board) heartbeats reached the board, $(acks) acknowledged"

sigterm "$app" "the service"
echo "ok: SIGTERM ends the service with code 0"

# The journal, in order, and nothing else from a healthy run.
[ -f "$log" ] || fail "no journal at $log"
expected=("application started" "Ostrel X2 v3.1U connected"
  "application is about to be closed" "application closed")
mapfile -t messages < <(sed -E 's/^[A-Z][a-z]{2} [A-Z][a-z]{2} +[0-9]{1,2} [0-9:]{8} [A-Z+0-9-]+ [0-9]{4} //' "$log" | tr -d '\r')
[ "${#messages[@]}" -eq "${#expected[@]}" ] || fail "journal has ${#messages[@]} lines"
for i in "${!expected[@]}"; do
  [ "${messages[$i]}" = "${expected[$i]}" ] || fail "journal line $((i + 1)) is '${messages[$i]}'"
done
echo "ok: journal: ${messages[*]}"
grep -qiE 'segmentation|abort|qrc:/.*(error|is not a type)' "$work/app.err" &&
  fail "errors on standard error"
echo "ok: headless service run took $(($(date +%s) - started)) s"
