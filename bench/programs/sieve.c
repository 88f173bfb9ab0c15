/* Segmented sieve of Eratosthenes: the primes below five million, counted
   in segments of 500 with the base primes found by trial division. */
#include <inttypes.h>
#include <stdio.h>

int main(void)
{
    const int32_t n = 5000000, size = 500;
    int32_t primes[400], seg[500];

    int32_t np = 0;
    for (int32_t p = 2; p * p <= n; p++) {
        int prime = 1;
        for (int32_t i = 0; i < np; i++) {
            if (p % primes[i] == 0) {
                prime = 0;
                break;
            }
        }
        if (prime)
            primes[np++] = p;
    }
    printf("%" PRId32 "\n", np);

    int32_t count = 0;
    for (int32_t lo = 0; lo < n; lo += size) {
        int32_t hi = lo + size - 1;
        if (hi >= n)
            hi = n - 1;
        for (int32_t i = 0; i < size; i++)
            seg[i] = 1;
        if (lo == 0)
            seg[0] = seg[1] = 0;
        for (int32_t i = 0; i < np; i++) {
            int32_t p = primes[i];
            if (p * p > hi)
                break;
            int32_t m = (lo + p - 1) / p * p;
            if (m < p * p)
                m = p * p;
            for (; m <= hi; m += p)
                seg[m - lo] = 0;
        }
        for (int32_t m = lo; m <= hi; m++)
            count += seg[m - lo];
        if ((hi + 1) % 500000 == 0)
            printf("%" PRId32 "\n", count);
    }
    printf("%" PRId32 "\n", count);
    return 0;
}
