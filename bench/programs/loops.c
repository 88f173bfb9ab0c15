/* Nested integer loops: a running sum, reduced modulo 1000003. */
#include <inttypes.h>
#include <stdio.h>

int main(void)
{
    const int32_t n = 300;
    int32_t s = 0;
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = 0; j < n; j++) {
            for (int32_t k = 0; k < n; k++)
                s = s + i * k + j;
            s %= 1000003;
        }
        if (i % 30 == 0)
            printf("%" PRId32 "\n", s);
    }
    printf("%" PRId32 "\n", s);
    return 0;
}
