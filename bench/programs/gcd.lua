-- Euclid's algorithm over all pairs below 1200, then the longest Collatz
-- chain below 100000.
local floor = math.floor
local function gcd(a, b)
  while b ~= 0 do
    a, b = b, a % b
  end
  return a
end
local function collatz(x)
  local c = 0
  while x ~= 1 do
    if x % 2 == 0 then x = floor(x / 2) else x = 3 * x + 1 end
    c = c + 1
  end
  return c
end

local n = 1200
local total = 0
for i = 1, n do
  for j = 1, n do total = total + gcd(i, j) end
  if i % 100 == 0 then print(total) end
end

local best, start = 0, 0
total = 0
for i = 1, 100000 - 1 do
  local steps = collatz(i)
  total = total + steps
  if steps > best then best, start = steps, i end
end
print(total)
print(start)
print(best)
