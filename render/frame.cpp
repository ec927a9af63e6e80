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

// --watch: a missing stage is said once after each load or loss, not in every frame, or on a
// Windows console the compiler's message would scroll out of sight within a second.
static bool missing_said_once = false;
static bool missing_said = false;

// A lost device's Present returns at once, so each frame waits this long before asking it
// again: the loop neither spins nor stops draining messages, and Escape still ends it.
static const DWORD lost_device_wait_ms = 50;
// Set when the driver reports an internal error, or fails to test or reset a lost device,
// until a frame is shown again; then a second failure ends hotfx.
bool driver_failing = false;
bool device_failed = false;

// A frame of shaders that carry state needs every frame before it drawn first, from 0 after a
// step back. The live loop draws at most this long of them in a frame (in seconds; GetTickCount
// moves in steps of 10 to 16 ms under Wine), shows the frame reached and handles its messages,
// and goes on in the next frame.
static const double catch_up_seconds = 0.040;
static bool catching_up = false;

void use_options(bool options, bool watching, bool exact)
{
    use_named_inputs(options, watching, exact);
    missing_said_once = watching;
}

bool device_gave_up()
{
    return device_failed;
}

// The shaders go at once: one of them may be what made the GPU reset, and drawing it again
// after the reset could reset it again. They are unbound first, because some devices keep
// what is bound through a reset and would go on drawing the dropped pair. The user decides
// with F5.
static void lose_device(const char* what_happened)
{
    missing_said = catching_up = false;
    bool passes = drawn_set()->pass_count > 1;
    device->SetVertexShader(NULL);
    device->SetPixelShader(NULL);
    release_shaders();
    release_device_resources(true);
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

// Returns true once the device can draw again, with what the drawn set needs of it; what the
// passes carried is gone, so their frames are drawn again from 0. A Reset that finds the device
// lost again is tried again a wait later; any other failure is the driver's.
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
    release_device_resources(false);
    forget_bindings(false);
    restart_chain();
    if (shaders_loaded()) {
        make_device_resources(drawn_set());
        set_sampler_states();
    }
    return true;
}

// Full screen or back: the back buffer takes its new size with a Reset, and what the passes and
// the previous frame carry goes through it, stretched to the new size. A lost device is reset at
// the new size when it comes back. A Reset that fails is a loss, or the driver's failure.
static void resize_back_buffer()
{
    UINT width = present_params.BackBufferWidth, height = present_params.BackBufferHeight;
    if (!take_new_size() || device_is_lost())
        return;
    keep_targets(width, height);
    HRESULT status = device->Reset(&present_params);
    if (status == D3D_OK) {
        forget_bindings(false);
        resize_stages(drawn_set());
        if (shaders_loaded()) {
            make_device_resources(drawn_set());
            set_sampler_states();
        }
    }
    put_back_targets();
    // Present leaves what lies outside the picture's place as it was, which on some stacks is
    // not the window's background but the last picture shown: the bars start black.
    if (status == D3D_OK && picture_place()) {
        device->Clear(0, NULL, D3DCLEAR_TARGET, 0x00000000, 1.0f, 0);
        device->Present(NULL, NULL, NULL, NULL);
    }
    if (status == D3DERR_DEVICELOST || status == D3DERR_DEVICENOTRESET)
        lose_device("The Direct3D device was lost");
    else if (status != D3D_OK)
        driver_failed(status);
}

// Each pass in order into its own target, then the back buffer is the target again for
// ps_main. A stage reads each pass's first target, which is this frame's picture for a pass
// drawn before it and the frame before's for itself or a pass drawn after it.
static void draw_passes(shader_set* set, bool timed)
{
    device->SetFVF(quad_fvf);
    for (const int *at = set->order, *end = at + set->pass_count - 1; at != end; at++) {
        pass& p = set->passes[*at];
        feed_stage(&p.reads);
        IDirect3DTexture9* target = draw_into_pass(*at);
        if (!target)
            continue;
        unbind(target, p);
        if (set->setting_count)
            set_stage_sampler_states(p.reads);
        device->SetPixelShaderConstantF(0, p.registers[0], p.reads.register_count);
        device->SetPixelShader(p.shader);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad_vertices, sizeof(quad_vertex));
        if (timed)
            time_drawn(*at);
    }
    draw_into_picture();
}

