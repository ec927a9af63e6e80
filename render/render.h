// The renderer. The shell sees the first part: the display settings, the two Direct3D objects
// that start-up creates, and the procedures it calls. The rest is how render/'s files meet,
// each thing kept by the one file that owns it for its lifetime.
#pragma once

#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <d3d9.h>

extern D3DPRESENT_PARAMETERS present_params;
extern IDirect3D9* d3d;
extern IDirect3DDevice9* device;

// The file, then the vertex and pixel entry points.
extern const char* const shader_source[3];
extern const float time_step;

// What the shell asks for. With an option, a shader gets the named inputs; under --watch a
// missing stage is said once after each load.
void use_options(bool named_inputs, bool watching, bool exact = false);
bool use_picture_size(unsigned long width, unsigned long height);
void load_shaders();
bool shaders_loaded();
bool inputs_failed();
bool carries_state();
void release_shaders();
void release_device_resources(bool device_lost);
void render_frame();
bool device_gave_up();
bool draw_scene();
void go_to_frame(unsigned long frame);
void send_frames_to_stdout();
int save_picture(const char* path);
void release_picture_copy();
void window_input(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void start_watching();
void stop_watching();
bool controls_message(MSG* message);
void close_controls();
void save_values();
bool listen_osc(const BYTE address[4], WORD port);
void stop_osc();
// Live sound in (capture.cpp): the devices, the one chosen, and its end.
void list_capture_devices();
bool choose_capture_device(const char* wanted);
void stop_listening();
void resize_picture(UINT width, UINT height);
void show_picture_in(const RECT* place);
void toggle_controls();

struct quad_vertex {
    float x, y, z;
    float u, v;
};
extern const quad_vertex quad_vertices[4];

// --- Inside render/ ---

// The float constant registers that vs_3_0 and ps_3_0 give a shader.
const int vertex_registers = 256, pixel_registers = 224;

// Room for count items in a table that grows at a load (never in a frame) and is kept, grown,
// for the loads after it, as a static table would be: reloads of the same shaders allocate
// nothing. What it gains starts zeroed. Returns false where the heap has no room, the table as
// it was.
template <typename T>
bool make_room(T** table, int* room, int count)
{
    if (count <= *room)
        return true;
    int grown = *room > 8 ? *room : 8;
    while (grown < count)
        grown *= 2;
    T* moved = (T*)realloc((void*)*table, grown * sizeof(T));
    if (!moved)
        return false;
    memset((void*)(moved + *room), 0, (grown - *room) * sizeof(T));
    *table = moved;
    *room = grown;
    return true;
}

// Sound (sound.cpp): a track is NAME.wav read whole, owned by the input that reads it.
const int sound_width = 512;
const int spectrum_size = 2048;
struct track {
    float* mono;     // the channels' average, -1 to 1; the one allocation, freed with the track
    short* stereo;   // left and right after one another, for the sound device; in the same block
    DWORD frames;
    DWORD rate;
};
enum sound_found { sound_loaded, no_sound_file, unreadable_sound };
sound_found load_sound(const char* name, track* into);
void sound_rows(const track* sound, float time, BYTE rows[2][sound_width]);
void spectrum_rows(const float samples[spectrum_size], BYTE rows[2][sound_width]);
void release_sound(track* sound);
bool start_playback(const track* sound, float time);
void stop_playback();
double played_seconds();

// Full screen (display.cpp): the back buffer's next size, and where the picture is shown.
bool take_new_size();
const RECT* picture_place();

// The clock (clock.cpp): the frame shown and its time, whether it runs, and the frame that
// what the shaders carry from frame to frame (passes, the previous frame) has reached.
unsigned long clock_frame();
float clock_time();
bool clock_running();
unsigned long chain_frame();
float chain_time();
double seconds_now();
float time_at_frame(unsigned long frame);
void key_moved_time(unsigned long frame, bool run);
void advance_time();
void chain_drawn(unsigned long frame, float time);
void restart_chain();
bool take_arrival();
void play_sound(const track* sound);
void follow_sound();

// What the capture device heard (capture.cpp), as the frame about to be drawn reads it: the
// 512x2 picture of the last spectrum_size samples, each bin's level held after its peaks, and
// each bin's level summed over the frames drawn since the load.
struct hearing {
    BYTE rows[2][sound_width];
    BYTE smoothed[sound_width];
    float total[sound_width];
};
void start_listening(bool exact);
void restart_totals();
const hearing* listen();

// Keys and the mouse (events.cpp), given to the shaders at the start of each frame drawn.
struct frame_events {
    float mouse[4];
    BYTE keys[3][256];
    bool keys_changed;
};
extern HWND picture_window;
const frame_events* take_events();
void give_keys_to_shaders(bool give);

// The files the last load read (watch.cpp), each with the hash of the bytes it read.
void begin_listing_files();
BYTE* read_listed_file(const char* name, DWORD* size, DWORD* error);
enum saved_change { saved_nothing, saved_values, saved_shaders };
saved_change saved_files_changed();
void list_written_file(const char* name, const BYTE* bytes, DWORD size);
bool listed_file_changed(const char* name);

// What the compiler reads with an option (sources.cpp): main.fx and its includes through the
// include callback, and its messages with each line of an included file named by that file.
struct ID3DXInclude;
extern ID3DXInclude* const source_reader;
void close_source_files();
void print_compiler_messages(const char* text, int length);

// What a stage declares by name and hotfx fills.
enum input_kind { input_resolution, input_time, input_frame, input_mouse, input_previous_frame, input_keyboard,
                  input_sound_in, input_sound_in_smoothed, input_sound_in_total,
                  input_image, input_cube, input_volume, input_pass, input_sound, input_global };

struct input {
    BYTE kind;
    BYTE stage;   // 0 for the vertex stage, 1 for the pixel stage
    WORD index;   // the register, or the sampler as the device numbers it
    IDirect3DTexture9* texture;  // an image's, or a sound's picture
    IDirect3DBaseTexture9* cube_or_volume;  // a samplerCUBE's or a sampler3D's NAME.dds
    int pass;     // a pass's record
    track sound;
    int global;   // a global's record in its set
    WORD registers;
    char name[64];
};

// Where a sampler's texture is kept, which may change from frame to frame.
struct binding {
    WORD sampler;
    BYTE slot;
    IDirect3DTexture9* const* texture;
};

// A cube map or a volume, which stays as loaded.
struct loaded_binding {
    WORD sampler;
    BYTE slot;
    IDirect3DBaseTexture9* texture;
};

struct constant_copy {
    float* to;
    const float* from;
};

// What one stage reads: a constant in each of its registers and a texture at each of ps_3_0's
// sixteen samplers at most. Planned once its set is drawn, so that a frame only copies: its
// registers, c0.x first, where each named constant that changes goes, and where each
// sampler's texture is kept; then it uploads the registers up to the last one read, or 64.
struct stage_inputs {
    input* inputs;     // grows, and constants with it
    int count, room;
    bool reads_previous_frame;
    bool reads_keyboard;
    bool reads_sound;
    bool listens;      // to sound_in, sound_in_smoothed or sound_in_total
    bool failed;
    bool time_in_c0;   // no named constant is there
    int constant_count;
    BYTE binding_count;
    float (*registers)[4];
    int register_count;
    constant_copy* constants;
    binding bindings[20];
    BYTE loaded_count;
    loaded_binding loaded[16];
};

// A sampler NAME that main.fx has a function ps_NAME for reads what that function draws, in a
// float texture of the back buffer's size (device.cpp), before ps_main draws the picture.
struct pass {
    char name[64];
    IDirect3DPixelShader9* shader;
    stage_inputs reads;
    float registers[pixel_registers][4];
    bool reads_itself;
    int slots;         // instructions in its code
    BYTE read_at_count;
    BYTE read_at[16];  // the samplers that stages read it through
};

// A global of main.fx that hotfx doesn't fill: the author's. It reads its initial value, or
// what main.values or its control set, in every stage that declares it.
struct global {
    char name[64];
    bool boolean;         // a bool: 0 or 1
    BYTE components;      // 1 to 4 for a scalar or vector, which main.values and a control set;
                          // 0 for an array, which keeps its initial value, or a matrix (0)
    WORD registers;       // as many as the compiler keeps in any stage
    float (*initial)[4];  // their initial values, a table kept with the record
    int initial_room;
    float value[4];       // what the stages read: set, or else initial[0]
    bool set;             // by main.values or a control
    // From its annotations: a control where it has any.
    bool annotated;
    bool colour;          // UIWidget = "Color"
    float low, high, step;  // UIMin, UIMax (0 to 1 unless given), UIStep (0: the trackbar's own)
    char label[64];       // UIName, or else its name
    int order;            // where the source declares it among its globals
    BYTE passed_over;     // why main.values can't set it, where it can't
};
enum passed_over_reason { settable, an_array, a_matrix, left_to_time };

// A sampler_state { NAME = VALUE; } of a sampler, by the sampler's name.
struct sampler_setting {
    char sampler[64];
    D3DSAMPLERSTATETYPE state;
    DWORD value;
};

// Everything one load makes, built beside the drawn set and swapped whole.
struct shader_set {
    IDirect3DVertexShader9* vertex;
    stage_inputs vertex_reads;
    int vertex_slots;
    unsigned long load_number;  // counts the loads drawn, so that F2 sees a new set
    pass passes[17];   // ps_main's record first, then the passes as they were found
    int pass_count;
    int order[17];     // the order they are drawn in, ps_main last
    bool carries_state;  // a frame depends on the frames before it
    bool listens;        // some stage reads the live sound
    bool reads_previous_frame;
    IDirect3DTexture9* keyboard;
    bool keys_given;
    global* globals;   // grows, each with its initial values
    int global_count, global_room;
    sampler_setting* settings;  // grows
    int setting_count, setting_room;
};

// What main.fx declares beside its code (declared.cpp), from the preprocessed source: each
// global's annotations and whether it has an initial value, and each sampler's states.
struct declaration {
    char name[64];
    bool initialised;
    global annotations;   // its annotated, colour, low, high, step and label
};
bool read_declarations(const char* source, shader_set* set);
const declaration* declared(const char* name);

// The values file (values.cpp): main.values beside main.fx, lines NAME = V1 V2 V3 V4. Read at
// each load, complete or failed (into the drawn set, or into no set), and when saved by hand;
// what a control sets is saved a moment later and at exit.
extern const char values_path[];
bool read_values(shader_set* set);
void tune(const global* g);
void save_values_when_due();

// The controls window (controls.cpp), under --watch: a control for each annotated global of the
// drawn set that some stage reads, shown only while there is one.
void show_controls(shader_set* set);
void show_tuned_values();

// OSC messages (osc.cpp), under --osc: what has arrived is applied before each frame draws.
void take_osc_messages();

// The sets (shaders.cpp).
shader_set* drawn_set();
void set_sampler_states();
void set_stage_sampler_states(const stage_inputs& reads);
void use_named_inputs(bool use, bool watching = false, bool exact = false);

// Inputs (inputs.cpp): what a compiled stage declares, and what each frame gives it.
struct ID3DXConstantTable;
void read_inputs(shader_set* set, int stage, ID3DXConstantTable* table, stage_inputs* into);
bool load_sampler_file(input* in);
bool make_keyboard(shader_set* set);
void release_inputs(stage_inputs* inputs);
void give_keys(shader_set* set, const frame_events* events);
void plan_stage(shader_set* set, stage_inputs* reads, float (*registers)[4]);
void resize_stages(shader_set* set);
void set_frame_inputs(float time, float frame, const frame_events* events, const hearing* heard);
void feed_stage(const stage_inputs* reads);
void unbind(IDirect3DBaseTexture9* texture, const pass& drawn);
void forget_bindings(bool unbind_all);

// The device's resources (device.cpp): everything in the default pool, made for the drawn
// set after each swap and each reset, and released before a reset.
bool make_device_resources(const shader_set* set);
bool device_is_lost();
void clear_device_state();
void wait_for_device();
bool passes_filtered();
IDirect3DTexture9* const* pass_texture(int pass);
IDirect3DTexture9* draw_into_pass(int pass);
void draw_into_picture();
IDirect3DTexture9* const* previous_texture();
void begin_previous_frame();
void keep_picture();
void keep_targets(UINT width, UINT height);
void put_back_targets();

// F2's measure of a second of frames (timing.cpp), with the device's timestamp queries.
void start_timing();
bool begin_timed_frame(const shader_set* set);
void time_drawn(int record);
void end_timed_frame();
void report_timing(const shader_set* set);
void release_timing();
