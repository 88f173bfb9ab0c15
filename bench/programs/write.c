/* Eight million lines of output. */
#include <inttypes.h>
#include <stdio.h>

int main(void)
{
    int32_t x = 0;
    for (int32_t i = 0; i < 8000000; i++) {
        x += 7919;
        if (x >= 1000003)
            x -= 1000003;
        printf("%" PRId32 "\n", x - 500000);
    }
    return 0;
}
