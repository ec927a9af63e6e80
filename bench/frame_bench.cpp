// Time per pass of hotfx's main loop (drain of an empty queue, then render_frame) against the
// quiet stand-in. Each batch is one whole run of hotfx_main; start-up and shutdown are spread
// over the batch's passes, which number in the millions once the timing settles.
#include <benchmark/benchmark.h>

#include "loop.h"
#include "quiet.h"
#include "render/render.h"

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
BENCHMARK_CAPTURE(pass, reading_a_wav, "sound");
BENCHMARK_CAPTURE(pass, hearing_a_tone, "listen");

// The sound's picture alone, as each frame asks for it: bench_wav's track at one frame's time
// after another, going round within the sound.
static void sound_rows_alone(benchmark::State& state)
{
    quiet = quiet_state{};
    quiet.wav = bench_wav(&quiet.wav_size);
    track music = {};
    if (load_sound("music", &music) != sound_loaded) {
        state.SkipWithError("the stand-in's music.wav did not load");
        return;
    }
    static BYTE rows[2][sound_width];
    float time = 0;
    for (auto _ : state) {
        sound_rows(&music, time, rows);
        benchmark::DoNotOptimize(rows);
        time = time > 3.5f ? 0 : time + time_step;
    }
    release_sound(&music);
}
BENCHMARK(sound_rows_alone);

// What sound_in and its companions cost a frame: a round of buffers of a tone taken, the
// spectrum of the last 2048 samples, the held levels and the totals.
static void listening_alone(benchmark::State& state)
{
    quiet = quiet_state{};
    quiet.listens = true;
    start_listening(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(listen());
    stop_listening();
}
BENCHMARK(listening_alone);

BENCHMARK_MAIN();
