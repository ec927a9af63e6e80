// Time per pass of hotfx's main loop (drain of an empty queue, then render_frame) against the
// quiet stand-in. Each batch is one whole run of hotfx_main; start-up and shutdown are spread
// over the batch's passes, which number in the millions once the timing settles.
#include <benchmark/benchmark.h>

#include "loop.h"

static void pass(benchmark::State& state, const char* mode)
{
    while (state.KeepRunningBatch(state.max_iterations))
        run_hotfx(mode, state.max_iterations);
}

BENCHMARK_CAPTURE(pass, both_shaders, "both");
BENCHMARK_CAPTURE(pass, no_shaders, "none");
BENCHMARK_CAPTURE(pass, reload_every_frame, "reload");
BENCHMARK_CAPTURE(pass, watching_the_folder, "watch");
BENCHMARK_CAPTURE(pass, every_named_input, "inputs");
BENCHMARK_CAPTURE(pass, four_passes, "passes");

BENCHMARK_MAIN();
