#!/usr/bin/env bash
# A contact sheet of the window's seven screens from a folder of preview
# pictures ("Stonewake Launcher.exe --paint-to=FOLDER"), labelled, half size,
# in the order the previews are written.
#
#   docs/contact-sheet.sh PREVIEW_FOLDER OUTPUT     e.g. OUTPUT = screens.jpg
set -euo pipefail
if [[ $# -ne 2 ]]; then
  echo "usage: $0 PREVIEW_FOLDER OUTPUT" >&2
  exit 2
fi
folder=$1
output=$2
screens=(ready ready_hover ready_pressed checking patch patching offline)
inputs=()
for screen in "${screens[@]}"; do
  [[ -f $folder/$screen.png ]] || { echo "$0: $folder/$screen.png is missing" >&2; exit 1; }
  inputs+=(-label "$screen" "$folder/$screen.png")
done
montage "${inputs[@]}" -tile 4x -geometry 420x255+6+6 -background '#0e0c0a' -fill '#e2d8c4' \
  -pointsize 14 -quality 90 "$output"
echo "wrote $output"
