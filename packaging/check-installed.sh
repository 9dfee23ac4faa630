#!/usr/bin/env bash
# Builds the Debian packages, installs both on this machine with apt-get, and
# runs the installed program: once for its version, once under Xvfb to see
# that it loads its window without a QML error. Needs root (or sudo).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
debs=()
for deb in "$work"/pkg/tovel3_3.3.4_*.deb "$work"/pkg/tovel3d_3.3.4_*.deb; do
  cp "$deb" "$work/"
  debs+=("$work/$(basename "$deb")")
done
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${debs[@]}" >/dev/null
echo "installed ${debs[*]##*/}"

version=$(env -i PATH=/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$work" /usr/bin/tovel3 --version)
[ "$version" = "Tovel3 3.3.4" ] || { echo "FAIL: installed tovel3 --version says '$version'"; exit 1; }
echo "ok: installed tovel3 --version: $version"

home="$work/home"
mkdir -p "$home" "$work/run"
chmod 700 "$work/run"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
log="$work/run.log"
display=":$(head -n1 "$work/display")"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$work/run" DISPLAY="$display" \
  /usr/bin/tovel3 >"$log" 2>&1 &
app=$!
shown=""
for _ in $(seq 100); do
  if DISPLAY="$display" xwininfo -root -tree 2>/dev/null | grep -q '"USB Tovel v3.3.4"'; then
    shown=yes
    break
  fi
  sleep 0.1
done
kill -TERM $app
set +e
wait $app
rc=$?
set -e
if grep -E 'qrc:/.*(Error|error|is not a type|not installed|failed)|QQmlApplicationEngine failed' "$log"; then
  echo "FAIL: the installed program reported QML errors"
  exit 1
fi
[ -n "$shown" ] || { cat "$log"; echo "FAIL: the installed program showed no window"; exit 1; }
[ "$rc" -eq 0 ] || { cat "$log"; echo "FAIL: the installed program exited with $rc on SIGTERM"; exit 1; }
echo "ok: installed program showed its window under Xvfb without QML errors and ended cleanly"

# The service and the control command, installed and linked without Qt Quick.
for tool in tovel3d tovel3ctl; do
  out=$(env -i PATH=/usr/bin:/bin HOME="$work" /usr/bin/$tool --version 2>&1) ||
    { echo "FAIL: installed $tool --version: $out"; exit 1; }
  echo "ok: installed $tool --version: $out"
done
if ldd /usr/bin/tovel3d | grep -E 'libQt5(Quick|Qml|Gui|Widgets)'; then
  echo "FAIL: the installed tovel3d links Qt Quick, QML, Gui or Widgets"
  exit 1
fi
systemd-analyze verify /usr/lib/systemd/system/tovel3d.service ||
  { echo "FAIL: the installed system unit does not verify"; exit 1; }
echo "ok: installed tovel3d and tovel3ctl answer, tovel3d links no Gui, the unit verifies"
