#include "quiet.h"

#include <winsock2.h>

#include <commctrl.h>
#include <commdlg.h>
#include <d3dx9.h>
#include <mmdeviceapi.h>
#include <math.h>
#include <string.h>
#include <strings.h>

quiet_state quiet = {};

namespace {

template <class Interface>
struct counted : Interface {
    ULONG AddRef() override
    {
        ++quiet.live_references;
        return 1;
    }
    ULONG Release() override
    {
        --quiet.live_references;
        return 0;
    }
};

template <class Object>
Object* hand_out(Object& object)
{
    ++quiet.live_references;
    return &object;
}

struct quiet_buffer : counted<ID3DXBuffer> {
    const char* text;
    DWORD size;
    LPVOID GetBufferPointer() override { return (LPVOID)text; }
    DWORD GetBufferSize() override { return size; }
};

quiet_buffer code_buffer;
quiet_buffer message_buffer;
counted<IDirect3DVertexShader9> vertex_shader_object;
counted<IDirect3DSurface9> surface_object;
struct quiet_texture : counted<IDirect3DTexture9> {
    BYTE bytes[2048 * 3];  // three rows of bytes, or a row of 512 floats
    HRESULT LockRect(UINT, D3DLOCKED_RECT* locked, const RECT*, DWORD) override
    { return ++quiet.calls, *locked = D3DLOCKED_RECT{512, bytes}, D3D_OK; }
    HRESULT UnlockRect(UINT) override { return ++quiet.calls, D3D_OK; }
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9** surface) override { return *surface = hand_out(surface_object), D3D_OK; }
} texture_object, textures[32];
unsigned made_textures;
struct quiet_query : counted<IDirect3DQuery9> {
    HRESULT Issue(DWORD) override { return ++quiet.calls, D3D_OK; }
    HRESULT GetData(void*, DWORD, DWORD) override { return ++quiet.calls, D3D_OK; }
} query_object;
// Every named input and an image; ps_main with passes adds p0 to p3, and each pass adds itself.
#define NAMED_INPUTS {"resolution", D3DXRS_FLOAT4, 1, 1, D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4, 1}, \
    {"time", D3DXRS_FLOAT4, 2, 1, D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1, 1}, {"frame", D3DXRS_FLOAT4, 3, 1, D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1, 1}, \
    {"mouse", D3DXRS_FLOAT4, 0, 1, D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4, 1}, \
    {"previous_frame", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}, \
    {"photo", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}
#define PASS(NAME, SAMPLER) {NAME, D3DXRS_SAMPLER, SAMPLER, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}
const D3DXCONSTANT_DESC declared[] = {NAMED_INPUTS};
const D3DXCONSTANT_DESC declared_with_passes[] = {NAMED_INPUTS, PASS("p0", 2), PASS("p1", 3), PASS("p2", 4), PASS("p3", 5)};
const D3DXCONSTANT_DESC declared_by_pass[4][7] = {{NAMED_INPUTS, PASS("p0", 2)}, {NAMED_INPUTS, PASS("p1", 2)},
                                                  {NAMED_INPUTS, PASS("p2", 2)}, {NAMED_INPUTS, PASS("p3", 2)}};
