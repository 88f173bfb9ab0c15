/* Products of 12 x 12 matrices held in flat arrays, reduced modulo 1009. */
#include <inttypes.h>
#include <stdio.h>

#define N 12

int main(void)
{
    int32_t a[N * N], b[N * N], c[N * N];
    for (int32_t i = 0; i < N * N; i++) {
        a[i] = i % 7;
        b[i] = i % 5 + 1;
    }
    for (int32_t round = 0; round < 6000; round++) {
        for (int32_t i = 0; i < N; i++) {
            for (int32_t j = 0; j < N; j++) {
                int32_t s = 0;
                for (int32_t k = 0; k < N; k++)
                    s += a[i * N + k] * b[k * N + j];
                c[i * N + j] = s % 1009;
            }
        }
        for (int32_t i = 0; i < N * N; i++)
            a[i] = c[i];
        if (round % 300 == 0) {
            int32_t trace = 0;
            for (int32_t i = 0; i < N; i++)
                trace += a[i * N + i];
            printf("%" PRId32 "\n", trace);
        }
    }
    int32_t s = 0;
    for (int32_t i = 0; i < N * N; i++)
        s += a[i] * (i + 1);
    printf("%" PRId32 "\n", s);
    return 0;
}
