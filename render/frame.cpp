#include <stdio.h>

#include "render/render.h"

// Clip-space corners, wound clockwise so the default culling keeps both triangles; the
// texture coordinate repeats x and y, from -1 to 1 with v growing upwards.
const quad_vertex quad_vertices[4] = {
    // x    y    z    u    v
    { 1, -1, 0,  1, -1},
    {-1, -1, 0, -1, -1},
    { 1,  1, 0,  1,  1},
    {-1,  1, 0, -1,  1},
};
static const DWORD quad_fvf = D3DFVF_XYZ | D3DFVF_TEX1;

// c0.x is the time; every other component of the 64 registers stays 0.
float shader_constants[64][4];
float& frame_time = shader_constants[0][0];

// One step per frame drawn, so the time counts frames, not seconds.
const float time_step = 0.016666f;

void render_frame()
{
    if (GetAsyncKeyState(VK_F5))
        load_shaders();

    device->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);
    if (device->BeginScene() == D3D_OK) {
        if (vertex_shader) {
            device->SetVertexShaderConstantF(0, shader_constants[0], 64);
            device->SetVertexShader(vertex_shader);
        } else {
            printf("Error : Vshader\n");
        }
        if (pixel_shader) {
            device->SetPixelShaderConstantF(0, shader_constants[0], 64);
            device->SetPixelShader(pixel_shader);
        } else {
            printf("Error : Pshader\n");
        }
        frame_time += time_step;

        device->SetFVF(quad_fvf);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad_vertices, sizeof(quad_vertex));
        device->EndScene();
    }
    device->Present(NULL, NULL, NULL, NULL);
}