const D3DXCONSTANT_DESC level[] = {{"level", D3DXRS_FLOAT4, 4, 1, D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1, 1}};
const D3DXCONSTANT_DESC music[] = {{"music", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
const D3DXCONSTANT_DESC listening[] = {{"sound_in", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
    {"sound_in_smoothed", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
    {"sound_in_total", D3DXRS_SAMPLER, 2, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
struct quiet_table : counted<ID3DXConstantTable> {
    const D3DXCONSTANT_DESC* names;
    UINT count;
    quiet_table(const D3DXCONSTANT_DESC* names, UINT count) : names(names), count(count) {}
    LPVOID GetBufferPointer() override { return NULL; }
    DWORD GetBufferSize() override { return 0; }
    HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) override { return desc->Constants = count, D3D_OK; }
    D3DXHANDLE GetConstant(D3DXHANDLE, UINT index) override { return (D3DXHANDLE)&names[index]; }
    HRESULT GetConstantDesc(D3DXHANDLE one, D3DXCONSTANT_DESC* desc, UINT*) override { return *desc = *(const D3DXCONSTANT_DESC*)one, D3D_OK; }
} table_object(declared, 6), music_table(music, 1), level_table(level, 1), listening_table(listening, 3);
counted<IDirect3DPixelShader9> pixel_shader_object;

struct quiet_device : counted<IDirect3DDevice9> {
    HRESULT Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return ++quiet.calls, D3D_OK; }
    HRESULT BeginScene() override { return ++quiet.calls, D3D_OK; }
    HRESULT EndScene() override { return ++quiet.calls, D3D_OK; }
    HRESULT Present(const RECT*, const RECT*, HWND, const RGNDATA*) override
    {
        return ++quiet.calls, quiet.device_lost ? D3DERR_DEVICELOST : D3D_OK;
    }
    HRESULT TestCooperativeLevel() override
    {
        return ++quiet.calls, quiet.device_lost ? D3DERR_DEVICENOTRESET : D3D_OK;
    }
    HRESULT Reset(D3DPRESENT_PARAMETERS*) override
    {
        ++quiet.calls;
        if (quiet.reset_fails)
            return D3DERR_DEVICELOST;
        quiet.device_lost = false;
        return D3D_OK;
    }
    HRESULT CreateVertexShader(const DWORD*, IDirect3DVertexShader9** shader) override
    {
        *shader = hand_out(vertex_shader_object);
        return ++quiet.calls, D3D_OK;
    }
    HRESULT CreatePixelShader(const DWORD*, IDirect3DPixelShader9** shader) override
    {
        *shader = hand_out(pixel_shader_object);
        return ++quiet.calls, D3D_OK;
    }
    HRESULT SetVertexShaderConstantF(UINT, const float*, UINT) override { return ++quiet.calls, D3D_OK; }
    HRESULT SetPixelShaderConstantF(UINT, const float*, UINT) override { return ++quiet.calls, D3D_OK; }
    HRESULT SetVertexShader(IDirect3DVertexShader9*) override { return ++quiet.calls, D3D_OK; }
    HRESULT SetPixelShader(IDirect3DPixelShader9*) override { return ++quiet.calls, D3D_OK; }
    HRESULT SetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD) override { return ++quiet.calls, D3D_OK; }
    HRESULT SetFVF(DWORD) override { return ++quiet.calls, D3D_OK; }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return ++quiet.calls, D3D_OK; }
    // The live loop saves no pictures, but keeps the previous frame.
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) override { return *surface = hand_out(surface_object), ++quiet.calls, D3D_OK; }
    HRESULT SetTexture(DWORD, IDirect3DBaseTexture9*) override { return ++quiet.calls, D3D_OK; }
    HRESULT CreateQuery(D3DQUERYTYPE, IDirect3DQuery9** query) override { return *query = hand_out(query_object), ++quiet.calls, D3D_OK; }
    // Distinct textures, as a device gives, so that a pass's two targets and its readers differ.
    HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9** texture, HANDLE*) override
    { return *texture = hand_out(textures[made_textures++ % 32]), ++quiet.calls, D3D_OK; }
    HRESULT UpdateSurface(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const POINT*) override { return ++quiet.calls, D3D_OK; }
    HRESULT StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*, D3DTEXTUREFILTERTYPE) override { return ++quiet.calls, D3D_OK; }
    HRESULT ColorFill(IDirect3DSurface9*, const RECT*, D3DCOLOR) override { return ++quiet.calls, D3D_OK; }
    HRESULT SetRenderTarget(DWORD, IDirect3DSurface9*) override { return ++quiet.calls, D3D_OK; }
    HRESULT CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT GetRenderTargetData(IDirect3DSurface9*, IDirect3DSurface9*) override { return D3DERR_INVALIDCALL; }
};

quiet_device device_object;

struct quiet_direct3d : counted<IDirect3D9> {
    HRESULT CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT) override
    { return ++quiet.calls, D3D_OK; }
    HRESULT GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9* caps) override { return *caps = {8192, 8192}, ++quiet.calls, D3D_OK; }
    HRESULT CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*, IDirect3DDevice9** device) override
    {
        *device = hand_out(device_object);
        return ++quiet.calls, D3D_OK;
    }
};

