#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine with apt-get, and
# runs the installed program: once for its version, once under Xvfb to see
# that it loads its window without a QML error. Needs root (or sudo).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/tovel3_3.3.4_*.deb)
cp "$deb" "$work/"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$work/$(basename "$deb")" >/dev/null
echo "installed $(basename "$deb")"

version=$(/usr/bin/tovel3 --version)
[ "$version" = "Tovel3 3.3.4" ] || { echo "FAIL: installed tovel3 --version says '$version'"; exit 1; }
echo "ok: installed tovel3 --version: $version"

home="$work/home"
mkdir -p "$home" "$work/run"
chmod 700 "$work/run"
log="$work/run.log"
set +e
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$work/run" \
  xvfb-run -a -s "-screen 0 1024x768x24" timeout -s TERM 8 /usr/bin/tovel3 >"$log" 2>&1
rc=$?
set -e
if grep -E 'qrc:/.*(Error|error|is not a type|not installed|failed)|QQmlApplicationEngine failed' "$log"; then
  echo "FAIL: the installed program reported QML errors"
  exit 1
fi
# timeout's SIGTERM ends the program cleanly; 124 is timeout's own code for that.
if [ "$rc" -ne 0 ] && [ "$rc" -ne 124 ]; then
  cat "$log"
  echo "FAIL: the installed program exited with $rc"
  exit 1
fi
echo "ok: installed program ran under Xvfb without QML errors"
