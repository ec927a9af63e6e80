// The least a program can do to show main.fx the way hotfx does, built only to measure hotfx
// against: the same window, device settings, compile and quad, the shaders and vertex format
// bound once, and per frame only the time constant, the draw and the present. It runs until
// it is killed.
//
//   reference.exe [c][k][b][r]    draw main.fx in a loop; to tell what each of hotfx's per-frame
//                                 calls costs, c also clears the target, k uploads all 64
//                                 registers to each stage instead of one, and b binds the
//                                 shaders and vertex format again, in every frame; r puts the
//                                 window to the right of where hotfx's goes
//   reference.exe compile COUNT   time COUNT compiles of both stages of main.fx instead and
//                                 print the median milliseconds of one pair
//   reference.exe reload SECONDS  draw as with ckbr, making the same calls in every frame as
//                                 hotfx, and rebuild both shaders from main.fx in every frame
//                                 for SECONDS as hotfx does with F5 held, to show how much
//                                 memory the platform keeps for that: after one rebuild and
//                                 some seconds of drawing it prints "before" and waits for a
//                                 line on standard input, then rebuilds, prints "after COUNT"
//                                 with the number of rebuilds and goes on drawing
#include <windows.h>
#include <d3d9.h>
#include <d3dx9.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const DWORD compile_flags = D3DXSHADER_OPTIMIZATION_LEVEL3 | D3DXSHADER_PREFER_FLOW_CONTROL;

static const DWORD settle_ms = 5000;

// Asks for the messages and lets them go, as hotfx does.
static ID3DXBuffer* compile(const char* entry, const char* profile)
{
    ID3DXBuffer* code = NULL;
    ID3DXBuffer* messages = NULL;
    HRESULT status = D3DXCompileShaderFromFileA("main.fx", NULL, NULL, entry, profile, compile_flags, &code,
                                                &messages, NULL);
    if (messages)
        messages->Release();
    return status == D3D_OK ? code : NULL;
}

// What hotfx's F5 does, call for call: the old shaders go, each stage is compiled with its
// messages asked for and created, and the sampler is set up again.
static bool rebuild(IDirect3DDevice9* device, IDirect3DVertexShader9** vertex_shader,
                    IDirect3DPixelShader9** pixel_shader)
{
    (*vertex_shader)->Release();
    (*pixel_shader)->Release();
    ID3DXBuffer* code = compile("vs_main", "vs_3_0");
    if (!code)
        return false;
    device->CreateVertexShader((const DWORD*)code->GetBufferPointer(), vertex_shader);
    code->Release();
    code = compile("ps_main", "ps_3_0");
    if (!code)
        return false;
    device->CreatePixelShader((const DWORD*)code->GetBufferPointer(), pixel_shader);
    code->Release();
    static const D3DSAMPLERSTATETYPE states[] = {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER,
                                                 D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV};
    static const DWORD values[] = {D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTADDRESS_WRAP,
                                   D3DTADDRESS_WRAP};
    for (int i = 0; i < 5; ++i)
        device->SetSamplerState(0, states[i], values[i]);
    // An image beside main.fx is loaded again as hotfx's named inputs load one, and bound.
    static IDirect3DTexture9* image = NULL;
    if (image)
        image->Release();
    image = NULL;
    if (GetFileAttributesA("photo.png") != INVALID_FILE_ATTRIBUTES) {
        D3DXCreateTextureFromFileExA(device, "photo.png", D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT, 0,
                                     D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, NULL, NULL, &image);
        device->SetTexture(0, image);
    }
    return true;
}

static int by_value(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static int time_compiles(int count)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    double* ms = (double*)malloc(count * sizeof *ms);
    for (int i = 0; i < count; ++i) {
        QueryPerformanceCounter(&start);
        ID3DXBuffer* vertex = compile("vs_main", "vs_3_0");
        ID3DXBuffer* pixel = compile("ps_main", "ps_3_0");
        QueryPerformanceCounter(&end);
        if (!vertex || !pixel)
            return 1;
        vertex->Release();
        pixel->Release();
        ms[i] = 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
    }
    qsort(ms, count, sizeof *ms, by_value);
    printf("%.3f\n", ms[count / 2]);
    return 0;
}

