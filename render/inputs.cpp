#include <stdio.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

// What a shader declares by name and hotfx fills, given any option. Without one a shader sees
// c0.x alone and the compiler is asked for no constant table, exactly as before.
bool named_inputs = false;
// A declared input that could not be filled at the last load: --frame and --frames end on it.
bool inputs_failed = false;

unsigned long frame_number = 0;
bool time_running = true;

enum input_kind { input_resolution, input_time, input_frame, input_mouse, input_previous_frame, input_image };
static const char* const input_names[] = {"resolution", "time", "frame", "mouse", "previous_frame"};
// The last six that a save under --watch counts, in the order they are looked for.
static const char* const* const image_extensions = counted_extensions + 6;
static const size_t image_kinds = 6;

// A register's worth for each named constant: the back buffer's size and its inverse, the
// time, the frame, and the mouse as Shadertoy's iMouse has it.
static float input_values[4][4] = {{1280, 1024, 1.0f / 1280, 1.0f / 1024}};
static float* const mouse = input_values[input_mouse];
static bool button_held = false;
// The client area, as the last WM_SIZE gave it: the picture is stretched over it.
static LPARAM client_size = 0;

// The pixel stage's own registers, once a stage has a named constant: the compiler places each
// stage's globals on its own, so the same name may sit in different registers.
static float pixel_registers[64][4];

struct input {
    BYTE kind;
    BYTE stage;   // 0 for the vertex stage, 1 for the pixel stage
    WORD index;   // the register, or the sampler as the device numbers it
    IDirect3DTexture9* texture;
    char image[MAX_PATH];  // an image's name in lower case, for --watch to know which files count
};
// Each name once per stage: four constants, and the samplers of ps_3_0 (16) and vs_3_0 (4).
static input inputs[28];
static int input_count = 0;
bool reads_previous_frame = false;

// The presented picture of the frame before, copied on the GPU; it goes before a Reset.
static IDirect3DTexture9* previous_texture = NULL;
static IDirect3DSurface9* previous_surface = NULL;
static IDirect3DSurface9* back_buffer = NULL;

static char image_path[MAX_PATH];

