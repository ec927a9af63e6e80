#include "render/render.h"

// The time the shaders get: 0 in the first frame, one step more in every frame drawn while it
// runs, so it counts frames, not seconds. The keys under --watch stop it and move it.
float frame_time = 0;
const float time_step = 0.016666f;
unsigned long frame_number = 0;
bool time_running = true;

// After each frame drawn.
void advance_time()
{
    if (time_running) {
        frame_time += time_step;
        frame_number++;
    }
}

// The time that the frames drawn so far have added up to when this frame begins: each sum is
// rounded to a float, as the live loop stores it, and from frame 24,986,957 on an addition no
// longer changes it, which also bounds the work.
float time_at_frame(unsigned long frame)
{
    volatile float time = 0;
    for (; frame > 0; frame--) {
        float before = time;
        time = before + time_step;
        if (time == before)
            break;
    }
    return time;
}

void go_to_frame(unsigned long frame)
{
    frame_number = frame;
    frame_time = time_at_frame(frame);
}

void run_time(bool run)
{
    time_running = run;
}
