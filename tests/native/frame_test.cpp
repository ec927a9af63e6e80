#include <algorithm>
#include <numeric>

#include "program.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

struct frame : program_test {
    void SetUp() override
    {
        program_test::SetUp();
        make_device();
        frame_time = 0;
    }
    void with_shaders()
    {
        captured(load_shaders);
        standin().calls.clear();
    }
    std::string draw() { return captured(render_frame); }
};

TEST_F(frame, makes_its_calls_in_order_with_every_argument)
{
    with_shaders();
    EXPECT_EQ(draw(), "");
    EXPECT_EQ(standin().calls, frame_calls);
}

TEST_F(frame, draws_a_clockwise_strip_over_clip_space)
{
    draw();
    EXPECT_THAT(standin().drawn, ElementsAreArray<float>({
                                      1, -1, 0,  1, -1,
                                     -1, -1, 0, -1, -1,
                                      1,  1, 0,  1,  1,
                                     -1,  1, 0, -1,  1,
                                 }));
    EXPECT_EQ(sizeof(quad_vertex), 20u);
}

TEST_F(frame, a_scene_that_does_not_begin_is_still_cleared_and_presented)
{
    standin().script.begin_scene_fails = true;
    EXPECT_EQ(draw(), "");
    EXPECT_THAT(standin().calls, ElementsAre("GetAsyncKeyState(0x74)",
                                             "device->Clear(0, NULL, 0x7, 0x00000000, 1, 0)",
                                             "device->BeginScene()",
                                             "device->Present(NULL, NULL, NULL, NULL)"));
    EXPECT_EQ(frame_time, 0.0f);
}

TEST_F(frame, missing_shaders_are_reported_vertex_then_pixel_and_the_quad_still_drawn)
{
    EXPECT_EQ(draw(), "Error : Vshader\nError : Pshader\n");
    EXPECT_EQ(draw(), "Error : Vshader\nError : Pshader\n");
    EXPECT_THAT(standin_calls("device->Set"), ElementsAre("device->SetFVF(0x102)", "device->SetFVF(0x102)"));
    EXPECT_EQ(standin_calls("device->DrawPrimitiveUP").size(), 2u);
    EXPECT_EQ(standin_calls("device->Present").size(), 2u);
    EXPECT_EQ(frame_time, 0x1.110e46p-5f);
}

TEST_F(frame, a_missing_pixel_shader_leaves_the_vertex_stage_drawing)
{
    standin().script.compile["ps_main"] = compile_error("main.fx(1,1): error X3501: 'ps_main': entrypoint not found");
    with_shaders();
    EXPECT_EQ(draw(), "Error : Pshader\n");
    EXPECT_THAT(standin_calls("device->Set"), ElementsAre("device->SetVertexShaderConstantF(0, shader_constants, 64)",
                                                          "device->SetVertexShader(vs1)",
                                                          "device->SetFVF(0x102)"));
}

// Constants go up before the time advances: the k-th frame that draws shows k steps.
TEST_F(frame, each_frame_uploads_the_time_before_advancing_it)
{
    with_shaders();
    const float shown[] = {0.0f, 0x1.110e46p-6f, 0x1.110e46p-5f, 0x1.999568p-5f};
    for (float expected : shown) {
        draw();
        EXPECT_EQ(standin().vertex_constants[0], expected);
        EXPECT_EQ(standin().pixel_constants[0], expected);
    }
    EXPECT_EQ(frame_time, 0x1.110e46p-4f);
}

TEST_F(frame, sixty_frames_come_just_short_of_one)
{
    for (int i = 0; i < 60; ++i)
        draw();
    EXPECT_EQ(frame_time, 0x1.fffabap-1f);  // 0.999959767
    EXPECT_EQ(time_step, 0.016666f);
    EXPECT_EQ((double)time_step, 0.016666000708937645);
}

TEST_F(frame, time_steps_by_a_thirty_second_from_2_to_the_18th_and_stops_at_2_to_the_19th)
{
    frame_time = 262144.0f;
    draw();
    EXPECT_EQ(frame_time, 262144.03125f);

    frame_time = 524288.0f;
    for (int i = 0; i < 3; ++i)
        draw();
    EXPECT_EQ(frame_time, 524288.0f);
}

TEST_F(frame, every_register_but_c0_x_stays_zero)
{
    with_shaders();
    for (int i = 0; i < 5; ++i) {
        draw();
        for (int f = 1; f < 256; ++f) {
            EXPECT_EQ(standin().vertex_constants[f], 0.0f) << "vertex c" << f / 4 << " component " << f % 4;
            EXPECT_EQ(standin().pixel_constants[f], 0.0f) << "pixel c" << f / 4 << " component " << f % 4;
        }
    }
}

TEST_F(frame, f5_held_reloads_in_every_frame_before_the_clear)
{
    with_shaders();
    standin().script.keys[VK_F5] = (SHORT)0x8000;
    std::string printed;
    for (int i = 0; i < 3; ++i)
        printed += draw();
    EXPECT_EQ(printed, "Load Shader.\nLoad Shader.\nLoad Shader.\n");
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs4");
    EXPECT_EQ(standin_name_of(drawn_pixel_shader()), "ps4");
    EXPECT_EQ(standin().calls[1], "vs1->Release()");
    EXPECT_EQ(standin().calls[standin().calls.size() - 10], "device->Clear(0, NULL, 0x7, 0x00000000, 1, 0)");
}

