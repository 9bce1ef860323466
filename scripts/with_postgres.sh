#!/bin/sh
# SPDX-License-Identifier: MIT
# with_postgres.sh COMMAND [ARGS]...
# Runs COMMAND against a PostgreSQL server of its own: a cluster made with
# initdb in a temporary folder, owned by an unprivileged user (nobody when we
# run as root: the server refuses to run as root), listening on a free port of
# 127.0.0.1. COMMAND finds it in VANTREL_TEST_POSTGRES, a libpq connection
# string. The server is stopped by its PID and the folder removed when COMMAND
# ends, whatever its outcome; the exit status is COMMAND's.
#
# The server is tuned for tests (no fsync); VANTREL_POSTGRES_OPTIONS adds
# settings after those ("-c fsync=on -c full_page_writes=on" for measurements).
# With VANTREL_POSTGRES_DIR the cluster lives in that folder instead, made on
# first use and kept afterwards (a benchmark's database filled ahead of time).
set -u

bindir=""
for d in /usr/lib/postgresql/*/bin; do [ -x "$d/initdb" ] && bindir=$d; done
if [ -z "$bindir" ]; then
  echo "with_postgres.sh: no PostgreSQL server found (apt-get install postgresql-15)" >&2
  exit 1
fi

keep=${VANTREL_POSTGRES_DIR:-}
if [ -n "$keep" ]; then
  work=$keep
  mkdir -p "$work" || exit 1
else
  work=$(mktemp -d /tmp/vantrel-pg-XXXXXX) || exit 1
fi
pid=""
as_owner() {
  if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; else "$@"; fi
}
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -INT "$pid" 2>/dev/null  # a fast shutdown
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    kill -KILL "$pid" 2>/dev/null
  fi
  [ -z "$keep" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ "$(id -u)" = 0 ] && chown nobody:nogroup "$work"
if [ -f "$work/data/PG_VERSION" ]; then
  :
elif ! as_owner "$bindir/initdb" -D "$work/data" -U vantrel -A trust -E UTF8 --no-locale --no-sync >"$work/initdb.log" 2>&1; then
  echo "with_postgres.sh: initdb failed:" >&2
  cat "$work/initdb.log" >&2
  exit 1
fi

# A port nobody listens on: try a few at random; the server itself says
# whether it could bind one.
started=""
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  port=$(( 20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000 ))
  if as_owner "$bindir/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 30 start -o \
      "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$work -c fsync=off \
       -c synchronous_commit=off -c full_page_writes=off -c max_connections=300 -c shared_buffers=64MB \
       ${VANTREL_POSTGRES_OPTIONS:-}" \
      >/dev/null 2>&1; then
    started=yes
    break
  fi
done
pid=$(head -n 1 "$work/data/postmaster.pid" 2>/dev/null)
if [ -z "$started" ] || [ -z "$pid" ]; then
  echo "with_postgres.sh: the PostgreSQL server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
fi

VANTREL_TEST_POSTGRES="host=127.0.0.1 port=$port user=vantrel dbname=postgres"
export VANTREL_TEST_POSTGRES
"$@"
