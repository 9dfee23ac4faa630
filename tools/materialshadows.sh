#!/usr/bin/env bash
# Draws the shadow images that qml/materialfixes/ElevationEffect.qml stretches
# under elevated controls: for each elevation, the Material key, penumbra and
# ambient shadows (offset, blur, spread, opacity) of a 32 px rounded square
# (radius 2) and of a 32 px circle, blurred, on a margin of `pad` pixels.
# Needs ImageMagick and bc; the images are kept in the sources, run again only to
# change them:   tools/materialshadows.sh qml/materialfixes
set -euo pipefail
out=${1:?output directory}
core=32
for e in 1 2 3 4 6 8 12 16 24; do
  pad=$(((5 * e + 1) / 2 + e + 2))
  size=$((core + 2 * pad))
  for shape in rect round; do
    layers=()
    # offset, blur, spread, opacity
    for s in "$(echo "$e / 2" | bc -l) $(echo "0.6 * $e + 2" | bc -l) $(echo "-$e / 4" | bc -l) 0.2" \
      "$e $(echo "1.5 * $e" | bc -l) $(echo "$e / 8" | bc -l) 0.14" \
      "$(echo "$e / 3" | bc -l) $(echo "2 * $e" | bc -l) $(echo "$e / 3" | bc -l) 0.12"; do
      read -r dy blur spread opacity <<<"$s"
      x0=$(echo "$pad - $spread" | bc -l)
      y0=$(echo "$pad - $spread + $dy" | bc -l)
      x1=$(echo "$pad + $core + $spread - 1" | bc -l)
      y1=$(echo "$pad + $core + $spread - 1 + $dy" | bc -l)
      if [ "$shape" = rect ]; then
        r=$(echo "r = 2 + $spread; if (r < 0) r = 0; r" | bc -l)
      else
        r=$(echo "($core / 2) + $spread" | bc -l)
      fi
      layer=$(mktemp --suffix=.png)
      convert -size "${size}x${size}" xc:none -fill "rgba(0,0,0,$opacity)" \
        -draw "roundrectangle $x0,$y0 $x1,$y1 $r,$r" -blur "0x$(echo "$blur / 2" | bc -l)" "$layer"
      layers+=("$layer")
    done
    convert "${layers[0]}" "${layers[1]}" -compose over -composite "${layers[2]}" -compose over \
      -composite -strip "PNG32:$out/shadow-$shape-$e.png"
    rm -f "${layers[@]}"
  done
  echo "elevation $e: pad $pad"
done
