#include "standin.h"

#include <winsock2.h>

#include <commctrl.h>
#include <commdlg.h>
#include <mmdeviceapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>

HWND const standin_window = (HWND)0x20020;

namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string quoted(LPCSTR text)
{
    return text ? "\"" + std::string(text) + "\"" : "NULL";
}

void log(const std::string& call)
{
    standin().calls.push_back(call);
}

void fault(const std::string& what)
{
    standin().faults.push_back(what);
}

// The first scripted answer, taken off the queue, or the usual one when none is left.
HRESULT next_of(std::deque<HRESULT>& answers, HRESULT usual)
{
    if (answers.empty())
        return usual;
    HRESULT answer = answers.front();
    answers.pop_front();
    return answer;
}

// Every interface the stand-in hands out; objects stay allocated until the next reset, so a
// call on a released one is caught rather than crashing.
struct object_record {
    std::string name;
    long refs = 1;          // all holders
    long program_refs = 1;  // the program's own
    int releases = 0;
    bool default_pool = false;  // a Reset fails while it lives, as D3D9's does
};

struct registry {
    std::vector<std::unique_ptr<IUnknown>> objects;
    std::map<const void*, object_record*> records;
    std::map<const void*, std::string> names;
    std::map<std::string, int> counts;
};

std::map<const void*, std::string> handle_names();

registry& objects()
{
    static registry* r = new registry{{}, {}, handle_names(), {}};
    return *r;
}

template <class Interface>
struct counted : Interface {
    object_record record;

    ULONG AddRef() override
    {
        check("AddRef");
        ++record.program_refs;
        return ++record.refs;
    }
    ULONG Release() override
    {
        log(record.name + "->Release()");
        ++record.releases;
        if (record.program_refs <= 0) {
            fault("Release of " + record.name + " after its last release");
            return 0;
        }
        --record.program_refs;
        if (--record.refs == 0)
            destroyed();
        return record.refs;
    }
    // A holder other than the program, such as a device keeping what is bound to it.
    void hold() { ++record.refs; }
    void let_go()
    {
        if (--record.refs == 0)
            destroyed();
    }
    void check(const char* method)
    {
        if (record.program_refs <= 0)
            fault(std::string(method) + " on " + record.name + " after its last release");
    }
    virtual void destroyed() {}
};

template <class Object>
Object* create(const char* kind)
{
    registry& r = objects();
    Object* object = new Object;
    object->record.name = kind + (strcmp(kind, "d3d") && strcmp(kind, "device")
                                      ? std::to_string(++r.counts[kind])
                                      : std::string());
    r.objects.emplace_back(object);
    r.records[object] = &object->record;
    r.records[static_cast<IUnknown*>(object)] = &object->record;
    return object;
}

struct buffer : counted<ID3DXBuffer> {
    std::unique_ptr<char[]> bytes;
    DWORD size = 0;

    void fill(const std::string& text, bool terminated)
    {
        // Exactly the size asked for, so a read past the end shows up under a sanitizer.
        size = DWORD(text.size() + (terminated ? 1 : 0));
        bytes.reset(new char[size ? size : 1]);
        memcpy(bytes.get(), text.data(), text.size());
        if (terminated)
            bytes[text.size()] = 0;
    }
    LPVOID GetBufferPointer() override
    {
        check("GetBufferPointer");
        return bytes.get();
    }
    DWORD GetBufferSize() override
    {
        check("GetBufferSize");
        return size;
    }
};

struct query_object : counted<IDirect3DQuery9> {
    HRESULT Issue(DWORD) override { return log(record.name + "->Issue()"), D3D_OK; }
    HRESULT GetData(void*, DWORD, DWORD) override { return D3D_OK; }
};
struct surface_object : counted<IDirect3DSurface9> {
    float time = 0;  // the c0.x of the picture it holds
};
struct texture_object : counted<IDirect3DTexture9> {
    BYTE bytes[2048 * 3] = {};  // enough for the byte pictures of sounds and keys, 512 a row, and a row of floats
    HRESULT LockRect(UINT, D3DLOCKED_RECT* locked, const RECT*, DWORD) override
    {
        log(record.name + "->LockRect()");
        *locked = D3DLOCKED_RECT{512, bytes};
        return D3D_OK;
    }
    HRESULT UnlockRect(UINT) override { return log(record.name + "->UnlockRect()"), D3D_OK; }
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9** surface) override
    {
        *surface = create<surface_object>("surface");
        static_cast<surface_object*>(*surface)->record.default_pool = record.default_pool;
        return D3D_OK;
    }
};
}  // namespace

const BYTE* standin_texture_bytes(IDirect3DTexture9* texture)
{
    return static_cast<texture_object*>(texture)->bytes;
}

namespace {
struct table_object : counted<ID3DXConstantTable> {
    std::vector<D3DXCONSTANT_DESC> constants;
    LPVOID GetBufferPointer() override { return NULL; }
    DWORD GetBufferSize() override { return 0; }
    HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) override { return desc->Constants = UINT(constants.size()), D3D_OK; }
    D3DXHANDLE GetConstant(D3DXHANDLE, UINT index) override { return (D3DXHANDLE)&constants.at(index); }
    HRESULT GetConstantDesc(D3DXHANDLE one, D3DXCONSTANT_DESC* desc, UINT*) override { return *desc = *(const D3DXCONSTANT_DESC*)one, D3D_OK; }
};
struct vertex_shader_object : counted<IDirect3DVertexShader9> {};
struct pixel_shader_object : counted<IDirect3DPixelShader9> {};

