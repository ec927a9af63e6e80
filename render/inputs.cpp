#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

static const char* const input_names[] = {"resolution", "time", "frame", "mouse", "previous_frame", "keyboard",
                                          "sound_in", "sound_in_smoothed", "sound_in_total"};
// What a sampler NAME reads when main.fx has no ps_NAME and there is no NAME.wav, in the order
// looked for; a samplerCUBE or a sampler3D reads the .dds alone.
static const char* const image_files[] = {".png", ".jpg", ".jpeg", ".bmp", ".dds", ".tga"};
static const size_t dds_file = 4;

// What the device has bound at each sampler that hotfx binds, so that a frame binds only what
// changed: pixel samplers 0 to 15, then vertex samplers 0 to 3, and one place shared by any
// number the device has no sampler for, whose calls change nothing. After a reset nothing the
// device may hold is taken for a texture.
static IDirect3DBaseTexture9* bound[21];
static IDirect3DBaseTexture9* const unknown_texture = (IDirect3DBaseTexture9*)&bound;
// A register's worth for each named constant, as the frame being drawn has them.
static float values[4][4];
// What the capture device heard up to the frame being drawn, where the set listens.
static const hearing* heard_now = NULL;

// The live sound's three pictures: 512x2 bytes as a WAV's, 512x1 bytes, and 512x1 floats.
static const struct {
    UINT height;
    D3DFORMAT format;
} listening_textures[] = {{2, D3DFMT_L8}, {1, D3DFMT_L8}, {1, D3DFMT_R32F}};

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

// Room in the stage for one more input, emptied, and for the constant it may copy in each
// frame; NULL where the heap has none.
static input* new_input(stage_inputs* into)
{
    int constant_room = into->room;
    if (!make_room(&into->constants, &constant_room, into->count + 1) ||
        !make_room(&into->inputs, &into->room, into->count + 1))
        return NULL;
    input& in = into->inputs[into->count];
    memset(&in, 0, sizeof in);
    return &in;
}

// The set's record of the global so named, made where it has none with what its annotations
// say and a register's worth of initial value at least, in the block the record kept from its
// last use. NULL where the heap has no room for it.
static global* global_named(shader_set* set, const char* name, const declaration* source)
{
    for (int i = 0; i < set->global_count; i++)
        if (strcmp(set->globals[i].name, name) == 0)
            return &set->globals[i];
    if (!make_room(&set->globals, &set->global_room, set->global_count + 1))
        return NULL;
    global& g = set->globals[set->global_count];
    float(*initial)[4] = g.initial;
    int room = g.initial_room;
    if (!make_room(&initial, &room, 1))
        return NULL;
    set->global_count++;
    memset(&g, 0, sizeof g);
    if (source)
        g = source->annotations;
    g.initial = initial;
    g.initial_room = room;
    strcpy(g.name, name);
    return &g;
}

// A global at c0 that leaves c0.x to the time, noted so that a line of main.values for it can be
// said to be passed over; it has no value of its own.
static void note_left_to_time(shader_set* set, const char* name, const declaration* source)
{
    int count = set->global_count;
    global* g = strlen(name) < sizeof set->globals[0].name ? global_named(set, name, source) : NULL;
    if (g && set->global_count > count)
        g->passed_over = left_to_time;
}

