#!/usr/bin/env bash
# Serves a folder over HTTP (or HTTPS) on loopback with Debian's nginx, the
# way a release tree is served to launchers: static files with
# Content-Length, no compression, no listing. Everything nginx writes
# (configuration, pid file, logs, temporary files) stays in STATE_DIR; no
# system path or root is needed.
#
#   serve.sh start ROOT STATE_DIR [PORT]  start in the background; prints the
#                                         base URL (http://127.0.0.1:PORT).
#                                         Without PORT a free one is chosen.
#   serve.sh stop STATE_DIR               stop it and wait until it is gone
#   serve.sh run ROOT STATE_DIR PORT      serve in the foreground until Ctrl-C
#
# STONEWAKE_NGINX_RATE and STONEWAKE_NGINX_LATEST_RATE, when set, limit each
# connection to objects/ and to latest/ to that many bytes a second (nginx
# limit_rate values such as 200k), so tests can watch a slow server.
#
# STONEWAKE_NGINX_CERT and STONEWAKE_NGINX_KEY (PEM files), when set, serve
# over TLS with that certificate instead; the base URL printed is then
# https://localhost:PORT (certificates name the host, not the address).
# STONEWAKE_NGINX_PATH (such as /releases/stonewake) serves the tree under
# that path instead of at the root; the printed base URL ends with it.
# STONEWAKE_NGINX_REDIRECT (a base URL) answers every request with a 301 to
# that base URL followed by the request's path, instead of serving ROOT.
set -euo pipefail

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

usage() {
  sed -n '2,24p' "$0" >&2
  exit 2
}

source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

url_path=${STONEWAKE_NGINX_PATH:-}
if [[ -n $url_path && ! $url_path =~ ^(/[A-Za-z0-9._~-]+)+$ ]]; then
  echo "serve.sh: STONEWAKE_NGINX_PATH must be /name[/name...] without a trailing slash" >&2
  exit 2
fi

base_url() {  # PORT
  if [[ -n ${STONEWAKE_NGINX_CERT:-} ]]; then echo "https://localhost:$1$url_path"; else echo "http://127.0.0.1:$1$url_path"; fi
}

