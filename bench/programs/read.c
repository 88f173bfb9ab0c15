/* Reads a count and that many numbers, each after the same prompt as the
   compiled program writes (code page 932 bytes); sums them and hashes them. */
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

static const char prompt[] =
    "\x90\x94\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2>";

static int32_t read_number(void)
{
    int32_t x;
    fputs(prompt, stdout);
    if (scanf("%" SCNd32, &x) != 1) {
        fprintf(stderr, "read: a number expected\n");
        exit(1);
    }
    return x;
}

int main(void)
{
    int32_t n = read_number();
    int32_t sum = 0, hash = 0, low = 0, high = 0, negative = 0, i;
    for (i = 0; i < n; i++) {
        int32_t x = read_number();
        sum += x;
        if (sum > 1000000000)
            sum -= 1000000000;
        if (sum < -1000000000)
            sum += 1000000000;
        if (x < low)
            low = x;
        if (x > high)
            high = x;
        if (x < 0)
            negative++;
        hash = (hash * 31 + x + 100000) % 1000003;
    }
    printf("%" PRId32 "\n%" PRId32 "\n%" PRId32 "\n%" PRId32 "\n%" PRId32 "\n%" PRId32 "\n",
           i, sum, low, high, negative, hash);
    return 0;
}
