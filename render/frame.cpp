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

// c0.x is the time; every other component of the 64 registers stays 0, but for the named
// inputs, which the pixel stage has in registers of its own.
float shader_constants[64][4];
float (*pixel_constants)[4] = shader_constants;

// Whether the missing stages were said since the last load or loss.
static bool missing_said = false;

// Set when Present says the device is lost (after a GPU reset, for one); until the device is
// reset, frames wait instead of drawing.
bool device_lost = false;
// A lost device's Present returns at once, so each frame waits this long before asking it
// again: the loop neither spins nor stops draining messages, and Escape still ends it.
static const DWORD lost_device_wait_ms = 50;

// Set when the driver reports an internal error, or fails to test or reset a lost device,
// until a frame is shown again.
bool driver_failing = false;
// Set when the driver fails a second time with no frame shown in between: the device can't
// come back, so hotfx asks to end and draws no more.
bool device_failed = false;

// The shaders go at once: one of them may be what made the GPU reset, and drawing it again
// after the reset could reset it again. They are unbound first, because some devices keep
// what is bound through a reset and would go on drawing the dropped pair. The user decides
// with F5.
static void lose_device(const char* what_happened)
{
    device_lost = true;
    missing_said = false;
    bool passes = drawn_shaders->pass_count > 1;
    device->SetVertexShader(NULL);
    device->SetPixelShader(NULL);
    release_shaders();
    release_previous_frame();
    printf("Error : %s, so the shaders were dropped%s; F5 loads them again\n", what_happened,
           passes ? ", and what the passes held with them" : "");
}

// A driver's failure is treated as a loss, once: if the device fails again before it has
// shown a frame, waiting for it would only repeat the failure.
static void driver_failed(HRESULT status)
{
    if (!driver_failing) {
        driver_failing = true;
        char what[64];
        sprintf(what, "The Direct3D driver failed (status 0x%08X)", (unsigned)status);
        lose_device(status == D3DERR_DRIVERINTERNALERROR ? "The Direct3D driver failed (D3DERR_DRIVERINTERNALERROR)"
                                                         : what);
        return;
    }
    device_failed = true;
    printf("Error : The Direct3D driver failed again before showing a frame; hotfx ends\n");
    PostQuitMessage(0);
}

// Returns true once the device can draw again. A Reset that finds the device lost again is
// tried again a wait later; any other failure is the driver's.
static bool restore_device()
{
    Sleep(lost_device_wait_ms);
    HRESULT status = device->TestCooperativeLevel();
    if (status == D3DERR_DEVICENOTRESET)
        status = device->Reset(&present_params);
    if (status != D3D_OK && status != D3DERR_DEVICELOST && status != D3DERR_DEVICENOTRESET)
        driver_failed(status);
    if (status != D3D_OK)
        return false;
    device_lost = false;
    forget_bound_textures();
    // A reset forgets the sampler states that a load made while the device was lost set.
    if (pixel_shader)
        set_sampler_states();
    return true;
}

void render_frame()
{
    if (device_failed)
        return;
    if (GetAsyncKeyState(VK_F5) || saved_shaders_changed()) {
        load_shaders();
        missing_said = false;
    }
    if (device_lost && !restore_device())
        return;
    follow_sound();

    draw_scene();
    HRESULT presented = device->Present(NULL, NULL, NULL, NULL);
    if (presented == D3DERR_DEVICELOST)
        lose_device("The Direct3D device was lost");
    else if (presented == D3DERR_DRIVERINTERNALERROR)
        driver_failed(presented);
    else if (presented == D3D_OK)
        driver_failing = false;
}

// Clears, feeds each stage that has a shader the constants, draws the passes and the quad and
// advances the time: all of a frame but the F5 poll and the presentation, so a saved frame is
// a live one. Returns false when the device would not begin the scene, which then neither drew
// nor counted.
bool draw_scene()
{
    device->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);
    bool began = device->BeginScene() == D3D_OK;
    if (began) {
        shader_set& set = *drawn_shaders;
        float frame = (float)frame_number;
        feed_stage(&set, &set.vertex_reads, frame_time, frame);
        if (vertex_shader) {
            device->SetVertexShaderConstantF(0, shader_constants[0], 64);
            device->SetVertexShader(vertex_shader);
            draw_passes(&set);
        } else if (!missing_said) {
            printf("Error : Vshader\n");
        }
        feed_stage(&set, &set.passes[0].reads, frame_time, frame);
        if (pixel_shader) {
            device->SetPixelShaderConstantF(0, pixel_constants[0], 64);
            device->SetPixelShader(pixel_shader);
        } else if (!missing_said) {
            printf("Error : Pshader\n");
        }
        missing_said = missing_said_once;
        device->SetFVF(quad_fvf);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad_vertices, sizeof(quad_vertex));
        device->EndScene();
        end_frame();
    }
    return began;
}
