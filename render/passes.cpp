#include <stdio.h>
#include <string.h>

#include "render/render.h"

// What a pass draws into, the first that the device can render to: float keeps negative
// values, values above 1 and small steps from frame to frame, which a simulation needs.
static const struct {
    D3DFORMAT format;
    const char* said;
} pass_formats[] = {
    {D3DFMT_A32B32G32R32F, NULL},
    {D3DFMT_A16B16G16R16F, "Passes are 16-bit float: the device can't draw into 32-bit float textures"},
    {D3DFMT_A8R8G8B8, "Passes are 8-bit: the device can't draw into float textures"},
};
static int pass_format = -1;
// Where the device can't filter the format, the passes are read point by point.
static bool pass_filtered = true;

// The picture's own target, set again after the passes have drawn into theirs.
static IDirect3DSurface9* back_buffer = NULL;

// How many frames the passes have drawn since they were cleared: while the time stands still
// they draw no more, a step forward draws the frames stepped over, and a step back starts
// them again from frame 0, so that what they hold at frame N is what --frame N draws.
static unsigned long passes_drawn = 0;
// The time of frame passes_drawn, added up as the clock adds it, step by step.
static float passes_time = 0;

// Once per device, before the first pass's texture.
static void choose_pass_format()
{
    if (pass_format >= 0)
        return;
    pass_format = 0;
    while (pass_format < 2 &&
           d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, present_params.BackBufferFormat,
                                  D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE,
                                  pass_formats[pass_format].format) != D3D_OK)
        pass_format++;
    if (pass_formats[pass_format].said)
        printf("%s\n", pass_formats[pass_format].said);
    pass_filtered = d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, present_params.BackBufferFormat,
                                           D3DUSAGE_QUERY_FILTER, D3DRTYPE_TEXTURE,
                                           pass_formats[pass_format].format) == D3D_OK;
}

void print_pass_order(const shader_set& set)
{
    if (set.pass_count < 2)
        return;
    printf("Passes in order:");
    for (int i = 0; i < set.pass_count - 1; i++)
        printf(" %s", set.passes[set.order[i]].name);
    printf("\n");
}

// A reload keeps what each pass whose name is still there has drawn, and the passes go on
// from the frame the time is at.
void keep_pass_targets(shader_set* set, shader_set* old)
{
    passes_drawn = frame_number;
    passes_time = frame_time;
    for (int i = 1; i < set->pass_count; i++)
        for (int j = 1; j < old->pass_count; j++) {
            pass& to = set->passes[i];
            pass& from = old->passes[j];
            if (strcmp(to.name, from.name) != 0)
                continue;
            memcpy(to.targets, from.targets, sizeof to.targets);
            memcpy(to.surfaces, from.surfaces, sizeof to.surfaces);
            memset(from.targets, 0, sizeof from.targets);
            memset(from.surfaces, 0, sizeof from.surfaces);
        }
}

// Cleared to 0, the back buffer's size, in the default pool: so never while the device is
// lost (a Reset fails while such textures live); the reset makes them.
static bool make_target(pass* p, int which)
{
    HRESULT status = device->CreateTexture(present_params.BackBufferWidth, present_params.BackBufferHeight, 1,
                                           D3DUSAGE_RENDERTARGET, pass_formats[pass_format].format,
                                           D3DPOOL_DEFAULT, &p->targets[which], NULL);
    if (status == D3D_OK)
        status = p->targets[which]->GetSurfaceLevel(0, &p->surfaces[which]);
    if (status == D3D_OK)
        status = device->ColorFill(p->surfaces[which], NULL, 0);
    if (status == D3D_OK)
        return true;
    printf("Error : pass %s: the device refused its texture (status 0x%08X); it reads black\n", p->name,
           (unsigned)status);
    if (p->surfaces[which])
        p->surfaces[which]->Release();
    if (p->targets[which])
        p->targets[which]->Release();
    p->surfaces[which] = NULL;
    p->targets[which] = NULL;
    return false;
}

