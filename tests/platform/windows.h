// Stand-in for <windows.h>: just the Windows names hotfx uses, for the native test build.
// The calls are implemented by the recording stand-in (standin.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef short SHORT;
typedef unsigned short WORD;
typedef unsigned short ATOM;
typedef int INT;
typedef unsigned int UINT;
// 32 bits as on Windows, where long is 32 bits: as a 64-bit long, E_FAIL and every D3DERR_
// value would come out positive and FAILED() would judge them wrongly.
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t HRESULT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef DWORD* LPDWORD;
typedef int64_t LONGLONG;
typedef uint64_t UINT64;
union LARGE_INTEGER {
    LONGLONG QuadPart;
};

#define TRUE 1
#define FALSE 0

struct HWND__;
struct HINSTANCE__;
struct HICON__;
struct HCURSOR__;
struct HBRUSH__;
struct HMENU__;
struct HGDIOBJ__;
typedef HWND__* HWND;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HICON__* HICON;
typedef HCURSOR__* HCURSOR;
typedef HBRUSH__* HBRUSH;
typedef HMENU__* HMENU;
typedef HGDIOBJ__* HGDIOBJ;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

struct POINT {
    LONG x, y;
};
struct RECT {
    LONG left, top, right, bottom;
};
struct RGNDATA;
struct PALETTEENTRY;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
};

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_CLASSDC 0x0040

#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define WS_POPUP 0x80000000L
#define WS_EX_WINDOWEDGE 0x00000100L
#define WS_EX_APPWINDOW 0x00040000L

#define SW_SHOW 5
#define PM_REMOVE 0x0001

#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_KILLFOCUS 0x0008
#define WM_NULL 0x0000
#define VK_MENU 0x12
#define WM_SYSCOMMAND 0x0112
enum { WM_SIZE = 5, WM_MOUSEMOVE = 0x200, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_CAPTURECHANGED = 0x215, MK_LBUTTON = 1 };
#define LOWORD(l) ((WORD)((DWORD)(l) & 0xFFFF))
#define HIWORD(l) ((WORD)((DWORD)(l) >> 16))
#define WM_IME_SETCONTEXT 0x0281

#define SC_SCREENSAVE 0xF140
#define SC_CLOSE 0xF060
#define SC_MONITORPOWER 0xF170

#define VK_ESCAPE 0x1B
#define VK_F2 0x71
#define VK_F5 0x74
enum { VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_SPACE = 0x20, VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN };

#define IDI_APPLICATION ((LPCSTR)(uintptr_t)32512)
#define IDC_ARROW ((LPCSTR)(uintptr_t)32512)
#define BLACK_BRUSH 4

HMODULE WINAPI GetModuleHandleA(LPCSTR name);
void WINAPI OutputDebugStringA(LPCSTR text);
void WINAPI Sleep(DWORD milliseconds);

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* window_class);
HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param);
BOOL WINAPI ShowWindow(HWND window, int show);
BOOL WINAPI UpdateWindow(HWND window);
int WINAPI ShowCursor(BOOL show);
BOOL WINAPI PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void WINAPI PostQuitMessage(int exit_code);
SHORT WINAPI GetAsyncKeyState(int key);
SHORT WINAPI GetKeyState(int key);
HWND WINAPI SetCapture(HWND window);
BOOL WINAPI ReleaseCapture();
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
HGDIOBJ WINAPI GetStockObject(int object);
#define SPI_GETWORKAREA 0x0030
BOOL WINAPI SystemParametersInfoA(UINT action, UINT number, LPVOID value, UINT ini);
BOOL WINAPI AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD ex_style);

// Full screen and the monitors.
typedef uintptr_t UINT_PTR;
typedef struct HMONITOR__* HMONITOR;
typedef struct HDC__* HDC;
typedef RECT* LPRECT;
struct MONITORINFO { DWORD cbSize; RECT rcMonitor, rcWork; DWORD dwFlags; };
typedef BOOL(CALLBACK* MONITORENUMPROC)(HMONITOR, HDC, LPRECT, LPARAM);
#define HWND_TOP ((HWND)0)
enum { MONITORINFOF_PRIMARY = 1, MONITOR_DEFAULTTONEAREST = 2, GWL_STYLE = -16, SWP_NOZORDER = 4, SWP_FRAMECHANGED = 0x20,
       SW_HIDE = 0, VK_F9 = 0x78, VK_F11 = 0x7A, WM_SETCURSOR = 0x20, WM_TIMER = 0x113, HTCLIENT = 1 };
BOOL WINAPI EnumDisplayMonitors(HDC dc, const RECT* clip, MONITORENUMPROC each, LPARAM data);
BOOL WINAPI GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info);
HMONITOR WINAPI MonitorFromWindow(HWND window, DWORD flags);
LONG WINAPI GetWindowLongA(HWND window, int index);
LONG WINAPI SetWindowLongA(HWND window, int index, LONG value);
BOOL WINAPI SetWindowPos(HWND window, HWND after, int x, int y, int width, int height, UINT flags);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT ms, void* proc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
HCURSOR WINAPI SetCursor(HCURSOR cursor);
BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);