// Code is accepted only from a code buffer that is still alive.
bool live_code(const DWORD* code)
{
    for (auto& object : objects().objects) {
        buffer* b = dynamic_cast<buffer*>(object.get());
        if (b && (const void*)b->bytes.get() == code)
            return b->record.refs > 0;
    }
    return false;
}

struct device_object : counted<IDirect3DDevice9> {
    vertex_shader_object* bound_vertex = nullptr;
    pixel_shader_object* bound_pixel = nullptr;

    void destroyed() override { unbind(); }
    void unbind()
    {
        if (bound_vertex)
            bound_vertex->let_go();
        if (bound_pixel)
            bound_pixel->let_go();
        bound_vertex = nullptr;
        bound_pixel = nullptr;
    }
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                  DWORD stencil) override
    {
        check("Clear");
        log(format("device->Clear(%u, %s, 0x%x, 0x%08x, %g, %u)", count,
                   standin_name_of(rects).c_str(), flags, colour, z, stencil));
        return D3D_OK;
    }
    HRESULT BeginScene() override
    {
        check("BeginScene");
        log("device->BeginScene()");
        return standin().script.begin_scene_fails ? D3DERR_INVALIDCALL : D3D_OK;
    }
    HRESULT EndScene() override
    {
        check("EndScene");
        log("device->EndScene()");
        return D3D_OK;
    }
    HRESULT Present(const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty) override
    {
        check("Present");
        log(format("device->Present(%s, %s, %s, %s)", standin_name_of(source).c_str(),
                   standin_name_of(dest).c_str(), standin_name_of(window).c_str(),
                   standin_name_of(dirty).c_str()));
        standin_state& s = standin();
        if (s.cooperative_level != D3D_OK)
            return D3DERR_DEVICELOST;
        HRESULT status = next_of(s.script.presents, D3D_OK);
        if (status == D3DERR_DEVICELOST)
            s.cooperative_level = D3DERR_DEVICELOST;
        return status;
    }
    HRESULT TestCooperativeLevel() override
    {
        check("TestCooperativeLevel");
        log("device->TestCooperativeLevel()");
        standin_state& s = standin();
        if (s.cooperative_level != D3D_OK)
            s.cooperative_level = next_of(s.script.cooperative_levels, D3DERR_DEVICENOTRESET);
        return s.cooperative_level;
    }
    // Microsoft documents that a reset loses every state, but one real implementation keeps
    // the shaders bound: so does this one, and what must not draw again has to be unbound.
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override
    {
        check("Reset");
        log("device->Reset(" + standin_name_of(params) + ")");
        standin_state& s = standin();
        if (s.cooperative_level == D3DERR_DEVICELOST) {
            fault("Reset before TestCooperativeLevel said the device could be reset");
            return D3DERR_DEVICELOST;
        }
        for (auto& held : objects().records)
            if (held.second->default_pool && held.second->refs > 0)
                return D3DERR_INVALIDCALL;
        HRESULT status = next_of(s.script.resets, D3D_OK);
        if (status != D3D_OK)
            return status;
        s.cooperative_level = D3D_OK;
        return D3D_OK;
    }
    template <class Object, class Shader>
    HRESULT create_shader(const char* method, const char* kind, HRESULT status,
                          const DWORD* code, Shader** shader)
    {
        check(method);
        log(format("device->%s(%s, %s)", method, standin_name_of(code).c_str(),
                   shader ? "out" : "NULL"));
        if (!code || !shader || !live_code(code)) {
            fault(std::string(method) + " given no live code buffer");
            return D3DERR_INVALIDCALL;
        }
        if (status != D3D_OK)
            return status;
        *shader = create<Object>(kind);
        return D3D_OK;
    }
    HRESULT CreateVertexShader(const DWORD* code, IDirect3DVertexShader9** shader) override
    {
        return create_shader<vertex_shader_object>("CreateVertexShader", "vs",
                                                   standin().script.create_vertex_shader_status, code, shader);
    }
    HRESULT CreatePixelShader(const DWORD* code, IDirect3DPixelShader9** shader) override
    {
        return create_shader<pixel_shader_object>("CreatePixelShader", "ps",
                                                  standin().script.create_pixel_shader_status, code, shader);
    }
    // Of the registers that vs_3_0 (256) and ps_3_0 (224) have.
    HRESULT set_constants(const char* method, float* registers, UINT limit, UINT first, const float* data, UINT count)
    {
        check(method);
        log(format("device->%s(%u, %s, %u)", method, first, standin_name_of(data).c_str(), count));
        if (!data || first + count > limit) {
            fault(std::string(method) + " outside the stage's registers");
            return D3DERR_INVALIDCALL;
        }
        memcpy(registers + first * 4, data, count * 4 * sizeof(float));
        return D3D_OK;
    }
    HRESULT SetVertexShaderConstantF(UINT first, const float* data, UINT count) override
    {
        return set_constants("SetVertexShaderConstantF", standin().vertex_constants, 256, first, data, count);
    }
    HRESULT SetPixelShaderConstantF(UINT first, const float* data, UINT count) override
    {
        return set_constants("SetPixelShaderConstantF", standin().pixel_constants, 224, first, data, count);
    }
    template <class Shader>
    void bind(const char* method, Shader*& bound, Shader* shader)
    {
        check(method);
        log(format("device->%s(%s)", method, standin_name_of(shader).c_str()));
        if (shader)
            shader->check(method);
        if (shader)
            shader->hold();
        if (bound)
            bound->let_go();
        bound = shader;
    }
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override
    {
        bind("SetVertexShader", bound_vertex, static_cast<vertex_shader_object*>(shader));
        return D3D_OK;
    }
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override
    {
        bind("SetPixelShader", bound_pixel, static_cast<pixel_shader_object*>(shader));
        return D3D_OK;
    }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE state, DWORD value) override
    {
        check("SetSamplerState");
        log(format("device->SetSamplerState(%u, %d, %u)", sampler, (int)state, value));
        return D3D_OK;
    }
    HRESULT SetFVF(DWORD fvf) override
    {
        check("SetFVF");
        log(format("device->SetFVF(0x%x)", fvf));
        return D3D_OK;
    }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* data, UINT stride) override
    {
        check("DrawPrimitiveUP");
        log(format("device->DrawPrimitiveUP(%d, %u, %s, %u)", (int)type, count,
                   standin_name_of(data).c_str(), stride));
        const float* first = static_cast<const float*>(data);
        standin().folder.now += standin().script.ms_per_draw;
        standin().drawn.assign(first, first + (count + 2) * stride / sizeof(float));
        return D3D_OK;
    }
    HRESULT GetBackBuffer(UINT swap_chain, UINT index, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface9** surface) override
    {
        check("GetBackBuffer");
        log(format("device->GetBackBuffer(%u, %u, %d, %s)", swap_chain, index, (int)type,
                   surface ? "out" : "NULL"));
        *surface = create<surface_object>("backbuffer");
        static_cast<surface_object*>(*surface)->record.default_pool = true;
        return D3D_OK;
    }
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT pixel_format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* shared) override
    {
        check("CreateOffscreenPlainSurface");
        log(format("device->CreateOffscreenPlainSurface(%u, %u, %d, %d, %s, %s)", width, height,
                   (int)pixel_format, (int)pool, surface ? "out" : "NULL", standin_name_of(shared).c_str()));
        HRESULT status = standin().script.create_surface_status;
        *surface = status == D3D_OK ? create<surface_object>("surface") : NULL;
        return status;
    }
    HRESULT GetRenderTargetData(IDirect3DSurface9* target, IDirect3DSurface9* copy) override
    {
        check("GetRenderTargetData");
        log(format("device->GetRenderTargetData(%s, %s)", standin_name_of(target).c_str(),
                   standin_name_of(copy).c_str()));
        static_cast<surface_object*>(target)->check("GetRenderTargetData");
        static_cast<surface_object*>(copy)->check("GetRenderTargetData");
        standin_state& s = standin();
        if (s.script.read_back_status == D3D_OK)
            static_cast<surface_object*>(copy)->time = s.pixel_constants[0];
        return s.script.read_back_status;
    }
    HRESULT SetTexture(DWORD sampler, IDirect3DBaseTexture9* texture) override
    { return log(format("device->SetTexture(%u, %s)", sampler, standin_name_of(texture).c_str())), D3D_OK; }
    HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL pool, IDirect3DTexture9** texture, HANDLE*) override
    {
        log("device->CreateTexture()");
        *texture = create<texture_object>("texture");
        static_cast<texture_object*>(*texture)->record.default_pool = pool == D3DPOOL_DEFAULT;
        return D3D_OK;
    }
    HRESULT UpdateSurface(IDirect3DSurface9* from, const RECT*, IDirect3DSurface9* to, const POINT*) override
    { return log("device->UpdateSurface(" + standin_name_of(from) + ", " + standin_name_of(to) + ")"), D3D_OK; }
    HRESULT StretchRect(IDirect3DSurface9* from, const RECT*, IDirect3DSurface9* to, const RECT*, D3DTEXTUREFILTERTYPE) override
    { return log("device->StretchRect(" + standin_name_of(from) + ", " + standin_name_of(to) + ")"), D3D_OK; }
    HRESULT ColorFill(IDirect3DSurface9* surface, const RECT*, D3DCOLOR) override
    { return log("device->ColorFill(" + standin_name_of(surface) + ")"), D3D_OK; }
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override
    { return log(format("device->SetRenderTarget(%u, %s)", index, standin_name_of(surface).c_str())), D3D_OK; }
    HRESULT CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override
    {
        log(format("device->CreateQuery(%d)", (int)type));
        *query = create<query_object>("query");
        static_cast<query_object*>(*query)->record.default_pool = true;
        return D3D_OK;
    }
};

