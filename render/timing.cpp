#include <stdio.h>

#include "render/render.h"

// F2 under --watch: what the next second of frames took on the device, the whole frame and
// each pass, said in one line. The device's clock is read with timestamp queries at the start
// of a frame and after each draw, and read back a few frames later, so that the frame never
// waits for the device. Nothing is asked of the device while nobody has pressed F2.

static const DWORD measured_ms = 1000;
// Frames not back this long after the second are given up on.
static const DWORD late_ms = 2000;
// Frames whose queries may be on their way at once; a frame that finds them all still out is
// not measured.
static const int frames_in_flight = 4;

// One frame's queries: its stamps in the order they were issued, the first at its start and
// each later one after the draw of a record (0 is ps_main's).
struct timed_frame {
    IDirect3DQuery9* disjoint;
    IDirect3DQuery9* frequency;
    IDirect3DQuery9* stamps[18];
    int records[18];
    int count;
    bool out;
    double cpu_started;
};
static timed_frame frames[frames_in_flight];
static int next_frame = 0;
static timed_frame* measured = NULL;  // the frame being drawn, when it is measured

// The second being measured, and the sums of what came back: the frame, then by record.
static bool measuring = false;
static unsigned long measured_load = 0;  // the load whose frames are measured, 0 until one draws
static bool cpu_only = false;
static bool no_stamps_said = false;
static DWORD measuring_since = 0;
static double frame_ms, record_ms[17];
static int frames_counted, record_counts[17];

// The sums emptied and the second started again, frames still out given up on.
static void restart_second()
{
    frame_ms = 0;
    frames_counted = 0;
    for (int i = 0; i < 17; i++)
        record_ms[i] = 0, record_counts[i] = 0;
    for (timed_frame& f : frames)
        f.out = false;
    measuring = true;
    measuring_since = GetTickCount();
}

static bool make_queries(timed_frame* f)
{
    bool made = device->CreateQuery(D3DQUERYTYPE_TIMESTAMPDISJOINT, &f->disjoint) == D3D_OK &&
                device->CreateQuery(D3DQUERYTYPE_TIMESTAMPFREQ, &f->frequency) == D3D_OK;
    for (int i = 0; i < 18 && made; i++)
        made = device->CreateQuery(D3DQUERYTYPE_TIMESTAMP, &f->stamps[i]) == D3D_OK;
    return made;
}

// Before a reset of the device and at the end.
void release_timing()
{
    for (timed_frame& f : frames) {
        IDirect3DQuery9** all[20] = {&f.disjoint, &f.frequency};
        for (int i = 0; i < 18; i++)
            all[2 + i] = &f.stamps[i];
        for (IDirect3DQuery9** query : all)
            if (*query) {
                (*query)->Release();
                *query = NULL;
            }
        f.out = false;
    }
    measured = NULL;
    measuring = false;
}

// F2: the next second is measured. Where the device has no timestamp queries, the CPU's time
// for each frame stands in for it, said once.
void start_timing()
{
    if (measuring)
        return;
    release_timing();
    cpu_only = false;
    for (timed_frame& f : frames)
        cpu_only |= !make_queries(&f);
    if (cpu_only && !no_stamps_said)
        printf("The device has no timestamp queries: F2 gives the CPU's time for each frame instead.\n");
    no_stamps_said |= cpu_only;
    measured_load = 0;
    restart_second();
}

// A reload while measuring starts the second again with the new shaders, whose passes may be
// others. Not static, so that the compiler keeps it out of line and a frame that nobody
// measures costs one test.
bool begin_measured_frame(const shader_set* set)
{
    measured = NULL;
    if (measured_load != set->load_number) {
        if (measured_load)
            restart_second();
        measured_load = set->load_number;
    }
    timed_frame* f = &frames[next_frame];
    if (f->out || GetTickCount() - measuring_since >= measured_ms)
        return false;
    measured = f;
    f->count = 0;
    f->cpu_started = seconds_now();
    if (!cpu_only)
        f->disjoint->Issue(D3DISSUE_BEGIN);
    time_drawn(-1);
    return true;
}

// At the start of a frame: true when it is measured, and then after each draw of a record.
bool begin_timed_frame(const shader_set* set)
{
    return measuring && begin_measured_frame(set);
}

void time_drawn(int record)
{
    if (!measured || cpu_only || measured->count == 18)
        return;
    measured->records[measured->count] = record;
    measured->stamps[measured->count++]->Issue(D3DISSUE_END);
}

void end_timed_frame()
{
    timed_frame* f = measured;
    if (!f)
        return;
    measured = NULL;
    next_frame = (next_frame + 1) % frames_in_flight;
    if (cpu_only) {
        frame_ms += (seconds_now() - f->cpu_started) * 1000;
        frames_counted++;
        return;
    }
    f->disjoint->Issue(D3DISSUE_END);
    f->frequency->Issue(D3DISSUE_END);
    f->out = true;
}

// A frame whose queries have all come back is added to the sums; one that the device's clock
// was disjoint in, or whose queries failed, is left out.
static void take_back(timed_frame* f)
{
    BOOL disjoint = TRUE;
    UINT64 frequency = 0, stamps[18];
    HRESULT status = f->disjoint->GetData(&disjoint, sizeof disjoint, 0);
    if (status == S_OK)
        status = f->frequency->GetData(&frequency, sizeof frequency, 0);
    for (int i = 0; i < f->count && status == S_OK; i++)
        status = f->stamps[i]->GetData(&stamps[i], sizeof stamps[i], 0);
    if (status == S_FALSE)
        return;
    f->out = false;
    if (status != S_OK || disjoint || !frequency || f->count < 2)
        return;
    double ms = 1000.0 / (double)frequency;
    frame_ms += (double)(stamps[f->count - 1] - stamps[0]) * ms;
    frames_counted++;
    for (int i = 1; i < f->count; i++) {
        record_ms[f->records[i]] += (double)(stamps[i] - stamps[i - 1]) * ms;
        record_counts[f->records[i]]++;
    }
}

// After each frame shown: what has come back, and once the second is over and every frame of
// it is back, the line, each pass by its name in the set drawn, ps_main last.
void report_timing(const shader_set* set)
{
    if (!measuring)
        return;
    bool out = false;
    for (timed_frame& f : frames) {
        if (f.out)
            take_back(&f);
        out |= f.out;
    }
    DWORD spent = GetTickCount() - measuring_since;
    if (spent < measured_ms || (out && spent < measured_ms + late_ms))
        return;
    for (timed_frame& f : frames)
        f.out = false;
    measuring = false;
    printf("%s over 1 s, %d frames: frame %.2f ms", cpu_only ? "CPU" : "GPU",
           frames_counted, frames_counted ? frame_ms / frames_counted : 0.0);
    for (int i = 0; i < set->pass_count && !cpu_only; i++) {
        int record = i < set->pass_count - 1 ? set->order[i] : 0;
        if (record_counts[record])
            printf("%s %s %.2f", i ? "," : ";", set->passes[record].name[0] ? set->passes[record].name
                   : shader_source[2], record_ms[record] / record_counts[record]);
    }
    printf("\n");
}
