// A d3d9.dll for the end-to-end tests that stands between hotfx.exe and the Direct3D 9 stack
// under test. Placed beside the exe and loaded with WINEDLLOVERRIDES=d3d9=n,b, it loads the
// stack's own d3d9 from real_d3d9.dll beside it, hands out that stack's objects, and answers
// a few calls from a schedule read from HOTFX_FAULTS ("lost_at=10,still_lost=40", names
// below). Every call it stands in front of is logged, with the millisecond tick it began at,
// to the file HOTFX_FAULTS_LOG names (faults.log in the current folder by default).
// Everything else goes straight to the real device, so a real Reset must succeed with the
// program's own parameters.
#define CINTERFACE
#include <windows.h>
#include <d3d9.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct schedule {
    int no_d3d;           // Direct3DCreate9 returns NULL
    int no_device;        // CreateDevice answers D3DERR_NOTAVAILABLE
    int lost_at;          // this Present, counted from 1, loses the device: D3DERR_DEVICELOST until a reset
    int still_lost;       // while lost, TestCooperativeLevel answers D3DERR_DEVICELOST this often first
    int back_by_itself;   // then D3D_OK (the device came back) instead of D3DERR_DEVICENOTRESET
    int reset_fails;      // this many Resets answer D3DERR_DEVICELOST before one reaches the device
    int lost_answer = D3DERR_DEVICELOST;  // what those and a still lost TestCooperativeLevel answer
    int internal_at;      // this Present answers D3DERR_DRIVERINTERNALERROR
    int internal_always;  // and so does every Present after it
    int vs_oom;           // this CreateVertexShader, counted from 1, answers E_OUTOFMEMORY
    int ps_oom;           // this CreatePixelShader, likewise
    int no_scene;         // this BeginScene, counted from 1, answers D3DERR_INVALIDCALL
    int no_timestamps;    // CreateQuery answers D3DERR_NOTAVAILABLE for the timestamp queries
};

const struct {
    const char* name;
    int schedule::*field;
} schedule_names[] = {
    {"no_d3d", &schedule::no_d3d},
    {"no_device", &schedule::no_device},
    {"lost_at", &schedule::lost_at},
    {"still_lost", &schedule::still_lost},
    {"back_by_itself", &schedule::back_by_itself},
    {"reset_fails", &schedule::reset_fails},
    {"lost_answer", &schedule::lost_answer},
    {"internal_at", &schedule::internal_at},
    {"internal_always", &schedule::internal_always},
    {"vs_oom", &schedule::vs_oom},
    {"ps_oom", &schedule::ps_oom},
    {"no_scene", &schedule::no_scene},
    {"no_timestamps", &schedule::no_timestamps},
};

schedule faults;
HMODULE this_module;
HANDLE log_file = INVALID_HANDLE_VALUE;

// What the schedule has done so far.
int presents, lost_tests, failed_resets, vertex_shaders, pixel_shaders, scenes;
bool lost;

// The real methods, called behind the ones put in their place.
IDirect3D9* (WINAPI* real_create)(UINT);
HRESULT (WINAPI* real_create_device)(IDirect3D9*, UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                     IDirect3DDevice9**);
ULONG (WINAPI* real_d3d_release)(IDirect3D9*);
ULONG (WINAPI* real_device_release)(IDirect3DDevice9*);
HRESULT (WINAPI* real_test_cooperative_level)(IDirect3DDevice9*);
HRESULT (WINAPI* real_reset)(IDirect3DDevice9*, D3DPRESENT_PARAMETERS*);
HRESULT (WINAPI* real_present)(IDirect3DDevice9*, const RECT*, const RECT*, HWND, const RGNDATA*);
HRESULT (WINAPI* real_create_vertex_shader)(IDirect3DDevice9*, const DWORD*, IDirect3DVertexShader9**);
HRESULT (WINAPI* real_create_pixel_shader)(IDirect3DDevice9*, const DWORD*, IDirect3DPixelShader9**);
HRESULT (WINAPI* real_begin_scene)(IDirect3DDevice9*);
HRESULT (WINAPI* real_create_query)(IDirect3DDevice9*, D3DQUERYTYPE, IDirect3DQuery9**);

void log_line(const char* format, ...)
{
    char line[512];
    int length = snprintf(line, sizeof line, "%lu ", GetTickCount());
    va_list args;
    va_start(args, format);
    length += vsnprintf(line + length, sizeof line - length - 1, format, args);
    va_end(args);
    if (length > (int)sizeof line - 2)
        length = sizeof line - 2;
    line[length++] = '\n';
    DWORD written;
    WriteFile(log_file, line, length, &written, NULL);
}