// The targets the passes lack, and the sampler states of every stage that reads one. Returns
// false when the device refused one.
bool make_pass_targets(shader_set* set)
{
    if (set->pass_count < 2 || device_lost)
        return true;
    choose_pass_format();
    bool made = true;
    for (int i = 1; i < set->pass_count; i++) {
        pass* p = &set->passes[i];
        for (int which = 0; which < (p->reads_itself ? 2 : 1); which++)
            if (!p->targets[which])
                made &= make_target(p, which);
    }
    if (!back_buffer)
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_buffer);
    for (int i = 0; i < set->pass_count; i++) {
        const stage_inputs& reads = set->passes[i].reads;
        for (int j = 0; j < reads.count; j++) {
            if (reads.inputs[j].kind != input_pass)
                continue;
            set_sampler_states_of(reads.inputs[j].index);
            if (!pass_filtered) {
                device->SetSamplerState(reads.inputs[j].index, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
                device->SetSamplerState(reads.inputs[j].index, D3DSAMP_MINFILTER, D3DTEXF_POINT);
                device->SetSamplerState(reads.inputs[j].index, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
            }
        }
    }
    return made;
}

void release_pass_targets(shader_set* set)
{
    for (int i = 1; i < set->pass_count; i++) {
        pass& p = set->passes[i];
        for (int which = 0; which < 2; which++) {
            if (p.surfaces[which])
                p.surfaces[which]->Release();
            if (p.targets[which])
                p.targets[which]->Release();
            p.surfaces[which] = NULL;
            p.targets[which] = NULL;
        }
    }
    if (back_buffer)
        back_buffer->Release();
    back_buffer = NULL;
}

// Home: every pass starts again from 0.
void clear_passes(shader_set* set)
{
    passes_drawn = 0;
    passes_time = 0;
    for (int i = 1; i < set->pass_count; i++)
        for (int which = 0; which < 2; which++)
            if (set->passes[i].surfaces[which])
                device->ColorFill(set->passes[i].surfaces[which], NULL, 0);
}

// Each pass in order into its own target, as frame number frame at that time. A stage reads
// each pass's first target, which is this frame's picture for a pass drawn before it and the
// frame before's for itself or a pass drawn after it. A pass that reads itself draws into its
// other target, and the two swap: nothing is copied.
static void draw_passes_once(shader_set* set, float time, float frame)
{
    for (const int *at = set->order, *end = at + set->pass_count - 1; at != end; at++) {
        pass& p = set->passes[*at];
        int into = p.reads_itself;
        if (!p.surfaces[into])
            continue;
        feed_stage(set, &p.reads, time, frame);
        device->SetRenderTarget(0, p.surfaces[into]);
        device->SetPixelShaderConstantF(0, p.registers[0], 64);
        device->SetPixelShader(p.shader);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad_vertices, sizeof(quad_vertex));
        if (into) {
            IDirect3DTexture9* drawn = p.targets[1];
            IDirect3DSurface9* drawn_surface = p.surfaces[1];
            p.targets[1] = p.targets[0];
            p.surfaces[1] = p.surfaces[0];
            p.targets[0] = drawn;
            p.surfaces[0] = drawn_surface;
        }
    }
}

// Inside the scene, with vs_main set: the passes up to the frame being drawn, then the back
// buffer is the target again for ps_main.
void draw_passes(shader_set* set)
{
    if (set->pass_count < 2 || !back_buffer)
        return;
    // Passes that keep nothing from frame to frame draw the frame shown, and only that.
    if (!set->carries_state) {
        passes_drawn = frame_number;
        passes_time = frame_time;
    }
    if (passes_drawn > frame_number + 1)
        clear_passes(set);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
    for (; passes_drawn <= frame_number; passes_drawn++) {
        draw_passes_once(set, passes_time, (float)passes_drawn);
        // As the clock adds it: rounded to a float at each step.
        volatile float next = passes_time + time_step;
        passes_time = next;
    }
    device->SetRenderTarget(0, back_buffer);
}