// A global of the author's: its record in the set, made by the first stage that declares it,
// with its initial value and what its annotations say, and its place in this stage. One at c0
// with neither an initial value nor annotations leaves c0.x to the time, as without options.
static void read_global(shader_set* set, int stage, const D3DXCONSTANT_DESC& desc, stage_inputs* into)
{
    const declaration* source = declared(desc.Name);
    bool authored = source && (source->initialised || source->annotations.annotated);
    bool scalar_or_vector = desc.Class <= D3DXPC_VECTOR && desc.Elements <= 1;
    UINT registers = desc.RegisterCount;
    if (desc.RegisterIndex == 0 && !authored && desc.RegisterSet == D3DXRS_FLOAT4) {
        note_left_to_time(set, desc.Name, source);
        return;
    }
    if (desc.RegisterSet != D3DXRS_FLOAT4 || !registers)
        return;
    // The compiler keeps a stage's constants within its registers; a table can't say otherwise.
    bool inside = desc.RegisterIndex + registers <= (UINT)(stage ? pixel_registers : vertex_registers);
    bool short_name = strlen(desc.Name) < sizeof into->inputs[0].name;
    int count = set->global_count;
    global* g = inside && short_name ? global_named(set, desc.Name, source) : NULL;
    input* in = g && make_room(&g->initial, &g->initial_room, (int)registers) ? new_input(into) : NULL;
    if (!in) {
        printf("Error : %s: %s; it reads 0\n", desc.Name,
               !short_name ? "a name of more than 63 characters"
               : !inside   ? "past the stage's registers"
                           : "no memory left for it");
        into->failed = true;
        return;
    }
    // One that another stage left to the time is this stage's global all the same.
    bool first = set->global_count > count || g->passed_over == left_to_time;
    if (first) {
        g->boolean = desc.Type == D3DXPT_BOOL;
        g->components = scalar_or_vector ? (BYTE)desc.Columns : 0;
        g->passed_over = scalar_or_vector ? settable : desc.Elements > 1 || desc.Class <= D3DXPC_VECTOR ? an_array : a_matrix;
        g->annotated &= g->components > 0;
    }
    // Scalars and vectors, of floats, ints or bools in float registers, and arrays of them: the
    // initial value as the table keeps it, a register for each element. A stage may keep more of
    // an array than the stage before it did.
    const BYTE* from = desc.Class <= D3DXPC_VECTOR ? (const BYTE*)desc.DefaultValue : NULL;
    for (UINT e = g->registers; e < registers; e++) {
        memset(g->initial[e], 0, sizeof g->initial[e]);
        for (UINT c = 0; from && c < desc.Columns && c < 4; c++) {
            const BYTE* bytes = from + (e * 4 + c) * 4;
            BOOL flag;
            memcpy(&g->initial[e][c], bytes, 4);
            memcpy(&flag, bytes, 4);
            g->initial[e][c] = g->boolean ? (float)(flag != 0) : g->initial[e][c];
        }
    }
    if (first)
        memcpy(g->value, g->initial[0], sizeof g->value);
    g->registers = (WORD)(registers > g->registers ? registers : g->registers);
    in->kind = input_global;
    in->stage = (BYTE)stage;
    in->index = (WORD)desc.RegisterIndex;
    in->global = (int)(g - set->globals);
    in->registers = (WORD)registers;
    strcpy(in->name, desc.Name);
    into->count++;
}

// The texture of sound_in or one of its companions; false after saying it reads black.
static bool make_listening_texture(input* in, int kind)
{
    const auto& made = listening_textures[kind - input_sound_in];
    if (device->CreateTexture(sound_width, made.height, 1, 0, made.format, D3DPOOL_MANAGED, &in->texture, NULL) == D3D_OK)
        return true;
    in->texture = NULL;
    printf("Error : %s: the device refused its texture; it reads black\n", input_names[kind]);
    return false;
}

