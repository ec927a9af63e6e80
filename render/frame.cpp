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

// Set when Present says the device is lost (after a GPU reset, for one); until the device is
// reset, frames wait instead of drawing.
bool device_lost = false;
// A lost device's Present returns at once, so each frame waits this long before asking it
// again: the loop neither spins nor stops draining messages, and Escape still ends it.
static const DWORD lost_device_wait_ms = 50;

// The shaders go at once: one of them may be what made the GPU reset, and drawing it again
// after the reset could reset it again. The user decides with F5.
static void lose_device()
{
    device_lost = true;
    release_shaders();
    printf("Error : The Direct3D device was lost, so the shaders were dropped; F5 loads them again\n");
}

// Returns true once the device can draw again. A failed Reset is tried again a wait later.
static bool restore_device()
{
    Sleep(lost_device_wait_ms);
    HRESULT status = device->TestCooperativeLevel();
    if (status == D3DERR_DEVICENOTRESET)
        status = device->Reset(&present_params);
    if (status != D3D_OK)
        return false;
    device_lost = false;
    // A reset forgets the sampler states that a load made while the device was lost set.
    if (pixel_shader)
        set_sampler_states();
    return true;
}

void render_frame()
{
    if (GetAsyncKeyState(VK_F5) || saved_shaders_changed())
        load_shaders();
    if (device_lost && !restore_device())
        return;

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
    if (device->Present(NULL, NULL, NULL, NULL) == D3DERR_DEVICELOST)
        lose_device();
}
