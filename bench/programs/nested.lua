-- Functions nested three deep, the innermost updating variables of every
-- enclosing level.
local floor = math.floor
local total, calls = 0, 0
local function outer(n)
  local acc = 0
  local function middle(m)
    local width = 0
    local function inner(k)
      local x = k + m + n
      acc = acc + x
      width = width + 1
      total = total + floor(x / 7)
      calls = calls + 1
    end
    for j = 0, m - 1 do inner(j) end
    acc = (acc - width) % 1000003
  end
  for i = 0, n - 1 do middle(floor(i / 3) + 5) end
  total = (total + acc) % 1000003
end
for round = 0, 39 do
  outer(1200 + round * 10)
  print(total)
end
print(calls)
