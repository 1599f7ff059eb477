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
serve=$source_dir/tools/nginx/serve.sh
key=$source_dir/test_support/keys/test-only-release-key.pem

if [[ ! -x $publisher ]]; then
  echo "nginx_apply_test: building the host publisher"
  (cd "$source_dir" && cmake --preset host >/dev/null && cmake --build --preset host --target publisher >/dev/null)
fi

work=$(mktemp -d)
cleanup() {
  "$serve" stop "$work/nginx" || true
  rm -rf "$work"
}
trap cleanup EXIT

src=$work/src
mkdir -p "$src/r1/game/data/maps" "$src/r1/game/My Saves"
{ printf 'MZ'; head -c 70000 /dev/urandom; } >"$src/r1/game/Stonewake.exe"
head -c 1500000 /dev/urandom >"$src/r1/game/data/base.pak"
head -c 20000 /dev/urandom >"$src/r1/game/data/maps/north.map"
head -c 300000 /dev/urandom >"$src/r1/game/data/sounds.pak"
printf 'hello' >"$src/r1/game/My Saves/read me.txt"
: >"$src/r1/game/empty.dat"
cp "$launcher" "$src/r1/launcher.exe"

cp -r "$src/r1" "$src/r2"
# Bytes after the end of the image leave the program as it was.
head -c 1000 /dev/urandom >>"$src/r2/launcher.exe"

cp -r "$src/r2" "$src/r3"
head -c 400000 /dev/urandom >"$src/r3/game/data/base.pak"
head -c 25000 /dev/urandom >"$src/r3/game/data/maps/north.map"

version=0
for release in r1 r2 r3; do
  "$publisher" release --game "$src/$release/game" --launcher "$src/$release/launcher.exe" \
    --version "1.$version" --key "$key" --out "$work/root/$release" 2>/dev/null
  version=$((version + 1))
done

base=$("$serve" start "$work/root" "$work/nginx")
echo "nginx_apply_test: serving three releases at $base"
STONEWAKE_NGINX_BASE=$base STONEWAKE_RELEASE_SOURCES="Z:${src//\//\\}" timeout 600 "$wine_run" "$test_exe"
