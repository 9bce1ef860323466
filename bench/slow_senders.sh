#!/bin/sh
# SPDX-License-Identifier: MIT
# Starts vantrel-server and vantreld (logged in to it) on loopback ports the
# system picks, then runs bench_slow_senders twice: slow senders against the
# client's file server while its info page is asked for, and slow senders
# against the central server while its discovery page is asked for. Stops both
# programs and removes their data afterwards. Prints the load average too:
# the figures mean little on a busy machine.
#
#   bench/slow_senders.sh BUILD_DIR [TOOL_BUILD_DIR]
#     BUILD_DIR       where vantrel-server, vantreld and filedata.dat come from
#     TOOL_BUILD_DIR  where bench_slow_senders comes from (default BUILD_DIR),
#                     so that an older build can be measured with the same tool
#   FILE_SERVER_SENDERS=200 SERVER_SENDERS=100 SECONDS_EACH=40 PER_ADDRESS=1
#   (a count of "none" leaves that server out)
set -eu
build=${1:?usage: slow_senders.sh BUILD_DIR [TOOL_BUILD_DIR]}
tool=${2:-$build}/bench/bench_slow_senders
file_server_senders=${FILE_SERVER_SENDERS:-200}
server_senders=${SERVER_SENDERS:-100}
seconds=${SECONDS_EACH:-40}
per_address=${PER_ADDRESS:-1}

work=$(mktemp -d)
server_pid=""
client_pid=""
stop() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT INT TERM

wait_for() {  # FILE TEXT PID
  tries=0
  until grep -q "$2" "$1" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ] || ! kill -0 "$3" 2>/dev/null; then
      echo "did not start:"
      cat "$1"
      exit 1
    fi
    sleep 0.1
  done
}

"$build/server/vantrel-server" --db "$work/server.db" --listen 127.0.0.1:0 --udp-port 0 --demo-catalogue \
  --add-user bench:benchpass >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
wait_for "$work/server.out" listening "$server_pid"
line=$(grep listening "$work/server.out")
port=$(echo "$line" | sed 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/')
udp=$(echo "$line" | sed 's/.*UDP port \([0-9]*\).*/\1/')

mkdir -m 700 "$work/client" "$work/config"
echo benchpass >"$work/client/password"
cp "$(find "$build" -maxdepth 1 -name filedata.dat)" "$work/client/filedata.dat"
VANTREL_CONFIG_DIR=$work/config VANTREL_WEB_HOST=127.0.0.1:$port VANTREL_SIGNUP_HOST=127.0.0.1:$port \
  VANTREL_SERVER_HOST=127.0.0.1 VANTREL_SERVER_UDP_PORT=$udp \
  "$build/src/headless/vantreld" --home "$work/client" --user bench --password-file "$work/client/password" \
  --server "127.0.0.1:$port" --port 0 >"$work/client.out" 2>&1 &
client_pid=$!
wait_for "$work/client.out" "logged in as" "$client_pid"
client_port=$(sed -n 's/.*file server on http:\/\/127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' "$work/client.out" | head -1)

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$file_server_senders" != none ]; then
  echo "file server (port $client_port):"
  "$tool" --port "$client_port" --senders "$file_server_senders" --per-address "$per_address" --seconds "$seconds" \
    --path '/template/client-info_template.html?token=1$127.0.0.1' --expect 'About this file manager'
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
fi
if [ "$server_senders" != none ]; then
  echo "central server (port $port):"
  "$tool" --port "$port" --senders "$server_senders" --per-address "$per_address" --seconds "$seconds" \
    --path /server.html --expect '&server='
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
fi
