/* Takeuchi's function. */
#include <inttypes.h>
#include <stdio.h>

static int32_t tak(int32_t x, int32_t y, int32_t z)
{
    if (y < x)
        return tak(tak(x - 1, y, z), tak(y - 1, z, x), tak(z - 1, x, y));
    return z;
}

int main(void)
{
    for (int32_t i = 0; i < 4; i++)
        printf("%" PRId32 "\n", tak(24 - i, 16, 8 - i));
    return 0;
}