struct direct3d_object : counted<IDirect3D9> {
    HRESULT CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD usage, D3DRESOURCETYPE, D3DFORMAT wanted) override
    {
        log(format("d3d->CheckDeviceFormat(0x%x, %d)", usage, (int)wanted));
        return D3D_OK;
    }
    HRESULT GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9* caps) override
    {
        log("d3d->GetDeviceCaps(caps)");
        *caps = {8192, 8192};
        return D3D_OK;
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override
    {
        check("CreateDevice");
        log(format("d3d->CreateDevice(%u, %d, %s, 0x%x, %s, %s)", adapter, (int)type,
                   standin_name_of(focus).c_str(), behaviour, standin_name_of(params).c_str(),
                   device ? "out" : "NULL"));
        if (standin().script.create_device_fails) {
            if (device)
                *device = nullptr;
            return D3DERR_INVALIDCALL;
        }
        *device = create<device_object>("device");
        return D3D_OK;
    }
};

// Handles the stand-in gives out for things the program only passes along.
HINSTANCE const module_handle = (HINSTANCE)0x400000;
HICON const icon_handle = (HICON)0x10011;
HCURSOR const cursor_handle = (HCURSOR)0x10013;
HGDIOBJ const black_brush_handle = (HGDIOBJ)0x1900010;
HWND const window_handle = standin_window;

