#include <stdio.h>
#include <string.h>
#include <math.h>

#include "render/render.h"
#include <commctrl.h>
#include <commdlg.h>

// Under --watch, "hotfx controls": for each annotated global of the drawn set a row with its
// label (a bool's check box carries it) and a Reset button that puts back its initial value,
// then a trackbar for each component, or a button for the colour dialog that shows the colour.
// A move sets the global, which the next frame reads. Rows taller than the work area scroll:
// the window is then as tall as the work area, with a scroll bar.

// What a child of the window is: the controls that set a global, then text.
enum control_kind { trackbar, colour_button, check_box, reset_button, label, number };
struct control {
    HWND window;
    HWND number;      // what shows the value as text: a trackbar's label, the colour button itself
    int kind;
    int shown;        // which of the annotated globals
    int component;
    int y;            // its top among the rows, unscrolled
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
// What a notch of the wheel scrolls, in rows, as Windows does by default.
static const int wheel_rows = 3;
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
// Tables that grow with the drawn set's globals, kept for the next sets.
static global* shapes = NULL;      // the annotated globals as the controls were made for them
static int* global_at = NULL;      // where each is among the drawn set's globals
static int shape_count = 0, shape_room = 0, global_at_room = 0;
static control* controls = NULL;   // five a global at most: four trackbars and Reset
static int control_count = 0, control_room = 0;
static COLORREF custom_colours[16];
static int page = 0;               // the client area's height, where the rows scroll
static int overflow = 0;           // how much taller the rows are than that, 0 where they fit
static int scrolled = 0;           // how far down they are scrolled, 0 to overflow
static HWND followed = NULL;       // the control that last had the focus, kept in sight

// The keys that scroll where the focus is on no trackbar (which takes them all), as the scroll
// bar's own requests.
struct scroll_key {
    WPARAM key;
    WORD request;
};
static const scroll_key scroll_keys[] = {
    {VK_UP, SB_LINEUP}, {VK_DOWN, SB_LINEDOWN}, {VK_PRIOR, SB_PAGEUP},
    {VK_NEXT, SB_PAGEDOWN}, {VK_HOME, SB_TOP}, {VK_END, SB_BOTTOM},
};
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
        controls[control_count++] = control{child, kind == colour_button ? child : NULL, kind, shown, component, y};
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
    overflow = scrolled = 0;
    followed = NULL;
}

