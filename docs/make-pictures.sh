#!/usr/bin/env bash
# Regenerates the window pictures of the README from the launcher's own
# preview mode: paints the previews under Wine with "--no-windows-fonts" (so
# the text is the Gelasio the launcher carries, whatever fonts the machine
# has), copies the ready and patching screens here and makes the contact
# sheet of all seven screens.
#
#   docs/make-pictures.sh
#
# The launcher comes from build/windows (configured and built when needed),
# or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

build=${STONEWAKE_WINDOWS_BUILD:-build/windows}
build=$(cd "$build" 2>/dev/null && pwd || echo "$source_dir/$build")
if [[ ! -f $build/build.ninja ]]; then
  cmake --preset windows -B "$build" >/dev/null
fi
cmake --build "$build" --target stonewake_launcher >/dev/null

out=$(mktemp -d "$build/previews.XXXXXX")
trap 'rm -rf "$out"' EXIT
# Wine shows the Linux root as drive Z:; the folder may hold no space.
"$build/wine-run" "$build/bin/Stonewake Launcher.exe" --no-windows-fonts "--paint-to=Z:${out//\//\\}"

cp "$out/ready.png" docs/window-ready.png
cp "$out/patching.png" docs/window-patching.png
docs/contact-sheet.sh "$out" docs/screens.jpg
echo "wrote docs/window-ready.png, docs/window-patching.png"
