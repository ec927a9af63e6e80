#include <stdio.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

static const char* const input_names[] = {"resolution", "time", "frame", "mouse", "previous_frame", "keyboard"};
// The last six that a save under --watch counts, in the order they are looked for.
static const char* const* const image_extensions = counted_extensions + 6;
static const size_t image_kinds = 6;

// A register's worth for each named constant: the back buffer's size and its inverse, the
// time, the frame, and the mouse: where the left button is and where it went down.
static float input_values[4][4] = {{1280, 1024, 1.0f / 1280, 1.0f / 1024}};
static float* const mouse = input_values[input_mouse];
static bool button_held = false;
// The client area, as the last WM_SIZE gave it: the picture is stretched over it.
static LPARAM client_size = 0;

// The keys under --watch, one byte a key by its virtual-key code: down, went down this frame,
// and toggled at each press. A shader that reads keyboard gets them as a 256x3 picture.
static BYTE key_states[3][256];
static IDirect3DTexture9* keyboard_texture = NULL;

// The presented picture of the frame before, copied on the GPU; it goes before a Reset.
static IDirect3DTexture9* previous_texture = NULL;
static IDirect3DSurface9* previous_surface = NULL;
static IDirect3DSurface9* back_buffer = NULL;

static char image_path[MAX_PATH];

// What the device has bound at each sampler that hotfx binds, by slot_of, so that a frame
// binds only what changed; forgotten for a new set's samplers and at a reset of the device.
static IDirect3DBaseTexture9* bound[21];
static IDirect3DBaseTexture9* const unknown_texture = (IDirect3DBaseTexture9*)&bound;

// The drawn set's samplers that only ever read one image, sound, previous frame or keyboard,
// whichever stage binds them: bound in its first frame, and again only after a release of any
// stage or a reset of the device may have unbound them.
static binding kept[21];
static int kept_count = 0;
static bool kept_bound = false;

// A sampler's place in bound: pixel samplers 0 to 15, then vertex samplers 0 to 3, and one
// place shared by any number the device has no sampler for, whose calls change nothing.
static int slot_of(DWORD sampler)
{
    if (sampler < 16)
        return (int)sampler;
    if (sampler - D3DVERTEXTEXTURESAMPLER0 < 4)
        return 16 + (int)(sampler - D3DVERTEXTEXTURESAMPLER0);
    return 20;
}

static void fill_sound(const input& in, float time);

