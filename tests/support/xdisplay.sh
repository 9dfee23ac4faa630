# shellcheck shell=bash
# Sourced by shell tests: a virtual X display with a tray host on it.
#
#   xdisplay_start WORK EDGE   starts Xvfb and trayer (panel on EDGE: top or
#                              bottom), logs in WORK; exports DISPLAY, adds
#                              the processes to the array `pids`; needs the
#                              caller's fail. WORK/display holds the display's
#                              number: a test may start several displays, each
#                              with a WORK of its own
#   wait_for TRIES COMMAND...  runs COMMAND every 0.2 s until it succeeds, at
#                              most TRIES times
wait_for() {
  local tries=$1 i
  shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

xdisplay_start() {
  local work=$1 edge=$2 tray_pid panel_up=""
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  wait_for 50 test -s "$work/display" || fail "Xvfb did not start"
  DISPLAY=":$(head -n1 "$work/display")"
  export DISPLAY
  # The display may take connections a little after it named itself, and a
  # tray host that could not connect is gone: wait for the display, and
  # start the host again if it died.
  wait_for 50 sh -c 'xwininfo -root >/dev/null 2>&1' || fail "Xvfb takes no connections"
  for _ in 1 2 3; do
    trayer --edge "$edge" --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    pids+=("$tray_pid")
    if wait_for 50 sh -c 'xwininfo -root -tree | grep -q "\"panel\""'; then
      panel_up=yes
      break
    fi
    kill "$tray_pid" 2>/dev/null || true
  done
  [ -n "$panel_up" ] || { cat "$work/trayer.log"; fail "no tray panel"; }
}
