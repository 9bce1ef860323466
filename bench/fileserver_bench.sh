#!/bin/bash
# SPDX-License-Identifier: MIT
# Runs the file server and nginx side by side on loopback, serving the same
# files, and prints the figures of one run:
#   - one unthrottled 1 GiB download with curl (median of per-round ratios);
#   - 16 simultaneous downloads: aggregate rate and server CPU seconds per GiB;
#   - a small template page over HTTP/1.0, one connection per request (ab -c 50);
#   - resident memory per idle connection (200 connections);
#   - pacing: maxusrband 2,000,000 with one 50 MB download, and maxband
#     2,000,000 with four downloads at once.
# Usage: bench/fileserver_bench.sh BUILD_DIR [ROUNDS]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [ROUNDS]}
rounds=${2:-3}
serve="$build/bench/fileserver_serve"
[ -x "$serve" ] || { echo "build the fileserver_serve target first" >&2; exit 1; }

work=$(mktemp -d /tmp/fileserver-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/files" "$work/nginx/logs"
chmod 755 "$work" "$work/files"  # nginx workers drop their privileges
head -c $((1 << 30)) /dev/urandom > "$work/files/big.bin"
head -c $((50 * 1000 * 1000)) /dev/urandom > "$work/files/mid.bin"
head -c $((12500 * 1000)) /dev/urandom > "$work/files/quarter.bin"
page_bytes=2048
head -c $page_bytes /dev/zero | tr '\0' 'x' > "$work/files/page.html"
cat "$work/files/big.bin" > /dev/null  # into the page cache

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

nginx_port=$(free_port)
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 768; }
http {
  sendfile on;
  tcp_nopush on;
  types_hash_max_size 2048;
  default_type application/octet-stream;
  access_log off;
  keepalive_timeout 65;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/files;
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" -g 'daemon off;' &
pids+=($!)

# File IDs follow name order: big.bin 1, mid.bin 2, page.html 3, quarter.bin 4.
start_server() {  # extra args...; sets server_pid and server_port
  "$serve" --dir "$work/files" --page-bytes $page_bytes "$@" > "$work/serve.out" 2>&1 &
  server_pid=$!
  pids+=($server_pid)
  for _ in $(seq 1 100); do
    grep -q '^port ' "$work/serve.out" 2>/dev/null && break
    sleep 0.05
  done
  server_port=$(awk '/^port /{print $2}' "$work/serve.out")
}
stop_server() { kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; }
cpu_seconds() { awk '{printf "%.2f", ($14 + $15) / '"$(getconf CLK_TCK)"'}' "/proc/$1/stat"; }

start_server
fs="http://127.0.0.1:$server_port"
ng="http://127.0.0.1:$nginx_port"
sleep 0.3

echo "== one 1 GiB download (bytes/s)"
ratios=()
for r in $(seq 1 "$rounds"); do
  a=$(curl -s -o /dev/null -w '%{speed_download}' "$fs/getfile/?fileid=1")
  b=$(curl -s -o /dev/null -w '%{speed_download}' "$ng/big.bin")
  ratio=$(python3 -c "print(f'{$a/$b:.3f}')")
  ratios+=("$ratio")
  echo "round $r: file server $a, nginx $b, ratio $ratio"
done
echo "median ratio: $(printf '%s\n' "${ratios[@]}" | sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')"

echo "== 16 simultaneous 1 GiB downloads"
parallel() {  # url → wall seconds
  local t0 t1
  t0=$(date +%s.%N)
  for _ in $(seq 1 16); do curl -s -o /dev/null "$1" & done
  wait $(jobs -p | grep -v -e "${pids[0]}" -e "$server_pid") 2>/dev/null || true
  t1=$(date +%s.%N)
  python3 -c "print($t1 - $t0)"
}
cpu0=$(cpu_seconds "$server_pid")
tf=$(parallel "$fs/getfile/?fileid=1")
cpu1=$(cpu_seconds "$server_pid")
tn=$(parallel "$ng/big.bin")
python3 - <<PY
gib = 16
fs, ng = gib / $tf, gib / $tn
print(f"file server {fs:.2f} GiB/s, nginx {ng:.2f} GiB/s, ratio {fs/ng:.3f}")
print(f"file server CPU {($cpu1 - $cpu0) / gib:.3f} s per GiB")
PY

echo "== template page, HTTP/1.0, new connection per request (ab -c 50 -n 20000)"
abrun() { ab -q -c 50 -n 20000 "$1" 2>/dev/null | awk '/Requests per second/{rps=$4} /^ *99%/{p99=$2} END{print rps, p99}'; }
read -r frps fp99 < <(abrun "$fs/template/page.html?token=a\$b")
read -r nrps np99 < <(abrun "$ng/page.html")
python3 -c "print(f'file server {$frps} req/s p99 {$fp99} ms; nginx {$nrps} req/s p99 {$np99} ms; rate ratio {$frps/$nrps:.3f}, p99 ratio {$fp99/max($np99,1):.2f}')"

echo "== resident memory per idle connection (200 connections)"
python3 - "$server_pid" "$server_port" <<'PY'
import socket, sys, time
pid, port = int(sys.argv[1]), int(sys.argv[2])
def rss():
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"): return int(line.split()[1])
before = rss()
conns = [socket.create_connection(("127.0.0.1", port)) for _ in range(200)]
time.sleep(0.8)  # inside the 2-second wait for the request line
after = rss()
print(f"{(after - before) / 200:.1f} KiB per connection")
for c in conns: c.close()
PY
stop_server

echo "== pacing (from 127.0.0.2, a remote peer)"
start_server --maxusrband 2000000
rate=$(curl -s --interface 127.0.0.2 -o /dev/null -w '%{speed_download}' "http://127.0.0.1:$server_port/getfile/?fileid=2")
python3 -c "print(f'maxusrband 2000000, one 50 MB download: {$rate:.0f} B/s ({($rate/2e6-1)*100:+.2f}%)')"
stop_server
start_server --maxband 2000000
t0=$(date +%s.%N)
for _ in 1 2 3 4; do curl -s --interface 127.0.0.2 -o /dev/null "http://127.0.0.1:$server_port/getfile/?fileid=4" & done
wait $(jobs -p | grep -v -e "${pids[0]}" -e "$server_pid") 2>/dev/null || true
t1=$(date +%s.%N)
python3 -c "r = 4 * 12500000 / ($t1 - $t0); print(f'maxband 2000000, four downloads: {r:.0f} B/s together ({(r/2e6-1)*100:+.2f}%)')"
stop_server
