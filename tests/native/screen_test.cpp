#include "program.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The stand-in has two monitors side by side, 1600x1200 and 1920x1080; Xvfb gives Wine only one.
struct screen : program_test {
    void SetUp() override
    {
        program_test::SetUp();
        standin().script.idle_peeks_before_quit = 1;
    }
};

TEST_F(screen, monitor_list_names_each_monitor_in_the_order_windows_gives_them_and_opens_no_window)
{
    std::string printed;
    EXPECT_EQ(run_main(&printed, {"hotfx.exe", "--monitor", "list"}), 0);
    EXPECT_EQ(printed, "1: 1600x1200 at 0,0, primary\n2: 1920x1080 at 1600,0\n");
    EXPECT_THAT(standin_calls("CreateWindowExA"), IsEmpty());
}

TEST_F(screen, the_second_monitor_gets_the_window_then_the_full_screen_and_f11_gives_the_window_back)
{
    std::string printed;
    EXPECT_EQ(run_main(&printed, {"hotfx.exe", "--fullscreen", "--monitor", "2"}), 0);
    EXPECT_THAT(standin_calls("CreateWindowExA"),
                ElementsAre("CreateWindowExA(0x40100, \"test\", \"test\", 0xcf0000, 1600, 0, 1280, 1024, NULL, NULL, "
                            "module, NULL)"));
    EXPECT_THAT(standin_calls("SetWindowPos"), ElementsAre("SetWindowPos(1600, 0, 1920, 1080)"));
    EXPECT_EQ(present_params.BackBufferWidth, 1920u);
    EXPECT_EQ(present_params.BackBufferHeight, 1080u);
    standin().calls.clear();
    window_proc(standin_window, WM_KEYDOWN, VK_F11, 0x00570001);
    EXPECT_THAT(standin_calls("SetWindowPos"), ElementsAre("SetWindowPos(0, 0, 0, 0)"));
    EXPECT_EQ(present_params.BackBufferWidth, 1280u);
    EXPECT_EQ(present_params.BackBufferHeight, 1024u);
}

}  // namespace
