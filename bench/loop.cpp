#include "loop.h"

#include <string.h>

#include "app/app.h"
#include "quiet.h"

int hotfx_main(int argc, char* argv[]);

static long passes_left;

// hotfx's main.cpp is built with PeekMessageA renamed to this: the queue stays empty, as in
// the quiet stand-in, until the budget is spent, then the quit message ends the loop after
// one last frame.
BOOL WINAPI bench_peek_message(MSG* msg, HWND window, UINT first, UINT last, UINT remove)
{
    if (passes_left > 0) {
        --passes_left;
        return PeekMessageA(msg, window, first, last, remove);
    }
    msg->message = WM_QUIT;
    return TRUE;
}

bool run_hotfx(const char* mode, long passes)
{
    quiet = quiet_state{};
    watch_folder = false;
    bool four_passes = strcmp(mode, "passes") == 0;
    if (strcmp(mode, "watch") == 0 || strcmp(mode, "inputs") == 0 || four_passes)
        watch_folder = true;     // as read_options leaves it for --watch
    quiet.passes = four_passes;
    if (strcmp(mode, "inputs") == 0 || four_passes)
        quiet.inputs = true;     // each stage reads every named input, and an image
    else if (strcmp(mode, "none") == 0)
        quiet.compile_fails = true;
    else if (strcmp(mode, "reload") == 0)
        quiet.f5 = (SHORT)0x8000;
    else if (strcmp(mode, "both") != 0 && strcmp(mode, "watch") != 0)
        return false;
    passes_left = passes > 0 ? passes - 1 : 0;
    hotfx_main(0, NULL);
    return true;
}
