#!/usr/bin/env bash
# The launcher's main job, from nothing: a player's whole journey against
# releases published and served on this machine.
#
#   tools/demo.sh [--headless]
#
# Installs what a fresh Debian 12 machine lacks, makes a release key pair of
# its own (build/demo/, never committed, never the test key), builds the
# publisher and two player launchers that trust that key and reach a release
# server on loopback (2.5.1, and 2.5.2 for the self-update), then runs the
# journey (tools/demo/journey.py): release 1.0.0 published and served by
# nginx; the downloaded launcher installs itself, installs the game with
# progress and starts it; 1.1.0 patched from the desktop shortcut; 1.1.1,
# carrying the newer launcher, noticed by the running launcher's probe,
# patched, the launcher replaced and restarted; the game started at 1.1.1.
#
# With DISPLAY set the windows appear there and you click (the script says
# what and waits); without it, or with --headless, everything runs on a
# virtual display, clicks by itself and saves a screenshot of each stage and
# a contact sheet. Prints a table of the stages and exits 0 only when every
# stage happened.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source tools/common.sh

headless=0
[[ ${1:-} == --headless ]] && headless=1
[[ -z ${DISPLAY:-} ]] && headless=1

demo=$root/build/demo
mkdir -p "$demo"
declare -a timings=()
step_start=$SECONDS
step_done() {
  timings+=("$(printf '  %-50s %6d s' "$1" $((SECONDS - step_start)))")
  step_start=$SECONDS
}

tools/install-deps.sh
step_done "install what is missing"

echo "== the publisher (native, optimised: the documented build)"
cmake --preset publisher >/dev/null
cmake --build --preset publisher -j "$(nproc)"
publisher=$root/build/publisher/bin/publisher
step_done "build the publisher"

if [[ ! -f $demo/release-key.pem ]]; then
  "$publisher" keygen --out "$demo/release-key.pem" --public-out "$demo/release-key.pub.hex" >/dev/null
fi
public_key=$(tr -d '[:space:]' <"$demo/release-key.pub.hex")

# The launchers carry the server's address from their build, so the port is
# chosen once and kept; another is taken only when something else holds it.
port=$(cat "$demo/port" 2>/dev/null || true)
if [[ -z $port ]] || port_answers "$port"; then
  while :; do
    port=$((20000 + RANDOM % 30000))
    port_answers "$port" || break
  done
  echo "$port" >"$demo/port"
fi

echo "== two player launchers (MinGW-w64, static): 2.5.2 and 2.5.1, trusting the demo's key"
player=$demo/player
mkdir -p "$demo/launchers"
for version in 2.5.2 2.5.1; do
  # The players' preset in a folder of the demo's own; it builds the
  # launcher alone unless the sample game is named.
  cmake --preset windows-release -B "$player" -DSTONEWAKE_RELEASE_PUBLIC_KEY="$public_key" \
    -DSTONEWAKE_RELEASE_BASE_URL="http://127.0.0.1:$port" -DSTONEWAKE_LAUNCHER_VERSION="$version" >/dev/null
  cmake --build "$player" --target stonewake_launcher sample_game -j "$(nproc)"
  cp "$player/bin/Stonewake Launcher.exe" "$demo/launchers/Stonewake Launcher $version.exe"
done
step_done "build the player launchers and the sample game"

interactive=()
((headless)) || interactive=(--interactive)
set +e
# The player build's settings (test_settings.json) carry the server the
# launchers ask and the window's layout.
PYTHONPATH=$root python3 tools/demo/journey.py --build "$player" \
  --launcher "$demo/launchers/Stonewake Launcher 2.5.1.exe" \
  --launcher-next "$demo/launchers/Stonewake Launcher 2.5.2.exe" \
  --game "$player/bin/Stonewake.exe" \
  --publisher "$publisher" --key "$demo/release-key.pem" \
  --work "$demo/journey" --shots "$demo/screenshots" "${interactive[@]}"
status=$?
set -e
step_done "the player's journey (stages above)"

echo "demo: times on this machine"
printf '%s\n' "${timings[@]}"
if ((status == 0)); then
  echo "demo: every stage happened"
else
  echo "demo: a stage failed (see the table above)"
fi
exit "$status"
