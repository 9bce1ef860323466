#!/usr/bin/env bash
# The window on a real X server with a window manager, as a person meets it
# on two starts from fresh settings: the first start logs in and, on a desktop
# without a tray, says so once; Ctrl+Q ends the client; the second start comes
# back at the same place and says nothing about the tray. Screenshots of both
# starts land in SHOTS.
#
#   window_xvfb_test.sh BUILD SHOTS
#
# Needs Xvfb, openbox, xdotool and ImageMagick's import (scripts/packages.txt);
# fails with the name of what is missing. Every wait is bounded; whatever this
# test started is killed by PID at the end.
set -uo pipefail
build=$1 shots=$2
client_bin=$build/src/ui/vantrel-client
server_bin=$build/server/vantrel-server

for tool in Xvfb openbox xdotool import python3; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (see scripts/packages.txt)"; exit 1; }
done

source "$(dirname "$0")/script_support.sh"
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/home/log.txt; do [[ -f $f ]] && { echo "--- $f:"; tail -20 "$f"; }; done
  [[ -n ${DISPLAY:-} ]] && import -window root "$shots/xvfb-failure.png" 2>/dev/null && echo "screenshot: $shots/xvfb-failure.png"
  exit 1
}
mkdir -p "$shots"

# An X server on a display number it picks itself, so that runs side by side never meet.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.out" 2>&1 &
pids+=($!)
exec 3>&-
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -1 "$work/display")
openbox --sm-disable >"$work/openbox.out" 2>&1 &
pids+=($!)
wait_for 10 xdotool getdisplaygeometry >/dev/null 2>&1 || fail "the X server does not answer"
sleep 1  # the window manager takes over the screen

read -r port udp < <(python3 -c '
import socket
s = [socket.socket(socket.AF_INET, t) for t in (socket.SOCK_STREAM, socket.SOCK_DGRAM)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
printf 'vantrel-demo\n' >"$work/password"
"$server_bin" --db "$work/server.db" --listen "127.0.0.1:$port" --udp-port "$udp" --add-user demo:vantrel-demo \
  --demo-catalogue >"$work/server.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q listening "$work/server.out" || fail "the server did not start"

unset QT_QPA_PLATFORM
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime HOME=$work VANTREL_CONFIG_DIR=$work/config VANTREL_HOME=$work/home/
export VANTREL_SERVER_PORT=$port VANTREL_SERVER_UDP_PORT=$udp

main_window() { xdotool search --onlyvisible --name '^Vantrel File Manager$' 2>/dev/null | head -1; }
tray_note() { xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -1; }
position() { xdotool getwindowgeometry "$1" | sed -n 's/ *Position: \([0-9]*,[0-9]*\).*/\1/p'; }

# One start: logs in, shows the window; $1 names the screenshot.
start() {
  "$client_bin" /start --user demo --password-file "$work/password" --port 0 --udp-port 0 >"$work/$1.out" 2>&1 &
  client=$!
  pids+=($client)
  wait_for 30 grep -q "logged in as demo" "$work/$1.out" || fail "$1: the window did not log in"
  wait_for 10 test -n "$(main_window)" || fail "$1: no window \"Vantrel File Manager\" on the screen"
  window=$(main_window)
  sleep 1  # the tray note comes shortly after the window
}
# Ctrl+Q in the window ends the client.
quit() {
  xdotool windowactivate --sync "$window" >/dev/null 2>&1
  xdotool key ctrl+q
  wait_for 15 gone "$client" || fail "Ctrl+Q did not end the client"
}

start first-start
note=$(tray_note)
[[ -n $note ]] || fail "first start: no note that the desktop has no tray"
import -window root "$shots/xvfb-first-start.png"
xdotool windowactivate --sync "$note" >/dev/null 2>&1
xdotool key Return
wait_for 5 test -z "$(tray_note)" || fail "the tray note did not close"
placed=$(position "$window")
quit

start second-start
import -window root "$shots/xvfb-second-start.png"
[[ -z $(tray_note) ]] || fail "second start: the tray note came again"
again=$(position "$window")
[[ $again == "$placed" ]] || fail "the window moved from $placed to $again between two starts"
quit
echo "PASS: logged in twice, the tray note once, the window stayed at $placed, Ctrl+Q ended the client"