std::map<const void*, std::string> handle_names()
{
    return {
        {module_handle, "module"},
        {icon_handle, "icon"},
        {cursor_handle, "cursor"},
        {black_brush_handle, "black brush"},
        {window_handle, "window"},
    };
}

}  // namespace

standin_state& standin()
{
    static standin_state* state = new standin_state;
    return *state;
}

void standin_reset()
{
    standin() = standin_state();
    registry& r = objects();
    r.objects.clear();
    r.records.clear();
    r.counts.clear();
    r.names = handle_names();
}

void standin_name(const void* address, const std::string& name)
{
    objects().names[address] = name;
}

std::string standin_name_of(const void* address)
{
    if (!address)
        return "NULL";
    registry& r = objects();
    auto record = r.records.find(address);
    if (record != r.records.end())
        return record->second->name;
    auto named = r.names.find(address);
    if (named != r.names.end())
        return named->second;
    for (auto& object : r.objects) {
        buffer* b = dynamic_cast<buffer*>(object.get());
        if (b && (const void*)b->bytes.get() == address)
            return b->record.name + " bytes";
    }
    return format("%p", address);
}

static object_record* find_record(const std::string& name)
{
    for (auto& entry : objects().records)
        if (entry.second->name == name)
            return entry.second;
    return nullptr;
}

long standin_refs(const std::string& name)
{
    object_record* record = find_record(name);
    return record ? record->refs : -1;
}

int standin_releases(const std::string& name)
{
    object_record* record = find_record(name);
    return record ? record->releases : -1;
}

std::vector<std::string> standin_objects()
{
    std::vector<std::string> names;
    for (auto& object : objects().objects)
        names.push_back(objects().records[object.get()]->name);
    return names;
}

std::vector<std::string> standin_live_objects()
{
    std::vector<std::string> names;
    for (auto& object : objects().objects) {
        object_record* record = objects().records[object.get()];
        if (record->refs > 0)
            names.push_back(record->name);
    }
    return names;
}

std::vector<std::string> standin_calls(const std::string& prefix)
{
    std::vector<std::string> matching;
    for (auto& call : standin().calls)
        if (call.compare(0, prefix.size(), prefix) == 0)
            matching.push_back(call);
    return matching;
}

// Windows

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    log("GetModuleHandleA(" + quoted(name) + ")");
    return name ? NULL : module_handle;
}

void WINAPI OutputDebugStringA(LPCSTR text)
{
    log("OutputDebugStringA(" + quoted(text) + ")");
}

void WINAPI Sleep(DWORD milliseconds)
{
    log(format("Sleep(%u)", milliseconds));
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* window_class)
{
    log("RegisterClassExA(" + standin_name_of(window_class) + ")");
    if (standin().script.register_class_fails)
        return 0;
    standin().registered_class = *window_class;
    return 0xC0DE;
}

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param)
{
    log(format("CreateWindowExA(0x%x, %s, %s, 0x%x, %d, %d, %d, %d, %s, %s, %s, %s)", ex_style,
               quoted(class_name).c_str(), quoted(window_name).c_str(), style, x, y, width,
               height, standin_name_of(parent).c_str(), standin_name_of(menu).c_str(),
               standin_name_of(instance).c_str(), standin_name_of(param).c_str()));
    if (standin().script.create_window_fails)
        return NULL;
    standin().window_x = x;
    standin().window = window_handle;
    return window_handle;
}

BOOL WINAPI ShowWindow(HWND window, int show)
{
    log(format("ShowWindow(%s, %d)", standin_name_of(window).c_str(), show));
    return FALSE;
}

BOOL WINAPI UpdateWindow(HWND window)
{
    log("UpdateWindow(" + standin_name_of(window) + ")");
    return TRUE;
}

int WINAPI ShowCursor(BOOL show)
{
    log(format("ShowCursor(%d)", show));
    return show ? 0 : -1;
}

