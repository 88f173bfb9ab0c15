-- Products of 12x12 matrices held in flat arrays, reduced modulo 1009.
local n = 12
local a, b, c = {}, {}, {}
for i = 0, n * n - 1 do
  a[i + 1] = i % 7
  b[i + 1] = i % 5 + 1
  c[i + 1] = 0
end
for round = 0, 5999 do
  for i = 0, n - 1 do
    for j = 0, n - 1 do
      local s = 0
      for k = 0, n - 1 do
        s = s + a[i * n + k + 1] * b[k * n + j + 1]
      end
      c[i * n + j + 1] = s % 1009
    end
  end
  for i = 1, n * n do a[i] = c[i] end
  if round % 300 == 0 then
    local trace = 0
    for i = 0, n - 1 do trace = trace + a[i * n + i + 1] end
    print(trace)
  end
end
local s = 0
for i = 0, n * n - 1 do s = s + a[i + 1] * (i + 1) end
print(s)
