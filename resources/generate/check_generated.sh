#!/usr/bin/env bash
# Regenerates the resources twice into temporary folders and checks that both
# runs give the same bytes, and the same bytes as the committed files. A
# generator that drifts (a timestamp, an unseeded random number, a library
# that encodes differently) fails here instead of silently changing the
# pictures on the next regeneration.
#
# The fonts come from the npm registry; without it they are skipped with a
# message, the pictures are always checked.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
resources="$(cd "$here/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

pictures=(background.jpg molten_strip.png wisp.png stonewake.ico)
fonts=(fonts/Gelasio-Regular.ttf fonts/Gelasio-Bold.ttf fonts/OFL.txt)
failed=0

compare() {  # compare LABEL FILE_A FILE_B
  if ! cmp -s "$2" "$3"; then
    echo "DIFFERS ($1): $2 vs $3"
    failed=1
  fi
}

for run in a b; do
  "$here/pictures.sh" "$work/$run"
done
for f in "${pictures[@]}"; do
  compare "two runs" "$work/a/$f" "$work/b/$f"
  compare "committed" "$work/a/$f" "$resources/$f"
done
echo "pictures checked: ${pictures[*]}"

if timeout 60 npm view @fontsource/gelasio@5.3.0 version >/dev/null 2>&1; then
  for run in a b; do
    /usr/bin/python3 -B "$here/fonts.py" "$work/$run/fonts"
  done
  for f in "${fonts[@]}"; do
    compare "two runs" "$work/a/$f" "$work/b/$f"
    compare "committed" "$work/a/$f" "$resources/$f"
  done
  echo "fonts checked: ${fonts[*]}"
else
  echo "SKIPPED fonts: the npm registry is not reachable, so Gelasio cannot be fetched"
fi

if ((failed)); then
  echo "generated resources differ; see above"
  exit 1
fi
echo "generated resources are reproducible"
