#!/usr/bin/env bash
# Times the same 1,000,000-pass nested integer loop in the template
# interpreter (the BM_NestedLoops benchmark) and in Lua 5.4, in alternating
# rounds, and prints min / median / max of each side's processor time per
# loop with the median of the per-round ratios and the load average (both
# sides count CPU time, so other work on the machine skews them less). The
# goal is a ratio of at most 1.5. bench/templates_vs_lua_instructions.sh counts
# the instructions of both sides instead, a figure the load does not move.
#   bench/templates_vs_lua.sh [BUILD_DIR] [ROUNDS]   (default: build/default 7)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/default}
rounds=${2:-7}
bench="$build/bench/bench_templates"
lua=${LUA:-/usr/bin/lua5.4}
[[ -x "$bench" ]] || { echo "no $bench; build the target bench_templates first" >&2; exit 1; }
[[ -x "$lua" ]] || { echo "no $lua" >&2; exit 1; }

ours() {  # ms of processor time per loop, averaged over the benchmark's iterations
  "$bench" --benchmark_filter='^BM_NestedLoops$' --benchmark_format=csv 2>/dev/null |
    awk -F, '/^"BM_NestedLoops"/ { print $4 }'
}

lua_loop() {  # ms of processor time per loop, the median of five
  "$lua" "$here/nested_loop.lua" time
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for r in $(seq 1 "$rounds"); do
  a=$(ours)
  b=$(lua_loop)
  echo "round $r: template interpreter ${a} ms, lua 5.4 ${b} ms" >&2
  echo "$a $b"
done | python3 -c '
import sys, statistics as st
rows = [tuple(map(float, l.split())) for l in sys.stdin if l.strip()]
a = [r[0] for r in rows]; b = [r[1] for r in rows]
ratios = [x / y for x, y in rows]
f = lambda v: f"{min(v):.3f} / {st.median(v):.3f} / {max(v):.3f}"
print(f"nested loop ({len(rows)} rounds, min / median / max): template interpreter {f(a)} ms; lua 5.4 {f(b)} ms")
print(f"ratio {f(ratios)} (median of per-round ratios {st.median(ratios):.2f})")
'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