// Notes what one compiled stage declares by the names above. A name hotfx fills must be of the
// register set it is filled through: a sampler called time would otherwise be written as a
// constant, to a register of its sampler's number. Any other sampler is an image or a pass,
// which the load decides by its name.
void read_inputs(shader_set* set_of, int stage, ID3DXConstantTable* table, stage_inputs* into)
{
    D3DXCONSTANTTABLE_DESC table_desc;
    if (table->GetDesc(&table_desc) != D3D_OK)
        return;
    stage_inputs& set = *into;
    UINT last = stage ? pixel_registers : vertex_registers;
    for (UINT i = 0; i < table_desc.Constants; i++) {
        D3DXCONSTANT_DESC desc;
        UINT count = 1;
        table->GetConstantDesc(table->GetConstant(NULL, i), &desc, &count);
        int kind = 0;
        while (kind < input_image && strcmp(desc.Name, input_names[kind]))
            kind++;
        bool sampler = desc.RegisterSet == D3DXRS_SAMPLER;
        if (!sampler && kind == input_image) {
            read_global(set_of, stage, desc, into);
            continue;
        }
        bool constant = kind < input_previous_frame;
        input* made = new_input(into);
        if (!made) {
            printf("Error : %s: no memory left for it; it reads %s\n", desc.Name, sampler ? "black" : "0");
            set.failed = true;
            continue;
        }
        input& in = *made;
        in.pass = -1;
        if (constant ? desc.RegisterSet != D3DXRS_FLOAT4 || desc.Type != D3DXPT_FLOAT ||
                           desc.Class > D3DXPC_VECTOR || desc.RegisterIndex >= last
                     : !sampler || (desc.Type != D3DXPT_SAMPLER && desc.Type != D3DXPT_SAMPLER2D &&
                                    (kind != input_image || desc.Type < D3DXPT_SAMPLER3D)) ||
                           strlen(desc.Name) >= sizeof in.name) {
            printf(constant ? "Error : %s: hotfx fills it as a float, float2, float3 or float4; it reads 0\n"
                            : "Error : %s: hotfx fills it as a sampler2D; it reads black\n",
                   desc.Name);
            set.failed = true;
            if (!sampler)
                continue;
            kind = input_image;  // bound to nothing, so that it reads black
            in.name[0] = 0;
        } else {
            strcpy(in.name, desc.Name);
            if (kind == input_image && desc.Type >= D3DXPT_SAMPLER3D)
                kind = desc.Type == D3DXPT_SAMPLER3D ? input_volume : input_cube;
        }
        set.reads_previous_frame |= kind == input_previous_frame;
        set.reads_keyboard |= kind == input_keyboard;
        if (kind >= input_sound_in && kind <= input_sound_in_total && !make_listening_texture(&in, kind))
            set.failed = true;
        set.listens |= in.texture != NULL;
        in.kind = (BYTE)kind;
        in.stage = (BYTE)stage;
        in.index = (WORD)(desc.RegisterIndex + (sampler && !stage ? D3DVERTEXTEXTURESAMPLER0 : 0));
        set.count++;
    }
}

