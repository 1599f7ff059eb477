#!/usr/bin/env bash
# The publisher's command line as a release script uses it: exit codes,
# what goes to standard output, and the files it leaves.
#   cli_test.sh PUBLISHER MAKE_TEST_LAUNCHER
set -uo pipefail
publisher=$1
make_launcher=$2
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"
scratch

# run EXPECTED_STATUS ARGS...: runs the publisher, keeps its output in
# $work/out and $work/err.
run() {
  local expected=$1; shift
  "$publisher" "$@" >"$work/out" 2>"$work/err"
  local status=$?
  [[ $status -eq $expected ]] || fail "publisher $* exited $status, expected $expected: $(cat "$work/err")"
}

run 0 --help
for word in keygen release verify --public-key-file --rollback 0600; do contains "$work/out" "$word"; done
# The device names players' launchers refuse, every one of them.
for word in "CON, PRN, AUX, NUL, COM1," "LPT9," "CONIN\$," "CONOUT\$"; do contains "$work/out" "$word"; done
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
"$make_launcher" launcher.exe "$key" http://127.0.0.1:18080 2.5.2
run 0 release --game game --launcher launcher.exe --version 1.2 --commit=abc --key key.pem --out tree
contains out "launcher 2.5.2 trusts key ${key:0:8}...${key: -8} and asks http://127.0.0.1:18080"
contains out "published version 1.2"
contains out "no release in the tree yet: a first install fetches 2 files, shown to players as 1 MB (10 bytes); not counted: the launcher"
run 0 verify --tree tree --public-key "$key"
contains out "valid release, version 1.2, commit abc; 3 files"
contains out "launcher 2.5.2 trusts key ${key:0:8}"
run 0 verify --tree tree --public-key "$key" --server http://127.0.0.1:18080/
run 1 verify --tree tree --public-key "$key" --server http://releases.example.net
contains err "Stonewake Launcher.exe (objects/"
contains err "asks http://127.0.0.1:18080, not http://releases.example.net (--server)"
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
contains out "players on 1.2 will fetch 3 files, shown to them as 1 MB (17 bytes): 2 new, 1 changed, 1 removed"
contains out "  new      game/Game.exe (9 bytes)"
contains out "  new      game/data/b.pak"
contains out "  changed  game/data/a.pak"
contains out "  removed  game/Stonewake.exe"
contains out "dry run: nothing was written"
snapshot >tree.after
cmp -s tree.before tree.after || fail "a dry run changed the tree"
run 0 release --game game --launcher launcher.exe --version 1.3 --key key.pem --out tree
contains out "players on 1.2 will fetch 3 files, shown to them as 1 MB (17 bytes): 2 new, 1 changed, 1 removed; the manifest of 1.3 is"
contains out "published version 1.3"
grep -q "  new " out && fail "the file list was printed without --list-changes"
mv game/Game.exe game/Stonewake.exe

printf 'x' >game/AUX.dat
run 1 release --game game --version 1.3 --key key.pem --out tree2
contains err "game/AUX.dat"
[[ ! -e tree2 ]] || fail "a refused release wrote tree2"
rm game/AUX.dat