TEST_F(frame, any_bit_of_the_f5_state_counts_and_none_means_no_reload)
{
    with_shaders();
    standin().script.key_polls[VK_F5] = {0x0001, 0, (SHORT)0x8001, 0};
    std::string printed;
    for (int i = 0; i < 4; ++i)
        printed += draw();
    EXPECT_EQ(printed, "Load Shader.\nLoad Shader.\n");
    EXPECT_EQ(standin_calls("D3DXCompileShaderFromFileA").size(), 4u);
}

TEST_F(frame, a_reload_leaves_the_time_running)
{
    with_shaders();
    frame_time = 12.5f;
    standin().script.key_polls[VK_F5] = {1};
    draw();
    EXPECT_EQ(standin().vertex_constants[0], 12.5f);
    EXPECT_EQ(frame_time, 12.5f + time_step);
}

// A pass p0 that reads itself, read by ps_main, both reading the frame: what ps_main shows
// depends on every frame before.
struct carried : frame {
    void SetUp() override
    {
        frame::SetUp();
        use_options(true, true);
        const D3DXCONSTANT_DESC p0 = {"p0", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1};
        const D3DXCONSTANT_DESC frame = {"frame", D3DXRS_FLOAT4, 1, 1, D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1, 1};
        standin().script.compile["ps_main"].constants = standin().script.compile["ps_p0"].constants = {p0, frame};
        EXPECT_EQ(captured(load_shaders), "Load Shader.\nPasses in order: p0\nSlots: vs_main 1, p0 1, ps_main 1 of 512\n");
    }
    // How many frames the pass drew in each of so many presented frames.
    std::vector<int> pass_draws(int frames, std::string* printed)
    {
        std::vector<int> draws;
        for (int i = 0; i < frames; i++) {
            standin().calls.clear();
            *printed += captured(render_frame);
            draws.push_back((int)standin_calls("device->SetRenderTarget(0, surface").size());
        }
        return draws;
    }
    float frame_shown() { return standin().pixel_constants[4]; }
    std::string printed;
};

// Stopped at frame 3: reloads, one that fails among them, neither draw a pass frame nor move
// the clock; a step draws one.
TEST_F(carried, with_the_time_stopped_a_reload_draws_no_pass_frame)
{
    pass_draws(3, &printed);
    window_input(standin_window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(pass_draws(3, &printed), (std::vector<int>{1, 0, 0}));
    standin().script.key_polls[VK_F5] = {1, 1};
    standin().script.compile_queue["ps_main"] = {standin().script.compile["ps_main"],
                                                 compile_error("main.fx(3,1): error X3000: typo")};
    EXPECT_EQ(pass_draws(2, &printed), (std::vector<int>{0, 0}));
    window_input(standin_window, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(pass_draws(2, &printed), (std::vector<int>{1, 0}));
    EXPECT_EQ(printed, "Stopped at frame 3.\nLoad Shader.\nPasses in order: p0\nSlots: vs_main 1, p0 1, ps_main 1 of 512\n"
                       "Error : main.fx(3,1): error X3000: typo\nStopped at frame 4.\n");
    EXPECT_EQ(frame_shown(), 4.0f);
}

// Shift+Right 50 times to frame 3,000, then Left: each frame before the one shown is drawn
// once, from 0 after the step back, at most 40 ms of them in a frame (a draw takes 1 ms here,
// two a frame), and where it goes is said once on the way and once arrived.
TEST_F(carried, a_step_back_draws_every_frame_again_from_0_at_most_40_ms_of_them_a_frame)
{
    standin().script.ms_per_draw = 1;
    window_input(standin_window, WM_KEYDOWN, VK_SPACE, 0);
    pass_draws(1, &printed);
    for (WPARAM key : {VK_RIGHT, VK_LEFT}) {
        standin().script.keys[VK_SHIFT] = key == VK_RIGHT ? (SHORT)0x8000 : 0;
        for (int i = 0; i < (key == VK_RIGHT ? 50 : 1); i++)
            window_input(standin_window, WM_KEYDOWN, key, 0);
        std::vector<int> draws = pass_draws(160, &printed);
        EXPECT_EQ(std::accumulate(draws.begin(), draws.end(), 0), 3000);
        EXPECT_EQ(*std::max_element(draws.begin(), draws.end()), 20);
    }
    EXPECT_EQ(printed, "Stopped at frame 0.\n"
                       "Drawing up to frame 3000, 2979 frames on: the shaders carry each frame into the next.\n"
                       "Stopped at frame 3000.\n"
                       "Drawing up to frame 2999, 2980 frames on: the shaders carry each frame into the next.\n"
                       "Stopped at frame 2999.\n");
    EXPECT_EQ(frame_shown(), 2999.0f);
    EXPECT_EQ(standin().pixel_constants[0], time_at_frame(2999));
}

}  // namespace
