// hotfx_passes MODE PASSES: one whole run of hotfx against the quiet stand-in, for valgrind.
// Two runs that differ only in PASSES differ only by the extra passes, so the difference of
// their counts divided by the difference of PASSES is the cost of one pass.
#include <stdio.h>
#include <stdlib.h>

#include "loop.h"

int main(int argc, char* argv[])
{
    if (argc != 3 || !run_hotfx(argv[1], atol(argv[2]))) {
        fprintf(stderr, "usage: %s both|none|reload|watch|inputs|passes|sound|osc|listen PASSES\n", argv[0]);
        return 2;
    }
    return 0;
}
