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
source tools/common.sh
windows_build stonewake_launcher

out=$(mktemp -d "$build/previews.XXXXXX")
trap 'rm -rf "$out"' EXIT
# The folder may hold no space: the launcher takes "--paint-to=" up to the
# next space of its command line.
"$wine_run" "$build/bin/Stonewake Launcher.exe" --no-windows-fonts "--paint-to=$(windows "$out")"

cp "$out/ready.png" docs/window-ready.png
cp "$out/patching.png" docs/window-patching.png
docs/contact-sheet.sh "$out" docs/screens.jpg
echo "wrote docs/window-ready.png, docs/window-patching.png"
