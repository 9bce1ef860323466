#!/usr/bin/env bash
# scripts/cluster as an operator tries it: the whole cluster on free ports and
# a data folder of the test's own. A client shares through haproxy, another
# finds the file through the third host, the standby holds the file's row
# (streaming replication), a host killed with SIGKILL leaves the site up
# through haproxy, the hosts left serve again after the primary restarts
# under them, and SIGTERM stops every process the script started.
#
#   cluster_script_test.sh REPO BUILD
#
# Exit 77 (skipped) without PostgreSQL or haproxy. Every wait is bounded; on
# failure every process the script named is killed by its PID.
set -uo pipefail
repo=$1 build=$2
# shellcheck source=tests/e2e/script_support.sh
source "$(dirname "$0")/script_support.sh"

pg_bin=""
for d in /usr/lib/postgresql/*/bin; do [[ -x $d/pg_basebackup ]] && pg_bin=$d; done
if [[ -z $pg_bin ]] || { ! command -v haproxy >/dev/null && [[ ! -x /usr/sbin/haproxy ]]; }; then
  echo "PostgreSQL or haproxy is not installed (scripts/install-deps installs them)" >&2
  exit 1
fi

# As root PostgreSQL runs as nobody, who must reach the data folder in here.
chmod 711 "$work"
out=$work/cluster.out
script_pid=""
fail() {
  echo "FAIL: $*"
  echo "--- scripts/cluster said:"; cat "$out"
  for f in "$work"/data/logs/*.log; do [[ -f $f ]] && { echo "--- $f:"; tail -15 "$f"; }; done
  [[ -n $script_pid ]] && kill -TERM "$script_pid" 2>/dev/null && wait_for 30 gone "$script_pid"
  # Whatever it did not stop, by the PIDs it printed.
  for pid in $(named_pids); do kill -KILL "$pid" 2>/dev/null; done
  exit 1
}
# Every PID the script printed: hosts, PostgreSQL servers, haproxy.
named_pids() { grep -o 'pid [0-9]*' "$out" 2>/dev/null | awk '{print $2}'; }

# Five ports in a row that nobody uses on any of the cluster's addresses.
free_base() {
  python3 - <<'EOF'
import random, socket
for _ in range(200):
    base = random.randint(20000, 60000)
    ok = True
    for port in range(base, base + 5):
        for last in (1, 2, 3, 4):
            for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
                s = socket.socket(socket.AF_INET, kind)
                try:
                    s.bind(("127.0.0.%d" % last, port))
                except OSError:
                    ok = False
                finally:
                    s.close()
    if ok:
        print(base)
        break
EOF
}
base=$(free_base)
[[ -n $base ]] || fail "no five free ports found"

"$repo/scripts/cluster" --base-port "$base" --data "$work/data" --hosts 3 --build-dir "$build" >"$out" 2>&1 &
script_pid=$!
pids+=("$script_pid")
wait_for 150 grep -q "^cluster ready" "$out" || fail "the cluster did not say it is ready"

# The site and the clients' port through haproxy, and each host on its own address.
site=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$base/")
[[ $site == 200 ]] || fail "the web site through haproxy answered $site"
# Each host answers on its own address, and all three send one asker to the
# same host of the three.
named=""
for host in 2 3 4; do
  page=$(curl -s "http://127.0.0.$host:$base/server.html")
  grep -q "&server=127.0.0.[234]&" <<<"$page" || fail "host 127.0.0.$host does not name a host: $page"
  [[ -z $named || $page == "$named" ]] || fail "host 127.0.0.$host names another host than the others: $page"
  named=$page
done
# Its health checks pass on all three (the first ones within a few seconds).
hosts_up() { [[ $(curl -s "http://127.0.0.1:$((base + 1))/;csv" | grep -c '^vantrel_hosts,host[0-9],.*,UP,.*L7OK') == 3 ]]; }
wait_for 20 hosts_up || fail "haproxy does not see three hosts up: $(curl -s "http://127.0.0.1:$((base + 1))/;csv")"

# A person shares through haproxy; another finds the file through host 3.
shared=$work/shared
mkdir -p "$shared" "$work/alice" "$work/bob"
printf 'one cluster, three hosts\n' >"$shared/Crème & Brûlée #3+1.txt"
printf 'vantrel-demo\n' >"$work/alice/password"
printf "bob's password 7\n" >"$work/bob/password"
chmod 600 "$work/alice/password" "$work/bob/password"
key=$work/data/server.key
primary="host=127.0.0.1 port=$((base + 2)) user=vantrel dbname=vantrel"
"$build/server/vantrel-server" admin --db "$primary" --key "$key" user-add bob --password-file "$work/bob/password" \
  >/dev/null || fail "admin user-add through the primary failed"
cp "$build/filedata.dat" "$work/alice/" && cp "$build/filedata.dat" "$work/bob/"
VANTREL_CONFIG_DIR=$work/alice VANTREL_SERVER_UDP_PORT=$((base + 4)) "$build/src/headless/vantreld" --home "$work/alice" \
  --user demo --password-file "$work/alice/password" --server "127.0.0.1:$base" --port 0 --udp-port 0 \
  --share "$shared" >"$work/alice.out" 2>&1 &
alice=$!
pids+=("$alice")
wait_for 60 grep -q "sharing 1 files" "$work/alice.out" || { cat "$work/alice.out"; fail "the sharing client did not share"; }
found=$(VANTREL_CONFIG_DIR=$work/bob VANTREL_SERVER_UDP_PORT=$((base + 4)) timeout 60 "$build/src/headless/vantreld" \
  --home "$work/bob" --user bob --password-file "$work/bob/password" --server "127.0.0.4:$base" --port 0 --udp-port 0 \
  --search "brûlée" 2>&1)
grep -q $'\tCrème & Brûlée #3+1.txt\t' <<<"$found" || fail "host 3 did not find the file shared through haproxy: $found"

# The standby follows the primary: the file's row arrives there.
on_standby() {
  [[ $("$pg_bin/psql" -X -q -t -A -h 127.0.0.1 -p $((base + 3)) -U vantrel -d vantrel \
    -c "SELECT count(*) FROM files WHERE name = 'Crème & Brûlée #3+1.txt'" 2>/dev/null) == 1 ]]
}
wait_for 20 on_standby || fail "the standby does not hold the shared file's row"
kill -TERM "$alice"; wait_for 10 gone "$alice" || fail "the sharing client did not stop"

# A host killed outright: the script says so, haproxy takes it out, the site stays.
host2=$(sed -n 's/^  server host 2 .*(pid \([0-9]*\),.*/\1/p' "$out")
[[ -n $host2 ]] || fail "no PID printed for host 2"
kill -KILL "$host2"
wait_for 10 grep -q "server host 2 (pid $host2) has ended" "$out" || fail "the script did not notice that host 2 ended"
host_down() { curl -s "http://127.0.0.1:$((base + 1))/;csv" | grep -q '^vantrel_hosts,host2,.*,DOWN,'; }
wait_for 20 host_down || fail "haproxy still sends to the killed host"
for _ in 1 2 3 4 5; do
  site=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$base/")
  [[ $site == 200 ]] || fail "the web site through haproxy answered $site with host 2 gone"