BOOL WINAPI PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove)
{
    standin_state& s = standin();
    log(format("PeekMessageA(msg, %s, %u, %u, 0x%x)", standin_name_of(window).c_str(), first,
               last, remove));
    if (s.script.messages.empty() || s.idle_peeks < s.script.idle_peeks_before_messages) {
        // One quit once the loop has idled long enough; a loop that ignores it runs on
        // until the test's time limit.
        if (++s.idle_peeks != s.script.idle_peeks_before_quit)
            return FALSE;
        if (s.script.idle_peeks_before_quit == standin_script().idle_peeks_before_quit)
            fault("the main loop never saw WM_QUIT");
        s.script.messages.push_back(MSG{NULL, WM_QUIT, 0, 0, 0, {0, 0}});
    }
    *msg = s.script.messages.front();
    s.script.messages.pop_front();
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* msg)
{
    log(format("TranslateMessage(0x%x)", msg->message));
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg)
{
    log(format("DispatchMessageA(0x%x)", msg->message));
    WNDPROC proc = standin().registered_class.lpfnWndProc;
    if (!proc || !msg->hwnd)
        return 0;
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    log(format("DefWindowProcA(%s, 0x%x, 0x%lx, 0x%lx)", standin_name_of(window).c_str(), message,
               (unsigned long)wParam, (unsigned long)lParam));
    return standin().script.default_result;
}

void WINAPI PostQuitMessage(int exit_code)
{
    log(format("PostQuitMessage(%d)", exit_code));
    standin().script.messages.push_back(MSG{NULL, WM_QUIT, WPARAM(exit_code), 0, 0, {0, 0}});
}


SHORT WINAPI GetKeyState(int key) { return standin().script.keys[key]; }
HWND WINAPI SetCapture(HWND window) { return log("SetCapture(" + standin_name_of(window) + ")"), HWND(NULL); }
BOOL WINAPI ReleaseCapture() { return log("ReleaseCapture()"), TRUE; }

SHORT WINAPI GetAsyncKeyState(int key)
{
    standin_script& script = standin().script;
    log(format("GetAsyncKeyState(0x%x)", key));
    std::deque<SHORT>& polls = script.key_polls[key];
    if (!polls.empty()) {
        SHORT state = polls.front();
        polls.pop_front();
        return state;
    }
    return script.keys[key];
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    log(format("LoadIconA(%s, %lu)", standin_name_of(instance).c_str(), (unsigned long)(uintptr_t)name));
    return icon_handle;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    log(format("LoadCursorA(%s, %lu)", standin_name_of(instance).c_str(), (unsigned long)(uintptr_t)name));
    return cursor_handle;
}

HGDIOBJ WINAPI GetStockObject(int object)
{
    log(format("GetStockObject(%d)", object));
    return object == BLACK_BRUSH ? black_brush_handle : NULL;
}

// A screen of 1600x1200 and windows without a frame.
BOOL WINAPI SystemParametersInfoA(UINT action, UINT, LPVOID area, UINT)
{
    return log(format("SystemParametersInfoA(%u, area)", action)), *(RECT*)area = {0, 0, 1600, 1200}, TRUE;
}
BOOL WINAPI AdjustWindowRectEx(RECT*, DWORD, BOOL, DWORD) { return log("AdjustWindowRectEx(rect)"), TRUE; }

// Two monitors side by side, the primary on the left, and a window on the one where its left edge is.
static const MONITORINFO monitors[] = {{sizeof(MONITORINFO), {0, 0, 1600, 1200}, {0, 0, 1600, 1200}, MONITORINFOF_PRIMARY},
                                       {sizeof(MONITORINFO), {1600, 0, 3520, 1080}, {1600, 0, 3520, 1040}, 0}};
BOOL WINAPI EnumDisplayMonitors(HDC, const RECT*, MONITORENUMPROC each, LPARAM data)
{
    log("EnumDisplayMonitors()");
    for (int i = 0; i < 2 && each((HMONITOR)&monitors[i], NULL, NULL, data); i++) {
    }
    return TRUE;
}
BOOL WINAPI GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info) { return *info = *(const MONITORINFO*)monitor, TRUE; }
HMONITOR WINAPI MonitorFromWindow(HWND, DWORD) { return (HMONITOR)&monitors[standin().window_x >= 1600]; }
LONG WINAPI GetWindowLongA(HWND, int) { return WS_OVERLAPPEDWINDOW | WS_VISIBLE; }
LONG WINAPI SetWindowLongA(HWND, int, LONG style) { return log(format("SetWindowLongA(0x%x)", style)), 0; }
BOOL WINAPI SetWindowPos(HWND, HWND, int x, int y, int width, int height, UINT)
{
    return log(format("SetWindowPos(%d, %d, %d, %d)", x, y, width, height)), standin().window_x = x, TRUE;
}
UINT_PTR WINAPI SetTimer(HWND, UINT_PTR id, UINT ms, void*) { return log(format("SetTimer(%u)", ms)), id; }
BOOL WINAPI KillTimer(HWND, UINT_PTR) { return log("KillTimer()"), TRUE; }
HCURSOR WINAPI SetCursor(HCURSOR cursor) { return log("SetCursor(" + standin_name_of(cursor) + ")"), HCURSOR(NULL); }
BOOL WINAPI InvalidateRect(HWND, const RECT*, BOOL) { return log("InvalidateRect()"), TRUE; }

