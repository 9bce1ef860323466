#!/usr/bin/env bash
# Port mapping against a real home router, on a small network of its own made
# of network namespaces and veth pairs, on addresses that exist only there:
#
#   home      Alice's vantreld, 192.168.77.2, behind the router
#   router    miniupnpd (nftables back end, NAT-PMP and UPnP) and NAT between
#             its private side 192.168.77.1 and its public side 45.77.0.1
#   internet  the reference server and Bob's vantreld, 45.77.0.2
#
#   port_mapping_netns_test.sh BUILD
#
# 1. NAT-PMP: Alice logs in and maps her ports; Bob finds her file in the
#    catalogue and downloads it byte for byte through the router; at Alice's
#    exit the mapping is gone from the router.
# 2. UPnP (NAT-PMP switched off on the router): the same again, then the
#    firewall check reaches both ports through the router.
# 3. With the setting off (--no-port-mapping) the firewall check reports the
#    TCP port closed and says to forward the ports by hand.
#
# Needs root for the namespaces; where they cannot be made it says so and
# skips (exit 77). Every wait is bounded; the processes it started are killed
# by PID and the namespaces removed whatever the outcome.
set -uo pipefail
build=$1
vantreld=$build/src/headless/vantreld
server_bin=$build/server/vantrel-server
filedata=$build/filedata.dat

