/* Recursive Fibonacci. */
#include <inttypes.h>
#include <stdio.h>

static int32_t fib(int32_t n)
{
    if (n < 2)
        return n;
    return fib(n - 1) + fib(n - 2);
}

int main(void)
{
    for (int32_t n = 25; n <= 33; n++)
        printf("%" PRId32 "\n", fib(n));
    return 0;
}