// The controls window: every call recorded, none of them answered.
LRESULT WINAPI SendMessageA(HWND, UINT message, WPARAM, LPARAM) { return log(format("SendMessageA(0x%x)", message)), 0; }
BOOL WINAPI DestroyWindow(HWND window) { return log("DestroyWindow(" + standin_name_of(window) + ")"), TRUE; }
BOOL WINAPI IsDialogMessageA(HWND, MSG* msg) { return log(format("IsDialogMessageA(0x%x)", msg->message)), FALSE; }
HWND WINAPI SetFocus(HWND) { return log("SetFocus()"), HWND(NULL); }
BOOL WINAPI GetWindowRect(HWND, RECT* rect) { return log("GetWindowRect(rect)"), *rect = {}, TRUE; }
int WINAPI GetSystemMetrics(int index) { return log(format("GetSystemMetrics(%d)", index)), 17; }
int WINAPI SetScrollInfo(HWND, int, const SCROLLINFO* info, BOOL) { return log(format("SetScrollInfo(%d)", info->nPos)), info->nPos; }
BOOL WINAPI ScrollWindow(HWND, int, int dy, const RECT*, const RECT*) { return log(format("ScrollWindow(%d)", dy)), TRUE; }
HWND WINAPI GetFocus() { return log("GetFocus()"), HWND(NULL); }
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX*) { return log("InitCommonControlsEx()"), TRUE; }
BOOL WINAPI ChooseColorA(CHOOSECOLORA*) { return log("ChooseColorA()"), FALSE; }

// Direct3D 9 and D3DX

IDirect3D9* WINAPI Direct3DCreate9(UINT sdk_version)
{
    log(format("Direct3DCreate9(%u)", sdk_version));
    if (standin().script.direct3d_fails)
        return NULL;
    return create<direct3d_object>("d3d");
}

// Code of the profile's version: a comment, a declaration and a constant, which take no slot,
// and one move, which takes one.
static std::string code_of(const char* profile)
{
    const DWORD tokens[] = {(profile && profile[0] == 'v' ? 0xFFFE0300u : 0xFFFF0300u), 0x0001FFFE, 0x42415443,
                            0x0200001F, 0x80000000, 0x900F0000, 0x05000051, 0xA00F0000, 0, 0, 0, 0,
                            0x02000001, 0x800F0000, 0xA0E40000, D3DSIO_END};
    return std::string((const char*)tokens, sizeof tokens);
}

// The file through the include callback, each #include "NAME" line given as Wine's
// preprocessor gives it: its line left empty, then the file's text and a line feed. As there,
// what the file itself includes has no parent.
static bool expand(LPD3DXINCLUDE include, const std::string& name, LPCVOID parent, bool top, std::string* out)
{
    LPCVOID data = NULL;
    UINT bytes = 0;
    if (include->lpVtbl->Open(include, D3DXINC_LOCAL, name.c_str(), parent, &data, &bytes) != S_OK)
        return false;
    std::string source((const char*)data, bytes);
    bool expanded = true;
    for (size_t at = 0, end; at < source.size() && expanded; at = end + 1) {
        end = std::min(source.find('\n', at), source.size());
        if (source.compare(at, 10, "#include \"") != 0) {
            *out += source.substr(at, end + 1 - at);
            continue;
        }
        *out += "\n";
        std::string inner = source.substr(at + 10, source.find('"', at + 10) - at - 10);
        expanded = expand(include, inner, top ? NULL : data, false, out);
        *out += "\n";
    }
    include->lpVtbl->Close(include, data);
    return expanded;
}

// No text unless the script asks for it: a shader here declares nothing beside its code.
HRESULT WINAPI D3DXPreprocessShaderFromFileA(LPCSTR file, const D3DXMACRO*, LPD3DXINCLUDE include, LPD3DXBUFFER* text,
                                            LPD3DXBUFFER*)
{
    log(format("D3DXPreprocessShaderFromFileA(%s)", quoted(file).c_str()));
    std::string out;
    if (!standin().script.preprocesses || !include || !expand(include, file, NULL, true, &out))
        return E_FAIL;
    buffer* b = create<buffer>("buffer");
    b->fill(out, true);
    *text = b;
    return D3D_OK;
}