quiet_direct3d direct3d_object;

}  // namespace

HMODULE WINAPI GetModuleHandleA(LPCSTR) { return ++quiet.calls, (HMODULE)0x400000; }
void WINAPI OutputDebugStringA(LPCSTR) { ++quiet.calls; }
void WINAPI Sleep(DWORD) { ++quiet.calls; }
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA*) { return ++quiet.calls, 0xC0DE; }
HWND WINAPI CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID)
{
    return ++quiet.calls, (HWND)0x20020;
}
BOOL WINAPI ShowWindow(HWND, int) { return ++quiet.calls, FALSE; }
BOOL WINAPI UpdateWindow(HWND) { return ++quiet.calls, TRUE; }
int WINAPI ShowCursor(BOOL) { return ++quiet.calls, 0; }
BOOL WINAPI PeekMessageA(MSG*, HWND, UINT, UINT, UINT) { return ++quiet.calls, FALSE; }
BOOL WINAPI TranslateMessage(const MSG*) { return ++quiet.calls, FALSE; }
LRESULT WINAPI DispatchMessageA(const MSG*) { return ++quiet.calls, 0; }
LRESULT WINAPI DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return ++quiet.calls, 0; }
void WINAPI PostQuitMessage(int) { ++quiet.calls; }
SHORT WINAPI GetAsyncKeyState(int key) { return ++quiet.calls, key == VK_F5 ? quiet.f5 : 0; }
SHORT WINAPI GetKeyState(int) { return ++quiet.calls, 0; }
HWND WINAPI SetCapture(HWND) { return ++quiet.calls, HWND(NULL); }
BOOL WINAPI ReleaseCapture() { return ++quiet.calls, TRUE; }
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) { return ++quiet.calls, (HICON)0x10011; }
HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR) { return ++quiet.calls, (HCURSOR)0x10013; }
HGDIOBJ WINAPI GetStockObject(int) { return ++quiet.calls, (HGDIOBJ)0x1900010; }
BOOL WINAPI SystemParametersInfoA(UINT, UINT, LPVOID area, UINT) { return *(RECT*)area = {0, 0, 1600, 1200}, TRUE; }
BOOL WINAPI AdjustWindowRectEx(RECT*, DWORD, BOOL, DWORD) { return ++quiet.calls, TRUE; }
BOOL WINAPI EnumDisplayMonitors(HDC, const RECT*, MONITORENUMPROC, LPARAM) { return ++quiet.calls, TRUE; }
BOOL WINAPI GetMonitorInfoA(HMONITOR, MONITORINFO*) { return ++quiet.calls, FALSE; }
HMONITOR WINAPI MonitorFromWindow(HWND, DWORD) { return ++quiet.calls, HMONITOR(NULL); }
LONG WINAPI GetWindowLongA(HWND, int) { return ++quiet.calls, 0; }
LONG WINAPI SetWindowLongA(HWND, int, LONG) { return ++quiet.calls, 0; }
BOOL WINAPI SetWindowPos(HWND, HWND, int, int, int, int, UINT) { return ++quiet.calls, TRUE; }
UINT_PTR WINAPI SetTimer(HWND, UINT_PTR id, UINT, void*) { return ++quiet.calls, id; }
BOOL WINAPI KillTimer(HWND, UINT_PTR) { return ++quiet.calls, TRUE; }
HCURSOR WINAPI SetCursor(HCURSOR) { return ++quiet.calls, HCURSOR(NULL); }
BOOL WINAPI InvalidateRect(HWND, const RECT*, BOOL) { return ++quiet.calls, TRUE; }
LRESULT WINAPI SendMessageA(HWND, UINT, WPARAM, LPARAM) { return ++quiet.calls, 0; }
BOOL WINAPI DestroyWindow(HWND) { return ++quiet.calls, TRUE; }
BOOL WINAPI IsDialogMessageA(HWND, MSG*) { return ++quiet.calls, FALSE; }
HWND WINAPI SetFocus(HWND) { return ++quiet.calls, HWND(NULL); }
BOOL WINAPI GetWindowRect(HWND, RECT* rect) { return ++quiet.calls, *rect = {}, TRUE; }
int WINAPI GetSystemMetrics(int) { return ++quiet.calls, 17; }
int WINAPI SetScrollInfo(HWND, int, const SCROLLINFO* info, BOOL) { return ++quiet.calls, info->nPos; }
BOOL WINAPI ScrollWindow(HWND, int, int, const RECT*, const RECT*) { return ++quiet.calls, TRUE; }
HWND WINAPI GetFocus() { return ++quiet.calls, HWND(NULL); }
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX*) { return ++quiet.calls, TRUE; }
BOOL WINAPI ChooseColorA(CHOOSECOLORA*) { return ++quiet.calls, FALSE; }

