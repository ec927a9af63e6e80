#include <string.h>

#include "render/render.h"

// Under --watch: what the keys and the mouse did, kept here as it happens and given to the
// shaders at the start of the next frame drawn, so that every frame sees a press once.

// One byte a key by its virtual-key code: down, went down since the frame before, toggled at
// each press. A shader that reads keyboard gets them as the rows of a 256x3 picture.
static BYTE down[256], pressed[256], toggled[256];
static bool keys_news = false;     // a key went down or up since the last frame took them
static bool presses_shown = false; // the last frame saw presses, which the next one must not
static bool any_pressed = false;
// Where the left button is and where it went down, from the bottom left in back-buffer pixels;
// the second pair is negative once the button is up, and the fourth once the frame that saw
// the click is drawn.
static float mouse[4];
static bool button_held = false;
// The client area, as the last WM_SIZE gave it: the picture is stretched over it.
static LPARAM client_size = 0;
// Whether the drawn shaders read the keys: then Space and the arrows are theirs, and the time
// keys take Ctrl.
static bool keys_to_shaders = false;
static frame_events given;
// The window the picture is shown in, as its messages name it: the controls sit beside it.
HWND picture_window = NULL;

void give_keys_to_shaders(bool give)
{
    keys_to_shaders = give;
}

const frame_events* take_events()
{
    given.keys_changed = keys_news || presses_shown;
    if (given.keys_changed) {
        memcpy(given.keys[0], down, sizeof down);
        memcpy(given.keys[1], pressed, sizeof pressed);
        memcpy(given.keys[2], toggled, sizeof toggled);
        memset(pressed, 0, sizeof pressed);
        presses_shown = any_pressed;
        keys_news = any_pressed = false;
    }
    memcpy(given.mouse, mouse, sizeof mouse);
    if (mouse[3] > 0)
        mouse[3] = -mouse[3];
    return &given;
}

// Client coordinates to back-buffer pixels from the bottom left, through the window's scaling:
// the pixel under the pointer is the one whose texture coordinate gives the same position. The
// picture fills the client area, or in full screen with --size the part between the bars.
static void pointer_at(LPARAM lParam)
{
    const RECT* place = picture_place();
    RECT all = {0, 0, LOWORD(client_size), HIWORD(client_size)};
    if (!place)
        place = &all;
    int width = place->right - place->left, height = place->bottom - place->top;
    if (width <= 0 || height <= 0)
        return;
    float picture_width = (float)present_params.BackBufferWidth, picture_height = (float)present_params.BackBufferHeight;
    mouse[0] = (float)((short)LOWORD(lParam) - place->left) * picture_width / width;
    mouse[1] = picture_height - (float)((short)HIWORD(lParam) - place->top) * picture_height / height;
}

static void key_went(WPARAM key, bool is_down)
{
    BYTE code = (BYTE)key;
    if (is_down) {
        pressed[code] = 255;
        toggled[code] ^= 255;
        any_pressed = true;
    }
    down[code] = is_down ? 255 : 0;
    keys_news = true;
}

// Space stops and starts the time; while it stands, the arrows step it (Shift: 60 frames),
// and Home goes back to frame 0.
static void time_key(WPARAM key, LPARAM lParam)
{
    if (keys_to_shaders && GetKeyState(VK_CONTROL) >= 0)
        return;
    unsigned long frame = clock_frame(), step = GetKeyState(VK_SHIFT) < 0 ? 60 : 1;
    bool run = clock_running();
    if (key == VK_SPACE && !(lParam & 0x40000000))
        run = !run;
    else if (key == VK_HOME)
        frame = 0;
    else if (!run && key == VK_RIGHT)
        frame += step;
    else if (!run && key == VK_LEFT)
        frame = frame > step ? frame - step : 0;
    else
        return;
    key_moved_time(frame, run);
}

void window_input(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    picture_window = window;
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
    case WM_KILLFOCUS:
        // Keys let go in another window are never seen here: every key is up.
        memset(down, 0, sizeof down);
        keys_news = true;
        return;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        key_went(wParam, false);
        return;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        // Alt and F10 come as system keys; a key held down repeats, which is no new press.
        if (!(lParam & 0x40000000))
            key_went(wParam, true);
        if (message == WM_KEYDOWN)
            time_key(wParam, lParam);
        if (wParam == VK_F2 && !(lParam & 0x40000000) && !device_is_lost())
            start_timing();
        return;
    }
}
