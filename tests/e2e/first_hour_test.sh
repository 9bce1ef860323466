#!/usr/bin/env bash
# The window client as a new user meets it, started as a person would, on Qt's
# offscreen platform, each time from a fresh settings folder, against the
# reference server on ports that are free:
#
#   first_hour_test.sh CASE BUILD
#   fresh-client    with nothing set but the deployment's server port, the
#                   client finds the server and logs in without any setting
#   second-person   a second client on the same computer (its own settings
#                   root, same ports set) takes the next free ports, says so in
#                   its log, and serves on them; a second start on the first
#                   client's settings brings that one forward and ends
#
# Every wait is bounded; whatever this test started is killed by PID at the end.
set -uo pipefail
case_name=$1 build=$2
client_bin=$build/src/ui/vantrel-client
server_bin=$build/server/vantrel-server

source "$(dirname "$0")/script_support.sh"
fail() {
  echo "FAIL ($case_name): $*"
  for f in "$work"/*.out "$work"/*/log.txt; do [[ -f $f ]] && { echo "--- $f:"; tail -20 "$f"; }; done
  exit 1
}
free_ports() {
  python3 -c '
import socket, sys
kinds = {"t": socket.SOCK_STREAM, "u": socket.SOCK_DGRAM}
s = [socket.socket(socket.AF_INET, kinds[k]) for k in sys.argv[1]]
for x in s: x.bind(("0.0.0.0", 0))
print(*[x.getsockname()[1] for x in s])' "$1"
}
# Stops a client as Ctrl-C would and checks that it ends.
stop() {
  kill -INT "$1" 2>/dev/null
  wait_for 15 gone "$1" || fail "the client $1 did not end within 15 s"
}

read -r port udp < <(free_ports tu) || fail "python3 is needed to find free ports"
printf 'vantrel-demo\n' >"$work/demo.pw"
printf 'second pw\n' >"$work/zoe.pw"
"$server_bin" --db "$work/server.db" --listen "127.0.0.1:$port" --udp-port "$udp" \
  --add-user demo:vantrel-demo --add-user "zoe.dupont:second pw" >"$work/server.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q listening "$work/server.out" || fail "the server did not start"

mkdir -m 700 "$work/runtime"
# What every client sees: the offscreen display and this test's runtime folder.
# Only the deployment's ports say where the server is.
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime HOME=$work
export VANTREL_SERVER_PORT=$port VANTREL_SERVER_UDP_PORT=$udp
unset VANTREL_SERVER_HOST VANTREL_WEB_HOST VANTREL_SIGNUP_HOST

# Starts a client: start NAME USER [more arguments], its output in NAME.out.
start() {
  local name=$1 user=$2; shift 2
  mkdir -p "$work/$name"
  VANTREL_CONFIG_DIR=$work/config VANTREL_HOME=$work/$name/ "$client_bin" /start --user "$user" \
    --password-file "$work/$( [[ $user == demo ]] && echo demo || echo zoe ).pw" "$@" >"$work/$name.out" 2>&1 &
  pids+=($!)
  last_pid=$!
}
logged_in() { grep -q "vantrel-client: logged in as $2" "$work/$1.out"; }
served_port() { sed -n 's|.*file server on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/$1.out" | head -1; }
pages_answer() {
  curl -s -o /dev/null -w '%{http_code}' --max-time 5 \
    "http://127.0.0.1:$1/template/client-info_template.html?token=1\$127.0.0.1" | grep -q 200
}

case $case_name in
  fresh-client)
    start first demo
    first=$last_pid
    wait_for 30 logged_in first demo || fail "a fresh client did not log in to the deployment's server"
    pages_answer "$(served_port first)" || fail "the client's pages do not answer"
    stop "$first"
    ;;
  second-person)
    read -r tcp_set udp_set < <(free_ports tu)
    start first demo --port "$tcp_set" --udp-port "$udp_set"
    first=$last_pid
    wait_for 30 logged_in first demo || fail "the first client did not log in"
    [[ $(served_port first) == "$tcp_set" ]] || fail "the first client does not serve on the port set, $tcp_set"
    # The second person: settings of their own under another root, the same ports set.
    start second zoe.dupont --port "$tcp_set" --udp-port "$udp_set" /reg "'Zoë & Co #2'"
    second=$last_pid
    wait_for 30 logged_in second zoe.dupont || fail "the second client did not log in"
    moved=$(served_port second)
    [[ -n $moved && $moved != "$tcp_set" ]] || fail "the second client did not move off port $tcp_set"
    pages_answer "$moved" || fail "the second client's pages do not answer on port $moved"
    pages_answer "$tcp_set" || fail "the first client's pages stopped answering"
    grep -q "Port $tcp_set is in use (another client on this computer?): the file server takes port $moved instead" \
      "$work/second/log.txt" || fail "the second client's log does not say which port it took"
    wait_for 10 grep -q "UDP port $udp_set is in use" "$work/second/log.txt" ||
      fail "the second client's log does not say which UDP port it took"
    grep -q "Could not initialize" "$work/second.out" "$work/second/log.txt" && fail "a port failure was reported"
    # A second start on the first person's settings brings that window forward and ends.
    start again demo
    again=$last_pid
    wait_for 10 gone "$again" || fail "a second start on the same settings did not end"
    grep -q "already runs for these settings" "$work/again.out" || fail "the second start did not say why it ended"
    kill -0 "$first" 2>/dev/null || fail "the first client ended"
    stop "$second"
    stop "$first"
    ;;
  *) fail "unknown case" ;;
esac
echo "PASS ($case_name)"
