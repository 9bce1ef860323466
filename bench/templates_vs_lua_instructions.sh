#!/usr/bin/env bash
# Counts the instructions of one pass of the 1,000,000-step nested integer loop
# (the BM_NestedLoops benchmark) in the template interpreter and in Lua 5.4
# under callgrind: a figure that, unlike processor time, does not move with the
# load of the machine. Ours counts only inside RunTemplate; Lua's is the
# difference between running the loop once and not at all in the same script.
#   bench/templates_vs_lua_instructions.sh [BUILD_DIR]   (default: build/default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/default}
bench="$build/bench/bench_templates"
lua=${LUA:-/usr/bin/lua5.4}
[[ -x "$bench" ]] || { echo "no $bench; build the target bench_templates first" >&2; exit 1; }
[[ -x "$lua" ]] || { echo "no $lua" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "no valgrind" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

collected() {  # the instructions callgrind counted in the run of "$@"
  valgrind --tool=callgrind --callgrind-out-file="$work/out" "$@" 2>&1 >/dev/null |
    awk '/Collected :/ { print $NF }'
}

# One iteration: the benchmark's first one takes longer than this minimum time.
ours=$(collected --toggle-collect='vantrel::templates::RunTemplate*' "$bench" \
  --benchmark_filter='^BM_NestedLoops$' --benchmark_min_time=0.001)
lua_once=$(collected "$lua" "$here/nested_loop.lua" 1)
lua_none=$(collected "$lua" "$here/nested_loop.lua" 0)
python3 - "$ours" "$lua_once" "$lua_none" <<'PY'
import sys
ours, once, none = map(int, sys.argv[1:])
lua = once - none
print(f"nested loop, instructions of one pass: template interpreter {ours:,}; lua 5.4 {lua:,}; ratio {ours / lua:.2f}")
PY