HRESULT WINAPI D3DXCompileShaderFromFileA(LPCSTR file, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                                          LPCSTR entry, LPCSTR profile, DWORD flags,
                                          LPD3DXBUFFER* code, LPD3DXBUFFER* messages,
                                          LPD3DXCONSTANTTABLE* constants)
{
    log(format("D3DXCompileShaderFromFileA(%s, %s, %s, %s, %s, 0x%x, %s, %s, %s)",
               quoted(file).c_str(), standin_name_of(defines).c_str(),
               standin_name_of(include).c_str(), quoted(entry).c_str(), quoted(profile).c_str(),
               flags, code ? "out" : "NULL", messages ? "out" : "NULL",
               constants ? "out" : "NULL"));
    // The file itself, then each file it names in an #include line, through the include
    // callback, as Wine's compiler does with one.
    if (include) {
        LPCVOID data = NULL;
        UINT bytes = 0;
        if (include->lpVtbl->Open(include, D3DXINC_LOCAL, file, NULL, &data, &bytes) == S_OK) {
            std::string source((const char*)data, bytes);
            standin().compiler_read[file] = source;
            for (size_t at = source.find("#include \""); at != std::string::npos; at = source.find("#include \"", at + 1)) {
                size_t from = at + 10, to = source.find('"', from);
                LPCVOID included = NULL;
                std::string name = source.substr(from, to - from);
                if (include->lpVtbl->Open(include, D3DXINC_LOCAL, name.c_str(), NULL, &included, &bytes) == S_OK) {
                    standin().compiler_read[name] = std::string((const char*)included, bytes);
                    include->lpVtbl->Close(include, included);
                }
            }
            include->lpVtbl->Close(include, data);
        }
    }
    compile_result result;
    standin_script& script = standin().script;
    std::deque<compile_result>& queued = script.compile_queue[entry ? entry : ""];
    auto scripted = script.compile.find(entry ? entry : "");
    if (!queued.empty()) {
        result = queued.front();
        queued.pop_front();
    } else if (scripted != script.compile.end()) {
        result = scripted->second;
    } else if (entry && strncmp(entry, "ps_", 3) == 0 && strcmp(entry, "ps_main") != 0) {
        // A file has no function of any other name unless the test gives it one.
        result.status = E_FAIL;
        result.code = false;
        result.messages = true;
        result.text = std::string("main.fx: E5005: Entry point \"") + entry + "\" is not defined.";
    }
    if (code) {
        *code = NULL;
        if (result.code) {
            buffer* b = create<buffer>("buffer");
            b->fill(code_of(profile), false);
            *code = b;
        }
    }
    if (constants && (*constants = result.code ? create<table_object>("table") : NULL))
        static_cast<table_object*>(*constants)->constants = result.constants;
    if (messages) {
        *messages = NULL;
        if (result.messages) {
            buffer* b = create<buffer>("buffer");
            b->fill(result.text, result.terminated);
            *messages = b;
        }
    }
    return result.status;
}

HRESULT WINAPI D3DXSaveSurfaceToFileA(LPCSTR file, D3DXIMAGE_FILEFORMAT file_format, LPDIRECT3DSURFACE9 surface,
                                      const PALETTEENTRY* palette, const RECT* rect)
{
    log(format("D3DXSaveSurfaceToFileA(%s, %d, %s, %s, %s)", quoted(file).c_str(), (int)file_format,
               standin_name_of(surface).c_str(), standin_name_of(palette).c_str(),
               standin_name_of(rect).c_str()));
    surface_object* picture = static_cast<surface_object*>(surface);
    picture->check("D3DXSaveSurfaceToFileA");
    standin_state& s = standin();
    auto scripted = s.script.save_statuses.find(file);
    if (scripted != s.script.save_statuses.end())
        return scripted->second;
    s.saved[file] = picture->time;
    return D3D_OK;
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT size, UINT width, UINT height,
                                                  UINT levels, DWORD, D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR,
                                                  D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9** texture)
{
    log(format("D3DXCreateTextureFromFileInMemoryEx(%u bytes, %d, %d, %d, %d)", size, width, height, levels, pool));
    return *texture = create<texture_object>("texture"), D3D_OK;
}

struct cube_object : counted<IDirect3DCubeTexture9> {};
struct volume_object : counted<IDirect3DVolumeTexture9> {};
HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT size, UINT edge, UINT levels, DWORD,
    D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DCubeTexture9** cube)
{
    log(format("D3DXCreateCubeTextureFromFileInMemoryEx(%u bytes, %d, %d, %d)", size, edge, levels, pool));
    return *cube = create<cube_object>("cube"), D3D_OK;
}
HRESULT WINAPI D3DXCreateVolumeTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT size, UINT width, UINT height,
    UINT depth, UINT levels, DWORD, D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*,
    IDirect3DVolumeTexture9** volume)
{
    log(format("D3DXCreateVolumeTextureFromFileInMemoryEx(%u bytes, %d, %d, %d, %d, %d)", size, width, height, depth, levels, pool));
    return *volume = create<volume_object>("volume"), D3D_OK;
}

HRESULT WINAPI D3DXCreateTextureFromFileExA(IDirect3DDevice9*, LPCSTR file, UINT width, UINT height, UINT levels,
                                            DWORD, D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR,
                                            D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9** texture)
{
    log(format("D3DXCreateTextureFromFileExA(%s, %d, %d, %d, %d)", quoted(file).c_str(), width, height, levels, pool));
    return *texture = create<texture_object>("texture"), D3D_OK;
}

// The sound device: one at a time, its buffer played only as far as the script says.
static HWAVEOUT const wave_out_handle = (HWAVEOUT)0x7E00;

static void check_wave_out(HWAVEOUT wave_out, const char* call)
{
    if (wave_out != wave_out_handle)
        fault(std::string(call) + " given a device that is not open");
}

