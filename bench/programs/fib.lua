-- Recursive Fibonacci.
local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
for n = 25, 33 do print(fib(n)) end
