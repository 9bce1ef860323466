#!/bin/sh
# SPDX-License-Identifier: MIT
# Four simultaneous downloads on loopback: four curls against the download
# manager (bench_transfers_download), fetching the same four files from the same
# file server. The two take turns, round after round, so that both meet the
# machine in the same state; each round is timed as whole processes. Prints
# every round, then the minimum and median MiB/s of each side and the median of
# the rounds' manager/curl ratios. Each side removes the files of its last round
# just before it downloads them again, so both write into memory they have just
# freed: memory freed a few seconds earlier may have gone back to the virtual
# machine's host, and writing into it again then costs a fault on the host for
# every page, which once made the manager's rounds jump between 1.0 and 1.9 GiB/s.
# The file server is python3 -m http.server, or nginx with SERVER=nginx.
# Usage: [SERVER=nginx] bench/transfers_download_vs_curl.sh BUILD_DIR [SIZE_MB] [ROUNDS]
set -eu
build=${1:?build directory}
size_mb=${2:-200}
rounds=${3:-7}
server=${SERVER:-python}
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/www" "$work/curl" "$work/manager" "$work/nginx/logs"
chmod 755 "$work" "$work/www"  # nginx workers drop their privileges
for i in 0 1 2 3; do head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/www/f$i"; chmod 644 "$work/www/f$i"; done
port=
case $server in
  python)
    python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/www" > "$work/server.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 1 100); do
      port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
      [ -n "$port" ] && break
      sleep 0.05
    done
    ;;
  nginx)
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    cat > "$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 768; }
http {
  sendfile on;
  tcp_nopush on;
  default_type application/octet-stream;
  access_log off;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
    nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" -g 'daemon off;' &
    server_pid=$!
    for _ in $(seq 1 100); do
      curl -s -o /dev/null "http://127.0.0.1:$port/" && break
      sleep 0.05
    done
    ;;
  *) echo "SERVER is python or nginx"; exit 1 ;;
esac
[ -n "$port" ] || { echo "server did not start"; exit 1; }
urls=""
for i in 0 1 2 3; do urls="$urls http://127.0.0.1:$port/f$i"; done
export VANTREL_BENCH_URLS="$urls"
export VANTREL_BENCH_DIR="$work/manager"

curls() {
  # Fresh files, as the manager's run makes: overwriting 800 MiB of files that
  # are still being written back costs curl more than the download itself.
  # Removed here, inside the round, as the manager removes its own.
  rm -f "$work/curl/f0" "$work/curl/f1" "$work/curl/f2" "$work/curl/f3"
  pids=
  for i in 0 1 2 3; do curl -s -o "$work/curl/f$i" "http://127.0.0.1:$port/f$i" & pids="$pids $!"; done
  for p in $pids; do wait "$p"; done
}
manager() {
  "$build/bench/bench_transfers_download" > "$work/manager.out" 2>&1 ||
    { cat "$work/manager.out"; exit 1; }
  if grep -q ERROR "$work/manager.out"; then cat "$work/manager.out"; exit 1; fi
}
# Seconds taken by one call of the function named.
timed() {
  start=$(date +%s.%N)
  "$1"
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
curls
manager  # warm-up: the files are in the page cache from here on
: > "$work/times"
round=1
while [ "$round" -le "$rounds" ]; do
  c=$(timed curls)
  m=$(timed manager)
  echo "$c $m" >> "$work/times"
  round=$((round + 1))
done
python3 - "$work/times" "$size_mb" <<'EOF'
import statistics, sys
mib = 4 * int(sys.argv[2])
rows = [tuple(map(float, line.split())) for line in open(sys.argv[1])]
curl = [mib / c for c, _ in rows]
manager = [mib / m for _, m in rows]
for i, (c, m) in enumerate(zip(curl, manager), 1):
    print(f"round {i}: curl x4 {c:7.1f} MiB/s   manager x4 {m:7.1f} MiB/s   ratio {m / c:.3f}")
ratios = [m / c for c, m in zip(curl, manager)]
f = lambda v, p: f"min {min(v):{p}}  median {statistics.median(v):{p}}  max {max(v):{p}}"
print(f"curl x4:    {f(curl, '7.1f')} MiB/s")
print(f"manager x4: {f(manager, '7.1f')} MiB/s")
print(f"manager/curl: {f(ratios, '.3f')}; median of the rounds' ratios {statistics.median(ratios):.3f}")
EOF
echo "server $server; load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
