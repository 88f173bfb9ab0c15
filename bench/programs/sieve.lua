-- Segmented sieve of Eratosthenes: the primes below five million, counted
-- in segments of 500 with the base primes found by trial division.
local floor = math.floor
local n, size = 5000000, 500

local primes, np = {}, 0
local p = 2
while p * p <= n do
  local prime = true
  for i = 1, np do
    if p % primes[i] == 0 then prime = false; break end
  end
  if prime then np = np + 1; primes[np] = p end
  p = p + 1
end
print(np)

local seg = {}
local count = 0
local lo = 0
while lo < n do
  local hi = lo + size - 1
  if hi >= n then hi = n - 1 end
  for i = 1, size do seg[i] = 1 end
  if lo == 0 then seg[1] = 0; seg[2] = 0 end
  for i = 1, np do
    local q = primes[i]
    if q * q > hi then break end
    local m = floor((lo + q - 1) / q) * q
    if m < q * q then m = q * q end
    for x = m - lo + 1, hi - lo + 1, q do seg[x] = 0 end
  end
  for x = 1, hi - lo + 1 do count = count + seg[x] end
  if (hi + 1) % 500000 == 0 then print(count) end
  lo = lo + size
end
print(count)