// The folder never changes: what is measured is the look at its notification in each frame.
HANDLE WINAPI FindFirstChangeNotificationA(LPCSTR, BOOL, DWORD) { return ++quiet.calls, (HANDLE)0x7C00; }
BOOL WINAPI FindNextChangeNotification(HANDLE) { return ++quiet.calls, TRUE; }
BOOL WINAPI FindCloseChangeNotification(HANDLE) { return ++quiet.calls, TRUE; }
DWORD WINAPI WaitForSingleObject(HANDLE, DWORD) { return ++quiet.calls, WAIT_TIMEOUT; }
DWORD WINAPI GetTickCount() { return ++quiet.calls, 0; }
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) { return ++quiet.calls, count->QuadPart = 0, TRUE; }
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) { return ++quiet.calls, frequency->QuadPart = 1000, TRUE; }
DWORD WINAPI GetLastError() { return ++quiet.calls, ERROR_FILE_NOT_FOUND; }
HANDLE WINAPI FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA found) { return ++quiet.calls, quiet.inputs ? memcpy(found->cFileName, "Photo.PNG", 10), (HANDLE)0x7D00 : INVALID_HANDLE_VALUE; }
BOOL WINAPI FindNextFileA(HANDLE, LPWIN32_FIND_DATAA) { return ++quiet.calls, FALSE; }
BOOL WINAPI FindClose(HANDLE) { return ++quiet.calls, TRUE; }
// The files there are, quiet.wav and, with the inputs, photo.png, are read from the start at each
// opening.
static HANDLE const wav_handle = (HANDLE)0x7E00, photo_handle = (HANDLE)0x7E01;
static const BYTE photo[] = "\x89PNG....";
static const BYTE* file_bytes;
static DWORD file_size, file_read;
HANDLE WINAPI CreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    size_t length = strlen(path);
    bool wav = quiet.wav && length > 4 && strcmp(path + length - 4, ".wav") == 0;
    bool png = quiet.inputs && strcmp(path, "photo.png") == 0;
    file_bytes = wav ? quiet.wav : photo;
    file_size = wav ? quiet.wav_size : sizeof photo;
    return ++quiet.calls, file_read = 0, wav ? wav_handle : png ? photo_handle : INVALID_HANDLE_VALUE;
}
BOOL WINAPI ReadFile(HANDLE file, LPVOID to, DWORD wanted, LPDWORD read, LPOVERLAPPED)
{
    ++quiet.calls;
    if (file != wav_handle && file != photo_handle)
        return *read = 0, FALSE;
    *read = wanted < file_size - file_read ? wanted : file_size - file_read;
    memcpy(to, file_bytes + file_read, *read);
    file_read += *read;
    return TRUE;
}
BOOL WINAPI WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) { return *written = 0, FALSE; }
BOOL WINAPI MoveFileExA(LPCSTR, LPCSTR, DWORD) { return FALSE; }
BOOL WINAPI FlushFileBuffers(HANDLE) { return ++quiet.calls, FALSE; }
BOOL WINAPI GetFileTime(HANDLE, FILETIME*, FILETIME*, FILETIME*) { return ++quiet.calls, FALSE; }
void WINAPI GetSystemTimeAsFileTime(FILETIME* now) { ++quiet.calls, *now = FILETIME{0, 0}; }
BOOL WINAPI CloseHandle(HANDLE) { return ++quiet.calls, TRUE; }
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD) { return ++quiet.calls, file == wav_handle || file == photo_handle ? file_size : INVALID_FILE_SIZE; }
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return ++quiet.calls, strcasecmp(a, b); }

