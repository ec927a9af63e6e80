#include "render/render.h"

// The time the shaders get: 0 in the first frame, one step more in every frame drawn while it
// runs, so it counts frames, not seconds. The keys under --watch stop it and move it.
float frame_time = 0;
const float time_step = 0.016666f;
unsigned long frame_number = 0;
bool time_running = true;

// The drawn shaders' sound, which plays from the time on while it runs in the live loop; the
// time then follows the sound's clock, so no frame drifts from the music.
static int sound_track = -1;
static bool sound_wanted = false;

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
static float time_after(float from, unsigned long frames)
{
    volatile float time = from;
    for (; frames > 0; frames--) {
        float before = time;
        time = before + time_step;
        if (time == before)
            break;
    }
    return time;
}

float time_at_frame(unsigned long frame)
{
    return time_after(0, frame);
}

void go_to_frame(unsigned long frame)
{
    frame_number = frame;
    frame_time = time_at_frame(frame);
    stop_playback();
    sound_wanted = time_running;
}

void run_time(bool run)
{
    time_running = run;
    stop_playback();
    sound_wanted = run;
}

// After each load: the track to play, or -1.
void play_sound(int track)
{
    stop_playback();
    sound_track = track;
    sound_wanted = time_running;
}

// The live loop, before each frame: the frame whose time the sound has reached. Frames may be
// skipped on a slow machine, and one drawn twice on a fast one.
void follow_sound()
{
    if (sound_wanted && sound_track >= 0)
        start_playback(sound_track, frame_time);
    sound_wanted = false;
    float at = playback_time();
    if (at < 0)
        return;
    // Summed on from this frame's time while the sound moves forward, so a long track costs
    // no more a frame than a short one.
    unsigned long frame = (unsigned long)(at / time_step);
    frame_time = frame >= frame_number ? time_after(frame_time, frame - frame_number) : time_at_frame(frame);
    frame_number = frame;
}
