#!/usr/bin/env bash
# Regenerates every picture resource: background.jpg, molten_strip.png,
# wisp.png and stonewake.ico.
# Usage: resources/generate/pictures.sh [OUTPUT_DIR]   (default: resources/)
#
# Debian's own Python on purpose: its Pillow and numpy are the versions the
# committed pictures were made with, and another Python's may encode
# differently.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/..}"
mkdir -p "$out"
for script in background.py effect_sprites.py icon.py; do
  /usr/bin/python3 -B "$here/$script" "$out"
done
