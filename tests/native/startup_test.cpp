#include "program.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

namespace {

struct startup : program_test {};

// Quits on the first drain, so the run is start-up, one frame and shutdown.
void quit_at_once()
{
    standin().script.idle_peeks_before_quit = 1;
}


TEST_F(startup, runs_in_order_with_every_value_then_shuts_down)
{
    quit_at_once();
    std::string printed;
    EXPECT_EQ(run_main(&printed), 0);

    std::vector<std::string> expected = {
        "GetModuleHandleA(NULL)",
        "RegisterClassExA(window_class)",
        "CreateWindowExA(0x40100, \"test\", \"test\", 0xcf0000, 0, 0, 1280, 1024, NULL, NULL, module, NULL)",
        "ShowWindow(window, 5)",
        "UpdateWindow(window)",
        "Direct3DCreate9(32)",
        "d3d->CreateDevice(0, 1, window, 0x40, present_params, out)",
        "D3DXCompileShaderFromFileA(\"main.fx\", NULL, NULL, \"vs_main\", \"vs_3_0\", 0x8400, out, out, NULL)",
        "device->CreateVertexShader(buffer1 bytes, out)",
        "buffer1->Release()",
        "D3DXCompileShaderFromFileA(\"main.fx\", NULL, NULL, \"ps_main\", \"ps_3_0\", 0x8400, out, out, NULL)",
        "device->CreatePixelShader(buffer2 bytes, out)",
        "buffer2->Release()",
        "device->SetSamplerState(0, 5, 2)",
        "device->SetSamplerState(0, 6, 2)",
        "device->SetSamplerState(0, 7, 2)",
        "device->SetSamplerState(0, 1, 1)",
        "device->SetSamplerState(0, 2, 1)",
        "PeekMessageA(msg, NULL, 0, 0, 0x1)",
    };
    expected.insert(expected.end(), frame_calls.begin(), frame_calls.end());
    expected.insert(expected.end(), {"vs1->Release()", "ps1->Release()", "device->Release()", "d3d->Release()"});
    EXPECT_EQ(standin().calls, expected);
    EXPECT_EQ(printed, "Load Shader.\n");

    EXPECT_THAT(standin_live_objects(), IsEmpty());
    EXPECT_EQ(main_window, standin_window);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(d3d, nullptr);
    EXPECT_EQ(drawn_vertex_shader(), nullptr);
    EXPECT_EQ(drawn_pixel_shader(), nullptr);
}

TEST_F(startup, registers_the_completed_class)
{
    quit_at_once();
    std::string printed;
    run_main(&printed);

    const WNDCLASSEXA& c = standin().registered_class;
    EXPECT_EQ(c.cbSize, sizeof(WNDCLASSEXA));
    EXPECT_EQ(c.style, 0x0043u);
    EXPECT_EQ(c.lpfnWndProc, &window_proc);
    EXPECT_EQ(c.cbClsExtra, 0);
    EXPECT_EQ(c.cbWndExtra, 0);
    EXPECT_EQ(standin_name_of(c.hInstance), "module");
    EXPECT_EQ(standin_name_of(c.hIcon), "icon");
    EXPECT_EQ(standin_name_of(c.hCursor), "cursor");
    EXPECT_EQ(standin_name_of(c.hbrBackground), "black brush");
    EXPECT_EQ(c.lpszMenuName, nullptr);
    EXPECT_STREQ(c.lpszClassName, "test");
    EXPECT_EQ(c.hIconSm, nullptr);
}

TEST_F(startup, class_is_complete_before_main_but_for_the_module)
{
    EXPECT_EQ(standin_name_of(window_class.hIcon), "icon");
    EXPECT_EQ(standin_name_of(window_class.hCursor), "cursor");
    EXPECT_EQ(standin_name_of(window_class.hbrBackground), "black brush");

    init_window_class();
    EXPECT_THAT(standin().calls,
                ElementsAre("LoadIconA(NULL, 32512)", "LoadCursorA(NULL, 32512)", "GetStockObject(4)"));
}

TEST_F(startup, failed_class_registration_ends_with_1_and_says_nothing)
{
    standin().script.register_class_fails = true;
    std::string printed;
    EXPECT_EQ(run_main(&printed), 1);
    EXPECT_THAT(standin().calls, ElementsAre("GetModuleHandleA(NULL)", "RegisterClassExA(window_class)"));
    EXPECT_EQ(printed, "");
}

TEST_F(startup, failed_window_creation_is_reported_on_the_debugger_channel_and_ends_with_1)
{
    standin().script.create_window_fails = true;
    std::string printed;
    EXPECT_EQ(run_main(&printed), 1);
    EXPECT_EQ(standin().calls.back(), "OutputDebugStringA(\"ERROR : Can't Create Window\")");
    EXPECT_THAT(standin_calls("ShowWindow"), IsEmpty());
    EXPECT_THAT(standin_calls("Direct3DCreate9"), IsEmpty());
    EXPECT_EQ(printed, "");
}

TEST_F(startup, failed_direct3d_creation_leaves_the_window_shown_and_ends_with_1)
{
    standin().script.direct3d_fails = true;
    std::string printed;
    EXPECT_EQ(run_main(&printed), 1);
    EXPECT_THAT(standin_calls("ShowWindow"), ElementsAre("ShowWindow(window, 5)"));
    EXPECT_EQ(standin().calls.back(), "OutputDebugStringA(\"ERROR : Direct3DCreate9\")");
    EXPECT_EQ(printed, "");
}

TEST_F(startup, failed_device_creation_releases_direct3d_and_ends_with_1)
{
    standin().script.create_device_fails = true;
    std::string printed;
    EXPECT_EQ(run_main(&printed), 1);
    EXPECT_THAT(standin_calls("D3DXCompileShaderFromFileA"), IsEmpty());
    EXPECT_THAT(standin_calls("PeekMessageA"), IsEmpty());
    std::vector<std::string> last(standin().calls.end() - 3, standin().calls.end());
    EXPECT_THAT(last, ElementsAre("d3d->CreateDevice(0, 1, window, 0x40, present_params, out)",
                                  "OutputDebugStringA(\"ERROR : CreateDevice\")", "d3d->Release()"));
    EXPECT_EQ(printed, "");
    EXPECT_THAT(standin_live_objects(), IsEmpty());
}

TEST_F(startup, escape_quits_after_one_more_frame)
{
    standin().script.messages = {message_to_window(WM_KEYDOWN, VK_ESCAPE)};
    std::string printed;
    EXPECT_EQ(run_main(&printed), 0);
    EXPECT_THAT(standin_calls("TranslateMessage"), ElementsAre("TranslateMessage(0x100)"));
    EXPECT_THAT(standin_calls("DispatchMessageA"), ElementsAre("DispatchMessageA(0x100)"));
    EXPECT_THAT(standin_calls("PostQuitMessage"), ElementsAre("PostQuitMessage(0)"));
    EXPECT_EQ(standin_calls("device->Present").size(), 1u);
}

TEST_F(startup, messages_behind_the_quit_are_never_dispatched)
{
    standin().script.messages = {MSG{NULL, WM_QUIT, 0, 0, 0, {0, 0}},
                                 message_to_window(WM_KEYDOWN, 'A'),
                                 message_to_window(WM_CLOSE)};
    std::string printed;
    EXPECT_EQ(run_main(&printed), 0);
    EXPECT_THAT(standin_calls("DispatchMessageA"), IsEmpty());
    EXPECT_THAT(standin_calls("PeekMessageA"), ElementsAre("PeekMessageA(msg, NULL, 0, 0, 0x1)"));
    EXPECT_EQ(standin_calls("device->Present").size(), 1u);
}

TEST_F(startup, every_pass_renders_frame_calls)
{
    standin().script.idle_peeks_before_quit = 3;
    std::string printed;
    run_main(&printed);

    std::vector<std::string> loop(std::find(standin().calls.begin(), standin().calls.end(),
                                            "PeekMessageA(msg, NULL, 0, 0, 0x1)"),
                                  standin().calls.end() - 4);
    std::vector<std::string> pass = {"PeekMessageA(msg, NULL, 0, 0, 0x1)"};
    pass.insert(pass.end(), frame_calls.begin(), frame_calls.end());
    std::vector<std::string> three_passes;
    for (int i = 0; i < 3; ++i)
        three_passes.insert(three_passes.end(), pass.begin(), pass.end());
    EXPECT_EQ(loop, three_passes);
}

// Anything but the options hotfx knows is refused before a window or device exists.
TEST_F(startup, unknown_arguments_are_refused_with_one_line_and_exit_2)
{
    const std::vector<std::vector<std::string>> refused = {
        {"hotfx.exe", "other.fx"},
        {"hotfx.exe", "--watch", "-w"},
        {"hotfx.exe", "--frame", "-1", "out.png"},
        {"hotfx.exe", "--frame", "12x", "out.png"},
        {"hotfx.exe", "--frame", "2147483648", "out.png"},
        {"hotfx.exe", "--frame", "1", ""},
        {"hotfx.exe", "--frames", "5", "4", "out/%05d.png"},
        {"hotfx.exe", "--frames", "1", "2", "out.png"},
        {"hotfx.exe", "--frames", "1", "2", "%s%d.png"},
        {"hotfx.exe", "--frames", "1", "2", "%d%d.png"},
        {"hotfx.exe", "--frames", "1", "2", "%12345d.png"},
    };
    for (auto args : refused) {
        SetUp();
        std::string printed;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(run_main(&printed, args), 2) << args[1];
        std::string complaint = ::testing::internal::GetCapturedStderr();
        EXPECT_THAT(complaint, MatchesRegex("hotfx: [^\n]+; usage: hotfx.exe \\[--watch [^\n]*\\]\n")) << args[1];
        EXPECT_EQ(printed, "");
        EXPECT_THAT(standin().calls, IsEmpty());
    }
}

TEST_F(startup, the_cursor_is_hidden_only_for_full_screen)
{
    quit_at_once();
    std::string printed;
    run_main(&printed);
    EXPECT_THAT(standin_calls("ShowCursor"), IsEmpty());

    SetUp();
    quit_at_once();
    present_params.Windowed = FALSE;
    run_main(&printed);
    present_params.Windowed = TRUE;
    EXPECT_THAT(standin_calls("ShowCursor"), ElementsAre("ShowCursor(0)"));
    EXPECT_THAT(standin_calls("CreateWindowExA"),
                ElementsAre("CreateWindowExA(0x40000, \"test\", \"test\", 0x80000000, 0, 0, 1280, 1024, "
                            "NULL, NULL, module, NULL)"));
}

TEST_F(startup, display_settings_hold_their_compiled_in_values)
{
    const D3DPRESENT_PARAMETERS& p = present_params;
    EXPECT_EQ(p.BackBufferWidth, 1280u);
    EXPECT_EQ(p.BackBufferHeight, 1024u);
    EXPECT_EQ(p.BackBufferFormat, 22);
    EXPECT_EQ(p.BackBufferCount, 1u);
    EXPECT_EQ(p.MultiSampleType, 0);
    EXPECT_EQ(p.MultiSampleQuality, 0u);
    EXPECT_EQ(p.SwapEffect, 1);
    EXPECT_EQ(p.hDeviceWindow, nullptr);
    EXPECT_EQ(p.Windowed, 1);
    EXPECT_EQ(p.EnableAutoDepthStencil, 1);
    EXPECT_EQ(p.AutoDepthStencilFormat, 75);
    EXPECT_EQ(p.Flags, 0u);
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(p.PresentationInterval, 1u);
}

}  // namespace
