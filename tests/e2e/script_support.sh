# Helpers of the whole-program test scripts; sourced, not run.
#   pids        the processes the test started: killed whatever the outcome
#   work        the test's folder: removed at the end
#   wait_for S CMD...   waits up to S seconds for CMD to succeed
pids=()
work=$(mktemp -d)
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
wait_for() {
  local seconds=$1; shift
  for ((i = 0; i < seconds * 10; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! alive "$1"; }