// The image NAME.png, .jpg, ... beside main.fx, the name compared as Windows compares it;
// wanted is left holding NAME in lower case.
static IDirect3DTexture9* load_image(const char* name, char* wanted)
{
    size_t length = strlen(name);
    if (length > MAX_PATH - 6)
        length = MAX_PATH - 6;  // too long a name for a file: none is found
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
    wanted[length] = 0;
    IDirect3DTexture9* texture = NULL;
    if (best == image_kinds) {
        printf("Error : sampler %s: no %s.png, .jpg, .jpeg, .bmp, .dds or .tga here; it reads black\n", name, name);
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

// Notes what one compiled stage declares by the names above, and loads its images.
void read_inputs(int stage, ID3DXConstantTable* table)
{
    D3DXCONSTANTTABLE_DESC table_desc;
    if (table->GetDesc(&table_desc) != D3D_OK)
        return;
    // A table can't name more than fit, but its count comes from the compiler, not from us.
    for (UINT i = 0; i < table_desc.Constants && input_count < (int)(sizeof inputs / sizeof inputs[0]); i++) {
        D3DXCONSTANT_DESC desc;
        UINT count = 1;
        table->GetConstantDesc(table->GetConstant(NULL, i), &desc, &count);
        int kind = 0;
        while (kind < input_image && strcmp(desc.Name, input_names[kind]))
            kind++;
        bool sampler = desc.RegisterSet == D3DXRS_SAMPLER;
        if (!sampler && kind == input_image)
            continue;
        input& in = inputs[input_count];
        in.texture = NULL;
        in.image[0] = 0;
        if (sampler ? desc.Type != D3DXPT_SAMPLER && desc.Type != D3DXPT_SAMPLER2D
                    : kind == input_previous_frame || desc.Type != D3DXPT_FLOAT || desc.Class > D3DXPC_VECTOR ||
                          desc.RegisterIndex >= 64) {
            printf("Error : %s: not a float, float2, float3, float4 or sampler2D; it reads 0 (black)\n", desc.Name);
            inputs_failed = true;
            if (!sampler)
                continue;
            kind = input_image;  // bound to nothing, so that it reads black
        } else if (kind == input_image && !(in.texture = load_image(desc.Name, in.image))) {
            inputs_failed = true;
        }
        reads_previous_frame |= kind == input_previous_frame;
        if (kind < input_previous_frame)
            pixel_constants = pixel_registers;
        in.kind = (BYTE)kind;
        in.stage = (BYTE)stage;
        in.index = (WORD)(desc.RegisterIndex + (sampler && !stage ? D3DVERTEXTEXTURESAMPLER0 : 0));
        input_count++;
    }
}

// Whether a sampler of the loaded shaders reads this file, or would once it is there.
bool image_read_by_shaders(const char* file_name)
{
    const char* extension = extension_of(file_name);
    size_t kind = 0;
    while (kind < image_kinds && !same_name(extension, image_extensions[kind]))
        kind++;
    for (int i = 0; kind < image_kinds && i < input_count; i++) {
        char wanted[MAX_PATH + 8];
        strcpy(wanted, inputs[i].image);
        strcat(wanted, image_extensions[kind]);
        if (inputs[i].image[0] && same_name(file_name, wanted))
            return true;
    }
    return false;
}

// With the shaders: their images go, and nothing stays bound to a sampler.
void release_inputs()
{
    for (int i = 0; i < input_count; i++) {
        if (inputs[i].kind < input_previous_frame)
            continue;
        device->SetTexture(inputs[i].index, NULL);
        if (inputs[i].texture)
            inputs[i].texture->Release();
    }
    input_count = 0;
    reads_previous_frame = inputs_failed = false;
    memset(shader_constants, 0, sizeof shader_constants);
    memset(pixel_registers, 0, sizeof pixel_registers);
    pixel_constants = shader_constants;
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

// Black, the size and format of the back buffer, kept on the GPU while shaders read it.
static void make_previous_frame()
{
    if (!reads_previous_frame) {
        release_previous_frame();
        return;
    }
    if (previous_texture)
        return;
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
        inputs_failed = true;
    }
}

// After a complete load, and again after a reset of the device.
void set_input_samplers()
{
    for (int i = 0; i < input_count; i++)
        if (inputs[i].kind >= input_previous_frame)
            set_sampler_states_of(inputs[i].index);
    make_previous_frame();
}

// The time in c0.x first, then each named input in its stage's registers; samplers are bound
// every frame, because a reset of the device forgets them.
void fill_inputs()
{
    shader_constants[0][0] = pixel_constants[0][0] = input_values[input_time][0] = frame_time;
    input_values[input_frame][0] = (float)frame_number;
    for (int i = 0; i < input_count; i++) {
        const input& in = inputs[i];
        if (in.kind < input_previous_frame)
            memcpy((in.stage ? pixel_constants : shader_constants)[in.index], input_values[in.kind],
                   sizeof input_values[0]);
        else
            device->SetTexture(in.index, in.kind == input_image ? in.texture : previous_texture);
    }
}

// After the scene: the time moves on unless stopped, a click is news for one frame only, and
// the picture is kept for the next frame.
void end_frame()
{
    if (time_running) {
        frame_time += time_step;
        frame_number++;
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
void window_input(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        client_size = lParam;
        return;
    case WM_LBUTTONDOWN:
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
        if (mouse[2] > 0)
            mouse[2] = -mouse[2];
        button_held = false;
        return;
    case WM_KEYDOWN:
        break;
    default:
        return;
    }
    unsigned long step = GetKeyState(VK_SHIFT) < 0 ? 60 : 1;
    if (wParam == VK_SPACE && !(lParam & 0x40000000)) {
        time_running = !time_running;
    } else if (wParam == VK_HOME) {
        frame_number = 0;
        release_previous_frame();
        make_previous_frame();
    } else if (!time_running && (wParam == VK_RIGHT || wParam == VK_LEFT)) {
        frame_number = wParam == VK_RIGHT ? frame_number + step : frame_number > step ? frame_number - step : 0;
    } else {
        return;
    }
    frame_time = time_at_frame(frame_number);
    printf("%s at frame %lu.\n", time_running ? "Running" : "Stopped", frame_number);
}
