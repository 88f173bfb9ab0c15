-- Nested integer loops: a running sum, reduced modulo 1000003.
local n = 300
local s = 0
for i = 0, n - 1 do
  for j = 0, n - 1 do
    for k = 0, n - 1 do
      s = s + i * k + j
    end
    s = s % 1000003
  end
  if i % 30 == 0 then print(s) end
end
print(s)
