// Runs hotfx's own main, start-up to shutdown, against the quiet stand-in for a given number
// of passes of its main loop.
#pragma once

// mode: "both" (both shaders load), "inputs" (--watch, each stage declaring every named input and an image),
// "passes" (as inputs, and ps_main reading four passes that each read themselves too), "none" (both compiles fail, so every frame reports the
// missing shaders) or "reload" (F5 held, so every frame reloads). Returns false for an
// unknown mode.
bool run_hotfx(const char* mode, long passes);
