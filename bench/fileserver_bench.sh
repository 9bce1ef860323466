#!/bin/bash
# SPDX-License-Identifier: MIT
# Measures the file server users run: it starts the reference server and a
# vantreld logged in to it, sharing a folder, and nginx (sendfile on,
# tcp_nopush on) serving the same bytes, and compares the two; the file server
# harness (bench/fileserver_serve) on the same folder is a second row.
#   single    one download of the big file with curl from 127.0.0.1;
#   parallel  PARALLEL downloads of it at once, each from its own address
#             (127.0.0.2 and up, remote peers for the client): aggregate rate
#             and the server's CPU seconds per GiB (nginx: master and workers);
#   page      the client-info page over HTTP/1.0, one connection per request
#             (ab -c 16), against nginx serving the same bytes as a file;
#   memory    the harness's resident memory per idle connection (200);
#   pacing    the harness keeping maxusrband 2,000,000 with one 50 MB download
#             and maxband 2,000,000 with four downloads at once.
# The client's limits are the highest a person can set: connection type "User
# set", 9999 users at once, 999,999 k/s per user and in all (the Outgoing
# view's options go that far), 999 downloads per user. The limits pace only
# downloads to other computers, so they show in "parallel" and not in "single".
# Its downloads use the links the reference server's web site hands out to a
# signed-in user, each sealed for the address that asked for it.
# The sides take turns round after round; before the first round each side
# serves one untimed download (and the page once), so that no round pays for a
# cold read. Every figure is min / median / max over the rounds, with the
# median of the per-round ratios to nginx, and the load average before and
# after each section.
#
# Usage: bench/fileserver_bench.sh [--rounds N] [--size MIB] [--parallel N]
#                                  [--requests N] [--sections LIST] BUILD_DIR
#   --rounds N       rounds of each section (default 11)
#   --size MIB       size of the big file in MiB (default 512)
#   --parallel N     downloads at once in "parallel" (default 16)
#   --requests N     requests per ab run in "page" (default 20000)
#   --sections LIST  some of: single parallel page memory pacing (default all)
# A short run that only shows that everything works:
#   bench/fileserver_bench.sh --rounds 2 --size 8 --requests 200 build/default
set -euo pipefail

usage() { sed -n '28,36p' "$0" | sed 's/^# \{0,1\}//'; }
rounds=11
size_mib=512
parallel_n=16
requests=20000
sections="single parallel page memory pacing"
while [[ $# -gt 0 ]]; do
  case $1 in
    --rounds) rounds=${2:?}; shift 2 ;;
    --size) size_mib=${2:?}; shift 2 ;;
    --parallel) parallel_n=${2:?}; shift 2 ;;
    --requests) requests=${2:?}; shift 2 ;;
    --sections) sections=${2:?}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "unknown option $1" >&2; usage >&2; exit 2 ;;
    *) break ;;
  esac
