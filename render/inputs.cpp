#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

static const char* const input_names[] = {"resolution", "time", "frame", "mouse", "previous_frame", "keyboard"};
// What a sampler NAME reads when main.fx has no ps_NAME, in the order looked for.
static const char* const sampler_files[] = {".wav", ".png", ".jpg", ".jpeg", ".bmp", ".dds", ".tga"};

// What the device has bound at each sampler that hotfx binds, so that a frame binds only what
// changed: pixel samplers 0 to 15, then vertex samplers 0 to 3, and one place shared by any
// number the device has no sampler for, whose calls change nothing. After a reset nothing the
// device may hold is taken for a texture.
static IDirect3DBaseTexture9* bound[21];
static IDirect3DBaseTexture9* const unknown_texture = (IDirect3DBaseTexture9*)&bound;

static int slot_of(DWORD sampler)
{
    if (sampler < 16)
        return (int)sampler;
    if (sampler - D3DVERTEXTEXTURESAMPLER0 < 4)
        return 16 + (int)(sampler - D3DVERTEXTEXTURESAMPLER0);
    return 20;
}

static DWORD sampler_of(int slot)
{
    return slot < 16 ? (DWORD)slot : D3DVERTEXTEXTURESAMPLER0 + (slot - 16);
}

// Notes what one compiled stage declares by the names above. A name hotfx fills must be of the
// register set it is filled through: a sampler called time would otherwise be written as a
// constant, to a register of its sampler's number. Any other sampler is an image or a pass,
// which the load decides by its name.
void read_inputs(int stage, ID3DXConstantTable* table, stage_inputs* into)
{
    D3DXCONSTANTTABLE_DESC table_desc;
    if (table->GetDesc(&table_desc) != D3D_OK)
        return;
    stage_inputs& set = *into;
    // A table can't name more than fit, but its count comes from the compiler, not from us.
    for (UINT i = 0; i < table_desc.Constants && set.count < (int)(sizeof set.inputs / sizeof set.inputs[0]); i++) {
        D3DXCONSTANT_DESC desc;
        UINT count = 1;
        table->GetConstantDesc(table->GetConstant(NULL, i), &desc, &count);
        int kind = 0;
        while (kind < input_image && strcmp(desc.Name, input_names[kind]))
            kind++;
        bool sampler = desc.RegisterSet == D3DXRS_SAMPLER;
        if (!sampler && kind == input_image)
            continue;
        bool constant = kind < input_previous_frame;
        input& in = set.inputs[set.count];
        memset(&in, 0, sizeof in);
        in.pass = -1;
        if (constant ? desc.RegisterSet != D3DXRS_FLOAT4 || desc.Type != D3DXPT_FLOAT ||
                           desc.Class > D3DXPC_VECTOR || desc.RegisterIndex >= 64
                     : !sampler || (desc.Type != D3DXPT_SAMPLER && desc.Type != D3DXPT_SAMPLER2D) ||
                           strlen(desc.Name) >= sizeof in.name) {
            printf(constant ? "Error : %s: hotfx fills it as a float, float2, float3 or float4 in c0 to c63; it reads 0\n"
                            : "Error : %s: hotfx fills it as a sampler2D; it reads black\n",
                   desc.Name);
            set.failed = true;
            if (!sampler)
                continue;
            kind = input_image;  // bound to nothing, so that it reads black
            in.name[0] = 0;
        } else {
            strcpy(in.name, desc.Name);
        }
        set.reads_previous_frame |= kind == input_previous_frame;
        set.reads_keyboard |= kind == input_keyboard;
        in.kind = (BYTE)kind;
        in.stage = (BYTE)stage;
        in.index = (WORD)(desc.RegisterIndex + (sampler && !stage ? D3DVERTEXTEXTURESAMPLER0 : 0));
        set.count++;
    }
}

