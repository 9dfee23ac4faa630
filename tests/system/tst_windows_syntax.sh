#!/usr/bin/env bash
# Qt for Windows cannot be installed here, so the Windows code is compiled,
# syntax only, with the mingw-w64 cross compiler against the distribution's Qt
# headers: every *_windows.cpp beside its class, the common half of each class
# that has one, and every other file with a Windows branch.
# Any error or warning in our own code fails.
# Skipped where build.sh cross-builds the real Windows program in the same run.
set -euo pipefail
if [ -n "${TOVEL3_WINDOWS_CROSS_BUILD:-}" ]; then
  echo "SKIP: the Windows program is cross-built with its own Qt in this run, warnings as errors"
  exit 77
fi
src=${TOVEL3_SOURCE_DIR:?}
cxx=x86_64-w64-mingw32-g++-posix
fail() { echo "FAIL: $*"; exit 1; }
command -v "$cxx" >/dev/null || fail "$cxx missing (package g++-mingw-w64-x86-64-posix)"

qt=/usr/include/x86_64-linux-gnu/qt5
[ -f "$qt/QtCore/qglobal.h" ] || fail "no Qt headers in $qt"
flags=(-std=c++17 -fsyntax-only -Wall -Wextra -Werror
       # Debian's Qt is built to need position-independent code; UNICODE and
       # WIN32 are what a Qt build for Windows defines for every source.
       -fPIC -DUNICODE -D_UNICODE -DWIN32
       -DQT_DEPRECATED_WARNINGS -DTOVEL3_VERSION='"0"' -DTOVEL3_UPDATE_PUBLIC_KEY='""'
       -isystem "$qt")
for module in QtCore QtGui QtWidgets QtNetwork QtQml QtQuick QtQuickControls2 QtSerialPort \
              QtConcurrent; do
  flags+=(-isystem "$qt/$module")
done
cd "$src"
dirs=(engine engine/*/ desktop/*/ tovel3 tovel3ctl)
dirs=("${dirs[@]%/}")
for d in engine desktop tovel3ctl; do flags+=(-I "$src/$d"); done

files=()
# A system half beside its class: name_windows.cpp, and the class's own .cpp.
for d in "${dirs[@]}"; do
  for f in "$d"/*_windows.cpp; do
    [ -f "$f" ] || continue
    files+=("$f")
    [ -f "${f%_windows.cpp}.cpp" ] && files+=("${f%_windows.cpp}.cpp")
  done
done
while IFS= read -r f; do
  f=${f%.h}
  f=${f%.cpp}.cpp # a header is checked through its class's .cpp
  [ -f "$f" ] || fail "$f missing"
  [[ " ${files[*]} " == *" $f "* ]] || files+=("$f")
done < <(grep -rlE --include='*.cpp' --include='*.h' 'Q_OS_WIN|_WIN32' "${dirs[@]}" | sort)
[ ${#files[@]} -gt 0 ] || fail "nothing to check"

printf 'checking %s\n' "${files[@]}"
# Two compilers, each with every other file: most other tests leave a core idle.
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
compilers=()
for half in 0 1; do
  part=()
  for ((i = half; i < ${#files[@]}; i += 2)); do part+=("${files[i]}"); done
  "$cxx" "${flags[@]}" "${part[@]}" >"$out/$half" 2>&1 &
  compilers+=($!)
done
compiled=true
for c in "${compilers[@]}"; do wait "$c" || compiled=false; done
cat "$out/0" "$out/1"
$compiled || fail "the Windows code does not compile"
echo "ok: ${#files[@]} files"
