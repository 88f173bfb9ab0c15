-- Reads a count and that many numbers, each after the same prompt as the
-- compiled program writes; sums them and hashes them.
local read, write = io.read, io.write
local prompt = "\144\148\130\240\147\252\151\205\130\181\130\196\137\186\130\179\130\162>"
write(prompt)
local n = read("*n")
local sum, hash, low, high, negative = 0, 0, 0, 0, 0
local i = 0
while i < n do
  write(prompt)
  local x = read("*n")
  sum = sum + x
  if sum > 1000000000 then sum = sum - 1000000000 end
  if sum < -1000000000 then sum = sum + 1000000000 end
  if x < low then low = x end
  if x > high then high = x end
  if x < 0 then negative = negative + 1 end
  hash = (hash * 31 + x + 100000) % 1000003
  i = i + 1
end
write(i, "\n", sum, "\n", low, "\n", high, "\n", negative, "\n", hash, "\n")
