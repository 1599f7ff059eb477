#!/usr/bin/env bash
# Serves a folder over plain HTTP on loopback with Debian's nginx, the way a
# release tree is served to launchers: static files with Content-Length, no
# compression, no listing. Everything nginx writes (configuration, pid file,
# logs, temporary files) stays in STATE_DIR; no system path or root is needed.
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
set -euo pipefail

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

usage() {
  sed -n '2,16p' "$0" >&2
  exit 2
}

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

write_config() {  # ROOT STATE PORT DAEMON
  local root state port daemon
  root=$(cd "$1" && pwd)
  state=$2
  port=$3
  daemon=$4
  mkdir -p "$state/tmp"
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
    listen 127.0.0.1:$port;
    root $root;
    autoindex off;
    # The publisher's temporary files and lock: never served.
    location ~ /\\. { return 404; }
    # Replaced by each release; caches must ask again.
    location /latest/ { add_header Cache-Control "no-cache"; limit_rate ${STONEWAKE_NGINX_LATEST_RATE:-0}; }
    # Named by their content, so they never change.
    location /objects/ { add_header Cache-Control "public, max-age=31536000, immutable"; limit_rate ${STONEWAKE_NGINX_RATE:-0}; }
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
  echo "http://127.0.0.1:$port"
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
  echo "serving $root at http://127.0.0.1:$port (Ctrl-C stops)" >&2
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
