#!/bin/bash
# Runs the process list and process check measurements.
#   bench/monitor.sh [BUILD_DIR] [--crowd N] [--runs N]
# BUILD_DIR defaults to $TOVEL3_BUILD_DIR, else the first build directory
# beside this script's folder that holds the program.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${TOVEL3_BUILD_DIR:-}"
if [[ $# -gt 0 && "$1" != --* ]]; then
    build="$1"
    shift
fi
if [[ -z "$build" ]]; then
    for d in "$here"/../build "$here"/../build-*; do
        if [[ -x "$d/bench/bench_monitor" ]]; then
            build="$d"
            break
        fi
    done
fi
prog="${build:-.}/bench/bench_monitor"
if [[ ! -x "$prog" ]]; then
    echo "bench_monitor not built: cmake --build <build dir> --target bench_monitor" >&2
    exit 1
fi
exec "$prog" "$@"
