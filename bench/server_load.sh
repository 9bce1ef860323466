#!/bin/sh
# SPDX-License-Identifier: MIT
# Starts vantrel-server on loopback ports the system picks with 100 load users,
# runs bench_server_load against it (1,000 logins, 10,000 UDP pings, 10,000
# encrypted requests) and stops the server again.
#
#   bench/server_load.sh BUILD_DIR
set -eu
build=${1:?usage: server_load.sh BUILD_DIR [--threads N]}
shift
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT INT TERM

users=""
i=0
while [ $i -lt 100 ]; do users="$users --add-user load$i:loadpass"; i=$((i + 1)); done
# shellcheck disable=SC2086
"$build/server/vantrel-server" --db "$work/load.db" --listen 127.0.0.1:0 --udp-port 0 --demo-catalogue $users \
  >"$work/out" 2>"$work/err" &
pid=$!
tries=0
until grep -q listening "$work/out" 2>/dev/null; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ]; then echo "the server did not start:"; cat "$work/err"; exit 1; fi
  sleep 0.1
done
line=$(cat "$work/out")
port=$(echo "$line" | sed 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/')
udp=$(echo "$line" | sed 's/.*UDP port \([0-9]*\).*/\1/')
"$build/bench/bench_server_load" --port "$port" --udp-port "$udp" --users 100 --password loadpass "$@" \
  --logins 1000 --pings 10000 --requests 10000