void read_schedule()
{
    char text[512] = "";
    GetEnvironmentVariableA("HOTFX_FAULTS", text, sizeof text);
    for (char* item = strtok(text, ","); item; item = strtok(NULL, ",")) {
        char* value = strchr(item, '=');
        if (value)
            *value++ = 0;
        bool known = false;
        for (const auto& entry : schedule_names) {
            if (strcmp(item, entry.name) == 0) {
                faults.*entry.field = value ? strtoul(value, NULL, 0) : 1;
                known = true;
            }
        }
        if (!known)
            log_line("unknown fault %s", item);
    }
}

void open_log()
{
    char path[MAX_PATH] = "faults.log";
    GetEnvironmentVariableA("HOTFX_FAULTS_LOG", path, sizeof path);
    log_file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
}

// The display settings as one line, so a test can compare those of CreateDevice and Reset.
const char* describe(const D3DPRESENT_PARAMETERS* p)
{
    static char text[256];
    if (!p)
        return "NULL";
    snprintf(text, sizeof text,
             "%ux%u format %d count %u multisample %d/%lu swap %d window %p windowed %d depth %d/%d "
             "flags 0x%lx refresh %u interval 0x%x",
             p->BackBufferWidth, p->BackBufferHeight, (int)p->BackBufferFormat, p->BackBufferCount,
             (int)p->MultiSampleType, p->MultiSampleQuality, (int)p->SwapEffect, (void*)p->hDeviceWindow,
             p->Windowed, p->EnableAutoDepthStencil, (int)p->AutoDepthStencilFormat, p->Flags,
             p->FullScreen_RefreshRateInHz, p->PresentationInterval);
    return text;
}

// Puts replacement in the object's table of methods, at the slot of that method, keeping the
// method it replaces. Objects of one kind share a table, so the second object finds it done.
template <class Method>
void patch(const void* object, size_t slot, Method replacement, Method* original)
{
    void** table = *(void***)object + slot / sizeof(void*);
    if (*table == (void*)replacement)
        return;
    DWORD protection;
    VirtualProtect(table, sizeof(void*), PAGE_EXECUTE_READWRITE, &protection);
    *original = (Method)*table;
    *table = (void*)replacement;
    VirtualProtect(table, sizeof(void*), protection, &protection);
}
#define PATCH(Table, object, method, replacement, original) \
    patch(object, offsetof(Table, method), replacement, &original)

HRESULT WINAPI test_cooperative_level(IDirect3DDevice9* self)
{
    HRESULT status;
    if (!lost)
        status = real_test_cooperative_level(self);
    else if (lost_tests++ < faults.still_lost)
        status = faults.lost_answer;
    else if (faults.back_by_itself) {
        status = D3D_OK;
        lost = false;
    } else
        status = D3DERR_DEVICENOTRESET;
    log_line("TestCooperativeLevel -> 0x%08lx", status);
    return status;
}

HRESULT WINAPI reset(IDirect3DDevice9* self, D3DPRESENT_PARAMETERS* params)
{
    const char* given = describe(params);
    if (lost && failed_resets < faults.reset_fails) {
        ++failed_resets;
        log_line("Reset(%s) -> 0x%08lx injected", given, faults.lost_answer);
        return faults.lost_answer;
    }
    log_line("Reset(%s) ...", given);
    HRESULT status = real_reset(self, params);
    if (status == D3D_OK)
        lost = false;
    log_line("Reset -> 0x%08lx", status);
    return status;
}

HRESULT WINAPI present(IDirect3DDevice9* self, const RECT* source, const RECT* dest, HWND window,
                       const RGNDATA* dirty)
{
    int call = ++presents;
    if (call == faults.lost_at)
        lost = true;
    HRESULT status;
    const char* how = " injected";
    if (lost)
        status = D3DERR_DEVICELOST;
    else if (call == faults.internal_at || (faults.internal_always && faults.internal_at && call > faults.internal_at))
        status = D3DERR_DRIVERINTERNALERROR;
    else
        status = real_present(self, source, dest, window, dirty), how = "";
    log_line("Present %d -> 0x%08lx%s", call, status, how);
    return status;
}

