// The renderer as the shell sees it: the display settings, the two Direct3D objects that
// start-up creates, the shaders, and the frame.
#pragma once

#include <windows.h>
#include <d3d9.h>

extern D3DPRESENT_PARAMETERS present_params;
extern IDirect3D9* d3d;
extern IDirect3DDevice9* device;

extern const char* const shader_source[3];

extern IDirect3DVertexShader9* vertex_shader;
extern IDirect3DPixelShader9* pixel_shader;

void load_shaders();
void release_shaders();
void set_sampler_states();
void set_sampler_states_of(DWORD sampler);

struct quad_vertex {
    float x, y, z;
    float u, v;
};

extern const quad_vertex quad_vertices[4];
extern float shader_constants[64][4];
extern float (*pixel_constants)[4];
extern float frame_time;
extern const float time_step;
extern bool device_lost;
extern bool driver_failing;
extern bool device_failed;
extern bool missing_said_once;

void render_frame();
bool draw_scene();
float time_at_frame(unsigned long frame);
void send_frames_to_stdout();
int save_picture(const char* path);
void release_picture_copy();

// File names, compared as Windows compares them.
bool same_name(const char* name, const char* lower);
const char* extension_of(const char* name);

// Reload on save (--watch): the current folder is watched from start to shutdown.
void start_watching();
void stop_watching();
bool saved_shaders_changed();
extern const char* const counted_extensions[];

// Named inputs, with any option: the back buffer's size, the time, the frame, the mouse, the
// previous frame and images, each where the stage that declares it has it; and, under --watch,
// the keys that stop and step the time.
extern bool named_inputs;
extern unsigned long frame_number;
extern bool time_running;
struct ID3DXConstantTable;
void begin_inputs();
void read_inputs(int stage, ID3DXConstantTable* table);
void end_inputs(bool complete);
void release_inputs();
// Of the drawn shaders: an input that could not be filled (--frame and --frames end on it),
// and whether they read the previous frame.
bool inputs_failed();
bool reads_previous_frame();
void set_input_samplers();
void fill_inputs();
void end_frame();
void release_previous_frame();
void window_input(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sound (sound.cpp), with any option: a sampler NAME with NAME.wav beside main.fx reads a
// sound_width x 2 picture of the sound at the frame's time, the spectrum in row 0 and the
// waveform in row 1, one byte a texel. load_sound gives a track, or no_sound_file (nothing
// said: the sampler may read an image) or unreadable_sound (one line said: it reads black).
// A track plays from a time on, and the time may follow it: playback_time is negative while
// nothing plays.
const int sound_width = 512;
enum { no_sound_file = -1, unreadable_sound = -2 };
int load_sound(const char* name);
void sound_rows(int track, float time, BYTE rows[2][sound_width]);
float sound_length(int track);
DWORD sound_rate(int track);
DWORD sound_frames(int track);
const float* sound_mono(int track);
const short* sound_stereo(int track);
void release_sound(int track);
void release_sounds();
bool start_playback(int track, float time);
void stop_playback();
float playback_time();
