#!/bin/sh
# A stand-in `ping`: copied as `ping` into a directory put first on PATH (by
# PingStandIn in pingstandin.h, or by a shell test). Files beside it steer it:
#   slow  seconds to sleep first (sending nothing meanwhile);
#   down  fail at once with exit code 1, sending nothing;
#   code  answer without the real tool: print out (to standard output) and err
#         (to standard error), each a printf format, and exit with this code.
# Otherwise a loopback target runs the real tool and any other fails at once.
# Every run leaves its arguments (one a line) in args and its process id in
# pid, and adds "<ms since the epoch> <exit code>" to runs.
d=$(dirname "$0")
printf '%s\n' "$@" >"$d/args"
echo $$ >"$d/pid"
[ -e "$d/slow" ] && sleep "$(cat "$d/slow")" </dev/null >/dev/null 2>&1
for last; do :; done
rc=1
if [ -e "$d/down" ]; then
  :
elif [ -e "$d/code" ]; then
  [ -e "$d/out" ] && printf "$(cat "$d/out")"
  [ -e "$d/err" ] && printf "$(cat "$d/err")" >&2
  rc=$(cat "$d/code")
else
  case "$last" in
    127.0.0.1 | localhost)
      /usr/bin/ping "$@" >/dev/null 2>&1
      rc=$?
      ;;
  esac
fi
echo "$(date +%s%3N) $rc" >>"$d/runs"
exit "$rc"