done

# The primary restarted under the hosts: both that are left find it again by
# themselves, and a client logs in and searches through each.
as_owner() {
  if [[ $(id -u) == 0 ]]; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; else "$@"; fi
}
as_owner "$pg_bin/pg_ctl" -D "$work/data/postgres/primary" -l "$work/data/postgres/primary.log" -m fast -w -t 60 \
  restart >/dev/null || fail "pg_ctl restart of the primary failed"
finds_through() {
  VANTREL_CONFIG_DIR=$work/bob VANTREL_SERVER_UDP_PORT=$((base + 4)) timeout 60 "$build/src/headless/vantreld" \
    --home "$work/bob" --user bob --password-file "$work/bob/password" --server "127.0.0.$1:$base" --port 0 \
    --udp-port 0 --search "brûlée" 2>&1 | grep -q $'\tCrème & Brûlée #3+1.txt\t'
}
for host in 2 4; do
  wait_for 30 finds_through "$host" || fail "host 127.0.0.$host did not serve again after the primary restarted"
done
grep -q "database connection restored" "$work/data/logs/host1.log" || fail "host 1 did not log its reconnection"

# SIGTERM (as Ctrl-C): every process it started ends, and so does the script.
mapfile -t started < <(named_pids)
[[ ${#started[@]} -ge 6 ]] || fail "the script named ${#started[@]} processes, not 6"
kill -TERM "$script_pid"
wait_for 40 gone "$script_pid" || fail "the script did not end on SIGTERM"
for pid in "${started[@]}"; do alive "$pid" && fail "process $pid was left running"; done
grep -q "Stopped. The data stays in" "$out" || fail "the script did not say it stopped"
echo "PASS"
