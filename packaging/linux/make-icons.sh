#!/usr/bin/env bash
# Renders the application icon in the hicolor theme sizes from the program's
# own icon. Run after the icon changes; the results are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_icon=${1:-$here/../../qml/images/tovel3.png}
for size in 16 22 24 32 48 64 128; do
  mkdir -p "$here/icons/$size"
  convert -background none "$source_icon" -filter Lanczos -resize "${size}x${size}" \
    -gravity center -extent "${size}x${size}" -strip "$here/icons/$size/tovel3.png"
done
