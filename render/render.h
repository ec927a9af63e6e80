// The renderer as the shell sees it: the display settings, the two Direct3D objects that
// start-up creates, the shaders, and the frame.
#pragma once

#include <windows.h>
#include <d3d9.h>

extern D3DPRESENT_PARAMETERS present_params;
extern IDirect3D9* d3d;
extern IDirect3DDevice9* device;

extern const char* const shader_source[3];

// The drawn pair, vs_main and ps_main.
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
extern bool device_lost;
extern bool driver_failing;
extern bool device_failed;
extern bool missing_said_once;

void render_frame();
bool draw_scene();
void send_frames_to_stdout();
int save_picture(const char* path);
void release_picture_copy();

// The time: c0.x, counted in frames drawn, which the keys under --watch stop and step.
extern float frame_time;
extern const float time_step;
extern unsigned long frame_number;
extern bool time_running;
float time_at_frame(unsigned long frame);
void go_to_frame(unsigned long frame);
void run_time(bool run);
void advance_time();
void play_sound(int track);
void follow_sound();

// File names, compared as Windows compares them.
bool same_name(const char* name, const char* lower);
const char* extension_of(const char* name);

// Reload on save (--watch): the current folder is watched from start to shutdown.
void start_watching();
void stop_watching();
bool saved_shaders_changed();
extern const char* const counted_extensions[];

// Named inputs, with any option: the back buffer's size, the time, the frame, the mouse, the
// previous frame, images and passes, each where the stage that declares it has it; and, under
// --watch, the keys that stop and step the time.
extern bool named_inputs;

enum input_kind { input_resolution, input_time, input_frame, input_mouse, input_previous_frame, input_keyboard,
                  input_image, input_pass, input_sound };

struct input {
    BYTE kind;
    BYTE stage;   // 0 for the vertex stage, 1 for the pixel stage
    WORD index;   // the register, or the sampler as the device numbers it
    IDirect3DTexture9* texture;  // an image's, or a sound's picture
    int pass;     // a pass's record, or a sound's track
    char name[64];
};

// A sampler, its place among those whose texture hotfx keeps track of, and where the texture
// it reads is kept, which may change between frames.
struct binding {
    WORD sampler;
    BYTE slot;
    IDirect3DTexture9* const* texture;
};

// What one pixel stage reads: four named constants and ps_3_0's sixteen samplers at most.
struct stage_inputs {
    input inputs[20];
    int count;
    bool reads_previous_frame;
    bool reads_keyboard;
    bool failed;
    // Worked out for the whole set on the first frame that draws it, so that a frame neither
    // walks the inputs' kinds nor tests them: where the stage has c0.x and each named constant
    // (a name is declared once; one that isn't goes where nothing reads it), whether it draws
    // the picture of a sound, the samplers it binds itself (not those that read one texture in
    // every stage, which the set binds once), and, in a pass's record, the target it draws
    // into and the samplers that stages read the pass through and it doesn't bind itself.
    bool planned;
    bool reads_sound;
    BYTE binding_count, read_at_count;
    IDirect3DTexture9* const* target;
    float* c0;
    float* named[4];
    binding bindings[20];
    BYTE read_at[20];
};

struct ID3DXConstantTable;
void read_inputs(int stage, ID3DXConstantTable* table, stage_inputs* into);
IDirect3DTexture9* load_image(const char* name);
bool load_sound_input(input* in);
void make_keyboard(bool read);
bool keys_for_shaders();
void release_inputs(stage_inputs* inputs);
struct shader_set;
void plan_inputs(shader_set* set);
void feed_stage(shader_set* set, stage_inputs* reads, float time, float frame);
void forget_bound_textures();
void set_input_samplers(const stage_inputs& inputs);
bool make_previous_frame(bool read);
void release_previous_frame();
void clear_previous_frame();
void end_frame();
void window_input(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// NAME.png, .jpg, .jpeg, .bmp, .dds or .tga, compared as Windows compares file names, where a
// sampler of the drawn shaders reads the image NAME: what a save under --watch counts.
bool image_read_by_shaders(const char* file_name);

// Passes: a sampler NAME that main.fx has a function ps_NAME for reads what that function
// draws, into a float texture of the back buffer's size, before ps_main draws the picture.
struct pass {
    char name[64];
    IDirect3DPixelShader9* shader;
    stage_inputs reads;
    float registers[64][4];
    bool reads_itself;
    // Two when it reads itself: it reads the first, what it drew last, and draws into the
    // second, and the two swap.
    IDirect3DTexture9* targets[2];
    IDirect3DSurface9* surfaces[2];
};

struct shader_set {
    IDirect3DVertexShader9* vertex;
    stage_inputs vertex_reads;
    pass passes[17];   // ps_main's record first, then the passes as they were found
    int pass_count;
    int order[17];     // the order they are drawn in, ps_main last
    bool carries_state;  // a frame depends on the frames before it
};

extern shader_set* drawn_shaders;
bool inputs_failed();
bool carries_state();
bool shaders_read_keyboard();
void print_pass_order(const shader_set& set);
void keep_pass_targets(shader_set* set, shader_set* old);
bool make_pass_targets(shader_set* set);
void release_pass_targets(shader_set* set);
void clear_passes(shader_set* set);
void draw_passes(shader_set* set);

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