// No sound device.
MMRESULT WINAPI waveOutOpen(HWAVEOUT*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD) { return ++quiet.calls, MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT, WAVEHDR*, UINT) { return ++quiet.calls, MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveOutWrite(HWAVEOUT, WAVEHDR*, UINT) { return ++quiet.calls, MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveOutGetPosition(HWAVEOUT, MMTIME*, UINT) { return ++quiet.calls, MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveOutReset(HWAVEOUT) { return ++quiet.calls, MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT, WAVEHDR*, UINT) { return ++quiet.calls, MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveOutClose(HWAVEOUT) { return ++quiet.calls, MMSYSERR_NODRIVER; }
UINT WINAPI waveInGetNumDevs() { return ++quiet.calls, quiet.listens ? 1 : 0; }
MMRESULT WINAPI waveInGetDevCapsA(UINT, WAVEINCAPSA*, UINT) { return ++quiet.calls, MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveInOpen(HWAVEIN* in, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD) { return ++quiet.calls, *in = (HWAVEIN)&quiet, quiet.listens ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER; }
MMRESULT WINAPI waveInPrepareHeader(HWAVEIN, WAVEHDR* header, UINT) { return ++quiet.calls, header->dwFlags |= WHDR_PREPARED, MMSYSERR_NOERROR; }
// A 1 kHz tone at 44,100 samples a second, a buffer's worth at a time, each buffer full at once;
// made once, so that the buffers cost a copy each.
MMRESULT WINAPI waveInAddBuffer(HWAVEIN, WAVEHDR* header, UINT)
{
    static short second[44100 + 4096];
    static DWORD at = 0;
    if (!second[1])
        for (int i = 0; i < 44100 + 4096; i++)
            second[i] = (short)(16384 * sin(2 * 3.14159265358979 * 1000 * i / 44100));
    memcpy(header->lpData, second + at, header->dwBufferLength);
    at = (at + header->dwBufferLength / 2) % 44100;
    header->dwBytesRecorded = header->dwBufferLength;
    return ++quiet.calls, header->dwFlags |= WHDR_DONE, MMSYSERR_NOERROR;
}
MMRESULT WINAPI waveInStart(HWAVEIN) { return ++quiet.calls, MMSYSERR_NOERROR; }
MMRESULT WINAPI waveInReset(HWAVEIN) { return ++quiet.calls, MMSYSERR_NOERROR; }
MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN, WAVEHDR* header, UINT) { return ++quiet.calls, header->dwFlags &= ~WHDR_PREPARED, MMSYSERR_NOERROR; }
MMRESULT WINAPI waveInClose(HWAVEIN) { return ++quiet.calls, MMSYSERR_NOERROR; }

IDirect3D9* WINAPI Direct3DCreate9(UINT) { return ++quiet.calls, hand_out(direct3d_object); }

HRESULT WINAPI D3DXPreprocessShaderFromFileA(LPCSTR, const D3DXMACRO*, LPD3DXINCLUDE, LPD3DXBUFFER*, LPD3DXBUFFER*)
{
    return E_FAIL;
}

HRESULT WINAPI D3DXCompileShaderFromFileA(LPCSTR, const D3DXMACRO*, LPD3DXINCLUDE, LPCSTR entry, LPCSTR, DWORD,
                                          LPD3DXBUFFER* code, LPD3DXBUFFER* messages, LPD3DXCONSTANTTABLE* table)
{
    static const char tokens[] = "code";
    static const char error[] = "main.fx(1,1): error X3000: syntax error";
    static const char no_photo[] = "main.fx: E5005: Entry point \"ps_photo\" is not defined.";
    static const char no_music[] = "main.fx: E5005: Entry point \"ps_music\" is not defined.";
    bool missing = strcmp(entry, "ps_photo") == 0 || strcmp(entry, "ps_music") == 0;
    int pass = strncmp(entry, "ps_p", 4) == 0 && entry[4] >= '0' && entry[4] <= '3' && !entry[5] ? entry[4] - '0' : -1;
    table_object.names = declared;
    table_object.count = sizeof declared / sizeof declared[0];
    if (quiet.passes && strcmp(entry, "ps_main") == 0) {
        table_object.names = declared_with_passes;
        table_object.count = sizeof declared_with_passes / sizeof declared_with_passes[0];
    } else if (pass >= 0) {
        table_object.names = declared_by_pass[pass];
        table_object.count = sizeof declared_by_pass[pass] / sizeof declared_by_pass[pass][0];
    }
    if (table)
        *table = quiet.inputs && !missing ? hand_out(table_object)
                 : quiet.wav && strcmp(entry, "ps_main") == 0 ? hand_out(music_table)
                 : quiet.datagram && strcmp(entry, "ps_main") == 0 ? hand_out(level_table)
                 : quiet.listens && strcmp(entry, "ps_main") == 0 ? hand_out(listening_table) : NULL;
    ++quiet.calls;
    *code = NULL;
    *messages = NULL;
    if (quiet.compile_fails || missing) {
        bool music = strcmp(entry, "ps_music") == 0;
        message_buffer.text = !missing ? error : music ? no_music : no_photo;
        message_buffer.size = !missing ? sizeof error : music ? sizeof no_music : sizeof no_photo;
        *messages = hand_out(message_buffer);
        return E_FAIL;
    }
    code_buffer.text = tokens;
    code_buffer.size = sizeof tokens;
    *code = hand_out(code_buffer);
    return D3D_OK;
}

HRESULT WINAPI D3DXSaveSurfaceToFileA(LPCSTR, D3DXIMAGE_FILEFORMAT, LPDIRECT3DSURFACE9, const PALETTEENTRY*, const RECT*)
{
    return D3DERR_INVALIDCALL;
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, UINT, DWORD, D3DFORMAT,
                                                  D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*,
                                                  IDirect3DTexture9** texture)
{ return *texture = hand_out(texture_object), ++quiet.calls, D3D_OK; }
HRESULT WINAPI D3DXCreateTextureFromFileExA(IDirect3DDevice9*, LPCSTR, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, DWORD,
                                            DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9** texture)
{ return *texture = hand_out(texture_object), ++quiet.calls, D3D_OK; }
// No quiet run reads a cube map or a volume.
HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
    DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DCubeTexture9**) { return D3DERR_INVALIDCALL; }
HRESULT WINAPI D3DXCreateVolumeTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT, UINT, UINT, UINT, UINT, DWORD,
    D3DFORMAT, D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DVolumeTexture9**) { return D3DERR_INVALIDCALL; }

// One socket, which receives the same datagram a number of times, then nothing once, over again.
static int datagrams_left = 0;
static int socket_error = 0;
int WINAPI WSAStartup(WORD, WSADATA*) { return ++quiet.calls, 0; }
int WINAPI WSACleanup() { return ++quiet.calls, 0; }
int WINAPI WSAGetLastError() { return socket_error; }
SOCKET WINAPI socket(int, int, int) { return ++quiet.calls, (SOCKET)0x7000; }
int WINAPI setsockopt(SOCKET, int, int, const char*, int) { return ++quiet.calls, 0; }
int WINAPI bind(SOCKET, const sockaddr*, int) { return ++quiet.calls, 0; }
int WINAPI ioctlsocket(SOCKET, long, u_long*) { return ++quiet.calls, 0; }
int WINAPI closesocket(SOCKET) { return ++quiet.calls, 0; }
int WINAPI recv(SOCKET, char* buffer, int, int)
{
    ++quiet.calls;
    bool one = datagrams_left-- > 0;
    if (!one)
        datagrams_left = quiet.datagrams_per_frame;
    socket_error = one ? 0 : WSAEWOULDBLOCK;
    if (one)
        memcpy(buffer, quiet.datagram, quiet.datagram_size);
    return one ? quiet.datagram_size : -1;
}

// No quiet run asks for loopback capture.
HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) { return S_OK; }
void WINAPI CoUninitialize() {}
HRESULT WINAPI CoCreateInstance(const CLSID&, IUnknown*, DWORD, const IID&, LPVOID* made) { return *made = NULL, REGDB_E_CLASSNOTREG; }
void WINAPI CoTaskMemFree(LPVOID) {}
