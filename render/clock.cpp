#include "render/render.h"

// The one clock: the frame shown and its time, 0 in the first frame and one step more in every
// frame drawn while it runs, so it counts frames, not seconds. The keys under --watch stop and
// move it, and a playing sound leads it; nothing else does, and a reload never moves it.
const float time_step = 0.016666f;
unsigned long frame_number = 0;
float frame_time = 0;
bool time_running = true;
// Set by a key; the frame that first shows where it moved the time says so.
static bool arrival = false;

// What the shaders carry from frame to frame (a pass that reads itself, the previous frame)
// holds the frames before chain_next: drawing frame N needs chain_next == N, a step back
// starts the chain again from 0, and a step forward draws the frames stepped over.
static unsigned long chain_next = 0;
static float chain_next_time = 0;

// The drawn shaders' sound plays from the time on while it runs in the live loop, and the time
// then follows the sound's clock, counted from the frame it started at, so no frame drifts
// from the music and none goes back.
static const track* sound_track = NULL;
static bool sound_wanted = false;
static bool following = false;
static unsigned long played_from = 0;

unsigned long clock_frame() { return frame_number; }
float clock_time() { return frame_time; }
bool clock_running() { return time_running; }
unsigned long chain_frame() { return chain_next; }
float chain_time() { return chain_next_time; }

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

// --frame and --frames: the frame to draw.
void go_to_frame(unsigned long frame)
{
    frame_time = frame >= frame_number ? time_after(frame_time, frame - frame_number) : time_at_frame(frame);
    frame_number = frame;
}

// The keys: where the time is and whether it runs; the sound starts again from there.
void key_moved_time(unsigned long frame, bool run)
{
    go_to_frame(frame);
    time_running = run;
    arrival = true;
    stop_playback();
    following = false;
    sound_wanted = run;
}

bool take_arrival()
{
    bool arrived = arrival;
    arrival = false;
    return arrived;
}

// After each frame shown. While a sound leads, the time is its.
void advance_time()
{
    if (time_running && !following) {
        frame_time += time_step;
        frame_number++;
    }
}

// After frame N is drawn whole, at its time.
void chain_drawn(unsigned long frame, float time)
{
    volatile float next = time + time_step;
    chain_next_time = next;
    chain_next = frame + 1;
}

void restart_chain()
{
    chain_next = 0;
    chain_next_time = 0;
}

// After each load that made every stage: the track to play, or NULL.
void play_sound(const track* sound)
{
    stop_playback();
    following = false;
    sound_track = sound;
    sound_wanted = time_running;
}

// The live loop, before each frame: the frame whose time the sound has reached. Frames may be
// skipped on a slow machine, and one shown twice on a fast one.
void follow_sound()
{
    if (sound_wanted && sound_track && start_playback(sound_track, frame_time))
        played_from = frame_number;
    sound_wanted = false;
    double played = played_seconds();
    following = played >= 0;
    if (following)
        go_to_frame(played_from + (unsigned long)(played / time_step));
}

// The system's fine clock, in seconds: what a catch-up and F2 take of the CPU's time.
double seconds_now()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart / frequency.QuadPart;
}
