#!/bin/sh
# Runs the dialog client on a virtual display in a prefix of its own, then turns the screenshots
# it took into PNGs (the test command copies them to docs/).
#
#   error_dialog.sh <wine-run.sh> <error_dialog.exe> <Quenvar.dll as a Wine path> <output folder>
set -u
run=$1 program=$2 dll=$3 out=$4
mkdir -p "$out" && rm -f "$out"/*.bmp "$out"/*.png
xvfb-run -a -s "-screen 0 1024x768x24" "$run" --wait-server "$program" "$dll" "Z:$out" || exit 1
for bmp in "$out"/*.bmp; do
  [ -e "$bmp" ] || { echo "FAILED: no screenshots"; exit 1; }
  /usr/bin/python3 -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2], optimize=True)' \
    "$bmp" "${bmp%.bmp}.png" || { echo "FAILED: converting $bmp"; exit 1; }
done
