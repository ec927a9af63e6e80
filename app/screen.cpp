// Full screen, with any option: F11 makes the picture's window a borderless one covering the
// monitor it is on, with no exclusive mode, so that Alt+Tab to the editor never loses the
// device; F11 again gives the window back at its size and place. --fullscreen starts that way,
// --monitor N puts the window or the full screen on monitor N, --monitor list names them.
#include <stdio.h>

#include "app/app.h"
#include "render/render.h"

// The window as it was before full screen, to give it back, and its back buffer's size.
static bool full_screen = false;
static LONG windowed_style = 0;
static RECT windowed_place;
static UINT windowed_width = 0, windowed_height = 0;
// Over the full-screen picture the cursor hides once it has stood this long, and shows when it
// moves; where it stood is kept, since Windows also sends a move when nothing moved.
static const UINT_PTR cursor_timer = 1;
static const UINT cursor_wait_ms = 2000;
static bool cursor_hidden = false;
static LPARAM cursor_at = -1;

// Monitors are numbered from 1 in the order EnumDisplayMonitors gives them; a search stops at
// the one asked for, and without one lists them all.
struct monitor_search {
    unsigned long asked;
    unsigned long count;
    MONITORINFO found;
};

// Nothing at all where Windows can't say.
static const MONITORINFO no_monitor = {sizeof(MONITORINFO), {0, 0, 0, 0}, {0, 0, 0, 0}, 0};

static MONITORINFO info_of(HMONITOR monitor)
{
    MONITORINFO info = no_monitor;
    GetMonitorInfoA(monitor, &info);
    return info;
}

static BOOL CALLBACK each_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    monitor_search* search = (monitor_search*)data;
    MONITORINFO info = info_of(monitor);
    search->count++;
    const RECT& m = info.rcMonitor;
    if (!search->asked)
        printf("%lu: %ldx%ld at %ld,%ld%s\n", search->count, (long)(m.right - m.left), (long)(m.bottom - m.top),
               (long)m.left, (long)m.top, info.dwFlags & MONITORINFOF_PRIMARY ? ", primary" : "");
    if (search->count != search->asked)
        return TRUE;
    search->found = info;
    return FALSE;
}

static monitor_search search_monitors(unsigned long asked)
{
    monitor_search search = {asked, 0, no_monitor};
    EnumDisplayMonitors(NULL, NULL, each_monitor, (LPARAM)&search);
    return search;
}

void list_monitors()
{
    search_monitors(0);
}

// Before the window: false, after one line, when --monitor names a monitor that isn't there.
bool monitor_there()
{
    if (!monitor_number)
        return true;
    monitor_search search = search_monitors(monitor_number);
    if (search.count == monitor_number)
        return true;
    fprintf(stderr, "hotfx: --monitor %lu: there is no monitor %lu; --monitor list shows the %lu there are\n",
            monitor_number, monitor_number, search.count);
    return false;
}

// The work area the window opens in: the primary monitor's, or the one --monitor names.
void work_area(RECT* work)
{
    if (monitor_number)
        *work = search_monitors(monitor_number).found.rcWork;
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, work, 0);
}

// With --size the picture keeps its size, as large as the monitor allows with its aspect kept.
static RECT letterbox(LONG width, LONG height)
{
    long long across = (long long)picture_width * height, down = (long long)picture_height * width;
    LONG shown_width, shown_height;
    // Wider than the monitor's aspect: bars at the top and bottom; narrower, at the sides.
    if (across > down) {
        shown_width = width;
        shown_height = (LONG)((long long)picture_height * width / picture_width);
    } else {
        shown_height = height;
        shown_width = (LONG)((long long)picture_width * height / picture_height);
    }
    RECT place = {(width - shown_width) / 2, (height - shown_height) / 2, 0, 0};
    place.right = place.left + shown_width;
    place.bottom = place.top + shown_height;
    return place;
}

static void show_cursor()
{
    KillTimer(main_window, cursor_timer);
    if (cursor_hidden)
        SetCursor(window_class.hCursor);
    cursor_hidden = false;
}

static void enter_full_screen()
{
    MONITORINFO info = info_of(MonitorFromWindow(main_window, MONITOR_DEFAULTTONEAREST));
    LONG width = info.rcMonitor.right - info.rcMonitor.left, height = info.rcMonitor.bottom - info.rcMonitor.top;
    // A monitor Windows can't describe leaves the window as it is.
    if (width <= 0 || height <= 0)
        return;
    windowed_style = GetWindowLongA(main_window, GWL_STYLE);
    GetWindowRect(main_window, &windowed_place);
    windowed_width = present_params.BackBufferWidth;
    windowed_height = present_params.BackBufferHeight;
    full_screen = true;
    SetWindowLongA(main_window, GWL_STYLE, (windowed_style & ~WS_OVERLAPPEDWINDOW) | WS_POPUP);
    SetWindowPos(main_window, HWND_TOP, info.rcMonitor.left, info.rcMonitor.top, width, height, SWP_FRAMECHANGED);
    if (picture_width) {
        // The bars are the window's black background, which Present leaves as it is.
        RECT place = letterbox(width, height);
        show_picture_in(&place);
        InvalidateRect(main_window, NULL, TRUE);
    } else {
        resize_picture(width, height);
    }
    SetTimer(main_window, cursor_timer, cursor_wait_ms, NULL);
}

static void leave_full_screen()
{
    full_screen = false;
    show_cursor();
    SetWindowLongA(main_window, GWL_STYLE, windowed_style);
    SetWindowPos(main_window, NULL, windowed_place.left, windowed_place.top, windowed_place.right - windowed_place.left,
                 windowed_place.bottom - windowed_place.top, SWP_FRAMECHANGED | SWP_NOZORDER);
    show_picture_in(NULL);
    resize_picture(windowed_width, windowed_height);
}

// Once the window exists, on the monitor --monitor names, and before the device: --fullscreen.
void place_window()
{
    if (full_screen_asked)
        enter_full_screen();
}

// The picture window's messages, with any option: F11, F9 for the controls, and the cursor.
void screen_message(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_F11 && !(lParam & 0x40000000))
            full_screen ? leave_full_screen() : enter_full_screen();
        if (wParam == VK_F9 && !(lParam & 0x40000000))
            toggle_controls();
        return;
    case WM_MOUSEMOVE:
        if (!full_screen || lParam == cursor_at)
            return;
        cursor_at = lParam;
        show_cursor();
        SetTimer(main_window, cursor_timer, cursor_wait_ms, NULL);
        return;
    case WM_TIMER:
        if (wParam != cursor_timer)
            return;
        KillTimer(main_window, cursor_timer);
        cursor_hidden = full_screen;
        if (cursor_hidden)
            SetCursor(NULL);
        return;
    }
}

// WM_SETCURSOR over the client area: true when the cursor is to stay hidden.
bool cursor_stays_hidden(LPARAM lParam)
{
    if (!cursor_hidden || LOWORD(lParam) != HTCLIENT)
        return false;
    SetCursor(NULL);
    return true;
}
