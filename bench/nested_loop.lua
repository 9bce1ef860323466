-- The nested integer loop of the template benchmark BM_NestedLoops, in Lua 5.4.
--   lua5.4 nested_loop.lua N      runs it N times (for counting instructions)
--   lua5.4 nested_loop.lua time   prints the median of five runs' processor ms
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

if arg[1] == "time" then
  local times = {}
  for r = 1, 5 do
    local t = os.clock()
    run()
    times[r] = (os.clock() - t) * 1000
  end
  table.sort(times)
  print(string.format("%.3f", times[3]))
else
  for _ = 1, tonumber(arg[1]) do run() end
end
