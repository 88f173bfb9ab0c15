/* Procedures three levels deep, the innermost updating variables of every
   enclosing level.  C has no nested functions: the variables that inner
   shares with middle and outer live at file scope, as the main program's
   do (neither outer nor middle is recursive, so one copy of each is all
   they ever need). */
#include <inttypes.h>
#include <stdio.h>

static int32_t total, calls; /* the main program's */
static int32_t n, acc;       /* outer's */
static int32_t m, width;     /* middle's */

static void inner(int32_t k)
{
    int32_t x = k + m + n;
    acc += x;
    width++;
    total += x / 7;
    calls++;
}

static void middle(int32_t m_)
{
    m = m_;
    width = 0;
    for (int32_t j = 0; j < m; j++)
        inner(j);
    acc = (acc - width) % 1000003;
}

static void outer(int32_t n_)
{
    n = n_;
    acc = 0;
    for (int32_t i = 0; i < n; i++)
        middle(i / 3 + 5);
    total = (total + acc) % 1000003;
}

int main(void)
{
    for (int32_t round = 0; round < 40; round++) {
        outer(1200 + round * 10);
        printf("%" PRId32 "\n", total);
    }
    printf("%" PRId32 "\n", calls);
    return 0;
}
