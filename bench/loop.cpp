#include "loop.h"

#include <math.h>
#include <string.h>

#include "app/app.h"
#include "quiet.h"
#include "render/render.h"

int hotfx_main(int argc, char* argv[]);
// The clock's time, which the sound mode sets back within the sound.
extern float frame_time;

static long passes_left;
static bool wrap_time;

// Four seconds of 16-bit stereo at 44,100 Hz: a chord and a little noise, so that no bin of the
// spectrum is empty and every frame takes the logarithm of all of them, as music does.
static const DWORD wav_rate = 44100, wav_frames = 4 * wav_rate;
static BYTE wav[44 + wav_frames * 4];

static void put(BYTE* at, DWORD value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        at[i] = (BYTE)(value >> 8 * i);
}

const BYTE* bench_wav(DWORD* size)
{
    *size = sizeof wav;
    if (!memcmp(wav, "RIFF", 4))
        return wav;
    memcpy(wav, "RIFF", 4);
    put(wav + 4, sizeof wav - 8, 4);
    memcpy(wav + 8, "WAVEfmt ", 8);
    put(wav + 16, 16, 4);
    put(wav + 20, 1, 2);
    put(wav + 22, 2, 2);
    put(wav + 24, wav_rate, 4);
    put(wav + 28, wav_rate * 4, 4);
    put(wav + 32, 4, 2);
    put(wav + 34, 16, 2);
    memcpy(wav + 36, "data", 4);
    put(wav + 40, wav_frames * 4, 4);
    unsigned noise = 1;
    for (DWORD i = 0; i < wav_frames; i++) {
        noise = noise * 1664525 + 1013904223;
        double t = (double)i / wav_rate;
        double value = 0.3 * sin(2 * 3.14159265358979 * 220 * t) + 0.2 * sin(2 * 3.14159265358979 * 277 * t) +
                       0.01 * ((int)(noise >> 16) - 32768) / 32768.0;
        put(wav + 44 + 4 * i, (DWORD)(int)(value * 32767), 2);
        put(wav + 46 + 4 * i, (DWORD)(int)(value * 32767), 2);
    }
    return wav;
}

// hotfx's main.cpp is built with PeekMessageA renamed to this: the queue stays empty, as in
// the quiet stand-in, until the budget is spent, then the quit message ends the loop after
// one last frame.
BOOL WINAPI bench_peek_message(MSG* msg, HWND window, UINT first, UINT last, UINT remove)
{
    if (passes_left > 0) {
        --passes_left;
        // Past the sound's end its picture is two rows of zeros, which costs nothing: the time
        // goes round within the sound, so that every frame makes the whole picture.
        if (wrap_time && frame_time > 3.5f)
            frame_time = 0;
        return PeekMessageA(msg, window, first, last, remove);
    }
    msg->message = WM_QUIT;
    return TRUE;
}

// A bundle of /level 0.5 and /level/1 0.25, which ps_main reads.
static const char level_bundle[] = "#bundle\0\0\0\0\0\0\0\0\1"
                                   "\0\0\0\20/level\0\0,f\0\0\77\0\0\0"
                                   "\0\0\0\24/level/1\0\0\0\0,f\0\0\76\200\0\0";

bool run_hotfx(const char* mode, long passes)
{
    quiet = quiet_state{};
    watch_folder = false;
    osc_port = 0;
    wrap_time = strcmp(mode, "sound") == 0;
    bool four_passes = strcmp(mode, "passes") == 0;
    quiet.listens = strcmp(mode, "listen") == 0;
    quiet.passes = four_passes;
    if (strcmp(mode, "watch") == 0 || strcmp(mode, "inputs") == 0 || wrap_time || four_passes || quiet.listens)
        watch_folder = true;     // as read_options leaves it for --watch
    if (wrap_time)
        quiet.wav = bench_wav(&quiet.wav_size);  // ps_main reads music.wav through a sampler
    else if (strcmp(mode, "inputs") == 0 || four_passes)
        quiet.inputs = true;     // each stage reads every named input, and an image
    else if (strcmp(mode, "none") == 0)
        quiet.compile_fails = true;
    else if (strcmp(mode, "reload") == 0)
        quiet.f5 = (SHORT)0x8000;
    else if (strcmp(mode, "osc") == 0) {
        // --osc, four bundles arriving before each frame.
        osc_port = 9000;
        quiet.datagram = level_bundle;
        quiet.datagram_size = sizeof level_bundle - 1;
        quiet.datagrams_per_frame = 4;
    }
    else if (strcmp(mode, "both") != 0 && strcmp(mode, "watch") != 0 && !quiet.listens)
        return false;
    passes_left = passes > 0 ? passes - 1 : 0;
    hotfx_main(0, NULL);
    return true;
}
