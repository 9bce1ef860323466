#!/bin/bash
# SPDX-License-Identifier: MIT
# Runs the file server and nginx side by side on loopback, serving the same
# files, and prints the figures of one run:
#   - one unthrottled 1 GiB download with curl (median of per-round ratios);
#   - 16 simultaneous downloads: aggregate rate and server CPU seconds per GiB;
#   - the client-info page rendered from the packed pages by the client's
#     providers, over HTTP/1.0, one connection per request (ab -c 50), against
#     nginx serving the same bytes as a static file;
#   - resident memory per idle connection (200 connections);
#   - pacing: maxusrband 2,000,000 with one 50 MB download, and maxband
#     2,000,000 with four downloads at once, kept by the client state.
# Each figure is min / median / max over ROUNDS alternating rounds, with the
# median of the per-round ratios; the load average is printed with each.
# SECTIONS picks some of: single parallel page memory pacing (default all).
# Usage: bench/fileserver_bench.sh BUILD_DIR [ROUNDS]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [ROUNDS]}
rounds=${2:-7}
sections=${SECTIONS:-single parallel page memory pacing}
want() { [[ " $sections " == *" $1 "* ]]; }
serve="$build/bench/fileserver_serve"
pages="$build/filedata.dat"
[ -x "$serve" ] && [ -f "$pages" ] || { echo "build the fileserver_serve target first" >&2; exit 1; }

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

# File IDs follow name order: big.bin 1, mid.bin 2, quarter.bin 3 (template-page.html,
# written once the server runs, is not shared by it).
start_server() {  # extra args...; sets server_pid and server_port
  "$serve" --dir "$work/files" --pages "$pages" "$@" > "$work/serve.out" 2>&1 &
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

# summary NAME UNIT: reads "a b" pairs (product, anchor) from stdin.
summary() {
  python3 -c '
import sys, statistics as st
name, unit = sys.argv[1], sys.argv[2]
rows = [tuple(map(float, l.split())) for l in sys.stdin if l.strip()]
a = [r[0] for r in rows]; b = [r[1] for r in rows]
ratios = [x / y for x, y in rows]
f = lambda v: f"{min(v):.4g} / {st.median(v):.4g} / {max(v):.4g}"
print(f"{name} ({len(rows)} rounds) file server {f(a)} {unit}; anchor {f(b)} {unit}; ratio {f(ratios)} (median {st.median(ratios):.3f})")
' "$1" "$2"
}
# fetch_rate URL BYTES [curl args]: bytes/s of one download, which must be whole.
fetch_rate() {
  local url=$1 bytes=$2 out
  shift 2
  out=$(curl -s "$@" -o /dev/null -w '%{size_download} %{speed_download}' "$url")
  [ "${out%% *}" = "$bytes" ] || { echo "short download from $url: $out" >&2; exit 1; }
  echo "${out#* }"
}
load() { echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"; }

start_server
fs="http://127.0.0.1:$server_port"
ng="http://127.0.0.1:$nginx_port"
sleep 0.3

if want single; then
echo "== one 1 GiB download (bytes/s); $(load)"
for r in $(seq 1 "$rounds"); do
  a=$(fetch_rate "$fs/getfile/?fileid=1" $((1 << 30)))
  b=$(fetch_rate "$ng/big.bin" $((1 << 30)))
  echo "round $r: file server $a, nginx $b" >&2
  echo "$a $b"
done | summary "one 1 GiB download" B/s
load
fi

if want parallel; then
echo "== 16 simultaneous 1 GiB downloads; $(load)"
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

fi

if want page; then
# ab opens all its connections from 127.0.0.1, so past the file server's cap of
# 16 connections from one address most of them would get the refusal page: the
# page is measured on a server started without that cap (its own figure is
# bench/slow_senders.sh's), and every answer must be the whole page.
stop_server
start_server --per-address 0
fs="http://127.0.0.1:$server_port"
page_url="$fs/template/client-info_template.html?token=1\$127.0.0.1"
curl -s -o "$work/files/template-page.html" "$page_url"
page_bytes=$(stat -c %s "$work/files/template-page.html")
echo "== client-info page ($page_bytes bytes), HTTP/1.0, new connection per request (ab -c 50 -n 20000); $(load)"
abrun() {  # url → requests/s; every answer must be the page
  local out
  out=$(ab -c 50 -n 20000 "$1" 2>/dev/null)
  # The page counts the users connected, so its length may move by a byte or
  # two under load; a refusal or error page would move the mean far more.
  if grep -q '^Non-2xx' <<<"$out" || ! grep -q 'Connect: 0, Receive: 0, Length: [0-9]*, Exceptions: 0\|^Failed requests: *0$' <<<"$out" ||
     ! awk -v want="$page_bytes" '/^Complete requests/{n=$3} /^HTML transferred/{b=$3}
        END{m=b/n; exit !(n == 20000 && m > want - 4 && m < want + 4)}' <<<"$out"; then
    echo "answers that were not the page from $1:" >&2
    grep -E '^(Complete|Failed|Non-2xx|HTML transferred|   \()' <<<"$out" >&2
    exit 1
  fi
  awk '/Requests per second/{print $4}' <<<"$out"
}
for r in $(seq 1 "$rounds"); do
  a=$(abrun "$page_url")
  b=$(abrun "$ng/template-page.html")
  echo "round $r: file server $a, nginx $b" >&2
  echo "$a $b"
done | summary "client-info page" req/s
load
stop_server
start_server
fi

if want memory; then
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
fi
stop_server

want pacing || exit 0
echo "== pacing (from 127.0.0.2, a remote peer); $(load)"
start_server --maxusrband 2000000
for r in $(seq 1 "$rounds"); do
  rate=$(fetch_rate "http://127.0.0.1:$server_port/getfile/?fileid=2" 50000000 --interface 127.0.0.2)
  echo "$rate 2000000"
done | summary "maxusrband 2000000, one 50 MB download" B/s
stop_server
start_server --maxband 2000000
for r in $(seq 1 "$rounds"); do
  t0=$(date +%s.%N)
  for _ in 1 2 3 4; do fetch_rate "http://127.0.0.1:$server_port/getfile/?fileid=3" 12500000 --interface 127.0.0.2 >/dev/null & done
  wait $(jobs -p | grep -v -e "${pids[0]}" -e "$server_pid") 2>/dev/null || true
  t1=$(date +%s.%N)
  python3 -c "print(4 * 12500000 / ($t1 - $t0), 2000000)"
done | summary "maxband 2000000, four downloads together" B/s
stop_server
load
