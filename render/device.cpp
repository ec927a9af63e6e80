#include <stdio.h>
#include <string.h>

#include "render/render.h"

// What lives in the device's default pool: the back buffer's reference, the previous frame and
// every pass's targets. They belong to the device, not to a set: made for the drawn set after
// each load and each reset, released all at once before a reset (a Reset fails while such a
// resource lives), and never made while the device is lost.

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

// By the drawn set's records: a pass reads the first of its targets, what it drew last, and
// one that reads itself draws into the second, and the two swap. Record 0 is ps_main's, which
// draws the picture: its two are the picture of the frame before, which the stages read, and
// the one being kept for the frame after, made while the set reads the previous frame.
struct pass_targets {
    char name[64];
    IDirect3DTexture9* textures[2];
    IDirect3DSurface9* surfaces[2];
    bool two;
};
static pass_targets targets[17];
static IDirect3DSurface9* back_buffer = NULL;
bool device_lost = false;
// Reached once the device has drawn all it was given before it: a catch-up must take the
// device's time, and both stacks queue what they are given and return at once.
static IDirect3DQuery9* drawn_event = NULL;

bool device_is_lost()
{
    return device_lost;
}

// Once per device, before the first pass's texture.
bool passes_filtered()
{
    if (pass_format >= 0)
        return pass_filtered;
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
    return pass_filtered;
}

static void release_texture(IDirect3DTexture9** texture, IDirect3DSurface9** surface)
{
    if (*surface)
        (*surface)->Release();
    if (*texture)
        (*texture)->Release();
    *surface = NULL;
    *texture = NULL;
}

// Black, the back buffer's size. Returns false after saying what the device refused.
static bool make_texture(D3DFORMAT format, IDirect3DTexture9** texture, IDirect3DSurface9** surface,
                         const char* what, const char* name)
{
    HRESULT status = device->CreateTexture(present_params.BackBufferWidth, present_params.BackBufferHeight, 1,
                                           D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, texture, NULL);
    if (status == D3D_OK)
        status = (*texture)->GetSurfaceLevel(0, surface);
    if (status == D3D_OK)
        status = device->ColorFill(*surface, NULL, 0);
    if (status == D3D_OK)
        return true;
    printf("Error : %s%s: the device refused its texture (status 0x%08X); it reads black\n", what, name,
           (unsigned)status);
    release_texture(texture, surface);
    return false;
}

// What the drawn set needs, keeping what each pass whose name is still there has drawn; the
// rest goes. Returns false when the device refused something, which then reads black.
bool make_device_resources(const shader_set* set)
{
    if (device_lost)
        return true;
    pass_targets kept[17] = {targets[0]};
    for (int i = 1; i < set->pass_count; i++) {
        strcpy(kept[i].name, set->passes[i].name);
        kept[i].two = set->passes[i].reads_itself;
        for (int j = 1; j < 17; j++)
            if (targets[j].textures[0] && strcmp(targets[j].name, kept[i].name) == 0) {
                memcpy(kept[i].textures, targets[j].textures, sizeof kept[i].textures);
                memcpy(kept[i].surfaces, targets[j].surfaces, sizeof kept[i].surfaces);
                memset(&targets[j], 0, sizeof targets[j]);
            }
    }
    for (int j = 1; j < 17; j++)
        for (int which = 0; which < 2; which++)
            release_texture(&targets[j].textures[which], &targets[j].surfaces[which]);
    memcpy(targets, kept, sizeof targets);
    targets[0].two = set->reads_previous_frame;
    bool made = true;
    for (int i = 0; i < set->pass_count; i++) {
        pass_targets* p = &targets[i];
        for (int which = 0; which < 2; which++)
            if (which >= (p->two ? 2 : i > 0))
                release_texture(&p->textures[which], &p->surfaces[which]);
            else if (!p->textures[which])
                made &= make_texture(i ? (passes_filtered(), pass_formats[pass_format].format)
                                       : present_params.BackBufferFormat,
                                     &p->textures[which], &p->surfaces[which], i ? "pass " : "previous_frame", p->name);
    }
    bool wants_back_buffer = set->reads_previous_frame || set->pass_count > 1;
    if (wants_back_buffer && !back_buffer)
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_buffer);
    if (!wants_back_buffer && back_buffer) {
        back_buffer->Release();
        back_buffer = NULL;
    }
    return made;
}

// Before a reset and at shutdown; a lost device gets none until it is reset.
void release_device_resources(bool lost)
{
    release_timing();
    for (int i = 0; i < 17; i++)
        for (int which = 0; which < 2; which++)
            release_texture(&targets[i].textures[which], &targets[i].surfaces[which]);
    memset(targets, 0, sizeof targets);
    if (back_buffer)
        back_buffer->Release();
    back_buffer = NULL;
    if (drawn_event)
        drawn_event->Release();
    drawn_event = NULL;
    device_lost = lost;
}

