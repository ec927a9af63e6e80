#include <stdio.h>
#include <string.h>
#include <math.h>

#include "render/render.h"
#include <commctrl.h>
#include <commdlg.h>

// Under --watch, "hotfx controls": for each annotated global of the drawn set a row with its
// label (a bool's check box carries it) and a Reset button that puts back its initial value,
// then a trackbar for each component, or a button for the colour dialog that shows the colour.
// A move sets the global, which the next frame reads.

// What a child of the window is: the controls that set a global, then text.
enum control_kind { trackbar, colour_button, check_box, reset_button, label, number };
struct control {
    HWND window;
    HWND number;      // what shows the value as text: a trackbar's label, the colour button itself
    int kind;
    int shown;        // which of the annotated globals
    int component;
};

struct control_look {
    const char* type;
    DWORD style;
};
static const control_look looks[] = {
    {TRACKBAR_CLASSA, WS_TABSTOP | TBS_NOTICKS},
    {"BUTTON", WS_TABSTOP},
    {"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX},
    {"BUTTON", WS_TABSTOP},
    {"STATIC", SS_CENTERIMAGE | SS_NOPREFIX},  // an & in a label is shown, not a mnemonic
    {"STATIC", SS_CENTERIMAGE},
};

// Client pixels: the window's width, its edges, a row of controls, a number's width.
static const int client_width = 280, edge = 8, row = 26, number_width = 56;
// Positions on a trackbar where the global gives no step, as many as its pixels can tell apart.
static const int fine_positions = 100;
static const DWORD window_style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
static const INITCOMMONCONTROLSEX bar_classes = {sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
static LRESULT CALLBACK controls_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
static WNDCLASSEXA controls_class = {sizeof(WNDCLASSEXA), 0, controls_proc, 0, 0, NULL, NULL, NULL,
                                     (HBRUSH)(COLOR_BTNFACE + 1), NULL, "hotfx controls", NULL};

static HWND controls_window = NULL;
static RECT last_place;            // where the window was before the last rebuild
static shader_set* shown_set = NULL;
static global shapes[32];          // the annotated globals as the controls were made for them
static BYTE global_at[32];         // where each is among the drawn set's globals
static int shape_count = 0;
static control controls[32 * 5];
static int control_count = 0;
static COLORREF custom_colours[16];
// F9 hides the window and shows it again; a rebuild keeps it as it was.
static bool controls_hidden = false;

static BYTE kind_of(const global& g)
{
    return g.boolean ? check_box : g.colour && g.components >= 3 ? colour_button : trackbar;
}

// Below the label's row.
static int rows_of(const global& g)
{
    BYTE kind = kind_of(g);
    return kind == trackbar ? g.components : kind == colour_button;
}

static bool same_shape(const global& a, const global& b)
{
    return !strcmp(a.name, b.name) && !strcmp(a.label, b.label) && a.components == b.components &&
           kind_of(a) == kind_of(b) && a.low == b.low &&
           a.high == b.high && a.step == b.step;
}

static int positions(const global& g)
{
    float count = g.step > 0 ? (g.high - g.low) / g.step : fine_positions;
    return count < 1 ? 1 : count > 10000 ? 10000 : lrintf(count);
}

// The controls of one annotated global, or of all where shown is -1, as its value is now.
static void show_values(int shown)
{
    for (int i = 0; i < control_count; i++) {
        const control& c = controls[i];
        if (shown >= 0 && c.shown != shown)
            continue;
        const global& g = shown_set->globals[global_at[c.shown]];
        float value = g.value[c.component];
        long at = g.high > g.low ? lrintf((value - g.low) / (g.high - g.low) * positions(g)) : 0;
        char text[64];
        // A value outside the range puts the trackbar at its end.
        if (c.kind == trackbar)
            SendMessageA(c.window, TBM_SETPOS, TRUE, at);
        if (c.kind == check_box)
            SendMessageA(c.window, BM_SETCHECK, value != 0, 0);
        if (!c.number)
            continue;
        sprintf(text, c.kind == trackbar ? "%.4g" : "%.3g  %.3g  %.3g", value, g.value[1], g.value[2]);
        SendMessageA(c.number, WM_SETTEXT, 0, (LPARAM)text);
    }
}

// Makes a child of the window. One that the user moves is listed with the global and the
// component it sets; a number belongs to the trackbar made just before it.
static HWND add(BYTE kind, const char* text, int x, int y, int width, int shown, int component)
{
    HWND child = CreateWindowExA(0, looks[kind].type, text, WS_CHILD | WS_VISIBLE | looks[kind].style, x, y, width,
                                 row - 2, controls_window, NULL, NULL, NULL);
    SendMessageA(child, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
    if (kind == number)
        controls[control_count - 1].number = child;
    else if (kind != label)
        controls[control_count++] = control{child, kind == colour_button ? child : NULL, kind, shown, component};
    return child;
}

// One global's rows from y down, in the order Tab takes them, Reset last.
static void add_rows(int shown, int y)
{
    const global& g = shapes[shown];
    const int number_x = client_width - edge - number_width, wide = number_x - edge;
    BYTE kind = kind_of(g);
    add(kind == check_box ? check_box : label, g.label, edge, y, wide, shown, 0);
    for (int k = 0; k < rows_of(g); k++) {
        HWND control = add(kind, "", edge, y + row * (k + 1), wide, shown, k);
        if (kind != trackbar)
            continue;
        SendMessageA(control, TBM_SETRANGEMAX, FALSE, positions(g));
        add(number, "", number_x, y + row * (k + 1), number_width, shown, k);
    }
    add(reset_button, "Reset", number_x, y, number_width, shown, 0);
}

void close_controls()
{
    if (!controls_window)
        return;
    GetWindowRect(controls_window, &last_place);
    DestroyWindow(controls_window);
    controls_window = NULL;
    control_count = 0;
}

// To the right of "test" where the screen has room, else against the work area's right edge;
// after a rebuild, where the user left it.
static void make_window()
{
    if (!controls_class.hInstance) {
        InitCommonControlsEx(&bar_classes);
        controls_class.hInstance = GetModuleHandleA(NULL);
        controls_class.hCursor = LoadCursorA(NULL, IDC_ARROW);
        RegisterClassExA(&controls_class);
    }
    RECT frame = {0, 0, client_width, 2 * edge - 2}, work, beside;
    for (int i = 0; i < shape_count; i++)
        frame.bottom += row * (1 + rows_of(shapes[i]));
    AdjustWindowRectEx(&frame, window_style, FALSE, 0);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(picture_window, &beside);
    int width = frame.right - frame.left, x = beside.right + width <= work.right ? beside.right : work.right - width;
    if (last_place.right)
        beside = last_place, x = last_place.left;
    controls_window = CreateWindowExA(0, controls_class.lpszClassName, "hotfx controls", window_style, x, beside.top,
                                      width, frame.bottom - frame.top, picture_window, NULL, controls_class.hInstance, NULL);
    for (int i = 0, y = edge; controls_window && i < shape_count; y += row * (1 + rows_of(shapes[i++])))
        add_rows(i, y);
    if (!controls_hidden)
        ShowWindow(controls_window, SW_SHOWNA);
}

// Over a full-screen picture on the only monitor, the window can be put out of the way.
void toggle_controls()
{
    controls_hidden = !controls_hidden;
    if (controls_window && controls_hidden)
        ShowWindow(controls_window, SW_HIDE);
    else if (controls_window)
        ShowWindow(controls_window, SW_SHOWNA);
}

void show_controls(shader_set* set)
{
    bool same = true;
    int count = 0;
    BYTE order[sizeof global_at];
    shown_set = set;
    // In the order the source declares them, where the compiler's table goes by name.
    for (int i = 0; i < set->global_count; i++) {
        if (!set->globals[i].annotated || !set->globals[i].components)
            continue;
        int at = count++;
        for (; at > 0 && set->globals[order[at - 1]].order > set->globals[i].order; at--)
            order[at] = order[at - 1];
        order[at] = (BYTE)i;
    }
    for (int k = 0; k < count; k++) {
        const global& g = set->globals[order[k]];
        same = same && k < shape_count && same_shape(g, shapes[k]);
        shapes[k] = g;
        global_at[k] = order[k];
    }
    same = same && count == shape_count;
    shape_count = count;
    if (!same) {
        close_controls();
        if (count)
            make_window();
    }
    if (controls_window)
        show_values(-1);
}

// The system's colour dialog, opened at the global's colour; x, y and z take what is chosen.
static bool pick_colour(global& g)
{
    COLORREF colour = 0;
    for (int k = 0; k < 3; k++) {
        long level = lrintf(g.value[k] * 255);
        colour |= (level < 0 ? 0 : level > 255 ? 255 : level) << 8 * k;
    }
    CHOOSECOLORA choice = {sizeof choice, controls_window, NULL, colour, custom_colours,
                           CC_RGBINIT | CC_FULLOPEN, 0, NULL, NULL};
    if (!ChooseColorA(&choice))
        return false;
    for (int k = 0; k < 3; k++)
        g.value[k] = (BYTE)(choice.rgbResult >> 8 * k) / 255.0f;
    return true;
}

static void moved(const control& c)
{
    global& g = shown_set->globals[global_at[c.shown]];
    if (c.kind == trackbar)
        g.value[c.component] = g.low + (g.high - g.low) * SendMessageA(c.window, TBM_GETPOS, 0, 0) / positions(g);
    else if (c.kind == check_box)
        g.value[0] = SendMessageA(c.window, BM_GETCHECK, 0, 0) == BST_CHECKED;
    else if (c.kind == reset_button)
        memcpy(g.value, g.initial[0], sizeof g.value);
    else if (!pick_colour(g))
        return;
    g.set = true;
    tune(&g);
    show_values(c.shown);
}

static LRESULT CALLBACK controls_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        // The keys go to a control from the start (each global has one), and Tab goes on from there.
        if (LOWORD(wParam) != WA_INACTIVE) {
            SetFocus(controls[0].window);
            return 0;
        }
        break;
    case WM_CLOSE:
    case WM_COMMAND:
    case WM_HSCROLL:
        // Escape (IDCANCEL, through IsDialogMessageA) and the close box end hotfx as they do in
        // "test"; a button's click or a trackbar's move sets its global.
        if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL))
            PostQuitMessage(0);
        for (int i = 0; lParam && i < control_count; i++)
            if (controls[i].window == (HWND)lParam)
                moved(controls[i]);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool controls_message(MSG* message)
{
    return controls_window && IsDialogMessageA(controls_window, message);
}
