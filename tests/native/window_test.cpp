#include "program.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct window_message {
    const char* what;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::vector<std::string> calls;
    LRESULT result;
};

const LRESULT passed_on = standin_script().default_result;

// Every row of the window's message policy, with what reaches the platform.
const window_message policy[] = {
    {"destroy", WM_DESTROY, 0, 0, {"PostQuitMessage(0)"}, 0},
    {"close", WM_CLOSE, 0, 0, {"PostQuitMessage(0)"}, 0},
    {"escape", WM_KEYDOWN, VK_ESCAPE, 0x00010001,
     {"PostQuitMessage(0)", "DefWindowProcA(window, 0x100, 0x1b, 0x10001)"}, passed_on},
    {"another key", WM_KEYDOWN, 'A', 0x001E0001, {"DefWindowProcA(window, 0x100, 0x41, 0x1e0001)"}, passed_on},
    {"screen saver", WM_SYSCOMMAND, SC_SCREENSAVE, 0, {}, 0},
    {"monitor power off", WM_SYSCOMMAND, SC_MONITORPOWER, 2, {}, 0},
    {"monitor power, low bits set", WM_SYSCOMMAND, SC_MONITORPOWER | 0x3, 1, {}, 0},
    {"close command", WM_SYSCOMMAND, SC_CLOSE, 0, {"DefWindowProcA(window, 0x112, 0xf060, 0x0)"}, passed_on},
    {"keyboard menu", WM_SYSCOMMAND, 0xF100, 0x20, {"DefWindowProcA(window, 0x112, 0xf100, 0x20)"}, passed_on},
    {"IME, show all", WM_IME_SETCONTEXT, 1, (LPARAM)0xC000000F, {"DefWindowProcA(window, 0x281, 0x1, 0x0)"}, passed_on},
    {"IME, every bit", WM_IME_SETCONTEXT, 1, (LPARAM)0xFFFFFFFF,
     {"DefWindowProcA(window, 0x281, 0x1, 0x3ffffff0)"}, passed_on},
    {"IME, middle bits kept", WM_IME_SETCONTEXT, 0, (LPARAM)0x12345678,
     {"DefWindowProcA(window, 0x281, 0x0, 0x12345670)"}, passed_on},
    {"paint", 0x000F, 0, 0, {"DefWindowProcA(window, 0xf, 0x0, 0x0)"}, passed_on},
    {"activate", 0x0006, 1, 0x1234, {"DefWindowProcA(window, 0x6, 0x1, 0x1234)"}, passed_on},
};

void PrintTo(const window_message& row, std::ostream* out)
{
    *out << row.what;
}

struct window_policy : program_test, ::testing::WithParamInterface<window_message> {};

TEST_P(window_policy, reaches_the_platform_as_expected)
{
    const window_message& row = GetParam();
    LRESULT result = window_proc(standin_window, row.message, row.wParam, row.lParam);
    EXPECT_EQ(standin().calls, row.calls);
    EXPECT_EQ(result, row.result);
}

INSTANTIATE_TEST_SUITE_P(every_row, window_policy, ::testing::ValuesIn(policy), row_name<window_message>);

struct window : program_test {
    // Under --watch, with ps_main reading one input.
    void watching_with(const D3DXCONSTANT_DESC& input)
    {
        make_device();
        watch_folder = true;
        use_named_inputs(true);
        standin().script.compile["ps_main"].constants = {input};
        captured(load_shaders);
    }
};

// Closing through the system menu goes to the default handling, which sends WM_CLOSE back:
// one quit, and the window is never destroyed.
TEST_F(window, closing_posts_one_quit_and_keeps_the_window)
{
    window_proc(standin_window, WM_SYSCOMMAND, SC_CLOSE, 0);
    window_proc(standin_window, WM_CLOSE, 0, 0);
    EXPECT_THAT(standin_calls("PostQuitMessage"), ElementsAre("PostQuitMessage(0)"));
    EXPECT_EQ(standin().script.messages.size(), 1u);
    EXPECT_EQ(standin().script.messages.front().message, (UINT)WM_QUIT);
}