source "$(dirname "$0")/script_support.sh"
tag=vtpm$$$RANDOM
home=$tag-home router=$tag-router net=$tag-net
# Whatever still runs in this test's own namespaces was started by it.
cleanup_namespaces() {
  local ns pid
  for ns in "$home" "$router" "$net"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
}
trap 'cleanup; cleanup_namespaces' EXIT
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/*/log.txt; do [[ -f $f ]] && { echo "--- $f:"; tail -25 "$f"; }; done
  echo "--- router ruleset:"; ip netns exec "$router" nft list ruleset 2>&1 | tail -40
  exit 1
}
skip() { echo "SKIP: $*"; exit 77; }

[[ $(id -u) == 0 ]] || skip "network namespaces need root"
ip netns add "$home" 2>"$work/netns.err" || skip "network namespaces cannot be made here: $(cat "$work/netns.err")"
ip netns add "$router" || skip "network namespaces cannot be made here"
ip netns add "$net" || skip "network namespaces cannot be made here"
for tool in /usr/sbin/miniupnpd nft; do command -v "$tool" >/dev/null || fail "$tool is missing (scripts/packages.txt)"; done
[[ -x $vantreld && -x $server_bin && -f $filedata ]] || fail "build vantreld, vantrel-server and filedata first"

in_router() { ip netns exec "$router" "$@"; }

# The wires: home <-> router (private side), router (public side) <-> internet.
ip -n "$home" link add lan0 type veth peer name lan netns "$router" || fail "cannot make a veth pair"
ip -n "$router" link add wan type veth peer name wan0 netns "$net" || fail "cannot make a veth pair"
for ns in "$home" "$router" "$net"; do ip -n "$ns" link set lo up; done
ip -n "$home" addr add 192.168.77.2/24 dev lan0 && ip -n "$home" link set lan0 up
ip -n "$home" route add default via 192.168.77.1
ip -n "$router" addr add 192.168.77.1/24 dev lan && ip -n "$router" link set lan up
ip -n "$router" addr add 45.77.0.1/24 dev wan && ip -n "$router" link set wan up
ip -n "$net" addr add 45.77.0.2/24 dev wan0 && ip -n "$net" link set wan0 up
in_router sysctl -qw net.ipv4.ip_forward=1 || fail "cannot switch forwarding on in the router"

# The router's firewall: NAT out of the home, nothing in unless miniupnpd's
# chains let it (their names are set in its configuration below).
cat >"$work/router.nft" <<'EOF'
table inet filter {
  chain forward {
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    iifname "lan" oifname "wan" accept
    jump miniupnpd
  }
  chain miniupnpd {
  }
  chain prerouting {
    type nat hook prerouting priority -100; policy accept;
    jump prerouting_miniupnpd
  }
  chain postrouting {
    type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd
    oifname "wan" masquerade
  }
  chain prerouting_miniupnpd {
  }
  chain postrouting_miniupnpd {
  }
}
EOF
in_router nft -f "$work/router.nft" || fail "cannot load the router's nftables rules"

# start_router NATPMP(yes|no): miniupnpd in the router with its own
# configuration and PID file, in the foreground.
router_pid=
start_router() {
  cat >"$work/miniupnpd.conf" <<EOF
ext_ifname=wan
listening_ip=lan
http_port=0
enable_natpmp=$1
enable_upnp=yes
secure_mode=yes
system_uptime=yes
uuid=3f8a2c1e-7d5b-4e60-9a21-$(printf '%012d' $$)
upnp_table_name=filter
upnp_nat_table_name=filter
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
allow 1024-65535 192.168.77.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
EOF
  : >"$work/router.out"
  # Started without a shell function in between, so that $! is its own PID.
  ip netns exec "$router" /usr/sbin/miniupnpd -d -f "$work/miniupnpd.conf" -P "$work/miniupnpd.pid" \
    >"$work/router.out" 2>&1 &
  router_pid=$!
  pids+=($router_pid)
  wait_for 10 grep -q "HTTP listening on port" "$work/router.out" || fail "miniupnpd did not start"
}
stop_router() {
  kill -TERM "$router_pid" 2>/dev/null
  wait_for 10 gone "$router_pid" || fail "miniupnpd did not end"
}
# Whether the router forwards its public TCP port 8323 to Alice.
# (Read whole first: grep -q ending early would fail the pipe under pipefail.)
forwarded() {
  local chain
  chain=$(in_router nft list chain inet filter prerouting_miniupnpd 2>/dev/null)
  [[ $chain == *"dnat ip to 192.168.77.2:8323"* ]]
}

# The central server on the internet side, with a file to share for Alice.
printf 'alice pw\n' >"$work/alice.pw"
printf 'bob pw\n' >"$work/bob.pw"
ip netns exec "$net" "$server_bin" --db "$work/server.db" --listen 45.77.0.2:7001 --udp-port 7110 \
  --add-user "alice:alice pw" --add-user "bob:bob pw" >"$work/server.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q listening "$work/server.out" || fail "the server did not start"
mkdir -p "$work/alice" "$work/bob" "$work/shared" "$work/runtime"
chmod 700 "$work/runtime"
cp "$filedata" "$work/alice/" && cp "$filedata" "$work/bob/"
file="$work/shared/Zoë & Co #1+ live.bin"
head -c 2500000 /dev/urandom >"$file"
export XDG_RUNTIME_DIR=$work/runtime HOME=$work

# alice RUN-NAME [more options]: Alice's vantreld in the home, in the background.
alice_pid=
alice() {
  local name=$1; shift
  ip netns exec "$home" env VANTREL_CONFIG_DIR="$work/alice-config" "$vantreld" --home "$work/alice" --user alice \
    --password-file "$work/alice.pw" --server 45.77.0.2:7001 --port 8323 --udp-port 8324 "$@" \
    >"$work/$name.out" 2>&1 &
  alice_pid=$!
  pids+=($alice_pid)
}
stop_alice() {
  kill -TERM "$alice_pid" 2>/dev/null
  wait_for 20 gone "$alice_pid" || fail "Alice's client did not end within 20 s"
}
# bob ARGS...: Bob's vantreld on the internet side, in the foreground.
bob() {
  sleep 1.1  # a login's salt is the clock in seconds; the server refuses one seen before
  ip netns exec "$net" env VANTREL_CONFIG_DIR="$work/bob-config" timeout 60 "$vantreld" --home "$work/bob" --user bob \
    --password-file "$work/bob.pw" --server 45.77.0.2:7001 --port 0 --udp-port 0 "$@"
}
# Bob finds Alice's file and downloads it into DIR; its bytes must be hers.
download_through_router() {
  local dir=$1 id
  id=$(bob --search live 2>/dev/null | awk -F'\t' '$3 ~ /live\.bin$/ {print $1; exit}')
  [[ -n $id ]] || fail "Bob does not find Alice's file in the catalogue"
  mkdir -p "$dir"
  bob --download "$id" --to "$dir" --exit-when-done >"$dir.out" 2>&1 || fail "Bob's download failed: $(tail -5 "$dir.out")"
  cmp -s "$file" "$dir/$(basename "$file")" || fail "the downloaded file differs from Alice's"
}

# 1. NAT-PMP.
start_router yes
alice natpmp --share "$file" -v
wait_for 40 grep -q "vantreld: sharing 1 files" "$work/natpmp.out" || fail "Alice did not log in and share"
grep -q "Router: NAT-PMP gateway 192.168.77.1 maps TCP port 8323 of 45.77.0.1 to port 8323 of this computer" \
  "$work/natpmp.out" || fail "Alice's log does not say the router mapped her TCP port"
grep -q "Router: NAT-PMP gateway 192.168.77.1 maps UDP port 8324" "$work/natpmp.out" || fail "UDP port not mapped"
forwarded || fail "the router forwards nothing to Alice"
# Her personal group lets everyone download, so that Bob need not join it.
python3 -c 'import sqlite3,sys; c=sqlite3.connect(sys.argv[1], timeout=10); c.execute("UPDATE groups SET perm=2 WHERE personal=1"); c.commit()' \
  "$work/server.db" || fail "cannot open Alice's group to downloads"
download_through_router "$work/bob-natpmp"
stop_alice
grep -q "Router: NAT-PMP gateway 192.168.77.1 no longer forwards TCP port 8323" "$work/natpmp.out" ||
  fail "Alice's log does not say the mapping was removed"
forwarded && fail "the mapping is still on the router after Alice's exit"
stop_router

# 2. UPnP.
start_router no
alice upnp -v
wait_for 40 grep -q "vantreld: logged in as alice" "$work/upnp.out" || fail "Alice did not log in (UPnP)"
grep -q "Router: UPnP gateway 192.168.77.1 maps TCP port 8323 of 45.77.0.1 to port 8323 of this computer" \
  "$work/upnp.out" || fail "Alice's log does not say the UPnP router mapped her TCP port"
forwarded || fail "the UPnP router forwards nothing to Alice"
download_through_router "$work/bob-upnp"
stop_alice
grep -q "Router: UPnP gateway 192.168.77.1 no longer forwards TCP port 8323" "$work/upnp.out" ||
  fail "Alice's log does not say the UPnP mapping was removed"
forwarded && fail "the UPnP mapping is still on the router after Alice's exit"

sleep 1.1
alice check-open --check-firewall
wait_for 60 gone "$alice_pid" || fail "the firewall check did not end"
wait "$alice_pid"; status=$?
[[ $status == 0 ]] || fail "the firewall check through the router did not reach both ports (exit $status)"
grep -q "Router: UPnP gateway 192.168.77.1 forwards TCP port 8323 and UDP port 8324 of 45.77.0.1 to this computer" \
  "$work/check-open.out" || fail "the report's Router line does not say what was mapped"
grep -q "TCP: Success!" "$work/check-open.out" || fail "the report does not say the TCP port was reached"
forwarded && fail "the mapping is still on the router after the check"

# 3. The setting off.
sleep 1.1
alice check-closed --no-port-mapping --check-firewall
wait_for 60 gone "$alice_pid" || fail "the firewall check did not end"
wait "$alice_pid"; status=$?
[[ $status == 7 ]] || fail "the firewall check without mapping should end with 7, not $status"
grep -q "Router: automatic port mapping is off; forward TCP port 8323 and UDP port 8324 by hand" \
  "$work/check-closed.out" || fail "the report's Router line does not say mapping is off"
grep -q "TCP Error 14: No connection from the server: the port is closed or blocked" "$work/check-closed.out" ||
  fail "the report does not say the TCP port is closed"
stop_router
for report in check-open check-closed; do
  echo "--- $report:"
  grep -E "^(Router|TCP|UDP)[: ]" "$work/$report.out"
done
echo "PASS: mapped with NAT-PMP and UPnP, downloaded through the router, unmapped at exit, closed without mapping"
