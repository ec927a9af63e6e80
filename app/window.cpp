#include "app/app.h"
#include "render/render.h"

const char app_name[] = "test";

// hInstance is only known once main runs; it is filled in just before registration.
WNDCLASSEXA window_class = {
    sizeof(WNDCLASSEXA),                  // cbSize
    CS_VREDRAW | CS_HREDRAW | CS_CLASSDC, // style
    window_proc,                          // lpfnWndProc
    0,                                    // cbClsExtra
    0,                                    // cbWndExtra
    NULL,                                 // hInstance
    NULL,                                 // hIcon, hCursor, hbrBackground: init_window_class
    NULL,
    NULL,
    NULL,                                 // lpszMenuName
    app_name,                             // lpszClassName
    NULL,                                 // hIconSm
};

void init_window_class()
{
    window_class.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    window_class.hCursor = LoadCursorA(NULL, IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
}

// Completes the class record among the process-wide initialisers, before main runs.
static const bool window_class_ready = (init_window_class(), true);

// Bits 31 and 30 and the four candidate-window bits of WM_IME_SETCONTEXT: without them the
// default handling draws no composition, guideline or candidate window over the picture.
static const LPARAM ime_windows_hidden = 0x3FFFFFF0;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (watch_folder)
        window_input(window, message, wParam, lParam);
    if (any_option)
        screen_message(message, wParam, lParam);
    switch (message) {
    case WM_SETCURSOR:
        if (any_option && cursor_stays_hidden(lParam))
            return TRUE;
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        // Returning without default processing keeps the window; the quit ends the process.
        PostQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            PostQuitMessage(0);
        break;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MONITORPOWER:
        case SC_SCREENSAVE:
            return 0;
        }
        break;
    case WM_IME_SETCONTEXT:
        lParam &= ime_windows_hidden;
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
