#!/usr/bin/env bash
# Times the same 1,000,000-pass nested integer loop in the template
# interpreter (the BM_NestedLoops benchmark) and in Lua 5.4, side by side,
# and prints the ratio of their processor times (both sides count CPU time,
# so other work on the machine does not skew it). The goal is at most 5.
#   bench/templates_vs_lua.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail
build=${1:-build/default}
bench="$build/bench/bench_templates"
lua=${LUA:-/usr/bin/lua5.4}
[[ -x "$bench" ]] || { echo "no $bench; build the target bench_templates first" >&2; exit 1; }
[[ -x "$lua" ]] || { echo "no $lua" >&2; exit 1; }

ours_ms=$("$bench" --benchmark_filter='^BM_NestedLoops$' --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, '/_median/ { print $4 }')

lua_ms=$("$lua" - <<'LUA'
local function run()
  local x = 0
  local i = 0
  while i < 1000 do
    local j = 0
    while j < 1000 do
      x = (x + i * j) & 0xFFFFFFFF
      j = j + 1
    end
    i = i + 1
  end
  return x
end
local times = {}
for r = 1, 5 do
  local t = os.clock()
  run()
  times[r] = (os.clock() - t) * 1000
end
table.sort(times)
print(string.format("%.3f", times[3]))
LUA
)

echo "template interpreter: ${ours_ms} ms"
echo "lua 5.4:              ${lua_ms} ms"
awk -v a="$ours_ms" -v b="$lua_ms" 'BEGIN { printf "ratio:                %.2f\n", a / b }'