MMRESULT WINAPI waveOutOpen(HWAVEOUT* wave_out, UINT device, const WAVEFORMATEX* wave_format, DWORD_PTR callback,
                            DWORD_PTR, DWORD flags)
{
    log(format("waveOutOpen(wave_out, 0x%x, {%u, %u channels, %u Hz, %u bytes/s, %u, %u bits}, %s, 0x%x)", device,
               wave_format->wFormatTag, wave_format->nChannels, wave_format->nSamplesPerSec,
               wave_format->nAvgBytesPerSec, wave_format->nBlockAlign, wave_format->wBitsPerSample,
               callback ? "callback" : "0", flags));
    MMRESULT status = standin().script.wave_out_open_status;
    *wave_out = status == MMSYSERR_NOERROR ? wave_out_handle : NULL;
    return status;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT wave_out, WAVEHDR* header, UINT size)
{
    log(format("waveOutPrepareHeader(wave_out, {%u bytes}, %u)", header->dwBufferLength, size));
    check_wave_out(wave_out, "waveOutPrepareHeader");
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT wave_out, WAVEHDR* header, UINT)
{
    log(format("waveOutWrite(wave_out, {%u bytes})", header->dwBufferLength));
    check_wave_out(wave_out, "waveOutWrite");
    if (!(header->dwFlags & WHDR_PREPARED))
        fault("waveOutWrite of a header not prepared");
    standin().playing = header;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetPosition(HWAVEOUT wave_out, MMTIME* time, UINT)
{
    log("waveOutGetPosition(wave_out, time)");
    check_wave_out(wave_out, "waveOutGetPosition");
    time->wType = TIME_SAMPLES;
    time->u.sample = standin().script.samples_played;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT wave_out)
{
    log("waveOutReset(wave_out)");
    check_wave_out(wave_out, "waveOutReset");
    if (standin().playing)
        standin().playing->dwFlags |= WHDR_DONE;
    standin().playing = nullptr;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT wave_out, WAVEHDR* header, UINT)
{
    log("waveOutUnprepareHeader(wave_out, header)");
    check_wave_out(wave_out, "waveOutUnprepareHeader");
    if (header == standin().playing)
        fault("waveOutUnprepareHeader of a header still playing");
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT wave_out)
{
    log("waveOutClose(wave_out)");
    check_wave_out(wave_out, "waveOutClose");
    if (standin().playing)
        fault("waveOutClose while a buffer plays");
    return MMSYSERR_NOERROR;
}

// Sockets, for --osc: one, bound, which never receives anything.
int WINAPI WSAStartup(WORD, WSADATA*) { return log("WSAStartup()"), 0; }
int WINAPI WSACleanup() { return log("WSACleanup()"), 0; }
int WINAPI WSAGetLastError() { return WSAEWOULDBLOCK; }
SOCKET WINAPI socket(int, int, int) { return log("socket()"), (SOCKET)0x7000; }
int WINAPI setsockopt(SOCKET, int, int, const char*, int) { return log("setsockopt()"), 0; }
int WINAPI bind(SOCKET, const sockaddr*, int) { return log("bind()"), 0; }
int WINAPI ioctlsocket(SOCKET, long, u_long*) { return log("ioctlsocket()"), 0; }
int WINAPI recv(SOCKET, char*, int, int) { return log("recv()"), -1; }
int WINAPI closesocket(SOCKET) { return log("closesocket()"), 0; }
// The capture devices: any number of them, opened one at a time; their buffers are never filled.
static HWAVEIN const wave_in_handle = (HWAVEIN)0x7E01;

UINT WINAPI waveInGetNumDevs() { return (UINT)standin().script.capture_devices.size(); }

MMRESULT WINAPI waveInGetDevCapsA(UINT device, WAVEINCAPSA* caps, UINT)
{
    if (device >= standin().script.capture_devices.size())
        return MMSYSERR_NODRIVER;
    memset(caps, 0, sizeof *caps);
    strncpy(caps->szPname, standin().script.capture_devices[device].c_str(), MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInOpen(HWAVEIN* wave_in, UINT device, const WAVEFORMATEX* wave_format, DWORD_PTR, DWORD_PTR, DWORD)
{
    log(format("waveInOpen(wave_in, 0x%x, {%u, %u channels, %u Hz, %u bits})", device, wave_format->wFormatTag,
               wave_format->nChannels, wave_format->nSamplesPerSec, wave_format->wBitsPerSample));
    std::deque<MMRESULT>& opens = standin().script.wave_in_opens;
    MMRESULT status = opens.empty() ? MMSYSERR_NOERROR : opens.front();
    if (!opens.empty())
        opens.pop_front();
    *wave_in = status == MMSYSERR_NOERROR ? wave_in_handle : NULL;
    return status;
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN, WAVEHDR* header, UINT) { return header->dwFlags |= WHDR_PREPARED, MMSYSERR_NOERROR; }
MMRESULT WINAPI waveInAddBuffer(HWAVEIN, WAVEHDR*, UINT) { return MMSYSERR_NOERROR; }
MMRESULT WINAPI waveInStart(HWAVEIN) { return log("waveInStart(wave_in)"), MMSYSERR_NOERROR; }
MMRESULT WINAPI waveInReset(HWAVEIN) { return MMSYSERR_NOERROR; }
MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN, WAVEHDR* header, UINT) { return header->dwFlags &= ~WHDR_PREPARED, MMSYSERR_NOERROR; }

MMRESULT WINAPI waveInClose(HWAVEIN wave_in)
{
    if (wave_in != wave_in_handle)
        fault("waveInClose given a device that is not open");
    return MMSYSERR_NOERROR;
}

// COM: started and ended, but no class is registered, so loopback capture is never there.
HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) { return S_OK; }
void WINAPI CoUninitialize() {}
HRESULT WINAPI CoCreateInstance(const CLSID&, IUnknown*, DWORD, const IID&, LPVOID* made)
{ return log("CoCreateInstance(MMDeviceEnumerator)"), *made = NULL, REGDB_E_CLASSNOTREG; }
void WINAPI CoTaskMemFree(LPVOID) {}
