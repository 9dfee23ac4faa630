#!/usr/bin/env bash
# Builds the Windows program from Linux with Debian's mingw-w64 and ends with
# its installer: BUILD/tovel3-<version>-win64.exe. With "test", then runs the
# Windows tests (under Wine) of that build.
#
#   cross-build.sh BUILD QT [HOST_BUILD] [test]
#
# QT is a Qt 5.15 built for x86_64-w64-mingw32: its directory, or an archive
# of it, unpacked once into BUILD/qt. HOST_BUILD is the Linux build whose
# board simulator the tests drive. The packages come from build.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$1
qt=$(realpath "$2")
host_build=${3:-build}
mode=${4:-}
mkdir -p "$build"
build=$(realpath "$build")

if [ -f "$qt" ]; then
  # Unpacked again only when the archive changes.
  stamp="$(stat -c '%n %s %Y' "$qt")"
  if [ "$(cat "$build/qt/.archive" 2>/dev/null)" != "$stamp" ]; then
    echo "Unpacking $qt into $build/qt"
    rm -rf "$build/qt"
    mkdir -p "$build/qt"
    tar -C "$build/qt" --strip-components=1 -xf "$qt"
    echo "$stamp" >"$build/qt/.archive"
  fi
  qt=$build/qt
fi
[ -f "$qt/lib/cmake/Qt5/Qt5Config.cmake" ] || { echo "No Qt for mingw-w64 in $qt" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DTOVEL3_QT_MINGW="$qt" \
  -DTOVEL3_HOST_BUILD_DIR="$(realpath -m "$host_build")" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack)
ls -l "$build"/tovel3-*-win64.exe

if [ "$mode" = test ]; then
  cd "$build"
  ctest --output-on-failure -j2
fi
