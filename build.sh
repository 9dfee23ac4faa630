#!/usr/bin/env bash
# Set-up on a fresh Debian 12: installs what is missing, builds, then either
# runs the application ("run") or builds and passes every test ("test"), or
# cross-builds the Windows program and its installer ("windows").
set -euo pipefail
cd "$(dirname "$0")"

mode=${1:-run}
build_dir=${TOVEL3_BUILD_DIR:-build}
windows_build_dir=${TOVEL3_WINDOWS_BUILD_DIR:-build-windows}

# The Qt for mingw-w64 the Windows program is built with: TOVEL3_QT_MINGW (a
# directory or an archive), else the archive beside the project.
windows_qt=${TOVEL3_QT_MINGW:-../shared/toolchains/qt5.15.8-mingw64.tar.xz}
windows_skip=""
[ -e "$windows_qt" ] || windows_skip="no Qt for mingw-w64 at $windows_qt (set TOVEL3_QT_MINGW)"
if [ "$mode" = windows ] && [ -n "$windows_skip" ]; then
  echo "$0 windows: $windows_skip; README.md (Windows) tells how to make one" >&2
  exit 1
fi

packages=(
  cmake g++ make pkg-config qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools qtquickcontrols2-5-dev
  libqt5serialport5-dev qttools5-dev qttools5-dev-tools libssl-dev libsystemd-dev
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2
  qml-module-qtquick-templates2 qml-module-qtquick-layouts qml-module-qtquick-extras
  qml-module-qtquick-controls qml-module-qt-labs-platform qml-module-qttest
  xdg-utils
  qttranslations5-l10n
)
if [ "$mode" = test ]; then
  packages+=(xvfb xauth x11-utils xdotool trayer imagemagick socat iputils-ping procps
             desktop-file-utils appstream openssl python3 dpkg-dev
             prometheus prometheus-node-exporter curl g++-mingw-w64-x86-64-posix
             iproute2 systemd man-db groff-base python3-seccomp mmdebstrap systemd-container)
fi
if [ "$mode" = windows ] || { [ "$mode" = test ] && [ -z "$windows_skip" ]; }; then
  packages+=(g++-mingw-w64-x86-64-posix nsis)
  [ "$mode" = test ] && packages+=(wine wine64 fonts-wine fonts-liberation)
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  mymachines=no
  installed libnss-mymachines && mymachines=yes
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  # systemd-container recommends libnss-mymachines, which edits this
  # machine's /etc/nsswitch.conf; the container test needs none of it.
  if [ $mymachines = no ] && installed libnss-mymachines; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y libnss-mymachines
  fi
fi

if [ "$mode" = windows ]; then
  exec packaging/windows/cross-build.sh "$windows_build_dir" "$windows_qt"
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
cmake --build "$build_dir" -j"$(nproc)"

case "$mode" in
  run)
    exec "$build_dir/tovel3/tovel3" "${@:2}"
    ;;
  test)
    # In CI the package is also built, installed and started first.
    if [ -n "${CI:-}" ] || [ -n "${TOVEL3_PACKAGE_CHECK:-}" ]; then
      packaging/check-installed.sh "$build_dir"
    fi
    # With Qt for mingw-w64 at hand the Windows program is cross-built below,
    # warnings as errors, so the syntax-only check of its code gives way.
    cross=1
    [ -z "$windows_skip" ] || cross=""
    (cd "$build_dir" && TOVEL3_WINDOWS_CROSS_BUILD=$cross ctest --output-on-failure -j2)
    # The Windows program, built and run under Wine, when its Qt is at hand.
    if [ -n "$windows_skip" ]; then
      echo "Windows part skipped: $windows_skip"
    else
      packaging/windows/cross-build.sh "$windows_build_dir" "$windows_qt" "$build_dir" test
    fi
    ;;
  *)
    echo "usage: $0 [run|test|windows]" >&2
    exit 2
    ;;
esac
