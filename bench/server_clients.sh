#!/bin/sh
# SPDX-License-Identifier: MIT
# bench/server_clients.sh BUILD_DIR sqlite|postgres PROCESSES CLIENTS [bench_server_clients run options]
# Fills a fresh database (as many users as the largest CLIENTS,
# $VANTREL_BENCH_FILES files, 1,000,000 by default), then for each count in
# PROCESSES (a comma-separated list: "1,2"; more than one needs postgres)
# starts that many vantrel-server processes on it, runs bench_server_clients
# for each count in CLIENTS ("10000,100000") and stops them. For postgres,
# scripts/with_postgres.sh starts a server of its own, here with fsync on.
# With VANTREL_BENCH_KEEP=DIR the database (the SQLite file, or the PostgreSQL
# cluster) is kept in DIR and filled only once for the same counts, so that
# later runs go straight to measuring; remove DIR when done.
set -eu
build=${1:?usage: server_clients.sh BUILD_DIR sqlite\|postgres PROCESSES CLIENTS [options]}
backend=$2
procs=$3
clients=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
keep=${VANTREL_BENCH_KEEP:-}
if [ "$backend" = postgres ] && [ -z "${VANTREL_TEST_POSTGRES:-}" ]; then
  [ -n "$keep" ] && VANTREL_POSTGRES_DIR="$keep/postgres" && export VANTREL_POSTGRES_DIR
  VANTREL_POSTGRES_OPTIONS="-c fsync=on -c full_page_writes=on -c shared_buffers=1GB -c max_wal_size=4GB ${VANTREL_POSTGRES_OPTIONS:-}" \
    exec "$here/../scripts/with_postgres.sh" "$here/server_clients.sh" "$build" "$backend" "$procs" "$clients" "$@"
fi
if [ "$backend" = sqlite ] && [ "$procs" != 1 ]; then
  echo "several processes need postgres" >&2
  exit 2
fi
work=$(mktemp -d /tmp/vantrel-clients-XXXXXX)
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  for p in $pids; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

store=$work
[ -n "$keep" ] && store=$keep && mkdir -p "$store"
db="$store/load.db"
[ "$backend" = postgres ] && db="$VANTREL_TEST_POSTGRES"
key="$store/load.key"
most=0
for c in $(echo "$clients" | tr ',' ' '); do [ "$c" -gt "$most" ] && most=$c; done
filled="$store/prepared-$backend"
# A database filled for as many clients or more, and as many files, serves.
if [ -n "$keep" ] && [ -f "$filled" ] && [ "$(head -n 1 "$filled" | cut -d' ' -f1)" -ge "$most" ] &&
   [ "$(head -n 1 "$filled" | cut -d' ' -f2)" = "${VANTREL_BENCH_FILES:-1000000}" ]; then
  echo "reusing the database filled for $(head -n 1 "$filled" | cut -d' ' -f1) clients and ${VANTREL_BENCH_FILES:-1000000} files"
  sed 1d "$filled" >"$work/prepare"
else
  "$build/bench/bench_server_clients" prepare --db "$db" --key "$key" --clients "$most" \
    --files "${VANTREL_BENCH_FILES:-1000000}" | tee "$work/prepare"
  if [ -n "$keep" ]; then
    { echo "$most ${VANTREL_BENCH_FILES:-1000000}"; cat "$work/prepare"; } >"$filled"
  fi
fi
first=$(sed -n 's/.*directories \([0-9]*\)\.\..*/\1/p' "$work/prepare")
group=$(sed -n 's/^group \([0-9]*\),.*/\1/p' "$work/prepare")

for count in $(echo "$procs" | tr ',' ' '); do
  "$build/bench/bench_server_clients" reset --db "$db" --key "$key"
  [ "$backend" = sqlite ] && cat "$db" >/dev/null  # into the page cache, as a running server has it
  servers=""
  pids=""
  i=0
  while [ "$i" -lt "$count" ]; do
    "$build/server/vantrel-server" --db "$db" --key "$key" --listen 127.0.0.1:0 --udp-port 0 \
      >"$work/out$i" 2>"$work/err$i" &
    pids="$pids $!"
    tries=0
    until grep -q listening "$work/out$i" 2>/dev/null; do
      tries=$((tries + 1))
      if [ $tries -gt 300 ]; then echo "server $i did not start:"; cat "$work/err$i"; exit 1; fi
      sleep 0.1
    done
    line=$(cat "$work/out$i")
    http=$(echo "$line" | sed 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/')
    udp=$(echo "$line" | sed 's/.*UDP port \([0-9]*\).*/\1/')
    servers="$servers --server $http:$udp"
    i=$((i + 1))
  done
  for c in $(echo "$clients" | tr ',' ' '); do
    echo "== $backend, $count process(es), $c clients; load average $(cut -d' ' -f1-3 /proc/loadavg)"
    # shellcheck disable=SC2086
    "$build/bench/bench_server_clients" run $servers --clients "$c" --first-directory "$first" --group "$group" "$@"
  done
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  for p in $pids; do wait "$p" 2>/dev/null || true; done
  pids=""
done
