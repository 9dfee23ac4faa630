# shellcheck shell=bash
# Sourced by the Windows tests: Windows programs under Wine, each test in a
# fresh prefix of its own, copied from a template that the first test of a
# build boots (the template lives in the build directory; its boot is locked,
# so tests running at once share it). Needs the caller's fail and an array
# `pids`; Wine's helper processes keep the first program's output open, so
# every output goes to a file.
#
#   wine_prefix WORK TEMPLATE  copies TEMPLATE (booted if it is not yet) to
#                              WORK/prefix and exports WINEPREFIX and Wine's
#                              settings; the stand-in tasklist (TOVEL3_TASKLIST)
#                              replaces Wine's stub, controlled through
#                              $system32/tasklist.running and .hung. WORK
#                              becomes the current directory, where Windows
#                              looks for programs too
#   wine_server                (re)starts the prefix's server, output in
#                              WORK/wineserver.log
#   wine_port COM DEVICE       declares the serial port COM on DEVICE (a
#                              pseudo-terminal) and restarts the server
#   wine_run NAME PROGRAM...   runs a program to its end; its output in
#                              WORK/NAME.out and WORK/NAME.err; returns its code
#   wine_start NAME PROGRAM... starts one in the background (added to pids)
#   wine_value KEY NAME        prints a registry value's data (empty if none)
#   wine_value_is KEY NAME DATA  whether it is DATA, asked for up to 10 s (a
#                              query can fail while the server is busy)
#   wine_stop                  ends every program of the prefix and its server
#   unix_path WINDOWS-PATH     the Unix path of a path on drive C:
# shellcheck source=../support/xdisplay.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/xdisplay.sh"

wine_work=""
system32=""

wine_boot_template() {
  local template=$1
  (
    flock 9
    [ -f "$template/.booted" ] && exit 0
    rm -rf "$template"
    # No display while booting: a copy's programs take the display of the
    # test that starts them.
    env -u DISPLAY WINEPREFIX="$template" wineboot -i >"$template.log" 2>&1 </dev/null || exit 1
    env -u DISPLAY WINEPREFIX="$template" wine reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /d N /f >>"$template.log" 2>&1 </dev/null || exit 1
    WINEPREFIX="$template" wineserver -w
    touch "$template/.booted"
  ) 9>"$template.lock"
}

wine_prefix() {
  wine_work=$1
  local template=$2
  cd "$wine_work" || fail "no $wine_work"
  export WINEARCH=win64 WINEDEBUG=-all
  # No Mono or Gecko installer; the stand-in tasklist before Wine's own.
  export WINEDLLOVERRIDES="mscoree,mshtml=;tasklist.exe=n"
  wine_boot_template "$template" || { cat "$template.log"; fail "wineboot failed"; }
  cp -a "$template" "$wine_work/prefix"
  export WINEPREFIX="$wine_work/prefix"
  system32="$WINEPREFIX/drive_c/windows/system32"
  cp "${TOVEL3_TASKLIST:?}" "$system32/tasklist.exe"
  : >"$system32/tasklist.running"
  : >"$system32/tasklist.hung"
}

wine_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  # A persistent server: programs start warm, and it keeps the pseudo-terminal
  # of a COM port as its terminal (its complaints go to the log).
  wineserver -p >>"$wine_work/wineserver.log" 2>&1 </dev/null
}

wine_port() {
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$2" /f >/dev/null 2>&1 </dev/null ||
    fail "cannot declare $1"
  wine_server
}

wine_run() {
  local name=$1
  shift
  wine "$@" >"$wine_work/$name.out" 2>"$wine_work/$name.err" </dev/null
}

wine_start() {
  local name=$1
  shift
  wine "$@" >"$wine_work/$name.out" 2>"$wine_work/$name.err" </dev/null &
  pids+=($!)
}

wine_value() {
  wine reg query "$1" /v "$2" >"$wine_work/reg.out" 2>"$wine_work/reg.err" </dev/null || return 0
  # "    NAME    REG_SZ    DATA"
  sed -n "s/^ *$2 \{4\}REG_[A-Z_]* \{4\}//p" "$wine_work/reg.out" | tr -d '\r'
}

wine_value_is() {
  local i
  for ((i = 0; i < 20; i++)); do
    [ "$(wine_value "$1" "$2")" = "$3" ] && return 0
    sleep 0.5
  done
  echo "$1 /v $2: $(cat "$wine_work/reg.out" "$wine_work/reg.err" 2>/dev/null | tr -d '\r')"
  return 1
}

wine_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

unix_path() {
  local path=${1#[Cc]:}
  printf '%s/drive_c%s\n' "$WINEPREFIX" "${path//\\//}"
}
