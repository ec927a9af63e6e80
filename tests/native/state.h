// The renderer's state that a test puts back as the process starts, kept by the files that own
// it and not exported to the shell; and the drawn pair as a test looks at it.
#pragma once

#include "render/render.h"

extern bool device_lost, driver_failing, device_failed, time_running;
extern float shader_constants[vertex_registers][4];
extern float frame_time;
extern unsigned long frame_number;

inline IDirect3DVertexShader9* drawn_vertex_shader() { return drawn_set()->vertex; }
inline IDirect3DPixelShader9* drawn_pixel_shader() { return drawn_set()->passes[0].shader; }
