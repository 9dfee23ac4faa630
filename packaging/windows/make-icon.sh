#!/usr/bin/env bash
# Packs the application icon's rendered sizes (../linux/icons, made by
# ../linux/make-icons.sh) into the Windows icon the executables and the
# installer carry. Run after the icon changes; the result is committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sizes=(16 24 32 48 64 128)
files=()
for size in "${sizes[@]}"; do files+=("$here/../linux/icons/$size/tovel3.png"); done
convert "${files[@]}" "$here/tovel3.ico"
