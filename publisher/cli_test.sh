#!/usr/bin/env bash
# The publisher's command line as a release script uses it: exit codes,
# what goes to standard output, and the files it leaves.
#   cli_test.sh PUBLISHER
set -uo pipefail
publisher=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run EXPECTED_STATUS ARGS...: runs the publisher, keeps its output in
# $work/out and $work/err.
run() {
  local expected=$1; shift
  "$publisher" "$@" >"$work/out" 2>"$work/err"
  local status=$?
  [[ $status -eq $expected ]] || fail "publisher $* exited $status, expected $expected: $(cat "$work/err")"
}

contains() { grep -qF -- "$2" "$1" || fail "$1 lacks \"$2\": $(cat "$1")"; }

run 0 --help
for word in keygen release verify --public-key-file --rollback 0600; do contains "$work/out" "$word"; done
run 2
run 2 frobnicate
run 2 keygen
run 2 release --game "$work" --version 1 --key k --out t --bogus

cd "$work"
run 0 keygen --out key.pem --public-out key.hex
key=$(cat out)
[[ $key =~ ^[0-9a-f]{128}$ ]] || fail "keygen printed \"$key\""
[[ $(cat key.hex) == "$key" ]] || fail "key.hex differs from what keygen printed"
[[ $(stat -c %a key.pem) == 600 ]] || fail "key.pem has mode $(stat -c %a key.pem)"
cp key.pem key.before
run 1 keygen --out key.pem
contains err "already exists"
cmp -s key.pem key.before || fail "keygen changed an existing key"

mkdir -p game/data
printf 'MZ game' >game/Stonewake.exe
printf 'pak' >game/data/a.pak
printf 'MZ launcher' >launcher.exe
run 0 release --game game --launcher launcher.exe --version 1.2 --commit=abc --key key.pem --out tree
contains out "published version 1.2"
contains out "no release in the tree yet: players will fetch 3 files"
run 0 verify --tree tree --public-key "$key"
contains out "valid release, version 1.2, commit abc; 3 files"
run 0 verify --tree tree --public-key-file key.hex
run 2 verify --tree tree
run 1 verify --tree tree --public-key "$(printf '%0128d' 0)"
contains err "not a point on the P-256 curve"
"$publisher" keygen --out other.pem >other.hex 2>/dev/null
run 1 verify --tree tree --public-key-file other.hex
contains err "not a valid signature"

# What players on 1.2 will download for the next release: a dry run writes
# nothing, a real run prints the same before its manifest.
printf 'pak 2' >game/data/a.pak
printf 'new' >game/data/b.pak
rm game/Stonewake.exe
printf 'MZ game 2' >game/Game.exe
snapshot() { (cd tree && find . -type f -printf '%p %s\n' | sort && cat latest/manifest.txt); }
snapshot >tree.before
run 0 release --game game --launcher launcher.exe --version 1.3 --key key.pem --out tree --dry-run --list-changes
contains out "players on 1.2 will fetch 3 files, 0.0 MiB (2 new, 1 changed, 1 removed)"
contains out "  new      game/Game.exe"
contains out "  new      game/data/b.pak"
contains out "  changed  game/data/a.pak"
contains out "  removed  game/Stonewake.exe"
contains out "dry run: nothing was written"
snapshot >tree.after
cmp -s tree.before tree.after || fail "a dry run changed the tree"
run 0 release --game game --launcher launcher.exe --version 1.3 --key key.pem --out tree
contains out "players on 1.2 will fetch 3 files, 0.0 MiB (2 new, 1 changed, 1 removed); the manifest of 1.3 is"
contains out "published version 1.3"
grep -q "  new " out && fail "the file list was printed without --list-changes"
mv game/Game.exe game/Stonewake.exe

printf 'x' >game/AUX.dat
run 1 release --game game --version 1.3 --key key.pem --out tree2
contains err "game/AUX.dat"
[[ ! -e tree2 ]] || fail "a refused release wrote tree2"

if ((failures)); then
  echo "$failures failures"
  exit 1
fi
echo "publisher command line: all checks passed"
