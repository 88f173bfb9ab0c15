/* Euclid's algorithm over all pairs below 1200, then the longest Collatz
   chain below 100000. */
#include <inttypes.h>
#include <stdio.h>

static int32_t gcd(int32_t a, int32_t b)
{
    while (b != 0) {
        int32_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

static int32_t collatz(int32_t x)
{
    int32_t c = 0;
    while (x != 1) {
        if (x % 2 == 0)
            x = x / 2;
        else
            x = 3 * x + 1;
        c++;
    }
    return c;
}

int main(void)
{
    int32_t n = 1200, total = 0;
    for (int32_t i = 1; i <= n; i++) {
        for (int32_t j = 1; j <= n; j++)
            total += gcd(i, j);
        if (i % 100 == 0)
            printf("%" PRId32 "\n", total);
    }

    int32_t best = 0, start = 0;
    total = 0;
    for (int32_t i = 1; i < 100000; i++) {
        int32_t steps = collatz(i);
        total += steps;
        if (steps > best) {
            best = steps;
            start = i;
        }
    }
    printf("%" PRId32 "\n%" PRId32 "\n%" PRId32 "\n", total, start, best);
    return 0;
}