// NAME.wav, or else the first image NAME.png, .jpg, ... beside main.fx, for a sampler that no
// pass is drawn for; NAME.dds for a cube map or a volume. Returns false after saying why it
// reads black.
bool load_sampler_file(input* in)
{
    char path[MAX_PATH];
    size_t length = strlen(in->name);
    DWORD size = 0, error = 0;
    BYTE* bytes = NULL;
    bool image = in->kind == input_image;
    if (image && load_sound(in->name, &in->sound) != no_sound_file) {
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
    size_t end = image ? sizeof image_files / sizeof image_files[0] : dds_file + 1;
    for (size_t kind = image ? 0 : dds_file; kind < end && !bytes; kind++) {
        memcpy(path, in->name, length);
        strcpy(path + length, image_files[kind]);
        bytes = read_listed_file(path, &size, &error);
        if (!bytes && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            break;
    }
    if (!bytes && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        if (image)
            printf("Error : sampler %s: no %s.png, .jpg, .jpeg, .bmp, .dds, .tga or .wav here, and no function ps_%s in %s; "
                   "it reads black\n", in->name, in->name, in->name, shader_source[0]);
        else
            printf("Error : sampler %s: no %s here; it reads black\n", in->name, path);
        return false;
    }
    if (!bytes) {
        printf("Error : sampler %s: can't open %s (error %lu); it reads black\n", in->name, path, (unsigned long)error);
        return false;
    }
    IDirect3DCubeTexture9* cube = NULL;
    IDirect3DVolumeTexture9* volume = NULL;
    HRESULT status;
    if (image)
        status = D3DXCreateTextureFromFileInMemoryEx(device, bytes, size, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2,
                                                     D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                     D3DX_DEFAULT, 0, NULL, NULL, &in->texture);
    else if (in->kind == input_cube)
        status = D3DXCreateCubeTextureFromFileInMemoryEx(device, bytes, size, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                                                         D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, NULL, NULL, &cube);
    else
        status = D3DXCreateVolumeTextureFromFileInMemoryEx(device, bytes, size, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT,
                                                           D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                           D3DX_DEFAULT, 0, NULL, NULL, &volume);
    free(bytes);
    if (status == D3D_OK) {
        in->cube_or_volume = cube ? static_cast<IDirect3DBaseTexture9*>(cube) : volume;
        return true;
    }
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

// Releases what a stage holds, and empties it; its tables stay for its next use. What the device
// has bound is forget_bindings'.
void release_inputs(stage_inputs* inputs)
{
    for (int i = 0; i < inputs->count; i++) {
        input& in = inputs->inputs[i];
        if (in.texture)
            in.texture->Release();
        if (in.cube_or_volume)
            in.cube_or_volume->Release();
        in.texture = NULL;
        in.cube_or_volume = NULL;
        if (in.kind == input_sound)
            release_sound(&in.sound);
    }
    inputs->count = inputs->constant_count = inputs->register_count = 0;
    inputs->binding_count = inputs->loaded_count = 0;
    inputs->registers = NULL;
    inputs->reads_previous_frame = inputs->reads_keyboard = inputs->reads_sound = inputs->failed = false;
    inputs->listens = false;
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

// A pass's target goes from every sampler that stages read the pass through before it draws
// into it: a texture bound while it is drawn into would be read and written at once.
void unbind(IDirect3DBaseTexture9* texture, const pass& drawn)
{
    for (const BYTE *slot = drawn.read_at, *end = slot + drawn.read_at_count; slot != end; slot++)
        if (bound[*slot] == texture) {
            bound[*slot] = NULL;
            device->SetTexture(*slot, NULL);
        }
}

// Each frame drawn, before its stages: the keys, where the set reads them and they changed.
void give_keys(shader_set* set, const frame_events* events)
{
    if (set->keyboard && (events->keys_changed || !set->keys_given))
        upload(set->keyboard, events->keys[0], 256, 3);
    set->keys_given = set->keyboard != NULL;
}

// The back buffer's size where a stage reads it; once a load and again when full screen
// changes it.
static void give_resolution(const stage_inputs* reads)
{
    float width = (float)present_params.BackBufferWidth, height = (float)present_params.BackBufferHeight;
    const float resolution[4] = {width, height, 1 / width, 1 / height};
    for (int i = 0; i < reads->count; i++)
        if (reads->inputs[i].kind == input_resolution)
            memcpy(reads->registers[reads->inputs[i].index], resolution, sizeof resolution);
}

void resize_stages(shader_set* set)
{
    give_resolution(&set->vertex_reads);
    for (int i = 0; i < set->pass_count; i++)
        give_resolution(&set->passes[i].reads);
}

// Once the set is drawn, its registers emptied: the resolution goes in at once, as it changes
// only with a new size of the back buffer, and the rest in every frame. The stage uploads c0 to
// c63, as without options, or up to the last register a constant of it takes.
void plan_stage(shader_set* set, stage_inputs* reads, float (*registers)[4])
{
    reads->registers = registers;
    reads->register_count = 64;
    reads->time_in_c0 = true;
    reads->constant_count = reads->binding_count = reads->loaded_count = 0;
    for (int i = 0; i < reads->count; i++) {
        input& in = reads->inputs[i];
        int end = in.index + (in.kind == input_global ? in.registers : 1);
        if (in.kind < input_previous_frame || in.kind == input_global)
            reads->register_count = end > reads->register_count ? end : reads->register_count;
        if (in.kind == input_global) {
            const global& g = set->globals[in.global];
            memcpy(registers[in.index], g.initial, in.registers * sizeof g.initial[0]);
            if (g.components) {
                reads->constants[reads->constant_count].to = registers[in.index];
                reads->constants[reads->constant_count++].from = g.value;
            }
            reads->time_in_c0 &= in.index != 0;
            continue;
        }
        if (in.kind != input_resolution && in.kind < input_previous_frame) {
            reads->constants[reads->constant_count].to = registers[in.index];
            reads->constants[reads->constant_count++].from = values[in.kind];
        }
        if (in.kind < input_previous_frame) {
            reads->time_in_c0 &= in.index != 0;
            continue;
        }
        if (in.cube_or_volume) {
            loaded_binding& to = reads->loaded[reads->loaded_count++];
            to.sampler = in.index;
            to.slot = (BYTE)slot_of(in.index);
            to.texture = in.cube_or_volume;
            continue;
        }
        binding& to = reads->bindings[reads->binding_count++];
        to.sampler = in.index;
        to.slot = (BYTE)slot_of(in.index);
        to.texture = in.kind == input_previous_frame ? previous_texture()
                     : in.kind == input_keyboard     ? &set->keyboard
                     : in.kind == input_pass         ? pass_texture(in.pass)
                                                     : &in.texture;
        reads->reads_sound |= in.kind == input_sound;
        pass* read = in.kind == input_pass ? &set->passes[in.pass] : NULL;
        if (read && to.slot < 16 && !memchr(read->read_at, to.slot, read->read_at_count))
            read->read_at[read->read_at_count++] = to.slot;
    }
    give_resolution(reads);
}

// The named constants' values in the frame about to be drawn: the time, the frame, the mouse.
void set_frame_inputs(float time, float frame, const frame_events* events, const hearing* heard)
{
    heard_now = heard;
    values[input_time][0] = time;
    values[input_frame][0] = frame;
    memcpy(values[input_mouse], events->mouse, sizeof events->mouse);
}

// The pictures of the sounds a stage reads, at the frame's time.
static void fill_sounds(const stage_inputs* reads)
{
    static BYTE rows[2][sound_width];
    for (int i = 0; i < reads->count; i++)
        if (reads->inputs[i].kind == input_sound) {
            sound_rows(&reads->inputs[i].sound, values[input_time][0], rows);
            upload(reads->inputs[i].texture, rows[0], sound_width, 2);
        }
}

// The live sound's pictures a stage reads, as the frame heard it.
static void fill_hearing(const stage_inputs* reads)
{
    for (int i = 0; i < reads->count && heard_now; i++) {
        const input& in = reads->inputs[i];
        if (in.kind == input_sound_in)
            upload(in.texture, heard_now->rows[0], sound_width, 2);
        else if (in.kind == input_sound_in_smoothed)
            upload(in.texture, heard_now->smoothed, sound_width, 1);
        else if (in.kind == input_sound_in_total)
            upload(in.texture, (const BYTE*)heard_now->total, sizeof heard_now->total, 1);
    }
}

// Each cube map and volume a stage reads, where the device doesn't have it bound already; out of
// line, as most stages read none.
static void feed_loaded(const stage_inputs* reads)
{
    for (const loaded_binding *to = reads->loaded, *end = to + reads->loaded_count; to != end; to++)
        if (bound[to->slot] != to->texture) {
            bound[to->slot] = to->texture;
            device->SetTexture(to->sampler, to->texture);
        }
}

// The time in c0.x, then each named constant in the stage's registers and each sampler's
// texture where the device doesn't have it bound already.
void feed_stage(const stage_inputs* reads)
{
    if (reads->time_in_c0)
        reads->registers[0][0] = values[input_time][0];
    for (const constant_copy *at = reads->constants, *end = at + reads->constant_count; at != end; at++)
        memcpy(at->to, at->from, sizeof values[0]);
    if (reads->reads_sound)
        fill_sounds(reads);
    if (reads->listens)
        fill_hearing(reads);
    for (const binding *to = reads->bindings, *end = to + reads->binding_count; to != end; to++)
        if (bound[to->slot] != *to->texture) {
            bound[to->slot] = *to->texture;
            device->SetTexture(to->sampler, *to->texture);
        }
    if (reads->loaded_count)
        feed_loaded(reads);
}
