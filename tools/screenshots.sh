#!/usr/bin/env bash
# Regenerates docs/screenshots/{main,settings,application}.png (English) or
# docs/screenshots/ru-{main,settings,application}.png (Russian) from the real
# tovel3 binary: a private X server (Xvfb) with trayer as the tray host, a
# simulated two-channel board on a pseudo-terminal, and a throw-away HOME, so
# nothing of the user's own settings, journal or autostart entry is touched.
#
# Usage: tools/screenshots.sh [build-dir] [en|ru]   (default: build en)
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
lang=${2:-en}
case "$lang" in
  en) prefix="" ;;
  ru) prefix="ru-" ;;
  *) echo "language: en or ru" >&2; exit 2 ;;
esac
build=$(cd "$build" && pwd)
out=$src/docs/screenshots
app=$build/tovel3/tovel3
sim=$build/tools/tovel3-boardsim

if [ -f "$build/CMakeCache.txt" ]; then
  cmake --build "$build" -j2 --target tovel3 tovel3-boardsim >/dev/null
fi
for bin in "$app" "$sim"; do
  [ -x "$bin" ] || { echo "missing $bin: build first (./build.sh test)" >&2; exit 1; }
done

# Tools: X server, tray host, window tools, ImageMagick.
declare -A provider=([Xvfb]=xvfb [trayer]=trayer [xdotool]=xdotool [xwininfo]=x11-utils
                     [import]=imagemagick [convert]=imagemagick)
missing=()
for tool in "${!provider[@]}"; do
  command -v "$tool" >/dev/null || missing+=("${provider[$tool]}")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

work=$(mktemp -d)
pids=()
cleanup() {
  # Newest first: the program ends before its X server and its board go.
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: polls every 0.1 s until COMMAND succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# A user's home with the settings a typical installation ends up with: the
# network check on loopback, the process check on the X server, logging on.
home=$work/home
mkdir -p "$home/.config/Brennic" "$home/.local/share" "$home/.cache" "$work/run"
chmod 700 "$work/run"
cat >"$home/.config/Brennic/Tovel3.conf" <<'EOF'
[General]
manualon=true
monitor=Xvfb
monitoron=true
visible=true

[UI]
Language=@LANG@

[logging]
count=3
enable=true
size=64

[ping]
on=true
timeout=1000
url=127.0.0.1
EOF
sed -i "s/@LANG@/$lang/" "$home/.config/Brennic/Tovel3.conf"

# The X server picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY

# The tray host sits at the bottom edge, clear of the window at the top left.
trayer --edge bottom --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
pids+=($!)
tray_up() { xwininfo -root -tree 2>/dev/null | grep -q '"panel"'; }
wait_for 10 tray_up || { echo "trayer did not show its panel" >&2; exit 1; }

# The port shows in the main page's port box; the simulator's usual path keeps
# the picture the same from run to run and matches the README's example. A
# path that is already there may be someone's running simulator: leave it.
board=/tmp/tovel3-board
if [ -e "$board" ] || [ -L "$board" ]; then
  board=$work/board
  echo "note: /tmp/tovel3-board is in use; the port box shows $board" >&2
fi
"$sim" --model x2 --link "$board" --verbose >"$work/board.log" 2>&1 &
pids+=($!)
wait_for 10 test -L "$board" || { echo "board simulator did not start" >&2; exit 1; }

env -u QT_QPA_PLATFORM -u QT_QUICK_BACKEND -u WAYLAND_DISPLAY \
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work" \
  TOVEL3_EXTRA_PORTS="$board" LC_ALL=C.UTF-8 LANG=C.UTF-8 \
  "$app" >"$work/app.log" 2>&1 &
pids+=($!)
app_pid=$!

find_window() {
  wid=$(xdotool search --onlyvisible --pid "$app_pid" --name '^USB Tovel v' 2>/dev/null | head -n1)
  [ -n "$wid" ]
}
wait_for 20 find_window || { cat "$work/app.log" >&2; echo "no tovel3 window" >&2; exit 1; }

# Identified once the board has answered the handshake's "~I" (the journal
# says so in the interface's language).
connected() { grep -q '>> .*~I[0-9]' "$work/board.log" 2>/dev/null; }
wait_for 30 connected || { cat "$work/app.log" >&2; echo "the board was not identified" >&2; exit 1; }
sleep 1

mkdir -p "$out"
# Tab centres: the tab bar spans the 580-pixel window in three equal buttons.
click_tab() {
  xdotool mousemove --window "$wid" "$1" 24 click 1
  xdotool mousemove 1000 700
}
lamp_lit() { # the lamp's lit green is #2aff00; accept its antialiased shades
  convert "$1" -fuzz 12% -fill white -opaque '#2aff00' -fill black +opaque white \
    -format '%[fx:mean*w*h]' info: | awk '{ exit !($1 > 40) }'
}

# Main page: catch the lamp in the half second it shows the board's answer.
click_tab 97
sleep 1
acks=$(grep -c '>> ~A' "$work/board.log" || true)
for _ in $(seq 1 10); do
  wait_for 5 sh -c "[ \$(grep -c '>> ~A' '$work/board.log') -gt $acks ]" || break
  acks=$(grep -c '>> ~A' "$work/board.log" || true)
  sleep 0.15
  import -window "$wid" "$work/main.png"
  lamp_lit "$work/main.png" && break
done
[ -f "$work/main.png" ] || import -window "$wid" "$work/main.png"
lamp_lit "$work/main.png" || echo "note: the lamp is dark in main.png" >&2

# Settings page: entering it reads the board's parameters.
click_tab 290
sleep 2
import -window "$wid" "$work/settings.png"

# Application page: the update link appears half a second after start.
click_tab 483
sleep 1.5
import -window "$wid" "$work/application.png"

for shot in main settings application; do
  convert "$work/$shot.png" -strip "$out/$prefix$shot.png"
done
if grep -E 'qrc:/.*(Error|error|is not a type|not installed)' "$work/app.log" >&2; then
  echo "the application reported QML errors (above)" >&2
  exit 1
fi
echo "wrote $out/${prefix}main.png $out/${prefix}settings.png $out/${prefix}application.png"
