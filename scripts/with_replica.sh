#!/bin/sh
# SPDX-License-Identifier: MIT
# with_replica.sh COMMAND [ARGS]...
# Runs COMMAND against a PostgreSQL primary and a hot standby of its own: the
# primary made with initdb in a temporary folder, the standby copied from it
# with pg_basebackup and following it by streaming replication, both on free
# ports of 127.0.0.1 and owned by an unprivileged user (nobody when we run as
# root). COMMAND finds them in VANTREL_TEST_POSTGRES and VANTREL_TEST_REPLICA
# (libpq connection strings), and stops and starts the standby with the
# scripts named in VANTREL_TEST_REPLICA_STOP and VANTREL_TEST_REPLICA_START.
# Both servers are stopped by their PIDs and the folder removed when COMMAND
# ends, whatever its outcome; the exit status is COMMAND's.
set -u

bindir=""
for d in /usr/lib/postgresql/*/bin; do [ -x "$d/pg_basebackup" ] && bindir=$d; done
if [ -z "$bindir" ]; then
  echo "with_replica.sh: no PostgreSQL server found (apt-get install postgresql-15)" >&2
  exit 1
fi

work=$(mktemp -d /tmp/vantrel-replica-XXXXXX) || exit 1
as_owner() {
  if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; else "$@"; fi
}
stop_server() {
  pid=$(head -n 1 "$1/postmaster.pid" 2>/dev/null)
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -INT "$pid" 2>/dev/null  # a fast shutdown
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  kill -KILL "$pid" 2>/dev/null
}
cleanup() {
  stop_server "$work/standby"
  stop_server "$work/primary"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ "$(id -u)" = 0 ] && chown nobody:nogroup "$work"
if ! as_owner "$bindir/initdb" -D "$work/primary" -U vantrel -A trust -E UTF8 --no-locale --no-sync >"$work/initdb.log" 2>&1; then
  echo "with_replica.sh: initdb failed:" >&2
  cat "$work/initdb.log" >&2
  exit 1
fi

# Each on a port nobody listens on: a few tried at random; the server itself
# says whether it could bind one.
start_on_free_port() {  # DIR LOG EXTRA-OPTIONS; prints the port
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    p=$(( 20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000 ))
    if as_owner "$bindir/pg_ctl" -D "$1" -l "$2" -w -t 30 start -o \
        "-c listen_addresses=127.0.0.1 -c port=$p -c unix_socket_directories=$work -c fsync=off \
         -c synchronous_commit=off -c full_page_writes=off -c max_connections=100 -c shared_buffers=32MB $3" \
        >/dev/null 2>&1; then
      echo "$p"
      return 0
    fi
  done
  return 1
}
primary_port=$(start_on_free_port "$work/primary" "$work/primary.log" "-c wal_level=replica -c max_wal_senders=5") || {
  echo "with_replica.sh: the primary did not start:" >&2; cat "$work/primary.log" >&2; exit 1; }
if ! as_owner "$bindir/pg_basebackup" -h 127.0.0.1 -p "$primary_port" -U vantrel -D "$work/standby" -R -X stream \
    -c fast >"$work/basebackup.log" 2>&1; then
  echo "with_replica.sh: pg_basebackup failed:" >&2; cat "$work/basebackup.log" >&2; exit 1
fi
standby_port=$(start_on_free_port "$work/standby" "$work/standby.log" "-c hot_standby=on") || {
  echo "with_replica.sh: the standby did not start:" >&2; cat "$work/standby.log" >&2; exit 1; }
i=0
until [ "$("$bindir/psql" -X -q -t -A -h 127.0.0.1 -p "$primary_port" -U vantrel -d postgres \
          -c "SELECT count(*) FROM pg_stat_replication WHERE state = 'streaming'" 2>/dev/null)" = 1 ]; do
  i=$((i + 1))
  [ $i -gt 300 ] && { echo "with_replica.sh: the standby does not follow the primary" >&2; cat "$work/standby.log" >&2; exit 1; }
  sleep 0.1
done

# The standby's own stop and start (pg_ctl restart starts it again with the
# options it last had, its port among them).
cat >"$work/standby-stop" <<EOS
#!/bin/sh
exec $( [ "$(id -u)" = 0 ] && echo "setpriv --reuid=nobody --regid=nogroup --clear-groups --" ) "$bindir/pg_ctl" -D "$work/standby" -m fast -w -t 30 stop >/dev/null
EOS
cat >"$work/standby-start" <<EOS
#!/bin/sh
exec $( [ "$(id -u)" = 0 ] && echo "setpriv --reuid=nobody --regid=nogroup --clear-groups --" ) "$bindir/pg_ctl" -D "$work/standby" -l "$work/standby.log" -w -t 30 restart >/dev/null 2>&1
EOS
chmod 755 "$work/standby-stop" "$work/standby-start"

VANTREL_TEST_POSTGRES="host=127.0.0.1 port=$primary_port user=vantrel dbname=postgres"
VANTREL_TEST_REPLICA="host=127.0.0.1 port=$standby_port user=vantrel dbname=postgres"
VANTREL_TEST_REPLICA_STOP=$work/standby-stop
VANTREL_TEST_REPLICA_START=$work/standby-start
export VANTREL_TEST_POSTGRES VANTREL_TEST_REPLICA VANTREL_TEST_REPLICA_STOP VANTREL_TEST_REPLICA_START
"$@"
