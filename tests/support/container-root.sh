#!/usr/bin/env bash
# The ctest fixture "container-root": the Debian 12 root that tst_container
# boots, made (once) while the packages are being made. Where no container
# can be booted there is nothing to make: the test itself says why.
set -euo pipefail
source "${TOVEL3_SOURCE_DIR:?}/tests/support/container.sh"
[ -z "$(container_skip_reason)" ] || exit 0
store=${TOVEL3_BUILD_DIR:?}/container
mkdir -p "$store"
exec 9>"$store/lock"
flock 9
container_base "$store"
echo "root ready in $SECONDS s"
