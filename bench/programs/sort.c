/* Bubble sort of 200 pseudo-random numbers, 500 times, swapping through a
   function that takes two pointers; a checksum of each sorted array. */
#include <inttypes.h>
#include <stdio.h>

#define N 200

static void swap(int32_t *x, int32_t *y)
{
    int32_t tmp = *x;
    *x = *y;
    *y = tmp;
}

int main(void)
{
    int32_t a[N + 1]; /* a[1] .. a[N], as the array's bounds say */
    int32_t seed = 1;
    for (int round = 0; round < 500; round++) {
        for (int32_t i = 1; i <= N; i++) {
            seed = (seed * 75 + 74) % 65537;
            a[i] = seed;
        }
        for (int32_t i = N; i > 1; i--)
            for (int32_t j = 1; j < i; j++)
                if (a[j] > a[j + 1])
                    swap(&a[j], &a[j + 1]);
        int32_t sum = 0;
        for (int32_t i = 1; i <= N; i++) {
            if (i < N && a[i] > a[i + 1])
                printf("%" PRId32 "\n", -i);
            sum = (sum + a[i] * i) % 1000003;
        }
        printf("%" PRId32 "\n", sum);
    }
    return 0;
}
