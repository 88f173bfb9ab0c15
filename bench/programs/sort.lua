-- Bubble sort of 200 pseudo-random numbers, 500 times, swapping through a
-- procedure; a checksum of each sorted array.
local n = 200
local a = {}
local function swap(t, i, j)
  local tmp = t[i]
  t[i] = t[j]
  t[j] = tmp
end
local seed = 1
for round = 1, 500 do
  for i = 1, n do
    seed = (seed * 75 + 74) % 65537
    a[i] = seed
  end
  for i = n, 2, -1 do
    for j = 1, i - 1 do
      if a[j] > a[j + 1] then swap(a, j, j + 1) end
    end
  end
  local sum = 0
  for i = 1, n do
    if i < n and a[i] > a[i + 1] then print(-i) end
    sum = (sum + a[i] * i) % 1000003
  end
  print(sum)
end