# The launcher a release carries decides which key and server every player
# trusts from then on.
other=$(cat other.hex)
"$make_launcher" other-key.exe "$other" http://127.0.0.1:18080 2.6.0
"$make_launcher" staging.exe "$key" http://staging.example.net:8080 2.6.0
"$make_launcher" bare.exe - - 2.6.0
run 1 release --game game --launcher other-key.exe --version 1.4 --key key.pem --out tree
contains err "other-key.exe: launcher 2.6.0 trusts key ${other:0:8}...${other: -8}, not the key this release is signed with (${key:0:8}...${key: -8})"
contains err "--rotate-key"
run 1 release --game game --launcher staging.exe --server http://releases.example.net:8080 --version 1.4 --key key.pem --out tree
contains err "staging.exe: launcher 2.6.0 asks http://staging.example.net:8080, not http://releases.example.net:8080 (--server)"
run 1 release --game game --launcher bare.exe --version 1.4 --key key.pem --out tree
contains err "bare.exe: launcher 2.6.0 carries no release key or server address"
grep -q "version 1.3" tree/latest/manifest.txt || fail "a refused launcher changed the published release"
run 2 release --game game --rotate-key --version 1.4 --key key.pem --out tree
run 2 release --game game --launcher launcher.exe --server ftp://x --version 1.4 --key key.pem --out tree
# A CDN's release server under a path of its own: --server names the path
# too (a trailing slash is forgiven), and nothing else reads as it.
"$make_launcher" cdn.exe "$key" https://cdn.example.net/stonewake 2.6.0
run 0 release --game game --launcher cdn.exe --server https://cdn.example.net/stonewake/ --dry-run --version 1.4 \
  --key key.pem --out tree
contains out "launcher 2.6.0 trusts key ${key:0:8}...${key: -8} and asks https://cdn.example.net/stonewake"
run 1 release --game game --launcher cdn.exe --server https://cdn.example.net --version 1.4 --key key.pem --out tree
contains err "cdn.exe: launcher 2.6.0 asks https://cdn.example.net/stonewake, not https://cdn.example.net (--server)"
contains err "(the same server, another folder: players would fetch https://cdn.example.net/stonewake/latest/manifest.txt"
for server in "https://cdn.example.net/stonewake?live" "https://cdn.example.net/stone wake" https://user@cdn.example.net; do
  run 2 release --game game --launcher cdn.exe --server "$server" --version 1.4 --key key.pem --out tree
  contains err "--server takes the release server's base URL as the launcher build names it"
done
# The same server however its host's case or default port is written; a
# path too long for WinHTTP or a bracketed host that is no IPv6 address is
# no server a launcher can fetch from.
run 0 release --game game --launcher cdn.exe --server https://CDN.example.net:443/stonewake/ --dry-run --version 1.4 \
  --key key.pem --out tree
run 1 release --game game --launcher cdn.exe --server https://cdn.example.net:8443/stonewake --version 1.4 \
  --key key.pem --out tree
contains err "asks https://cdn.example.net/stonewake, not https://cdn.example.net:8443/stonewake (--server)"
run 2 release --game game --launcher cdn.exe --server "https://cdn.example.net/$(printf 'p%.0s' {1..1974})" \
  --version 1.4 --key key.pem --out tree
contains err "--server has a path of 1975 characters: WinHTTP sends a URL path of at most 2047 characters"
contains err "at most 1974 characters"
run 2 release --game game --launcher cdn.exe --server "https://[cdn.example.net]/stonewake" --version 1.4 \
  --key key.pem --out tree
contains err "a bracketed host being an IPv6 address"

# Key rotation: the launcher with the new key, signed with the old one; then
# releases signed with the new key.
run 0 release --game game --launcher other-key.exe --rotate-key --version 1.4 --key key.pem --out tree
contains out "launcher 2.6.0 trusts key ${other:0:8}...${other: -8} and asks http://127.0.0.1:18080; this release is signed with key ${key:0:8}...${key: -8}"
run 1 verify --tree tree --public-key-file key.hex
contains err "trusts key ${other:0:8}"
run 0 verify --tree tree --public-key-file key.hex --rotate-key
run 1 release --game game --launcher other-key.exe --version 1.5 --key other.pem --out tree
contains err "was not signed with this key"
run 0 release --game game --launcher other-key.exe --new-key --version 1.5 --key other.pem --out tree
run 0 verify --tree tree --public-key-file other.hex

# A link in the game folder: the refusal says what to do.
ln -s "$work/game/Stonewake.exe" game/linked.exe
run 1 release --game game --version 1.6 --key other.pem --out tree
contains err "game/linked.exe: a symbolic link"
contains err "Replace the link with a copy of the file it points to"
rm game/linked.exe

finish "publisher command line"