HRESULT WINAPI create_vertex_shader(IDirect3DDevice9* self, const DWORD* code, IDirect3DVertexShader9** shader)
{
    if (++vertex_shaders == faults.vs_oom) {
        log_line("CreateVertexShader %d -> 0x%08lx injected", vertex_shaders, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    HRESULT status = real_create_vertex_shader(self, code, shader);
    log_line("CreateVertexShader %d -> 0x%08lx", vertex_shaders, status);
    return status;
}

HRESULT WINAPI create_pixel_shader(IDirect3DDevice9* self, const DWORD* code, IDirect3DPixelShader9** shader)
{
    if (++pixel_shaders == faults.ps_oom) {
        log_line("CreatePixelShader %d -> 0x%08lx injected", pixel_shaders, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    HRESULT status = real_create_pixel_shader(self, code, shader);
    log_line("CreatePixelShader %d -> 0x%08lx", pixel_shaders, status);
    return status;
}

HRESULT WINAPI begin_scene(IDirect3DDevice9* self)
{
    bool injected = ++scenes == faults.no_scene;
    HRESULT status = injected ? D3DERR_INVALIDCALL : real_begin_scene(self);
    log_line("BeginScene %d -> 0x%08lx%s", scenes, status, injected ? " injected" : "");
    return status;
}

HRESULT WINAPI create_query(IDirect3DDevice9* self, D3DQUERYTYPE type, IDirect3DQuery9** query)
{
    bool timestamp = type == D3DQUERYTYPE_TIMESTAMP || type == D3DQUERYTYPE_TIMESTAMPDISJOINT ||
                     type == D3DQUERYTYPE_TIMESTAMPFREQ;
    if (faults.no_timestamps && timestamp) {
        log_line("CreateQuery %d -> 0x%08lx injected", (int)type, D3DERR_NOTAVAILABLE);
        return D3DERR_NOTAVAILABLE;
    }
    return real_create_query(self, type, query);
}

ULONG WINAPI device_release(IDirect3DDevice9* self)
{
    ULONG left = real_device_release(self);
    log_line("device Release -> %lu", left);
    return left;
}

ULONG WINAPI d3d_release(IDirect3D9* self)
{
    ULONG left = real_d3d_release(self);
    log_line("d3d Release -> %lu", left);
    return left;
}

HRESULT WINAPI create_device(IDirect3D9* self, UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour,
                             D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** out)
{
    log_line("CreateDevice(%u, %d, %p, 0x%lx, %s) ...", adapter, (int)type, (void*)focus, behaviour,
             describe(params));
    if (faults.no_device) {
        *out = NULL;
        log_line("CreateDevice -> 0x%08lx injected", D3DERR_NOTAVAILABLE);
        return D3DERR_NOTAVAILABLE;
    }
    HRESULT status = real_create_device(self, adapter, type, focus, behaviour, params, out);
    // The device may have filled in what the program left to it; a Reset is compared with this.
    log_line("CreateDevice -> 0x%08lx with %s", status, describe(params));
    if (status != D3D_OK || !*out)
        return status;
    PATCH(IDirect3DDevice9Vtbl, *out, Release, device_release, real_device_release);
    PATCH(IDirect3DDevice9Vtbl, *out, TestCooperativeLevel, test_cooperative_level, real_test_cooperative_level);
    PATCH(IDirect3DDevice9Vtbl, *out, Reset, reset, real_reset);
    PATCH(IDirect3DDevice9Vtbl, *out, Present, present, real_present);
    PATCH(IDirect3DDevice9Vtbl, *out, CreateVertexShader, create_vertex_shader, real_create_vertex_shader);
    PATCH(IDirect3DDevice9Vtbl, *out, CreatePixelShader, create_pixel_shader, real_create_pixel_shader);
    PATCH(IDirect3DDevice9Vtbl, *out, BeginScene, begin_scene, real_begin_scene);
    PATCH(IDirect3DDevice9Vtbl, *out, CreateQuery, create_query, real_create_query);
    return status;
}

// The stack's own d3d9, copied beside this one under another name.
bool load_real_d3d9()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(this_module, path, MAX_PATH);
    char* folder_end = length ? strrchr(path, '\\') : NULL;
    if (!folder_end || folder_end - path + sizeof "\\real_d3d9.dll" > MAX_PATH)
        return false;
    strcpy(folder_end, "\\real_d3d9.dll");
    HMODULE real = LoadLibraryA(path);
    if (real)
        real_create = (IDirect3D9* (WINAPI*)(UINT))(void*)GetProcAddress(real, "Direct3DCreate9");
    if (!real_create)
        log_line("no Direct3DCreate9 in %s", path);
    return real_create != NULL;
}

}  // namespace

extern "C" IDirect3D9* WINAPI Direct3DCreate9(UINT version)
{
    if (log_file == INVALID_HANDLE_VALUE) {
        open_log();
        read_schedule();
    }
    if (faults.no_d3d) {
        log_line("Direct3DCreate9(%u) -> NULL injected", version);
        return NULL;
    }
    IDirect3D9* d3d = load_real_d3d9() ? real_create(version) : NULL;
    log_line("Direct3DCreate9(%u) -> %s", version, d3d ? "an object" : "NULL");
    if (d3d) {
        PATCH(IDirect3D9Vtbl, d3d, CreateDevice, create_device, real_create_device);
        PATCH(IDirect3D9Vtbl, d3d, Release, d3d_release, real_d3d_release);
    }
    return d3d;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        this_module = instance;
    return TRUE;
}
