#!/usr/bin/env bash
# Publishes three releases with the publisher, serves them with nginx
# (tools/nginx/serve.sh) and runs the patch tests against them under Wine.
#
#   nginx_apply_test.sh SOURCE_DIR WINE_RUN NGINX_APPLY_TEST_EXE NEW_LAUNCHER_EXE PUBLISHER
#
# r1: a game with nested folders, names with spaces, an empty file, and a
#     launcher (a program that records how it was started);
# r2: r1 with only the launcher changed;
# r3: r2 with two game files changed.
set -euo pipefail
source_dir=$1
wine_run=$2
test_exe=$3
launcher=$4
publisher=$5
source "$source_dir/tools/common.sh"
key=$source_dir/test_support/keys/test-only-release-key.pem

scratch

src=$work/src
random_files "$src/r1/game" <<'FILES'
1500000 data/base.pak
20000 data/maps/north.map
300000 data/sounds.pak
FILES
{ printf 'MZ'; head -c 70000 /dev/urandom; } >"$src/r1/game/Stonewake.exe"
mkdir -p "$src/r1/game/My Saves"
printf 'hello' >"$src/r1/game/My Saves/read me.txt"
: >"$src/r1/game/empty.dat"
cp "$launcher" "$src/r1/launcher.exe"

cp -r "$src/r1" "$src/r2"
# Bytes after the end of the image leave the program as it was.
head -c 1000 /dev/urandom >>"$src/r2/launcher.exe"

cp -r "$src/r2" "$src/r3"
random_files "$src/r3/game" <<'FILES'
400000 data/base.pak
25000 data/maps/north.map
FILES

version=0
for release in r1 r2 r3; do
  "$publisher" release --game "$src/$release/game" --launcher "$src/$release/launcher.exe" \
    --version "1.$version" --key "$key" --out "$work/root/$release" 2>/dev/null
  version=$((version + 1))
done

base=$(serve "$work/root" "$work/nginx")
echo "nginx_apply_test: serving three releases at $base"
STONEWAKE_NGINX_BASE=$base STONEWAKE_RELEASE_SOURCES="$(windows "$src")" timeout 600 "$wine_run" "$test_exe"
