#!/usr/bin/env bash
# The ctest fixture "packages": the Debian packages of this build, made once
# into TOVEL3_PACKAGES for the tests that inspect or install them.
set -euo pipefail
build=${TOVEL3_BUILD_DIR:?}
dir=${TOVEL3_PACKAGES:?}
rm -rf "$dir"
mkdir -p "$dir"
(cd "$build" && cpack -G DEB -B "$dir" >"$dir/cpack.log" 2>&1) || { cat "$dir/cpack.log"; exit 1; }
ls "$dir"/*.deb
