#!/usr/bin/env bash
# scripts/run as a new user starts it, from a build folder reached through a
# symbolic link, on ports that are free: it must reach the logged-in state and
# end with both of its programs.
#
#   run_script_test.sh CASE REPO BUILD
#   window-ctrl-c   a display: the window logs in; Ctrl-C (SIGINT to the
#                   terminal's process group) stops the window and the server
#   window-exit     a display: the window ends (as by Exit); the script stops
#                   the server and ends by itself
#   headless        --headless beside a display: vantreld logs in; Ctrl-C stops both
#
# The window runs on Qt's offscreen platform with DISPLAY set, which is how the
# script sees a desktop. Every wait is bounded; on failure everything this test
# started is killed by its process group.
set -uo pipefail
case_name=$1 repo=$2 build=$3

work=$(mktemp -d)
pgid=""
fail() {
  echo "FAIL ($case_name): $*"
  echo "--- scripts/run said:"; cat "$work/run.out" 2>/dev/null
  for f in "$work"/demo/client/*.out "$work"/demo/server/server.log; do
    [[ -f $f ]] && { echo "--- $f:"; tail -20 "$f"; }
  done
  exit 1
}
cleanup() {
  [[ -n $pgid ]] && kill -KILL -- "-$pgid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

free_ports() {
  python3 -c '
import socket
s = [socket.socket(socket.AF_INET, t) for t in (socket.SOCK_STREAM, socket.SOCK_DGRAM, socket.SOCK_STREAM)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])'
}
read -r port udp client_port < <(free_ports) || fail "python3 is needed to find free ports"

# Waits up to $1 seconds for the command to succeed.
wait_for() {
  local seconds=$1; shift
  for ((i = 0; i < seconds * 10; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! alive "$1"; }
# The children of the script with the program name in their command line.
child_running() {
  local name=$1 pid
  for pid in $(pgrep -P "$pgid"); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "$name" && { echo "$pid"; return 0; }
  done
  return 1
}

ln -s "$build" "$work/build-link"
args=()
env_display=(DISPLAY=:vantrel-test QT_QPA_PLATFORM=offscreen)
want_client=vantrel-client
if [[ $case_name == headless ]]; then
  args=(--headless)
  want_client=vantreld
fi
mkdir -m 700 "$work/runtime"
env "${env_display[@]}" XDG_RUNTIME_DIR="$work/runtime" HOME="$work" VANTREL_DEMO_DIR="$work/demo" \
  VANTREL_BUILD_DIR="$work/build-link" VANTREL_RUN_PORT="$port" VANTREL_RUN_UDP_PORT="$udp" \
  VANTREL_RUN_CLIENT_PORT="$client_port" setsid "$repo/scripts/run" "${args[@]}" >"$work/run.out" 2>&1 &
pgid=$!

wait_for 45 grep -q "Press Ctrl-C to stop both" "$work/run.out" || fail "no logged-in state within 45 s"
grep -q "cannot stat" "$work/run.out" && fail "the linked build folder was not followed"
client=$(child_running "$want_client") || fail "$want_client is not running"
server=$(child_running vantrel-server) || fail "vantrel-server is not running"
if [[ $case_name != headless ]]; then
  grep -q "is logged in as demo" "$work/run.out" || fail "the script does not say that the window is logged in"
  grep -q "vantrel-client: logged in as demo" "$work/demo/client/window.out" || fail "the window did not log in"
fi
# The client's pages answer where the script says they are: the port it was
# given, or the next free one when another program took that one meanwhile
# (the free ports above are only free when they are looked at).
shown=$(sed -n "s|.*The client's own pages: *http://127.0.0.1:\([0-9]*\)/.*|\1|p" "$work/run.out" | head -1)
[[ -n $shown ]] || fail "the script does not show the client's pages"
((shown >= client_port && shown < client_port + 20)) || fail "the client's pages are on port $shown, not $client_port or just above"
curl -s -o /dev/null -w '%{http_code}' --max-time 5 \
  "http://127.0.0.1:$shown/template/client-info_template.html?token=1\$127.0.0.1" | grep -q 200 ||
  fail "the client's pages do not answer on port $shown"

case $case_name in
  window-exit) kill -TERM "$client" ;;  # the client ends as through Exit
  *) kill -INT -- "-$pgid" ;;           # Ctrl-C in the terminal
esac
wait_for 20 gone "$pgid" || fail "scripts/run did not end within 20 s"
wait_for 5 gone "$client" || fail "$want_client still runs"
wait_for 5 gone "$server" || fail "vantrel-server still runs"
grep -q "Stopped. Your data stays in" "$work/run.out" || fail "the script did not say it stopped"
pgid=""
echo "PASS ($case_name)"
