#!/usr/bin/env bash
# Start-up to the first drawn frame under Wine (a measurement, not a test):
# the installed tovel3.exe beside bench_startup's bare Qt Quick Controls 2
# window, built with the same toolchain and Qt and run from the program's
# folder, so both load the same DLLs, plug-ins and QML modules. Under Xvfb,
# OpenGL through Mesa, one Wine prefix with a warm server; the kinds take
# turns, one warm-up round each is not counted, the figures are medians.
#
#   bench/wine-startup.sh [BUILD_WINDOWS] [ROUNDS]
#
# BUILD_WINDOWS (default build-windows) holds the installer and the Wine
# template of the Windows tests. A program of the Windows subsystem under
# Wine gives Qt's frame log to no one, so the first frame is seen from the X
# side: from just before the start until a point of the window's page (the
# page's background in both) is no longer black, polled about every 50 ms.
# That includes Wine's start of the program in both figures.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-windows}")
rounds=${2:-7}
installer=$(ls "$build"/tovel3-*-win64.exe)
export TOVEL3_TASKLIST=$build/tests/windows/tovel3-tasklist.exe
[ -f "$TOVEL3_TASKLIST" ] || { echo "no Windows build in $build" >&2; exit 1; }

cmake -S bench/wine -B "$build/bench-wine" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DTOVEL3_QT_MINGW="$build/qt" >/dev/null
cmake --build "$build/bench-wine" >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  wine_stop
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# shellcheck source=../tests/windows/wine.sh
source tests/windows/wine.sh
sed -n '/const char barePage\[\] = R"(/,/^)";/p' bench/bench_startup.cpp | sed '1s/.*R"(//; $d' \
  >"$work/bare.qml"
xdisplay_start "$work" top
wine_prefix "$work" "$build/tests/windows/wine-template"
wine_server
wine_run install "$installer" /S || fail "the installer exited with $?"
dir=$(unix_path 'C:\Program Files\Tovel3')
cp "$build/bench-wine/barewindow.exe" "$work/bare.qml" "$dir/"

python3 - "$rounds" <<'PY'
import os, statistics, subprocess, sys, time

rounds = int(sys.argv[1])
programs = {
    "bare window": (["wine", r"C:\Program Files\Tovel3\barewindow.exe",
                     r"C:\Program Files\Tovel3\bare.qml"], "bare", "barewindow.exe"),
    "tovel3.exe": (["wine", r"C:\Program Files\Tovel3\tovel3.exe"], "USB Tovel v3.3.4",
                   "tovel3.exe"),
}

def window(title):
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    for line in tree.splitlines():
        if f'"{title}"' in line:
            return line.split()[0]
    return None

def drawn(wid):
    # A point of the page, below the tab bar, in both windows (580 x 540).
    out = subprocess.run(["import", "-window", wid, "-crop", "1x1+290+150", "-depth", "8",
                          "txt:-"], capture_output=True, text=True).stdout
    return "#000000" not in out and "#" in out

def first_frame(name):
    command, title, image = programs[name]
    start = time.monotonic()
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    seen = None
    while seen is None and time.monotonic() < start + 60:
        wid = window(title)
        if wid and drawn(wid):
            seen = (time.monotonic() - start) * 1000
        else:
            time.sleep(0.02)
    subprocess.run(["wine", "taskkill", "/F", "/IM", image], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    proc.wait()
    time.sleep(1)
    if seen is None:
        sys.exit(f"{name}: no window drawn within 60 s")
    return seen

times = {name: [] for name in programs}
for round in range(rounds + 1):
    for name in programs:
        t = first_frame(name)
        if round > 0:
            times[name].append(t)
bare = statistics.median(times["bare window"])
real = statistics.median(times["tovel3.exe"])
for name, ts in times.items():
    print(f"{name}: first drawn frame {statistics.median(ts):.0f} ms median of {rounds} "
          f"(all: {', '.join(f'{t:.0f}' for t in ts)})")
print(f"start-up to the first drawn frame under Wine, tovel3.exe beside the bare window: "
      f"{real:.0f} ms / {bare:.0f} ms = {real / bare:.2f}x (goal: at most 1.3x): "
      f"{'met' if real <= 1.3 * bare else 'not met'}")
PY