// NAME.wav, or else the first image NAME.png, .jpg, ... beside main.fx, for a sampler that no
// pass is drawn for. Returns false after saying why it reads black.
bool load_sampler_file(input* in)
{
    char path[MAX_PATH];
    size_t length = strlen(in->name);
    DWORD size = 0, error = 0;
    BYTE* bytes = NULL;
    size_t kind = 0;
    if (load_sound(in->name, &in->sound) != no_sound_file) {
        in->kind = input_sound;
        if (!in->sound.mono)
            return false;
        if (device->CreateTexture(sound_width, 2, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &in->texture, NULL) == D3D_OK)
            return true;
        printf("Error : sampler %s: the device refused its texture; it reads black\n", in->name);
        in->texture = NULL;
        release_sound(&in->sound);
        return false;
    }
    for (kind = 1; kind < sizeof sampler_files / sizeof sampler_files[0] && !bytes; kind++) {
        memcpy(path, in->name, length);
        strcpy(path + length, sampler_files[kind]);
        bytes = read_listed_file(path, &size, &error);
        if (!bytes && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            break;
    }
    if (!bytes && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        printf("Error : sampler %s: no %s.png, .jpg, .jpeg, .bmp, .dds, .tga or .wav here, and no function ps_%s in %s; "
               "it reads black\n", in->name, in->name, in->name, shader_source[0]);
        return false;
    }
    if (!bytes) {
        printf("Error : sampler %s: can't open %s (error %lu); it reads black\n", in->name, path, (unsigned long)error);
        return false;
    }
    HRESULT status = D3DXCreateTextureFromFileInMemoryEx(device, bytes, size, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2,
                                                         D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                         D3DX_DEFAULT, 0, NULL, NULL, &in->texture);
    free(bytes);
    if (status == D3D_OK)
        return true;
    in->texture = NULL;
    printf("Error : sampler %s: D3DX can't read %s (status 0x%08X); it reads black\n", in->name, path,
           (unsigned)status);
    return false;
}

// A picture of one byte a texel, which a managed texture keeps through a reset of the device.
static void upload(IDirect3DTexture9* texture, const BYTE* rows, int width, int height)
{
    D3DLOCKED_RECT locked;
    if (!texture || texture->LockRect(0, &locked, NULL, 0) != D3D_OK)
        return;
    for (int y = 0; y < height; y++)
        memcpy((BYTE*)locked.pBits + y * locked.Pitch, rows + y * width, width);
    texture->UnlockRect(0);
}

// The set's 256x3 picture of the keys, when a stage reads them. Returns false when refused.
bool make_keyboard(shader_set* set)
{
    if (device->CreateTexture(256, 3, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &set->keyboard, NULL) == D3D_OK)
        return true;
    set->keyboard = NULL;
    printf("Error : keyboard: the device refused its texture; it reads black\n");
    return false;
}

// Releases what a stage holds, and empties it. What the device has bound is forget_bindings'.
void release_inputs(stage_inputs* inputs)
{
    for (int i = 0; i < inputs->count; i++) {
        input& in = inputs->inputs[i];
        if (in.texture)
            in.texture->Release();
        in.texture = NULL;
        if (in.kind == input_sound)
            release_sound(&in.sound);
    }
    inputs->count = 0;
    inputs->reads_previous_frame = inputs->reads_keyboard = inputs->failed = false;
}

// With unbind_all, after a swap or before a set goes: what the device holds goes from it. Without,
// after a reset, which leaves what the device holds unknown.
void forget_bindings(bool unbind_all)
{
    for (int slot = 0; slot < 20; slot++) {
        if (unbind_all && bound[slot] && bound[slot] != unknown_texture)
            device->SetTexture(sampler_of(slot), NULL);
        bound[slot] = unbind_all ? NULL : unknown_texture;
    }
}

static void bind(WORD sampler, IDirect3DBaseTexture9* texture)
{
    int slot = slot_of(sampler);
    if (bound[slot] != texture) {
        bound[slot] = texture;
        device->SetTexture(sampler, texture);
    }
}

// A pass's target goes from every sampler before the pass draws into it: a texture bound
// while it is drawn into would be read and written at once.
void unbind(IDirect3DBaseTexture9* texture)
{
    for (int slot = 0; slot < 16; slot++)
        if (bound[slot] == texture || bound[slot] == unknown_texture) {
            bound[slot] = NULL;
            device->SetTexture(slot, NULL);
        }
}

// Each frame drawn, before its stages: the keys, where the set reads them and they changed.
void give_keys(shader_set* set, const frame_events* events)
{
    if (set->keyboard && (events->keys_changed || !set->keys_given))
        upload(set->keyboard, events->keys[0], 256, 3);
    set->keys_given = set->keyboard != NULL;
}

// The time in c0.x, then each named input in the stage's registers and each sampler's texture.
void feed_stage(const shader_set* set, const stage_inputs* reads, float (*registers)[4], float time, float frame,
                const frame_events* events)
{
    static BYTE rows[2][sound_width];
    const float resolution[4] = {(float)present_params.BackBufferWidth, (float)present_params.BackBufferHeight,
                                 1.0f / present_params.BackBufferWidth, 1.0f / present_params.BackBufferHeight};
    registers[0][0] = time;
    for (const input *in = reads->inputs, *end = in + reads->count; in != end; in++) {
        float* to = registers[in->index];
        switch (in->kind) {
        case input_resolution:
            memcpy(to, resolution, sizeof resolution);
            break;
        case input_time:
        case input_frame:
            to[0] = in->kind == input_time ? time : frame;
            to[1] = to[2] = to[3] = 0;
            break;
        case input_mouse:
            memcpy(to, events->mouse, sizeof events->mouse);
            break;
        case input_previous_frame:
            bind(in->index, previous_texture());
            break;
        case input_keyboard:
            bind(in->index, set->keyboard);
            break;
        case input_pass:
            bind(in->index, pass_texture(in->pass));
            break;
        case input_sound:
            sound_rows(&in->sound, time, rows);
            upload(in->texture, rows[0], sound_width, 2);
            // fall through
        default:
            bind(in->index, in->texture);
        }
    }
}
