// The recording stand-in for Windows, Direct3D 9 and D3DX: every call hotfx makes is logged
// in order with its arguments, results come from a per-test script, and every interface is
// reference counted so a test can see what was released and what leaked.
#pragma once

#include <windows.h>
#include <d3dx9.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

// What one compile hands back.
struct compile_result {
    HRESULT status = D3D_OK;
    bool code = true;            // a code buffer
    bool messages = false;       // a message buffer, holding text
    std::string text;
    bool terminated = true;      // text followed by a zero byte inside the buffer
    std::vector<D3DXCONSTANT_DESC> constants;  // the constant table's, when one is asked for
};

struct standin_script {
    bool register_class_fails = false;
    bool create_window_fails = false;
    bool direct3d_fails = false;
    bool create_device_fails = false;
    bool begin_scene_fails = false;
    HRESULT create_vertex_shader_status = D3D_OK;
    HRESULT create_pixel_shader_status = D3D_OK;
    std::map<std::string, compile_result> compile;     // by entry point; success when absent
    std::map<std::string, std::deque<compile_result>> compile_queue;  // by entry point, one per compile first
    bool preprocesses = false;                         // D3DXPreprocessShaderFromFileA gives text
    std::deque<MSG> messages;                          // what PeekMessageA hands out
    int idle_peeks_before_messages = 0;                // empty drains before it hands them out
    std::map<int, SHORT> keys;                         // GetAsyncKeyState and GetKeyState, held
    std::map<int, std::deque<SHORT>> key_polls;        // GetAsyncKeyState, one per poll first
    LRESULT default_result = 0x5A5A;                   // what DefWindowProcA returns
    // Device loss. A Present answering D3DERR_DEVICELOST loses the device; while it is lost,
    // Present answers that too, and TestCooperativeLevel answers D3DERR_DEVICELOST (not yet
    // ready to be reset), D3DERR_DEVICENOTRESET (ready) or D3D_OK (back by itself). A Reset
    // that succeeds brings it back with the shaders bound that were bound before it.
    std::deque<HRESULT> presents;                      // Present while not lost, one per call first; then D3D_OK
    std::deque<HRESULT> cooperative_levels;            // TestCooperativeLevel while lost, one per call first;
                                                       // then D3DERR_DEVICENOTRESET
    std::deque<HRESULT> resets;                        // Reset when ready, one per call first; then D3D_OK
    int idle_peeks_before_quit = 10000;                // WM_QUIT after this many empty drains
    // Saving pictures: what reading the back buffer back and writing the file answer.
    HRESULT create_surface_status = D3D_OK;
    HRESULT read_back_status = D3D_OK;
    std::map<std::string, HRESULT> save_statuses;      // by file name; success when absent
    // Playing sound: what waveOutOpen answers, and how many samples the device says it played.
    MMRESULT wave_out_open_status = MMSYSERR_NOERROR;
    DWORD samples_played = 0;
    // Capturing sound: the devices' names, and what waveInOpen answers (one per call first,
    // then MMSYSERR_NOERROR).
    std::vector<std::string> capture_devices;
    std::deque<MMRESULT> wave_in_opens;
    DWORD ms_per_draw = 0;                             // the clock's advance at each DrawPrimitiveUP
};

// The current folder as the program reads it, its change notification and the millisecond
// clock (standin_folder.cpp). A change signals the notification only while one is open, and
// it stays signalled until FindNextChangeNotification re-arms it.
struct standin_file {
    std::string bytes;
    bool locked = false;      // held by an editor without sharing: opening it is a sharing violation
    bool denied = false;      // opening it, or replacing it, is denied
    bool directory = false;
    DWORD written = 0;        // its last write time: the clock's milliseconds, 0 for a file that was there
};

struct standin_open {
    std::string name;                  // the file read or written, or the search
    size_t at = 0;                     // where the next read starts, or the next name found
    bool writing = false;              // opened to write
    std::vector<std::string> names;    // a search: the folder's names when it began
};

struct standin_folder {
    std::map<std::string, standin_file> files;
    bool notification_fails = false;   // FindFirstChangeNotificationA answers INVALID_HANDLE_VALUE
    bool rearm_fails = false;          // FindNextChangeNotification answers FALSE
    bool gone = false;                 // the folder itself was removed: searches and opens fail
    bool watched = false;
    bool signalled = false;
    DWORD now = 0;                     // what GetTickCount answers
    DWORD last_error = 0;
    std::map<uintptr_t, standin_open> open;   // files and searches not yet closed
    uintptr_t next_handle = 0x6000;
};

// Writes a file of the folder as an editor's write() would, and signals the change.
void standin_write(const std::string& name, const std::string& bytes);
void standin_remove(const std::string& name);
void standin_rename(const std::string& from, const std::string& to);

struct standin_state {
    standin_script script;
    std::vector<std::string> calls;
    std::vector<std::string> faults;   // misuse: over-release, use after release, bad arguments
    WNDCLASSEXA registered_class = {};
    HWND window = NULL;
    int window_x = 0;                  // where the window last went, which tells its monitor
    float vertex_constants[256 * 4] = {};   // c0.x, c0.y, ... as uploaded
    float pixel_constants[224 * 4] = {};
    std::vector<float> drawn;          // the floats of the last DrawPrimitiveUP
    std::map<std::string, float> saved;  // each file written, with the c0.x its picture was drawn with
    std::map<std::string, std::string> compiler_read;  // what the include callback gave the compiler, by name
    HRESULT cooperative_level = D3D_OK;  // what the device last said of itself: D3D_OK, or lost, or not reset
    int idle_peeks = 0;
    standin_folder folder;
    WAVEHDR* playing = nullptr;        // the buffer written to the sound device and not yet reset
};

standin_state& standin();

// The handle CreateWindowExA gives out.
extern HWND const standin_window;

// Forgets every call, fault and object, and starts from a fresh script.
void standin_reset();

// Names a piece of program memory, so the log shows the name instead of the address.
void standin_name(const void* address, const std::string& name);
std::string standin_name_of(const void* address);

// The reference count of the object with this name ("d3d", "device", "vs1", "ps1",
// "buffer1", ...): creation counts 1, the device holds one on what is bound to it.
long standin_refs(const std::string& name);
// How often the program itself released it.
int standin_releases(const std::string& name);
// The names of every object created since the reset, and of those still holding references.
std::vector<std::string> standin_objects();
std::vector<std::string> standin_live_objects();

// What was last written into a texture of one byte a texel, rows 512 bytes apart.
const BYTE* standin_texture_bytes(IDirect3DTexture9* texture);

// The calls whose text starts with the prefix, in order.
std::vector<std::string> standin_calls(const std::string& prefix);