TEST_F(window, quit_comes_from_escape_only_among_keys)
{
    for (WPARAM key : {0x74, 0x1C, 0x1A, 0x51, 0x11B})
        window_proc(standin_window, WM_KEYDOWN, key, 0);
    EXPECT_THAT(standin_calls("PostQuitMessage"), IsEmpty());
}

// The mouse input frame by frame, with a button let go outside the window.
TEST_F(window, the_mouse_keeps_its_convention_from_frame_to_frame)
{
    watching_with({"mouse", D3DXRS_FLOAT4, 5, 1, D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4, 1});
    auto frame = [] { return captured([] { draw_scene(); }), std::vector<float>(standin().pixel_constants + 20, standin().pixel_constants + 24); };
    auto send = [](UINT message, int x, int y, WPARAM keys) { window_proc(standin_window, message, keys, x | y << 16); };
    EXPECT_EQ(frame(), (std::vector<float>{0, 0, 0, 0}));
    send(WM_SIZE, 640, 512, 0);  // a window half the back buffer's size
    send(WM_LBUTTONDOWN, 160, 128, MK_LBUTTON);
    EXPECT_EQ(frame(), (std::vector<float>{320, 768, 320, 768}));
    EXPECT_EQ(frame(), (std::vector<float>{320, 768, 320, -768}));
    send(WM_MOUSEMOVE, 200, 256, MK_LBUTTON);
    EXPECT_EQ(frame(), (std::vector<float>{400, 512, 320, -768}));
    send(WM_MOUSEMOVE, 300, 300, 0);
    send(WM_MOUSEMOVE, 310, 310, MK_LBUTTON);
    EXPECT_EQ(frame(), (std::vector<float>{400, 512, -320, -768}));
    send(WM_LBUTTONDOWN, 100, 500, MK_LBUTTON);
    send(WM_LBUTTONUP, 100, 500, 0);
    EXPECT_EQ(frame(), (std::vector<float>{200, 24, -200, 24}));
    EXPECT_EQ(frame(), (std::vector<float>{200, 24, -200, -24}));
}

// Key A as a shader reads it after each event: down, went down since the frame before, toggled.
// Alt comes as a system key; a key held down repeats; losing the focus lets every key go.
TEST_F(window, a_press_is_in_row_1_for_one_frame_and_every_key_goes_up_with_the_focus)
{
    watching_with({"keyboard", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1});
    const struct {
        UINT message;
        WPARAM key;
        LPARAM repeat;
        std::vector<int> a, alt;
    } steps[] = {{WM_NULL, 0, 0, {0, 0, 0}, {0, 0, 0}},
                 {WM_KEYDOWN, 'A', 0, {255, 255, 255}, {0, 0, 0}},
                 {WM_KEYDOWN, 'A', 0x40000000, {255, 0, 255}, {0, 0, 0}},
                 {WM_SYSKEYDOWN, VK_MENU, 0, {255, 0, 255}, {255, 255, 255}},
                 {WM_KILLFOCUS, 0, 0, {0, 0, 255}, {0, 0, 255}},
                 {WM_KEYDOWN, 'A', 0, {255, 255, 0}, {0, 0, 255}},
                 {WM_KEYUP, 'A', 0, {0, 0, 0}, {0, 0, 255}}};
    for (const auto& step : steps) {
        window_proc(standin_window, step.message, step.key, step.repeat);
        captured([] { draw_scene(); });
        const BYTE* rows = standin_texture_bytes(drawn_set()->keyboard);
        EXPECT_EQ((std::vector<int>{rows['A'], rows[512 + 'A'], rows[1024 + 'A']}), step.a) << step.message;
        EXPECT_EQ((std::vector<int>{rows[VK_MENU], rows[512 + VK_MENU], rows[1024 + VK_MENU]}), step.alt) << step.message;
    }
}

}  // namespace