// To the right of "test" where the screen has room, else against the work area's right edge;
// after a rebuild, where the user left it; within the work area's height.
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
    const int content = frame.bottom;
    AdjustWindowRectEx(&frame, window_style, FALSE, 0);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    DWORD style = window_style;
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    overflow = height > work.bottom - work.top ? height - (work.bottom - work.top) : 0;
    page = content - overflow;
    if (overflow) {
        style |= WS_VSCROLL;
        width += GetSystemMetrics(SM_CXVSCROLL);
        height -= overflow;
    }
    GetWindowRect(picture_window, &beside);
    int x = beside.right + width <= work.right ? beside.right : work.right - width;
    if (last_place.right)
        beside = last_place, x = last_place.left;
    int y = beside.top + height <= work.bottom ? beside.top : work.bottom - height;
    controls_window = CreateWindowExA(0, controls_class.lpszClassName, "hotfx controls", style, x, y, width, height,
                                      picture_window, NULL, controls_class.hInstance, NULL);
    SCROLLINFO bar = {sizeof bar, SIF_RANGE | SIF_PAGE | SIF_POS, 0, content - 1, (UINT)page, 0, 0};
    if (overflow)
        SetScrollInfo(controls_window, SB_VERT, &bar, FALSE);
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
    int count = 0, room = set->global_count;
    shown_set = set;
    if (!make_room(&shapes, &shape_room, room) || !make_room(&global_at, &global_at_room, room) ||
        !make_room(&controls, &control_room, 5 * room)) {
        printf("Error : no memory left for the controls of %d globals; they are not shown\n", room);
        shape_count = 0;
        close_controls();
        return;
    }
    // In the order the source declares them, where the compiler's table goes by name.
    for (int i = 0; i < set->global_count; i++) {
        if (!set->globals[i].annotated || !set->globals[i].components)
            continue;
        int at = count++;
        for (; at > 0 && set->globals[global_at[at - 1]].order > set->globals[i].order; at--)
            global_at[at] = global_at[at - 1];
        global_at[at] = i;
    }
    for (int k = 0; k < count; k++) {
        const global& g = set->globals[global_at[k]];
        same = same && k < shape_count && same_shape(g, shapes[k]);
        shapes[k] = g;
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

// Values set from elsewhere than the controls (OSC): the controls move to them.
void show_tuned_values()
{
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
    // A lost device released the set; the controls stay until the next load.
    if (global_at[c.shown] >= shown_set->global_count)
        return;
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

// Where window is among the controls, or -1.
static int control_of(HWND window)
{
    for (int i = 0; i < control_count; i++)
        if (controls[i].window == window)
            return i;
    return -1;
}

// Moves the rows so that to pixels of them lie above the client area, as far as they go.
static void scroll_to(int to)
{
    to = to < 0 ? 0 : to > overflow ? overflow : to;
    if (to == scrolled)
        return;
    ScrollWindow(controls_window, 0, scrolled - to, NULL, NULL);  // the children with the rest
    scrolled = to;
    SCROLLINFO bar = {sizeof bar, SIF_POS, 0, 0, 0, to, 0};
    SetScrollInfo(controls_window, SB_VERT, &bar, TRUE);
}

// Where a request of the scroll bar (or of a key, or a turn of the wheel) takes the rows.
static int scroll_target(UINT message, WPARAM wParam)
{
    if (message == WM_MOUSEWHEEL)
        return scrolled - GET_WHEEL_DELTA_WPARAM(wParam) * wheel_rows * row / WHEEL_DELTA;
    switch (LOWORD(wParam)) {
    case SB_LINEUP: return scrolled - row;
    case SB_LINEDOWN: return scrolled + row;
    case SB_PAGEUP: return scrolled - page + row;
    case SB_PAGEDOWN: return scrolled + page - row;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: return HIWORD(wParam);
    case SB_TOP: return 0;
    case SB_BOTTOM: return overflow;
    }
    return scrolled;
}

// Tab (or a click) that moves the focus to a control out of sight scrolls it into sight.
static void follow_focus()
{
    int i = control_of(GetFocus());
    if (i < 0 || controls[i].window == followed)
        return;
    followed = controls[i].window;
    if (controls[i].y < scrolled)
        scroll_to(controls[i].y - edge);
    else if (controls[i].y + row > scrolled + page)
        scroll_to(controls[i].y + row + edge - page);
}

// The wheel scrolls the rows over any control (a trackbar would move), and so do the keys of
// scroll_keys where the focus is on no trackbar. Returns whether the message was used so.
static bool scrolled_by(const MSG* message)
{
    int i = control_of(message->hwnd);
    if (i < 0 && message->hwnd != controls_window)
        return false;
    if (message->message == WM_MOUSEWHEEL) {
        scroll_to(scroll_target(WM_MOUSEWHEEL, message->wParam));
        return true;
    }
    if (message->message != WM_KEYDOWN || (i >= 0 && controls[i].kind == trackbar))
        return false;
    for (const scroll_key& k : scroll_keys)
        if (k.key == message->wParam) {
            scroll_to(scroll_target(WM_VSCROLL, k.request));
            return true;
        }
    return false;
}

static LRESULT CALLBACK controls_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        // The keys go to a control from the start (each global has one), and Tab goes on from
        // there; coming back, to the control that had them.
        if (LOWORD(wParam) != WA_INACTIVE) {
            SetFocus(followed ? followed : controls[0].window);
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
    case WM_VSCROLL:
    case WM_MOUSEWHEEL:
        // The window's scroll bar, and the wheel over a label.
        scroll_to(scroll_target(message, wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool controls_message(MSG* message)
{
    if (!controls_window)
        return false;
    if (overflow && scrolled_by(message))
        return true;
    bool used = IsDialogMessageA(controls_window, message);
    if (overflow)
        follow_focus();
    return used;
}
