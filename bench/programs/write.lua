-- Eight million lines of output.
local write = io.write
local x = 0
for _ = 1, 8000000 do
  x = x + 7919
  if x >= 1000003 then x = x - 1000003 end
  write(x - 500000, "\n")
end