// The controls window.
typedef DWORD COLORREF;
enum { WS_OVERLAPPED = 0, WS_CAPTION = 0xC00000, WS_SYSMENU = 0x80000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
       WS_TABSTOP = 0x10000, BS_AUTOCHECKBOX = 3, SS_CENTERIMAGE = 0x200, SS_NOPREFIX = 0x80, COLOR_BTNFACE = 15, DEFAULT_GUI_FONT = 17,
       SW_SHOWNA = 8, WM_ACTIVATE = 6, WA_INACTIVE = 0, WM_SETTEXT = 0xC, WM_SETFONT = 0x30, WM_COMMAND = 0x111,
       WM_HSCROLL = 0x114, WM_USER = 0x400, BM_GETCHECK = 0xF0, BM_SETCHECK, BST_CHECKED = 1, IDCANCEL = 2 };
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI IsDialogMessageA(HWND dialog, MSG* msg);
HWND WINAPI SetFocus(HWND window);
BOOL WINAPI GetWindowRect(HWND window, RECT* rect);
enum { WS_VSCROLL = 0x200000, SM_CXVSCROLL = 2, SB_VERT = 1, SIF_RANGE = 1, SIF_PAGE = 2, SIF_POS = 4, WM_VSCROLL = 0x115,
       WM_MOUSEWHEEL = 0x20A, WHEEL_DELTA = 120, SB_LINEUP = 0, SB_LINEDOWN, SB_PAGEUP, SB_PAGEDOWN, SB_THUMBPOSITION,
       SB_THUMBTRACK, SB_TOP, SB_BOTTOM };
#define GET_WHEEL_DELTA_WPARAM(wParam) ((short)HIWORD(wParam))
struct SCROLLINFO { UINT cbSize, fMask; int nMin, nMax; UINT nPage; int nPos, nTrackPos; };
int WINAPI GetSystemMetrics(int index);
int WINAPI SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw);
BOOL WINAPI ScrollWindow(HWND window, int dx, int dy, const RECT* scroll, const RECT* clip);
HWND WINAPI GetFocus();

// Files and the folder's change notification, for reload on save.
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define CREATE_ALWAYS 2
#define GENERIC_WRITE 0x40000000
#define MOVEFILE_REPLACE_EXISTING 1
#define MOVEFILE_WRITE_THROUGH 8
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_NOTIFY_CHANGE_FILE_NAME 0x00000001
#define FILE_NOTIFY_CHANGE_SIZE 0x00000008
#define FILE_NOTIFY_CHANGE_LAST_WRITE 0x00000010
#define WAIT_OBJECT_0 0x00000000
#define WAIT_TIMEOUT 0x00000102
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_SHARING_VIOLATION 32
#define ERROR_NOT_ENOUGH_MEMORY 8
#define HRESULT_FROM_WIN32(error) ((HRESULT)((error) <= 0 ? (error) : (((error) & 0x0000FFFF) | 0x80070000)))

struct FILETIME {
    DWORD dwLowDateTime, dwHighDateTime;
};
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

HANDLE WINAPI FindFirstChangeNotificationA(LPCSTR path, BOOL subtree, DWORD filter);
BOOL WINAPI FindNextChangeNotification(HANDLE change);
BOOL WINAPI FindCloseChangeNotification(HANDLE change);
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WINAPI GetTickCount();
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
DWORD WINAPI GetLastError();
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found);
BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA found);
BOOL WINAPI FindClose(HANDLE search);
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
BOOL WINAPI CloseHandle(HANDLE object);
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD size_high);
BOOL WINAPI GetFileTime(HANDLE file, FILETIME* created, FILETIME* accessed, FILETIME* written);
void WINAPI GetSystemTimeAsFileTime(FILETIME* now);
BOOL WINAPI FlushFileBuffers(HANDLE file);

// Playing sound: winmm's waveOut.
typedef UINT MMRESULT;
typedef char* LPSTR;
typedef uintptr_t DWORD_PTR;
struct HWAVEOUT__;
typedef HWAVEOUT__* HWAVEOUT;
#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_PCM 1
#define CALLBACK_NULL 0x00000000
#define MMSYSERR_NOERROR 0
#define MMSYSERR_NODRIVER 6
#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define TIME_MS 0x0001
#define TIME_SAMPLES 0x0002
#define TIME_BYTES 0x0004

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
    } u;
};

MMRESULT WINAPI waveOutOpen(HWAVEOUT* wave_out, UINT device, const WAVEFORMATEX* format, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD flags);
MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT wave_out, WAVEHDR* header, UINT size);
MMRESULT WINAPI waveOutWrite(HWAVEOUT wave_out, WAVEHDR* header, UINT size);
MMRESULT WINAPI waveOutGetPosition(HWAVEOUT wave_out, MMTIME* time, UINT size);
MMRESULT WINAPI waveOutReset(HWAVEOUT wave_out);
MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT wave_out, WAVEHDR* header, UINT size);
MMRESULT WINAPI waveOutClose(HWAVEOUT wave_out);

// Capturing sound: winmm's waveIn.
struct HWAVEIN__;
typedef HWAVEIN__* HWAVEIN;
#define WAVERR_BADFORMAT 32
#define MAXPNAMELEN 32
struct WAVEINCAPSA {
    WORD wMid, wPid;
    UINT vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels, wReserved1;
};
UINT WINAPI waveInGetNumDevs();
MMRESULT WINAPI waveInGetDevCapsA(UINT device, WAVEINCAPSA* caps, UINT size);
MMRESULT WINAPI waveInOpen(HWAVEIN* wave_in, UINT device, const WAVEFORMATEX* format, DWORD_PTR callback,
                           DWORD_PTR instance, DWORD flags);
MMRESULT WINAPI waveInPrepareHeader(HWAVEIN wave_in, WAVEHDR* header, UINT size);
MMRESULT WINAPI waveInAddBuffer(HWAVEIN wave_in, WAVEHDR* header, UINT size);
MMRESULT WINAPI waveInStart(HWAVEIN wave_in);
MMRESULT WINAPI waveInReset(HWAVEIN wave_in);
MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN wave_in, WAVEHDR* header, UINT size);
MMRESULT WINAPI waveInClose(HWAVEIN wave_in);