done
[[ $# -eq 1 ]] || { usage >&2; exit 2; }
build=$1
for n in "$rounds" "$size_mib" "$parallel_n" "$requests"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "counts and sizes are whole numbers from 1" >&2; exit 2; }
done
((parallel_n <= 250)) || { echo "--parallel takes at most 250 (one address each)" >&2; exit 2; }
want() { [[ " $sections " == *" $1 "* ]]; }

server_bin="$build/server/vantrel-server"
client_bin="$build/src/headless/vantreld"
serve="$build/bench/fileserver_serve"
pages="$build/filedata.dat"
for need in "$server_bin" "$client_bin" "$serve" "$pages"; do
  [[ -e $need ]] || { echo "$need is missing: build vantrel-server vantreld fileserver_serve filedata" >&2; exit 1; }
done

work=$(mktemp -d /tmp/fileserver-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# started PID: a process of ours, stopped when the script ends. Should the
# script end without its traps (a signal that cannot be caught, or one that
# came at a moment bash lost it), a watcher stops those whose command line
# still names the work folder, so that nothing of this run goes on serving.
: > "$work/pids"
started() { pids+=("$1"); echo "$1" >> "$work/pids"; }
(
  trap '' INT TERM
  while kill -0 $$ 2>/dev/null; do sleep 1; done
  [[ -d $work ]] || exit 0
  while read -r p; do
    grep -qF "$work" "/proc/$p/cmdline" 2>/dev/null && kill "$p" 2>/dev/null
  done < "$work/pids"
  sleep 1
  rm -rf "$work"
) > /dev/null 2>&1 &

mkdir -p "$work/files" "$work/nginx/logs" "$work/server" "$work/client" "$work/config" "$work/pacing"
chmod 755 "$work" "$work/files"  # nginx workers drop their privileges
chmod 700 "$work/config"
big_bytes=$((size_mib << 20))
head -c "$big_bytes" /dev/urandom > "$work/files/big.bin"
cat "$work/files/big.bin" > /dev/null  # into the page cache

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
# wait_for FILE PATTERN PID: until FILE holds PATTERN, or the process ended.
wait_for() {
  for _ in $(seq 1 300); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    kill -0 "$3" 2>/dev/null || break
    sleep 0.1
  done
  echo "no \"$2\" in $1:" >&2
  cat "$1" >&2
  exit 1
}
# CPU seconds of a process and its children (nginx's workers).
cpu_seconds() {
  local all
  all=$(ps -o pid= --ppid "$1" | tr '\n' ' ')
  for p in "$1" $all; do cat "/proc/$p/stat" 2>/dev/null || true; done |
    awk -v hz="$(getconf CLK_TCK)" '{ s += $14 + $15 } END { printf "%.3f", s / hz }'
}

# --- nginx
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
nginx_pid=$!
started "$nginx_pid"

# --- the reference server, with one account for the client
user=bench
password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
umask 077
printf '%s\n' "$password" > "$work/client/password"
printf '%s' "$password" > "$work/client/password.raw"
printf '%s:%s\n' "$user" "$password" > "$work/server/users"
umask 022
"$server_bin" --db "$work/server/vantrel.db" --listen 127.0.0.1:0 --udp-port 0 \
  --add-user-file "$work/server/users" > "$work/server/server.log" 2>&1 &
server_pid=$!
started "$server_pid"
wait_for "$work/server/server.log" "listening on" "$server_pid"
server_port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/server/server.log" | head -1)
udp_port=$(sed -n 's|.*listening on .* and UDP port \([0-9]*\).*|\1|p' "$work/server/server.log" | head -1)
site="http://127.0.0.1:$server_port"

# --- vantreld, logged in and sharing the folder. The server hands out links
# only to a client that told it its port, so the port is picked here.
client_port=$(free_port)
export VANTREL_CONFIG_DIR=$work/config
export VANTREL_WEB_HOST=127.0.0.1:$server_port VANTREL_SIGNUP_HOST=127.0.0.1:$server_port
export VANTREL_SERVER_HOST=127.0.0.1 VANTREL_SERVER_UDP_PORT=$udp_port
# A login right after the last one ended may be refused for a few seconds
# (error 508): it is tried again.
start_client() {
  for _ in $(seq 1 20); do
    : > "$work/client/vantreld.out"
    "$client_bin" --home "$work/client" --user "$user" --password-file "$work/client/password" \
      --server "127.0.0.1:$server_port" --port "$client_port" --udp-port 0 --share "$work/files" \
      > "$work/client/vantreld.out" 2>&1 &
    client_pid=$!
    started "$client_pid"
    for _ in $(seq 1 300); do
      grep -q "^vantreld: sharing\|login failed" "$work/client/vantreld.out" && break
      kill -0 "$client_pid" 2>/dev/null || break
      sleep 0.1
    done
    grep -q "^vantreld: sharing" "$work/client/vantreld.out" && return 0
    grep -q "login failed: 508" "$work/client/vantreld.out" || break
    wait "$client_pid" 2>/dev/null || true
    sleep 1
  done
  echo "vantreld did not log in and share:" >&2
  cat "$work/client/vantreld.out" >&2
  exit 1
}
stop_client() { kill "$client_pid"; wait "$client_pid" 2>/dev/null || true; }
# The first start writes the settings; the limits a person can set go over
# them, and the second start runs with them.
start_client
stop_client
python3 - "$work/config/registry.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
(key,) = db.execute("SELECT key FROM reg_values WHERE fold = 'maxband'").fetchone()
limits = {"contype": 13, "maxusers": 9999, "maxband": 999999000, "maxusrband": 999999000, "maxperuser": 999}
for name, value in limits.items():
    db.execute("INSERT OR REPLACE INTO reg_values(key, fold, name, type, data) VALUES(?, ?, ?, 4, ?)",
               (key, name, name, value))
db.commit()
PY
start_client
# Sign in on the web site (the password from a file, never on a command line).
jar=$work/client/cookies
login_form=$(curl -s -c "$jar" -b "$jar" "$site/login.jsp")
form_fields=()
while read -r field; do form_fields+=(--data-urlencode "$field"); done < <(
  grep -o '<input type="hidden" name="[^"]*" value="[^"]*"' <<<"$login_form" |
    sed 's/.*name="\([^"]*\)" value="\([^"]*\)"/\1=\2/')
curl -s -c "$jar" -b "$jar" -o /dev/null "${form_fields[@]}" --data-urlencode "username=$user" \
  --data-urlencode "password@$work/client/password.raw" "$site/login.jsp"
# client_link ADDRESS: the big file's link, sealed for that address.
client_link() {
  local link
  link=$(curl -s --interface "$1" -b "$jar" "$site/search.jsp?q=big.bin" |
    grep -o 'href="http[^"]*/getfile/[^"]*"' | head -1 | sed 's/^href="//; s/"$//; s/&amp;/\&/g')
  [[ -n $link ]] || { echo "the web site gave $1 no link to big.bin" >&2; exit 1; }
  echo "$link"
}

# --- the harness on the same folder
"$serve" --dir "$work/files" --pages "$pages" --per-address 0 > "$work/serve.out" 2>&1 &
harness_pid=$!
started "$harness_pid"
wait_for "$work/serve.out" "^port " "$harness_pid"
harness_port=$(awk '/^port /{print $2}' "$work/serve.out")
hs="http://127.0.0.1:$harness_port"
ng="http://127.0.0.1:$nginx_port"
for _ in $(seq 1 100); do curl -s -o /dev/null "$ng/" && break; sleep 0.05; done

# summary NAME UNIT: reads "vantreld nginx harness" rows from stdin.
summary() {
  python3 -c '
import sys, statistics as st
name, unit = sys.argv[1], sys.argv[2]
rows = [tuple(map(float, l.split())) for l in sys.stdin if l.strip()]
f = lambda v: f"{min(v):.4g} / {st.median(v):.4g} / {max(v):.4g}"
print(f"{name}, {len(rows)} rounds, min / median / max in {unit}")
print(f"  nginx     {f([r[1] for r in rows])}")
for label, i in (("vantreld", 0), ("harness", 2)):
    # A short run can measure no CPU time at all for nginx (clock ticks).
    ratios = [r[i] / r[1] if r[1] else float("nan") for r in rows]
    print(f"  {label:9} {f([r[i] for r in rows])}; to nginx {f(ratios)} (median {st.median(ratios):.3f})")
' "$1" "$2"
}
# fetch_rate URL BYTES [curl args]: bytes/s of one download, which must be whole.
fetch_rate() {
  local url=$1 bytes=$2 out
  shift 2
  out=$(curl -s "$@" -o /dev/null -w '%{http_code} %{size_download} %{speed_download}' "$url")
  [[ ${out% *} == "200 $bytes" ]] || { echo "short download from $url: $out" >&2; exit 1; }
  echo "${out##* }"
}

client_url=$(client_link 127.0.0.1)
echo "file of $size_mib MiB; vantreld on port $client_port, nginx on $nginx_port, harness on $harness_port"
if want single; then
  echo "== one download; load average $(load)"
  # Untimed, so that no side's first round reads cold.
  fetch_rate "$client_url" "$big_bytes" > /dev/null
  fetch_rate "$ng/big.bin" "$big_bytes" > /dev/null
  fetch_rate "$hs/getfile/?fileid=1" "$big_bytes" > /dev/null
  for r in $(seq 1 "$rounds"); do
    a=$(fetch_rate "$client_url" "$big_bytes")
    b=$(fetch_rate "$ng/big.bin" "$big_bytes")
    c=$(fetch_rate "$hs/getfile/?fileid=1" "$big_bytes")
    echo "round $r: vantreld $a, nginx $b, harness $c B/s" >&2
    echo "$a $b $c"
  done | summary "one download" B/s
  echo "   load average after: $(load)"
fi

if want parallel; then
  echo "== $parallel_n downloads at once from 127.0.0.2 and up; load average $(load)"
  addresses=()
  client_urls=()
  for i in $(seq 2 $((parallel_n + 1))); do
    addresses+=("127.0.0.$i")
    client_urls+=("$(client_link "127.0.0.$i")")
  done
  # together SERVER_PID URL...: "GiB/s CPU-seconds-per-GiB" of one round.
  together() {
    local pid=$1 t0 t1 c0 c1 i bad=0 procs=()
    shift
    c0=$(cpu_seconds "$pid")
    t0=$(date +%s.%N)
    for i in "${!addresses[@]}"; do
      curl -s --interface "${addresses[$i]}" -o /dev/null -w '%{http_code} %{size_download}\n' \
        "${@:$((i + 1)):1}" > "$work/parallel.$i" &
      procs+=($!)
    done
    for p in "${procs[@]}"; do wait "$p" || bad=1; done
    t1=$(date +%s.%N)
    c1=$(cpu_seconds "$pid")
    for i in "${!addresses[@]}"; do
      [[ $(cat "$work/parallel.$i") == "200 $big_bytes" ]] || bad=1
    done
    ((bad == 0)) || { echo "a download of $* was not whole" >&2; exit 1; }
    python3 -c "g = $parallel_n * $big_bytes / 2**30; print(f'{g / ($t1 - $t0):.4g} {($c1 - $c0) / g:.4g}')"
  }
  nginx_urls=()
  harness_urls=()
  for _ in "${addresses[@]}"; do nginx_urls+=("$ng/big.bin"); harness_urls+=("$hs/getfile/?fileid=1"); done
  together "$client_pid" "${client_urls[@]}" > /dev/null
  together "$nginx_pid" "${nginx_urls[@]}" > /dev/null
  together "$harness_pid" "${harness_urls[@]}" > /dev/null
  for r in $(seq 1 "$rounds"); do
    x=$(together "$client_pid" "${client_urls[@]}"); read -r a ac <<<"$x"
    x=$(together "$nginx_pid" "${nginx_urls[@]}"); read -r b bc <<<"$x"
    x=$(together "$harness_pid" "${harness_urls[@]}"); read -r c cc <<<"$x"
    echo "round $r: vantreld $a GiB/s $ac s/GiB, nginx $b GiB/s $bc s/GiB, harness $c GiB/s $cc s/GiB" >&2
    echo "$a $b $c" >> "$work/parallel.rate"
    echo "$ac $bc $cc" >> "$work/parallel.cpu"
  done
  summary "$parallel_n downloads at once, aggregate" GiB/s < "$work/parallel.rate"
  summary "$parallel_n downloads at once, server CPU" "s per GiB" < "$work/parallel.cpu"
  echo "   load average after: $(load)"
fi

if want page; then
  client_page="http://127.0.0.1:$client_port/template/client-info_template.html?token=1\$127.0.0.1"
  harness_page="$hs/template/client-info_template.html?token=1\$127.0.0.1"
  curl -s -o "$work/files/template-page.html" "$client_page"
  page_bytes=$(stat -c %s "$work/files/template-page.html")
  echo "== client-info page ($page_bytes bytes), HTTP/1.0, one connection per request (ab -c 16 -n $requests); load average $(load)"
  # The harness renders its own client-info page, from its own facts. Both
  # pages show the users connected and the rate, which read longer under load
  # than for a single request (after the parallel section more so): what each
  # page is under ab -c 16 is the mean length of a short untimed run first.
  mean_bytes() {
    ab -c 16 -n 2000 "$1" 2>/dev/null |
      awk '/^Complete requests/{n=$3} /^HTML transferred/{b=$3} END{if (n) printf "%.1f", b / n}'
  }
  client_bytes=$(mean_bytes "$client_page")
  harness_bytes=$(mean_bytes "$harness_page")
  abrun() {  # URL PAGE_BYTES → requests/s; every answer must be the page
    local out page_bytes=$2
    out=$(ab -c 16 -n "$requests" "$1" 2>/dev/null)
    # The page counts the users connected and shows the rate, so its length
    # moves by a few bytes from run to run; a refusal or error page moves the
    # mean far more.
    if grep -q '^Non-2xx' <<<"$out" || ! grep -q 'Connect: 0, Receive: 0, Length: [0-9]*, Exceptions: 0\|^Failed requests: *0$' <<<"$out" ||
       ! awk -v want="$page_bytes" -v n_want="$requests" '/^Complete requests/{n=$3} /^HTML transferred/{b=$3}
          END{m=b/n; exit !(n == n_want && m > want - 8 && m < want + 8)}' <<<"$out"; then
      echo "answers that were not the page from $1:" >&2
      grep -E '^(Complete|Failed|Non-2xx|HTML transferred|   \()' <<<"$out" >&2
      exit 1
    fi
    awk '/Requests per second/{print $4}' <<<"$out"
  }
  curl -s -o /dev/null "$ng/template-page.html"
  for r in $(seq 1 "$rounds"); do
    a=$(abrun "$client_page" "$client_bytes")
    b=$(abrun "$ng/template-page.html" "$page_bytes")
    c=$(abrun "$harness_page" "$harness_bytes")
    echo "round $r: vantreld $a, nginx $b, harness $c req/s" >&2
    echo "$a $b $c"
  done | summary "client-info page" req/s
  echo "   load average after: $(load)"
fi

if want memory; then
  echo "== harness: resident memory per idle connection (200 connections)"
  python3 - "$harness_pid" "$harness_port" <<'PY'
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

want pacing || exit 0
# Files IDs follow name order: mid.bin 1, quarter.bin 2.
head -c $((50 * 1000 * 1000)) /dev/urandom > "$work/pacing/mid.bin"
head -c $((12500 * 1000)) /dev/urandom > "$work/pacing/quarter.bin"
# pace_summary NAME: reads "rate limit" rows from stdin.
pace_summary() {
  python3 -c '
import sys, statistics as st
rows = [tuple(map(float, l.split())) for l in sys.stdin if l.strip()]
a = [r[0] for r in rows]; ratios = [r[0] / r[1] for r in rows]
f = lambda v: f"{min(v):.4g} / {st.median(v):.4g} / {max(v):.4g}"
print(f"{sys.argv[1]}, {len(rows)} rounds: {f(a)} B/s; to the limit {f(ratios)}")
' "$1"
}
pacer() {  # extra args; sets pacer_pid and pacer_port
  "$serve" --dir "$work/pacing" --pages "$pages" "$@" > "$work/pacer.out" 2>&1 &
  pacer_pid=$!
  started "$pacer_pid"
  wait_for "$work/pacer.out" "^port " "$pacer_pid"
  pacer_port=$(awk '/^port /{print $2}' "$work/pacer.out")
}
echo "== harness pacing (from 127.0.0.2, a remote peer); load average $(load)"
pacer --maxusrband 2000000
for r in $(seq 1 "$rounds"); do
  rate=$(fetch_rate "http://127.0.0.1:$pacer_port/getfile/?fileid=1" 50000000 --interface 127.0.0.2)
  echo "$rate 2000000"
done | pace_summary "maxusrband 2000000, one 50 MB download"
kill "$pacer_pid"; wait "$pacer_pid" 2>/dev/null || true
pacer --maxband 2000000
for r in $(seq 1 "$rounds"); do
  t0=$(date +%s.%N)
  procs=()
  for _ in 1 2 3 4; do
    fetch_rate "http://127.0.0.1:$pacer_port/getfile/?fileid=2" 12500000 --interface 127.0.0.2 > /dev/null &
    procs+=($!)
  done
  for p in "${procs[@]}"; do wait "$p"; done
  t1=$(date +%s.%N)
  python3 -c "print(4 * 12500000 / ($t1 - $t0), 2000000)"
done | pace_summary "maxband 2000000, four downloads together"
kill "$pacer_pid"; wait "$pacer_pid" 2>/dev/null || true
echo "   load average after: $(load)"