// Clears, feeds each stage that has a shader the constants, and draws the passes and the quad
// of one frame at its time. A fresh frame is the next of what the shaders carry: its passes
// draw and its picture is kept for the frame after. Any other is the last one again (the time
// stands still), whose passes have drawn already. Returns false when the device would not
// begin the scene, which then neither drew nor counted.
static bool draw_frame(shader_set* set, unsigned long frame, float time, bool fresh, bool timed)
{
    device->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);
    if (device->BeginScene() != D3D_OK)
        return false;
    const frame_events* events = take_events();
    give_keys(set, events);
    set_frame_inputs(time, (float)frame, events, set->listens ? listen() : NULL);
    if (fresh)
        begin_previous_frame();
    if (set->vertex) {
        feed_stage(&set->vertex_reads);
        device->SetVertexShaderConstantF(0, set->vertex_reads.registers[0], set->vertex_reads.register_count);
        device->SetVertexShader(set->vertex);
        if (fresh && set->pass_count > 1)
            draw_passes(set, timed);
    } else if (!missing_said) {
        printf("Error : Vshader\n");
    }
    if (set->passes[0].shader) {
        feed_stage(&set->passes[0].reads);
        if (set->setting_count && set->pass_count > 1)
            set_stage_sampler_states(set->passes[0].reads);
        device->SetPixelShaderConstantF(0, set->passes[0].reads.registers[0], set->passes[0].reads.register_count);
        device->SetPixelShader(set->passes[0].shader);
    } else if (!missing_said) {
        printf("Error : Pshader\n");
    }
    missing_said = missing_said_once;
    device->SetFVF(quad_fvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad_vertices, sizeof(quad_vertex));
    device->EndScene();
    if (timed) {
        time_drawn(0);
        end_timed_frame();
    }
    // What the shaders carry starts with the first frame they draw.
    if (fresh && set->vertex) {
        keep_picture();
        chain_drawn(frame, time);
    }
    return true;
}

// The clock's frame, drawn as the live loop draws it, and the time moves on: a saved frame is
// a live one. Returns false when the device would not begin the scene.
bool draw_scene()
{
    shader_set* set = drawn_set();
    unsigned long frame = clock_frame();
    // F2 times the frames shown, not those of a catch-up.
    bool timed = begin_timed_frame(set);
    if (!draw_frame(set, frame, clock_time(), !set->carries_state || chain_frame() == frame, timed))
        return false;
    if (take_arrival())
        printf("%s at frame %lu.\n", clock_running() ? "Running" : "Stopped", frame);
    advance_time();
    return true;
}

// Draws the frames before the clock's that the shaders carry and haven't drawn, for about
// catch_up_seconds. Returns true once the clock's frame is next, false to show the frame reached.
static bool catch_up(shader_set* set)
{
    unsigned long target = clock_frame();
    // A step back, also in the middle of a catch-up: the way is said again from frame 0.
    if (set->carries_state && chain_frame() > target + 1) {
        clear_device_state();
        restart_chain();
        catching_up = false;
    }
    if (!set->carries_state || chain_frame() >= target) {
        catching_up = false;
        return true;
    }
    // A frame is begun where one as long as the longest so far still ends within the slice.
    double start = seconds_now(), now = start, longest = 0;
    while (chain_frame() < target && now - start + longest <= catch_up_seconds) {
        if (!draw_frame(set, chain_frame(), chain_time(), true, false))
            return false;
        wait_for_device();
        double drawn_at = seconds_now();
        longest = drawn_at - now > longest ? drawn_at - now : longest;
        now = drawn_at;
    }
    // Said once, where the way is longer than a frame.
    if (chain_frame() < target && !catching_up)
        printf("Drawing up to frame %lu, %lu frames on: the shaders carry each frame into the next.\n", target,
               target - chain_frame());
    catching_up = chain_frame() < target;
    return !catching_up;
}

void render_frame()
{
    if (device_failed)
        return;
    saved_change saved = GetAsyncKeyState(VK_F5) ? saved_shaders : saved_files_changed();
    if (saved == saved_shaders) {
        load_shaders();
        missing_said = false;
    } else if (saved == saved_values && shaders_loaded()) {
        read_values(drawn_set());
        show_controls(drawn_set());
    }
    take_osc_messages();
    // What the controls set is saved while the device is lost too.
    save_values_when_due();
    resize_back_buffer();
    if (device_is_lost() && !restore_device())
        return;
    follow_sound();

    if (catch_up(drawn_set()))
        draw_scene();
    HRESULT presented = device->Present(NULL, picture_place(), NULL, NULL);
    if (presented == D3DERR_DEVICELOST)
        lose_device("The Direct3D device was lost");
    else if (presented == D3DERR_DRIVERINTERNALERROR)
        driver_failed(presented);
    else if (presented == D3D_OK)
        driver_failing = false;
    report_timing(drawn_set());
}