void wait_for_device()
{
    if (!drawn_event && device->CreateQuery(D3DQUERYTYPE_EVENT, &drawn_event) != D3D_OK)
        drawn_event = NULL;
    if (drawn_event && drawn_event->Issue(D3DISSUE_END) == D3D_OK)
        while (drawn_event->GetData(NULL, 0, D3DGETDATA_FLUSH) == S_FALSE)
            Sleep(0);
}

// A step back: the passes and the previous frame start again from black.
void clear_device_state()
{
    for (int i = 0; i < 17; i++)
        for (int which = 0; which < 2; which++)
            if (targets[i].surfaces[which])
                device->ColorFill(targets[i].surfaces[which], NULL, 0);
}

// Where what a pass drew last is kept, for its readers.
IDirect3DTexture9* const* pass_texture(int pass)
{
    return &targets[pass].textures[0];
}

// Once the pass's stage is fed: the texture it draws into, now the render target, or NULL
// where the device refused it. One that reads itself has read the first of its two, what it
// drew last; the two swap, and the first is what it draws now, for the stages after it.
static void swap_targets(pass_targets& p)
{
    IDirect3DTexture9* older = p.textures[1];
    IDirect3DSurface9* older_surface = p.surfaces[1];
    p.textures[1] = p.textures[0];
    p.surfaces[1] = p.surfaces[0];
    p.textures[0] = older;
    p.surfaces[0] = older_surface;
}

IDirect3DTexture9* draw_into_pass(int pass)
{
    pass_targets& p = targets[pass];
    if (p.two)
        swap_targets(p);
    if (p.surfaces[0])
        device->SetRenderTarget(0, p.surfaces[0]);
    return p.textures[0];
}

void draw_into_picture()
{
    device->SetRenderTarget(0, back_buffer);
}

IDirect3DTexture9* const* previous_texture()
{
    return &targets[0].textures[0];
}

// At the start of each new frame: what was kept of the frame before is what it reads.
void begin_previous_frame()
{
    swap_targets(targets[0]);
}

// After the scene of a new frame: its picture, for the frame after.
void keep_picture()
{
    if (targets[0].surfaces[1])
        device->StretchRect(back_buffer, NULL, targets[0].surfaces[1], NULL, D3DTEXF_NONE);
}

// Through a Reset that changes the back buffer's size (full screen and back): what each target
// holds is copied into system memory, which a Reset keeps, and after it stretched into the
// targets of the new size, so that a simulation goes on as it does through a reload. A copy
// the device refuses leaves that target black.
static IDirect3DSurface9* kept_copies[17][2];
static UINT kept_width = 0, kept_height = 0;

static D3DFORMAT target_format(int record)
{
    return record ? pass_formats[pass_format].format : present_params.BackBufferFormat;
}

// Before the Reset, given the size they have: the copies, then everything in the default pool
// goes; the targets' names stay.
void keep_targets(UINT width, UINT height)
{
    kept_width = width;
    kept_height = height;
    for (int i = 0; i < 17; i++)
        for (int which = 0; which < 2; which++) {
            IDirect3DSurface9** copy = &kept_copies[i][which];
            if (!targets[i].surfaces[which])
                continue;
            if (device->CreateOffscreenPlainSurface(kept_width, kept_height, target_format(i), D3DPOOL_SYSTEMMEM, copy,
                                                    NULL) == D3D_OK &&
                device->GetRenderTargetData(targets[i].surfaces[which], *copy) != D3D_OK) {
                (*copy)->Release();
                *copy = NULL;
            }
            release_texture(&targets[i].textures[which], &targets[i].surfaces[which]);
        }
    pass_targets names[17];
    memcpy(names, targets, sizeof names);
    release_device_resources(false);
    memcpy(targets, names, sizeof names);
}

// One copy into its new target: through a texture of the old size in the default pool, since
// only such a surface can be stretched.
static void put_back(IDirect3DSurface9* copy, D3DFORMAT format, IDirect3DSurface9* target)
{
    IDirect3DTexture9* old_size = NULL;
    IDirect3DSurface9* old_surface = NULL;
    if (device->CreateTexture(kept_width, kept_height, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, &old_size,
                              NULL) == D3D_OK &&
        old_size->GetSurfaceLevel(0, &old_surface) == D3D_OK &&
        device->UpdateSurface(copy, NULL, old_surface, NULL) == D3D_OK)
        device->StretchRect(old_surface, NULL, target, NULL, D3DTEXF_POINT);
    release_texture(&old_size, &old_surface);
}

// After the Reset, once the drawn set's targets are made again at the new size.
void put_back_targets()
{
    for (int i = 0; i < 17; i++)
        for (int which = 0; which < 2; which++) {
            IDirect3DSurface9** copy = &kept_copies[i][which];
            if (!*copy)
                continue;
            if (targets[i].surfaces[which])
                put_back(*copy, target_format(i), targets[i].surfaces[which]);
            (*copy)->Release();
            *copy = NULL;
        }
}
