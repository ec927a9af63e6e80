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

struct quad_vertex {
    float x, y, z;
    float u, v;
};

extern const quad_vertex quad_vertices[4];
extern float shader_constants[64][4];
extern float& frame_time;
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