// The image NAME.png, .jpg, ... beside main.fx, the name compared as Windows compares it.
IDirect3DTexture9* load_image(const char* name)
{
    size_t length = strlen(name);
    char wanted[MAX_PATH];
    if (length > sizeof wanted - 6)
        length = sizeof wanted - 6;  // too long a name for a file: none is found
    for (size_t i = 0; i < length; i++)
        wanted[i] = name[i] >= 'A' && name[i] <= 'Z' ? name[i] | 0x20 : name[i];
    size_t best = image_kinds;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            for (size_t i = 0; i < best; i++) {
                char* to = wanted + length;
                for (const char* from = image_extensions[i]; (*to++ = *from++);)
                    ;
                if (same_name(found.cFileName, wanted)) {
                    memcpy(image_path, found.cFileName, sizeof image_path);
                    best = i;
                }
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    IDirect3DTexture9* texture = NULL;
    if (best == image_kinds) {
        printf("Error : sampler %s: no %s.png, .jpg, .jpeg, .bmp, .dds, .tga or .wav here, and no function ps_%s in %s; "
               "it reads black\n", name, name, name, shader_source[0]);
        return NULL;
    }
    HRESULT status = D3DXCreateTextureFromFileExA(device, image_path, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2,
                                                  D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                  D3DX_DEFAULT, 0, NULL, NULL, &texture);
    if (status != D3D_OK) {
        printf("Error : sampler %s: D3DX can't read %s (status 0x%08X); it reads black\n", name, image_path,
               (unsigned)status);
        return NULL;
    }
    return texture;
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
        in.texture = NULL;
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

static bool image_of(const stage_inputs& reads, const char* file_name, const char* extension)
{
    for (int i = 0; i < reads.count; i++) {
        const input& in = reads.inputs[i];
        char wanted[sizeof in.name + 8];
        for (size_t at = 0; at < sizeof in.name; at++)
            wanted[at] = in.name[at] >= 'A' && in.name[at] <= 'Z' ? in.name[at] | 0x20 : in.name[at];
        strcat(wanted, extension);
        if (in.kind == input_image && in.name[0] && same_name(file_name, wanted))
            return true;
    }
    return false;
}

bool image_read_by_shaders(const char* file_name)
{
    const char* extension = extension_of(file_name);
    size_t kind = 0;
    while (kind < image_kinds && !same_name(extension, image_extensions[kind]))
        kind++;
    if (kind == image_kinds)
        return false;
    const shader_set& set = *drawn_shaders;
    bool read = image_of(set.vertex_reads, file_name, image_extensions[kind]);
    for (int i = 0; i < set.pass_count; i++)
        read |= image_of(set.passes[i].reads, file_name, image_extensions[kind]);
    return read;
}

// Unbinds and releases what a stage holds, and empties it.
void release_inputs(stage_inputs* inputs)
{
    for (int i = 0; i < inputs->count; i++) {
        const input& in = inputs->inputs[i];
        if (in.kind < input_previous_frame)
            continue;
        device->SetTexture(in.index, NULL);
        bound[slot_of(in.index)] = NULL;
        if (in.texture)
            in.texture->Release();
        if (in.kind == input_sound)
            release_sound(in.pass);
    }
    inputs->count = 0;
    // It may have unbound what the drawn set keeps bound.
    kept_bound = false;
    inputs->reads_previous_frame = inputs->reads_keyboard = inputs->failed = inputs->planned = false;
    inputs->read_at_count = 0;
}

// Sampler states after a complete load, and again after a reset of the device: images and the
// previous frame are read as sampler 0 is.
void set_input_samplers(const stage_inputs& inputs)
{
    for (int i = 0; i < inputs.count; i++)
        if (inputs.inputs[i].kind >= input_previous_frame && inputs.inputs[i].kind != input_pass)
            set_sampler_states_of(inputs.inputs[i].index);
}

// Where a named constant that a stage doesn't declare is written, every frame, unread; and
// the target of the stages that draw the picture, which no sampler reads.
static float unread[4];
static IDirect3DTexture9* const no_target = NULL;

// A reset of the device forgets what was bound; none of what the device may hold then is
// taken for a texture, so every sampler is bound again, and unbound before a pass draws.
void forget_bound_textures()
{
    for (int i = 0; i < (int)(sizeof bound / sizeof bound[0]); i++)
        bound[i] = unknown_texture;
    kept_bound = false;
}

// Only pixel samplers read passes; at any other number the device binds nothing. What a pass
// binds itself before it draws is never its own target, which goes from those samplers
// without being unbound first.
static void note_read_at(stage_inputs* pass_reads, int sampler)
{
    for (int i = 0; i < pass_reads->binding_count; i++)
        if (pass_reads->bindings[i].slot == sampler)
            return;
    for (int i = 0; i < pass_reads->read_at_count; i++)
        if (pass_reads->read_at[i] == sampler)
            return;
    if (sampler < 16)
        pass_reads->read_at[pass_reads->read_at_count++] = (BYTE)sampler;
}

// Once the load has settled what each input is and which registers ps_main has; a load that
// releases a stage has it planned again. Stage 0 is the vertex stage, then ps_main's record,
// which a frame feeds even in a set that the loss of the device emptied, and the passes'. A
// pass is drawn in every frame, and a sampler that stages read different textures through
// changes within one, so the stages bind those themselves.
void plan_inputs(shader_set* set)
{
    int last = set->pass_count > 1 ? set->pass_count : 1;
    // What each slot reads in every stage that binds it, or changes where that differs.
    IDirect3DTexture9* const* read_through[sizeof kept / sizeof kept[0]] = {};
    IDirect3DTexture9* const* const changes = &no_target;
    for (int stage = 0; stage <= last; stage++) {
        pass& p = set->passes[stage ? stage - 1 : 0];
        stage_inputs& plan = stage ? p.reads : set->vertex_reads;
        float (*registers)[4] = stage == 0 ? shader_constants : stage == 1 ? pixel_constants : p.registers;
        plan.binding_count = plan.read_at_count = 0;
        plan.reads_sound = false;
        plan.target = stage > 1 ? &p.targets[p.reads_itself ? 1 : 0] : &no_target;
        plan.c0 = registers[0];
        for (int kind = 0; kind < input_previous_frame; kind++)
            plan.named[kind] = unread;
        for (int i = 0; i < plan.count; i++) {
            const input& in = plan.inputs[i];
            if (in.kind < input_previous_frame) {
                plan.named[in.kind] = registers[in.index];
                continue;
            }
            plan.reads_sound |= in.kind == input_sound;
            binding& to = plan.bindings[plan.binding_count++];
            to.sampler = in.index;
            to.slot = (BYTE)slot_of(in.index);
            to.texture = in.kind == input_previous_frame ? &previous_texture
                         : in.kind == input_keyboard     ? &keyboard_texture
                         : in.kind == input_pass         ? &set->passes[in.pass].targets[0]
                                                         : &in.texture;
            IDirect3DTexture9* const* before = read_through[to.slot];
            read_through[to.slot] = in.kind == input_pass || (before && before != to.texture) ? changes : to.texture;
            // A new set binds every sampler it reads in its first frame, as loads always have.
            bound[to.slot] = unknown_texture;
        }
        plan.planned = true;
    }
    kept_count = 0;
    for (int stage = 0; stage <= last; stage++) {
        stage_inputs& plan = stage ? set->passes[stage - 1].reads : set->vertex_reads;
        int count = 0;
        for (int i = 0; i < plan.binding_count; i++) {
            const binding& to = plan.bindings[i];
            if (read_through[to.slot] == changes) {
                plan.bindings[count++] = to;
            } else if (read_through[to.slot]) {
                kept[kept_count++] = to;
                read_through[to.slot] = NULL;
            }
        }
        plan.binding_count = (BYTE)count;
        for (int i = 0; i < plan.count; i++)
            if (plan.inputs[i].kind == input_pass)
                note_read_at(&set->passes[plan.inputs[i].pass].reads, plan.inputs[i].index);
    }
}

// The set is planned first where a load left it to be planned.
static void bind_kept(shader_set* set, stage_inputs* reads)
{
    if (!reads->planned)
        plan_inputs(set);
    for (int i = 0; i < kept_count; i++)
        if (bound[kept[i].slot] != *kept[i].texture) {
            bound[kept[i].slot] = *kept[i].texture;
            device->SetTexture(kept[i].sampler, *kept[i].texture);
        }
    kept_bound = true;
}

// At the time just filled in.
static void fill_sounds(const stage_inputs& plan)
{
    for (int i = 0; i < plan.count; i++)
        if (plan.inputs[i].kind == input_sound)
            fill_sound(plan.inputs[i], input_values[input_time][0]);
}

// The time in c0.x, each named input in the stage's registers; then a pass's target goes from
// every sampler that a stage may have left it in, as a texture still bound while it is drawn
// into would be read and written at once; then each sampler's texture where the device
// doesn't have it bound already. A pass is fed before its target is set, which is none of
// what it binds.
void feed_stage(shader_set* set, stage_inputs* reads, float time, float frame)
{
    input_values[input_time][0] = time;
    input_values[input_frame][0] = frame;
    // A load leaves a set to be planned only after releasing stages, so this is the one test
    // a frame makes for it, before the registers are known.
    if (!kept_bound)
        bind_kept(set, reads);
    const stage_inputs& plan = *reads;
    *plan.c0 = input_values[input_time][0];
    memcpy(plan.named[input_resolution], input_values[input_resolution], sizeof input_values[0]);
    memcpy(plan.named[input_time], input_values[input_time], sizeof input_values[0]);
    memcpy(plan.named[input_frame], input_values[input_frame], sizeof input_values[0]);
    memcpy(plan.named[input_mouse], input_values[input_mouse], sizeof input_values[0]);
    if (plan.reads_sound)
        fill_sounds(plan);
    for (const BYTE *at = plan.read_at, *end = at + plan.read_at_count; at != end; at++)
        if (bound[*at] == *plan.target || bound[*at] == unknown_texture) {
            bound[*at] = NULL;
            device->SetTexture(*at, NULL);
        }
    for (const binding *to = plan.bindings, *end = to + plan.binding_count; to != end; to++) {
        IDirect3DBaseTexture9* texture = *to->texture;
        if (bound[to->slot] != texture) {
            bound[to->slot] = texture;
            device->SetTexture(to->sampler, texture);
        }
    }
}

// Rows of bytes into a texture of one byte a texel, which a managed texture keeps through a
// reset of the device.
static void upload(IDirect3DTexture9* texture, const BYTE* rows, int width, int height)
{
    D3DLOCKED_RECT locked;
    if (!texture || texture->LockRect(0, &locked, NULL, 0) != D3D_OK)
        return;
    for (int y = 0; y < height; y++)
        memcpy((BYTE*)locked.pBits + y * locked.Pitch, rows + y * width, width);
    texture->UnlockRect(0);
}

static IDirect3DTexture9* make_byte_texture(int width, int height)
{
    IDirect3DTexture9* texture = NULL;
    if (device->CreateTexture(width, height, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, NULL) != D3D_OK)
        return NULL;
    return texture;
}

// NAME.wav for a sampler that no pass or image is drawn for: the picture of its sound at each
// frame's time. Returns false where there is no such file.
bool load_sound_input(input* in)
{
    int track = load_sound(in->name);
    if (track == no_sound_file)
        return false;
    in->kind = input_sound;
    in->pass = track;
    if (track >= 0 && !(in->texture = make_byte_texture(sound_width, 2))) {
        printf("Error : sampler %s: the device refused its texture; it reads black\n", in->name);
        release_sound(track);
        in->pass = unreadable_sound;
    }
    return true;
}

static void fill_sound(const input& in, float time)
{
    static BYTE rows[2][sound_width];
    sound_rows(in.pass, time, rows);
    upload(in.texture, rows[0], sound_width, 2);
}

void make_keyboard(bool read)
{
    if (read && !keyboard_texture) {
        keyboard_texture = make_byte_texture(256, 3);
        upload(keyboard_texture, key_states[0], 256, 3);
    } else if (!read && keyboard_texture) {
        keyboard_texture->Release();
        keyboard_texture = NULL;
    }
}

void release_previous_frame()
{
    if (back_buffer)
        back_buffer->Release();
    if (previous_surface)
        previous_surface->Release();
    if (previous_texture)
        previous_texture->Release();
    back_buffer = previous_surface = NULL;
    previous_texture = NULL;
}

// Black, the size and format of the back buffer, kept on the GPU while shaders read it. It
// lives in the default pool, so none is made while the device is lost: a Reset fails while
// such a resource lives. The reset makes it.
bool make_previous_frame(bool read)
{
    if (!read) {
        release_previous_frame();
        return true;
    }
    if (previous_texture || device_lost)
        return true;
    HRESULT status = device->CreateTexture(present_params.BackBufferWidth, present_params.BackBufferHeight, 1,
                                           D3DUSAGE_RENDERTARGET, present_params.BackBufferFormat, D3DPOOL_DEFAULT,
                                           &previous_texture, NULL);
    if (status == D3D_OK)
        status = previous_texture->GetSurfaceLevel(0, &previous_surface);
    if (status == D3D_OK)
        status = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_buffer);
    if (status == D3D_OK)
        status = device->ColorFill(previous_surface, NULL, 0);
    if (status != D3D_OK) {
        printf("Error : previous_frame: the device refused it (status 0x%08X); it reads black\n", (unsigned)status);
        release_previous_frame();
        return false;
    }
    return true;
}

void clear_previous_frame()
{
    if (previous_surface)
        device->ColorFill(previous_surface, NULL, 0);
}

// After the scene: the time moves on unless stopped, a click is news for one frame only, and
// the picture is kept for the next frame.
void end_frame()
{
    advance_time();
    if (keyboard_texture) {
        memset(key_states[1], 0, sizeof key_states[1]);
        upload(keyboard_texture, key_states[0], 256, 3);
    }
    if (mouse[3] > 0)
        mouse[3] = -mouse[3];
    if (previous_surface)
        device->StretchRect(back_buffer, NULL, previous_surface, NULL, D3DTEXF_NONE);
}

// Client coordinates to back-buffer pixels from the bottom left, through the window's scaling:
// the pixel under the pointer is the one whose texture coordinate gives the same position.
static void pointer_at(LPARAM lParam)
{
    WORD width = LOWORD(client_size), height = HIWORD(client_size);
    if (!width || !height)
        return;
    mouse[0] = (float)(short)LOWORD(lParam) * input_values[0][0] / width;
    mouse[1] = input_values[0][1] - (float)(short)HIWORD(lParam) * input_values[0][1] / height;
}

// Under --watch: the left button for the mouse input, and the keys that stop and step the time.
void window_input(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        client_size = lParam;
        return;
    case WM_LBUTTONDOWN:
        // A drag goes on outside the window, and its release is seen wherever it happens.
        SetCapture(window);
        button_held = true;
        pointer_at(lParam);
        mouse[2] = mouse[0];
        mouse[3] = mouse[1];
        return;
    case WM_MOUSEMOVE:
        // A button let go outside the window is seen as the pointer comes back.
        if (button_held && (wParam & MK_LBUTTON)) {
            pointer_at(lParam);
            return;
        }
        // fall through
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (mouse[2] > 0)
            mouse[2] = -mouse[2];
        if (button_held && message != WM_CAPTURECHANGED) {
            button_held = false;
            ReleaseCapture();
        }
        button_held = false;
        return;
    case WM_KEYUP:
        key_states[0][wParam & 0xFF] = 0;
        return;
    case WM_KEYDOWN:
        if (!(lParam & 0x40000000)) {
            key_states[0][wParam & 0xFF] = key_states[1][wParam & 0xFF] = 255;
            key_states[2][wParam & 0xFF] ^= 255;
        }
        break;
    default:
        return;
    }
    // Shaders that read the keys get Space and the arrows; the time keys then take Ctrl.
    if (shaders_read_keyboard() && GetKeyState(VK_CONTROL) >= 0)
        return;
    unsigned long step = GetKeyState(VK_SHIFT) < 0 ? 60 : 1;
    if (wParam == VK_SPACE && !(lParam & 0x40000000)) {
        run_time(!time_running);
    } else if (wParam == VK_HOME) {
        go_to_frame(0);
        clear_previous_frame();
        clear_passes(drawn_shaders);
    } else if (!time_running && (wParam == VK_RIGHT || wParam == VK_LEFT)) {
        go_to_frame(wParam == VK_RIGHT ? frame_number + step : frame_number > step ? frame_number - step : 0);
    } else {
        return;
    }
    printf("%s at frame %lu.\n", time_running ? "Running" : "Stopped", frame_number);
}
