#!/bin/sh
# SPDX-License-Identifier: MIT
# Four simultaneous downloads on loopback: curl against the download manager.
# Usage: bench/transfers_download_vs_curl.sh BUILD_DIR [SIZE_MB]
set -eu
build=${1:?build directory}
size_mb=${2:-200}
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/curl"
for i in 0 1 2 3; do head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/www/f$i"; done
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/www" > "$work/server.log" 2>&1 &
server_pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "server did not start"; exit 1; }
urls=""
for i in 0 1 2 3; do urls="$urls http://127.0.0.1:$port/f$i"; done

total=$((4 * size_mb * 1024 * 1024))
best_curl=0
for run in 1 2 3; do
  start=$(date +%s.%N)
  pids=
  for i in 0 1 2 3; do curl -s -o "$work/curl/f$i" "http://127.0.0.1:$port/f$i" & pids="$pids $!"; done
  for p in $pids; do wait "$p"; done
  end=$(date +%s.%N)
  rate=$(echo "$total / ($end - $start) / 1048576" | bc -l)
  best_curl=$(echo "if ($rate > $best_curl) $rate else $best_curl" | bc -l)
done
printf 'curl x4: %.1f MiB/s\n' "$best_curl"
VANTREL_BENCH_URLS="$urls" "$build/bench/bench_transfers_download" --benchmark_format=console