// Says where the run is, at once, to the caller who reads the memory.
static void tell(const char* where)
{
    printf("%s\n", where);
    fflush(stdout);
}

int main(int argc, char* argv[])
{
    if (argc == 3 && strcmp(argv[1], "compile") == 0)
        return time_compiles(atoi(argv[2]));
    int reload_seconds = argc == 3 && strcmp(argv[1], "reload") == 0 ? atoi(argv[2]) : -1;
    const char* extra = argc == 2 ? argv[1] : reload_seconds >= 0 ? "ckbr" : "";
    bool clear = strchr(extra, 'c'), all_registers = strchr(extra, 'k'), bind = strchr(extra, 'b');
    int left = strchr(extra, 'r') ? 1290 : 0;

    WNDCLASSEXA window_class = {sizeof window_class, CS_VREDRAW | CS_HREDRAW | CS_CLASSDC, DefWindowProcA, 0, 0,
                                GetModuleHandleA(NULL), NULL, NULL, (HBRUSH)GetStockObject(BLACK_BRUSH), NULL,
                                "reference", NULL};
    RegisterClassExA(&window_class);
    HWND window = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, "reference", "reference",
                                  WS_OVERLAPPEDWINDOW, left, 0, 1280, 1024, NULL, NULL, window_class.hInstance, NULL);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    D3DPRESENT_PARAMETERS settings = {1280, 1024, D3DFMT_X8R8G8B8, 1, D3DMULTISAMPLE_NONE, 0, D3DSWAPEFFECT_DISCARD,
                                      NULL, TRUE, TRUE, D3DFMT_D24S8, 0, 0, D3DPRESENT_INTERVAL_ONE};
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    IDirect3DDevice9* device = NULL;
    d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &settings,
                      &device);

    IDirect3DVertexShader9* vertex_shader = NULL;
    IDirect3DPixelShader9* pixel_shader = NULL;
    ID3DXBuffer* vertex_code = compile("vs_main", "vs_3_0");
    ID3DXBuffer* pixel_code = compile("ps_main", "ps_3_0");
    if (!device || !vertex_code || !pixel_code)
        return 1;
    device->CreateVertexShader((const DWORD*)vertex_code->GetBufferPointer(), &vertex_shader);
    device->CreatePixelShader((const DWORD*)pixel_code->GetBufferPointer(), &pixel_shader);
    device->SetVertexShader(vertex_shader);
    device->SetPixelShader(pixel_shader);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);

    static const float quad[4][5] = {{1, -1, 0, 1, -1}, {-1, -1, 0, -1, -1}, {1, 1, 0, 1, 1}, {-1, 1, 0, -1, 1}};
    static float constants[64][4];
    float* time = constants[0];
    // With reload: one rebuild, then some seconds of drawing before "before"; after the
    // answer, a rebuild in every frame until reload_until.
    int reloads = 0;
    bool reloading = reload_seconds >= 0;
    DWORD tell_at = 0, reload_until = 0;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (reloading && tell_at == 0 && reload_until == 0) {
            if (!rebuild(device, &vertex_shader, &pixel_shader))
                return 1;
            tell_at = GetTickCount() + settle_ms;
        } else if (tell_at && (LONG)(GetTickCount() - tell_at) >= 0) {
            char line[16];
            tell("before");
            fgets(line, sizeof line, stdin);
            tell_at = 0;
            reload_until = GetTickCount() + 1000 * reload_seconds;
        } else if (reload_until && (LONG)(GetTickCount() - reload_until) < 0) {
            if (!rebuild(device, &vertex_shader, &pixel_shader))
                return 1;
            ++reloads;
        } else if (reloading && reload_until) {
            printf("after %d\n", reloads);
            fflush(stdout);
            reloading = false;
        }
        if (clear)
            device->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
        device->BeginScene();
        device->SetVertexShaderConstantF(0, time, all_registers ? 64 : 1);
        device->SetPixelShaderConstantF(0, time, all_registers ? 64 : 1);
        if (bind) {
            device->SetVertexShader(vertex_shader);
            device->SetPixelShader(pixel_shader);
            device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
        }
        time[0] += 0.016666f;
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]);
        device->EndScene();
        device->Present(NULL, NULL, NULL, NULL);
    }
}
