// Runs hotfx's own main, start-up to shutdown, against the quiet stand-in for a given number
// of passes of its main loop.
#pragma once

#include <stdint.h>

// mode: "both" (both shaders load), "inputs" (--watch, each stage declaring every named input and an image), "none" (both compiles fail, so every frame reports the
// missing shaders), "reload" (F5 held, so every frame reloads), "passes" (as inputs, and ps_main
// reading four passes that each read themselves too) or "sound" (--watch, ps_main
// reading music.wav, bench_wav's, through a sampler). Returns false for an unknown mode.
bool run_hotfx(const char* mode, long passes);

// A WAV file of four seconds, 16-bit stereo at 44,100 Hz, made at the first call.
const unsigned char* bench_wav(uint32_t* size);
