#!/bin/sh
# A stand-in `ping`: copied as `ping` into a directory put first on PATH (by
# PingStandIn in pingstandin.h, or by a shell test). Files beside it steer it:
#   slow  seconds to sleep first (sending nothing meanwhile);
#   down  fail at once with exit code 1, sending nothing;
#   code  answer without the real tool: print out (to standard output) and err
#         (to standard error), each a printf format, and exit with this code.
# Otherwise a loopback target runs the real tool and any other fails at once.
# Every run leaves its arguments (one a line) in args and its process id in
# pid, and adds a line to runs as it starts. Nothing but the real tool, the
# sleep and the files' contents starts another process: a loaded machine
# slows it no more than the real tool.
case $0 in
  */*) d=${0%/*} ;;
  *) d=. ;;
esac
printf '%s\n' "$@" >"$d/args"
echo $$ >"$d/pid"
echo >>"$d/runs"
[ -e "$d/slow" ] && sleep "$(cat "$d/slow")" </dev/null >/dev/null 2>&1
for last; do :; done
[ -e "$d/down" ] && exit 1
if [ -e "$d/code" ]; then
  [ -e "$d/out" ] && printf "$(cat "$d/out")"
  [ -e "$d/err" ] && printf "$(cat "$d/err")" >&2
  exit "$(cat "$d/code")"
fi
case "$last" in
  127.0.0.1 | localhost) exec /usr/bin/ping "$@" >/dev/null 2>&1 ;;
esac
exit 1
