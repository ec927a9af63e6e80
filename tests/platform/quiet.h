// The quiet stand-in: the same Windows, Direct3D 9 and D3DX calls as the recording one, doing
// nothing and allocating nothing, so that what a test or benchmark measures is hotfx's own
// cost. Objects are static and reference counted.
#pragma once

#include <windows.h>

struct quiet_state {
    SHORT f5;                 // what GetAsyncKeyState(VK_F5) answers
    bool compile_fails;       // both compiles fail with a message
    long live_references;     // references held on every object handed out
    long calls;               // platform calls made
    bool device_lost;         // Present and TestCooperativeLevel say so, until a Reset
    bool reset_fails;         // Reset answers D3DERR_DEVICELOST
    bool inputs;              // each stage declares every named input and an image photo.png beside it
    const BYTE* wav;          // when set, served as any NAME.wav, and ps_main declares a sampler music
    DWORD wav_size;
    bool listens;             // ps_main declares sound_in and its companions; one capture device fills
                              // each buffer with a tone as soon as it is given one
    bool passes;              // with inputs: ps_main also reads passes p0 to p3, each of which reads itself
    const char* datagram;     // --osc: what recv hands out datagrams_per_frame times, then WSAEWOULDBLOCK
                              // once; ps_main then reads a global level
    int datagram_size;
    int datagrams_per_frame;
};

extern quiet_state quiet;