write_config() {  # ROOT STATE PORT DAEMON
  local root state port daemon
  root=$(cd "$1" && pwd)
  state=$2
  port=$3
  daemon=$4
  mkdir -p "$state/tmp" "$state/empty"
  local listen="127.0.0.1:$port" tls="" tree served=$root alias_latest="" alias_objects=""
  if [[ -n ${STONEWAKE_NGINX_CERT:-} ]]; then
    listen="$listen ssl"
    tls="ssl_certificate $(realpath "$STONEWAKE_NGINX_CERT"); ssl_certificate_key $(realpath "$STONEWAKE_NGINX_KEY");"
  fi
  if [[ -n ${STONEWAKE_NGINX_REDIRECT:-} ]]; then
    tree="location / { return 301 $STONEWAKE_NGINX_REDIRECT\$request_uri; }"
  else
    # At the root every file under ROOT is served (tests serve several
    # trees side by side); under a path only the tree's two folders are.
    if [[ -n $url_path ]]; then
      served=$state/empty
      alias_latest="alias $root/latest/;"
      alias_objects="alias $root/objects/;"
    fi
    # Replaced by each release: caches must ask again. Named by their
    # content, objects never change.
    tree="location $url_path/latest/ { $alias_latest add_header Cache-Control \"no-cache\"; limit_rate ${STONEWAKE_NGINX_LATEST_RATE:-0}; }
    location $url_path/objects/ { $alias_objects add_header Cache-Control \"public, max-age=31536000, immutable\"; limit_rate ${STONEWAKE_NGINX_RATE:-0}; }"
  fi
  {
    echo "daemon $daemon;"
    echo "worker_processes 1;"
    echo "pid $state/nginx.pid;"
    echo "error_log $state/error.log warn;"
    # As root nginx would hand requests to 'nobody', who may not read ROOT.
    if [[ $(id -u) -eq 0 ]]; then echo "user $(id -un) $(id -gn);"; fi
    cat <<CONF
events { worker_connections 256; }
http {
  # The combined format plus every byte sent for the request, headers
  # included (what a launcher receives), for the benchmarks' figures.
  log_format counted '\$remote_addr - \$remote_user [\$time_local] "\$request" \$status \$body_bytes_sent '
                     '"\$http_referer" "\$http_user_agent" \$bytes_sent';
  access_log $state/access.log counted;
  client_body_temp_path $state/tmp/body;
  proxy_temp_path $state/tmp/proxy;
  fastcgi_temp_path $state/tmp/fastcgi;
  uwsgi_temp_path $state/tmp/uwsgi;
  scgi_temp_path $state/tmp/scgi;
  types { text/plain txt sig; }
  default_type application/octet-stream;
  sendfile on;
  server_tokens off;
  server {
    listen $listen;
    $tls
    root $served;
    autoindex off;
    # The publisher's temporary files and lock: never served.
    location ~ /\\. { return 404; }
    $tree
  }
}
CONF
  } >"$state/nginx.conf"
}

start_on() {  # ROOT STATE PORT; 0 when serving
  local root=$1 state=$2 port=$3
  write_config "$root" "$state" "$port" on
  rm -f "$state/nginx.pid"
  "$nginx_bin" -p "$state" -c "$state/nginx.conf" -e "$state/error.log" 2>>"$state/start.log" || return 1
  for _ in $(seq 100); do
    if [[ -s $state/nginx.pid ]] && port_answers "$port"; then return 0; fi
    sleep 0.05
  done
  stop "$state"
  return 1
}

start() {
  [[ $# -ge 2 ]] || usage
  local root=$1 state=$2 port=${3:-}
  [[ -d $root ]] || { echo "serve.sh: $root is not a folder" >&2; exit 1; }
  mkdir -p "$state"
  state=$(cd "$state" && pwd)
  if [[ -n $port ]]; then
    start_on "$root" "$state" "$port" || { echo "serve.sh: nginx did not start on port $port:" >&2; cat "$state/error.log" "$state/start.log" >&2 2>/dev/null; exit 1; }
  else
    local tries=0
    while :; do
      port=$((20000 + RANDOM % 30000))
      if ! port_answers "$port" && start_on "$root" "$state" "$port"; then break; fi
      tries=$((tries + 1))
      if ((tries >= 10)); then
        echo "serve.sh: nginx did not start on any of 10 ports:" >&2
        cat "$state/error.log" "$state/start.log" >&2 2>/dev/null
        exit 1
      fi
    done
  fi
  echo "$port" >"$state/port"
  base_url "$port"
}

stop() {
  [[ $# -eq 1 ]] || usage
  local state=$1 pid
  [[ -s $state/nginx.pid ]] || return 0
  pid=$(cat "$state/nginx.pid")
  [[ $pid =~ ^[0-9]+$ ]] || return 0
  for signal in QUIT TERM KILL; do
    kill "-$signal" "$pid" 2>/dev/null || break
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break 2
      sleep 0.1
    done
  done
  rm -f "$state/nginx.pid"
}

run() {
  [[ $# -eq 3 ]] || usage
  local root=$1 state=$2 port=$3
  mkdir -p "$state"
  state=$(cd "$state" && pwd)
  write_config "$root" "$state" "$port" off
  echo "serving $root at $(base_url "$port") (Ctrl-C stops)" >&2
  exec "$nginx_bin" -p "$state" -c "$state/nginx.conf" -e "$state/error.log"
}

command=${1:-}
shift || true
case $command in
  start) start "$@" ;;
  stop) stop "$@" ;;
  run) run "$@" ;;
  *) usage ;;
esac
