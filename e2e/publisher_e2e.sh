#!/usr/bin/env bash
# A release made by the publisher (host build), served by nginx, taken by the
# launcher's own fetch, verification and download code under Wine; then the
# same with the served manifest changed after signing, which must be refused.
#
#   publisher_e2e.sh SOURCE_DIR WINE_RUN FETCH_RELEASE_EXE PUBLISHER
set -euo pipefail
source_dir=$1
wine_run=$2
fetch=$3
publisher=$4
source "$source_dir/tools/common.sh"
keys=$source_dir/test_support/keys

scratch
cd "$work"

random_files game <<'FILES'
300000 data/base.pak
FILES
{ printf 'MZ'; head -c 5000 /dev/urandom; } >game/Stonewake.exe
mkdir -p "game/My Saves"
printf 'hello' >"game/My Saves/read me.txt"
: >game/empty.dat

"$publisher" release --game game --launcher "$fetch" --version 1.4.2 --commit e2e \
  --key "$keys/test-only-release-key.pem" --out tree
"$publisher" verify --tree tree --public-key-file "$keys/test-only-release-key.pub.hex"
base=$(serve tree nginx)
echo "e2e: serving the tree at $base"

# take STATUS_EXPECTED: runs fetch_release against the server into
# install/, output in taken.txt without CRs.
take() {
  local status=0
  timeout 300 "$wine_run" "$fetch" "$base" "$(windows "$work/install")" >taken.raw 2>&1 || status=$?
  tr -d '\r' <taken.raw >taken.txt
  if [[ $status -ne $1 ]]; then
    echo "e2e: fetch_release exited $status, expected $1:"
    cat taken.txt
    exit 1
  fi
}

take 0
# The launcher read back every line the publisher wrote between the header
# and "end", in order.
sed -n '2,/^end$/p' tree/latest/manifest.txt | sed '$d' >expected.txt
echo "downloaded 5 files" >>expected.txt
diff -u expected.txt taken.txt
# ...and every downloaded file is the file that was published.
cmp install/game/data/base.pak.partial game/data/base.pak
cmp "install/game/My Saves/read me.txt.partial" "game/My Saves/read me.txt"
cmp install/game/Stonewake.exe.partial game/Stonewake.exe
cmp install/game/empty.dat.partial game/empty.dat
cmp "install/Stonewake Launcher.exe.partial" "$fetch"

# One byte of the served manifest changed after signing.
sed -i 's/^version 1\.4\.2$/version 1.4.3/' tree/latest/manifest.txt
take 1
grep -qx "error: The release could not be verified." taken.txt || { cat taken.txt; exit 1; }

echo "e2e: publisher, nginx and the launcher's fetch agree"
