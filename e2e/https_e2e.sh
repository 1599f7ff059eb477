#!/usr/bin/env bash
# The release server as a studio's CDN serves it: over HTTPS, under a path of
# its own (https://localhost:PORT/releases/stonewake), with a certificate
# signed by an authority made for this run and trusted in this test's Wine
# prefix alone. The launcher's own code installs a release published by the
# publisher, patches it and replaces its own launcher; certificates WinHTTP
# must refuse (unknown authority, another host name, expired) and a
# redirect from https to http end in the launcher's sentence with nothing
# written, while a redirect from http to https is followed.
#
#   https_e2e.sh SOURCE_DIR WINE_RUN PUBLISHER BIN_DIR
set -euo pipefail
source_dir=$1
wine_run=$2
publisher=$3
bin=$4
key=$source_dir/test_support/keys/test-only-release-key.pem
source "$source_dir/tools/common.sh"
source "$source_dir/e2e/test_authority.sh"
[[ -x $publisher ]] || { echo "https-e2e: no publisher at $publisher (build the host preset)"; exit 1; }

scratch
# The run's authority leaves the prefix's store and every server stops,
# whatever happens; then the scratch folder goes.
cleanup() {
  "$wine_run" "$bin/trust_root.exe" remove "$work/certs/trusted.der" >/dev/null 2>&1 || true
  local state
  for state in "$work"/*/; do
    if [[ -e $state/nginx.pid ]]; then stop_serving "$state"; fi
  done
  scratch_cleanup
}
trap cleanup EXIT
cd "$work"

mkdir certs
make_authority certs trusted
make_authority certs unknown
make_server_cert certs trusted localhost localhost
make_server_cert certs unknown by-unknown localhost
make_server_cert certs trusted other-host releases.example.net
make_server_cert certs trusted expired localhost expired
"$wine_run" "$bin/trust_root.exe" add "$work/certs/trusted.der"

# serve_as NAME [VAR=VALUE...]: serves tree/ with nginx under those
# settings, its state in NAME/; prints the base URL.
serve_as() {
  local name=$1
  shift
  env "$@" "$stonewake_source/tools/nginx/serve.sh" start tree "$work/$name"
}
tls() { echo "STONEWAKE_NGINX_CERT=certs/$1.pem STONEWAKE_NGINX_KEY=certs/$1.key"; }

# take NAME BASE FOLDER EXPECTED: patch_install against BASE into FOLDER;
# its output (without CRs) in NAME.txt must be EXPECTED.
take() {
  local name=$1 base=$2 folder=$3 expected=$4
  timeout 300 "$wine_run" "$bin/patch_install.exe" "$base" "Z:$folder" 2>&1 | tr -d '\r' >"$name.txt" || true
  [[ $(cat "$name.txt") == "$expected" ]] || fail "$name: patch_install said \"$(cat "$name.txt")\", expected \"$expected\""
}

# same_as_release FOLDER VERSION: FOLDER/game holds exactly the game files
# and FOLDER/installed.txt the version.
same_as_release() {
  diff -r game "$1/game" >/dev/null || fail "$1/game differs from the release: $(diff -rq game "$1/game")"
  [[ $(tr -d '\r' <"$1/installed.txt") == "$2" ]] || fail "$1 records $(cat "$1/installed.txt"), not $2"
}

unreachable="error: Can't reach the update server. Check your internet connection. Trying again..."
# refused NAME BASE: the launcher's code refuses BASE with the sentence and
# writes nothing at all.
refused() {
  mkdir "$work/$1-install"
  take "$1" "$2" "$work/$1-install" "$unreachable"
  [[ -z $(ls -A "$work/$1-install") ]] || fail "$1: written to the install folder: $(ls -A "$work/$1-install")"
}

# Release 1.0, installed over https under the path.
mkdir -p game/data "game/My Saves"
{ printf 'MZ'; head -c 5000 /dev/urandom; } >game/Stonewake.exe
head -c 300000 /dev/urandom >game/data/base.pak
head -c 1000 /dev/urandom >game/data/old.pak
printf 'hello' >"game/My Saves/read me.txt"
publish() { "$publisher" release --game game "$@" --key "$key" --out tree >publish.log 2>&1 || { cat publish.log; exit 1; }; }
publish --version 1.0
export STONEWAKE_NGINX_PATH=/releases/stonewake
base=$(serve_as cdn $(tls localhost))
[[ $base == https://localhost:*/releases/stonewake ]] || fail "serve.sh printed $base"
echo "https-e2e: serving the tree at $base"
take install "$base" "$work/install" complete
same_as_release install 1.0
# Every request went under the path, over TLS.
if grep -v ' "GET /releases/stonewake/\(latest\|objects\)/' cdn/access.log | grep -q .; then
  fail "requests outside the path: $(grep -v ' "GET /releases/stonewake/' cdn/access.log)"
fi

# Release 1.1 (a changed, a removed and a new file) carries a new launcher:
# the installed launcher patches from its own folder and replaces itself.
head -c 300000 /dev/urandom >game/data/base.pak
rm game/data/old.pak
printf 'new' >game/data/new.pak
publish --launcher "$bin/record_start.exe" --version 1.1
cp "$bin/self_update_launcher.exe" "install/Stonewake Launcher.exe"
timeout 300 "$wine_run" "$work/install/Stonewake Launcher.exe" "$base" || true
[[ $(cat install/apply-result.txt 2>/dev/null) == replaced ]] ||
  fail "the self-update said \"$(cat install/apply-result.txt 2>&1)\", expected \"replaced\""
same_as_release install 1.1
cmp -s "install/Stonewake Launcher.exe" "$bin/record_start.exe" || fail "the launcher was not replaced"
for _ in $(seq 100); do [[ -e "install/Stonewake Launcher.exe.started" ]] && break; sleep 0.1; done
[[ -e "install/Stonewake Launcher.exe.started" ]] || fail "the new launcher was not started"

# Certificates WinHTTP refuses. Wine says why in its own error code (12045
# unknown authority, 12038 another host name, 12037 expired); the player
# reads the one sentence of a server that cannot be reached.
refused unknown-authority "$(serve_as unknown-authority $(tls by-unknown))"
refused other-host "$(serve_as other-host $(tls other-host))"
refused expired "$(serve_as expired $(tls expired))"

# A redirect from http to https is followed; one from https to http is not,
# and the plain server never hears from the launcher.
mkdir upgraded
take upgraded "$(STONEWAKE_NGINX_PATH= serve_as upgrade STONEWAKE_NGINX_REDIRECT="${base%/releases/stonewake}")/releases/stonewake" \
  "$work/upgraded" replaced
same_as_release upgraded 1.1
plain=$(serve_as plain)
refused downgraded "$(STONEWAKE_NGINX_PATH= serve_as downgrade $(tls localhost) STONEWAKE_NGINX_REDIRECT="${plain%/releases/stonewake}")/releases/stonewake"
[[ ! -s plain/access.log ]] || fail "the launcher followed https to http: $(cat plain/access.log)"

finish "https-e2e: install, patch and self-update over https under a path; refusals as expected"
