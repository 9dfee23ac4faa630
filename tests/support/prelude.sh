# Sourced first by the shell tests that run programs: a work directory, the
# processes to end and what else to undo at exit, and fail(), which says why
# and shows the ends of the test's logs. A test adds to them:
#   pids+=($!)         ended (with $stop_signal, KILL unless set), last
#                      started first, and reaped at exit
#   at_exit+=("cmd")   run at exit after that (evaluated; failures ignored)
#   logs+=("glob")     files (relative to $work, or absolute) fail() shows
#   log_lines=N        how many of their last lines (25)
# TOVEL3_KEEP_WORK=1 keeps the work directory for a look afterwards.
# wait_for comes with it (waitfor.sh), and for tests with the board simulator
# ($TOVEL3_BOARDSIM):
#   start_sim NAME     a model x2 board on the pseudo-terminal $work/NAME, its
#                      traffic with times in $work/NAME.log; waits until it is
#                      up and sets sim_pid
#   beats NAME [FROM]  heartbeats ("~U") the board got after log line FROM
# and for the programs it starts:
#   sigterm PID WHAT   SIGTERM; fails unless WHAT ends with code 0 within 10 s
source "$(dirname "${BASH_SOURCE[0]}")/waitfor.sh"
work=$(mktemp -d)
pids=()
at_exit=()
logs=()
log_lines=25
stop_signal=KILL

prelude_cleanup() {
  local c i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -"$stop_signal" "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  for c in "${at_exit[@]}"; do eval "$c" || true; done
  [ -n "${TOVEL3_KEEP_WORK:-}" ] || rm -rf "$work"
}
trap prelude_cleanup EXIT

fail() {
  local pattern f
  echo "FAIL: $*"
  for pattern in "${logs[@]}"; do
    [[ $pattern == /* ]] || pattern=$work/$pattern
    for f in $pattern; do
      [ -f "$f" ] && { echo "--- $f"; tail -n "$log_lines" "$f"; }
    done
  done
  exit 1
}
ok() { echo "ok: $*"; }

sim_up() { [ "$(head -n 1 "$work/$1.log" 2>/dev/null)" = "$work/$1" ]; }
start_sim() {
  "${TOVEL3_BOARDSIM:?}" --model x2 --link "$work/$1" --verbose >"$work/$1.log" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  wait_for 5 sim_up "$1" || fail "simulator $1 did not report its port"
}
sigterm() {
  local rc=0
  kill -TERM "$1"
  timeout 10 tail -s 0.1 --pid="$1" -f /dev/null || fail "$2 still running 10 s after SIGTERM"
  wait "$1" || rc=$?
  [ "$rc" -eq 0 ] || fail "$2 exited $rc after SIGTERM"
}
beats() { tail -n +$((${2:-0} + 1)) "$work/$1.log" 2>/dev/null | grep -c ' << ~U$' || true; }
