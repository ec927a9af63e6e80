// A device lost while running, as after a GPU reset: the frame that finds it lost drops the
// shaders and says so once; later frames wait and ask the device until it can be reset, then
// draw again without shaders until F5.
#include <algorithm>

#include "program.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string lost_line =
    "Error : The Direct3D device was lost, so the shaders were dropped; F5 loads them again\n";

// A frame while the device is lost and not yet ready to be reset.
const std::vector<std::string> waiting_frame = {
    "GetAsyncKeyState(0x74)",
    "Sleep(50)",
    "device->TestCooperativeLevel()",
};

// The frame whose reset succeeds, drawing without shaders.
const std::vector<std::string> reset_frame = {
    "GetAsyncKeyState(0x74)",
    "Sleep(50)",
    "device->TestCooperativeLevel()",
    "device->Reset(present_params)",
    "device->Clear(0, NULL, 0x7, 0x00000000, 1, 0)",
    "device->BeginScene()",
    "device->SetFVF(0x102)",
    "device->DrawPrimitiveUP(5, 2, quad_vertices, 20)",
    "device->EndScene()",
    "device->Present(NULL, NULL, NULL, NULL)",
};

struct device_loss : program_test {
    void SetUp() override
    {
        program_test::SetUp();
        make_device();
        frame_time = 0;
        captured(load_shaders);
        standin().calls.clear();
    }
    // Draws one frame and returns what it printed, leaving only its calls in the log.
    std::string frame()
    {
        standin().calls.clear();
        return captured(render_frame);
    }
};

TEST_F(device_loss, the_frame_that_finds_it_lost_drops_the_shaders_and_says_so_once)
{
    standin().script.presents = {D3D_OK, D3DERR_DEVICELOST};
    EXPECT_EQ(frame(), "");
    EXPECT_EQ(frame(), lost_line);
    const std::vector<std::string>& calls = standin().calls;
    // Unbound first: some devices keep what is bound through a reset, and these must not draw again.
    EXPECT_EQ(std::vector<std::string>(calls.end() - 5, calls.end()),
              (std::vector<std::string>{"device->Present(NULL, NULL, NULL, NULL)", "device->SetVertexShader(NULL)",
                                        "device->SetPixelShader(NULL)", "vs1->Release()", "ps1->Release()"}));
    EXPECT_EQ(standin_refs("vs1"), 0);
    EXPECT_EQ(standin_refs("ps1"), 0);
    EXPECT_EQ(drawn_vertex_shader(), nullptr);
    EXPECT_EQ(drawn_pixel_shader(), nullptr);
    EXPECT_EQ(standin_releases("vs1"), 1);
    EXPECT_EQ(standin_releases("ps1"), 1);
    EXPECT_TRUE(device_lost);
}

TEST_F(device_loss, while_lost_each_frame_waits_asks_the_device_and_draws_nothing)
{
    standin().script.presents = {D3DERR_DEVICELOST};
    standin().script.cooperative_levels = {D3DERR_DEVICELOST, D3DERR_DEVICELOST, D3DERR_DEVICELOST};
    frame();
    const float time_at_loss = frame_time;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frame(), "") << "frame " << i;
        EXPECT_EQ(standin().calls, waiting_frame) << "frame " << i;
    }
    EXPECT_EQ(frame_time, time_at_loss);
    EXPECT_TRUE(device_lost);
}

TEST_F(device_loss, once_reset_it_draws_with_the_missing_stage_lines_until_f5_brings_the_shaders_back)
{
    standin().script.presents = {D3D_OK, D3DERR_DEVICELOST};
    standin().script.cooperative_levels = {D3DERR_DEVICELOST};  // then ready to be reset
    frame();
    frame();
    EXPECT_EQ(frame(), "");
    EXPECT_EQ(standin().calls, waiting_frame);

    EXPECT_EQ(frame(), "Error : Vshader\nError : Pshader\n");
    EXPECT_EQ(standin().calls, reset_frame);
    EXPECT_FALSE(device_lost);
    EXPECT_EQ(standin_refs("vs1"), 0);
    EXPECT_EQ(standin_refs("ps1"), 0);
    EXPECT_EQ(frame_time, 3 * time_step);  // two frames before the loss, one after the reset

    EXPECT_EQ(frame(), "Error : Vshader\nError : Pshader\n");
    const float time_before_f5 = frame_time;
    standin().script.key_polls[VK_F5] = {1};
    EXPECT_EQ(frame(), "Load Shader.\n");
    EXPECT_THAT(standin_calls("device->SetVertexShader("), ElementsAre("device->SetVertexShader(vs2)"));
    EXPECT_THAT(standin_calls("device->SetPixelShader("), ElementsAre("device->SetPixelShader(ps2)"));
    EXPECT_EQ(standin().calls.back(), "device->Present(NULL, NULL, NULL, NULL)");
    EXPECT_EQ(standin().vertex_constants[0], time_before_f5);
    EXPECT_EQ(standin().pixel_constants[0], time_before_f5);
}

TEST_F(device_loss, a_device_that_comes_back_by_itself_draws_again_without_a_reset)
{
    standin().script.presents = {D3DERR_DEVICELOST};
    standin().script.cooperative_levels = {D3D_OK};
    frame();
    EXPECT_EQ(frame(), "Error : Vshader\nError : Pshader\n");
    EXPECT_THAT(standin_calls("device->Reset"), IsEmpty());
    EXPECT_EQ(standin_calls("device->DrawPrimitiveUP").size(), 1u);
    EXPECT_EQ(standin_refs("vs1"), 0);
    EXPECT_EQ(standin_refs("ps1"), 0);
    EXPECT_FALSE(device_lost);
}

TEST_F(device_loss, f5_held_through_the_loss_reloads_every_frame_and_the_reset_keeps_the_last_load)
{
    standin().script.keys[VK_F5] = (SHORT)0x8000;
    standin().script.presents = {D3D_OK, D3DERR_DEVICELOST};
    standin().script.cooperative_levels = {D3DERR_DEVICELOST};
    std::string printed;
    for (int i = 0; i < 4; ++i)
        printed += frame();
    EXPECT_EQ(printed, "Load Shader.\nLoad Shader.\n" + lost_line + "Load Shader.\nLoad Shader.\n");
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs5");
    EXPECT_EQ(standin_name_of(drawn_pixel_shader()), "ps5");
    // The last frame: the reload, the wait, the reset, the samplers again (the reset forgot
    // those the reload set), then a frame drawn with the new pair.
    const std::vector<std::string>& calls = standin().calls;
    auto reset = std::find(calls.begin(), calls.end(), "device->Reset(present_params)");
    ASSERT_NE(reset, calls.end());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 2),
              (std::vector<std::string>{"GetAsyncKeyState(0x74)", "vs4->Release()"}));
    EXPECT_EQ(std::vector<std::string>(reset - 2, reset + 7),
              (std::vector<std::string>{"Sleep(50)", "device->TestCooperativeLevel()",
                                        "device->Reset(present_params)",
                                        "device->SetSamplerState(0, 5, 2)", "device->SetSamplerState(0, 6, 2)",
                                        "device->SetSamplerState(0, 7, 2)", "device->SetSamplerState(0, 1, 1)",
                                        "device->SetSamplerState(0, 2, 1)",
                                        "device->Clear(0, NULL, 0x7, 0x00000000, 1, 0)"}));
    EXPECT_EQ(std::vector<std::string>(reset + 6, calls.end()),
              (std::vector<std::string>{"device->Clear(0, NULL, 0x7, 0x00000000, 1, 0)",
                                        "device->BeginScene()",
                                        "device->SetVertexShaderConstantF(0, shader_constants, 64)",
                                        "device->SetVertexShader(vs5)",
                                        "device->SetPixelShaderConstantF(0, shader_constants, 64)",
                                        "device->SetPixelShader(ps5)",
                                        "device->SetFVF(0x102)",
                                        "device->DrawPrimitiveUP(5, 2, quad_vertices, 20)",
                                        "device->EndScene()",
                                        "device->Present(NULL, NULL, NULL, NULL)"}));
    EXPECT_FALSE(device_lost);
}

// A reload while lost must not make the previous frame's textures: they live in the default
// pool, and a Reset fails while any such resource lives. After the reset, what the shaders
// carry starts again from frame 0.
TEST_F(device_loss, f5_held_through_the_loss_makes_the_previous_frame_only_after_the_reset)
{
    use_named_inputs(true);
    standin().script.compile["ps_main"].constants = {
        {"previous_frame", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
    captured(load_shaders);
    standin().script.keys[VK_F5] = (SHORT)0x8000;
    standin().script.presents = {D3DERR_DEVICELOST};
    standin().script.cooperative_levels = {D3DERR_DEVICELOST};
    std::string printed;
    for (int i = 0; i < 3; ++i)
        printed += frame();
    EXPECT_EQ(printed, "Load Shader.\n" + slots_line + lost_line + "Load Shader.\n" + slots_line + "Load Shader.\n" + slots_line);
    EXPECT_FALSE(device_lost);
    const std::vector<std::string>& calls = standin().calls;
    auto reset = std::find(calls.begin(), calls.end(), "device->Reset(present_params)");
    EXPECT_EQ(std::count(calls.begin(), reset, "device->CreateTexture()"), 0);
    EXPECT_EQ(std::count(reset, calls.end(), "device->CreateTexture()"), 2);
    EXPECT_THAT(standin_calls("device->StretchRect"),
                ElementsAre("device->StretchRect(backbuffer2, surface3)", "device->StretchRect(backbuffer2, surface4)"));
    release_shaders();
    release_device_resources(false);
}

TEST_F(device_loss, a_reset_that_fails_is_tried_again_a_wait_later_until_it_succeeds)
{
    standin().script.presents = {D3DERR_DEVICELOST};
    standin().script.resets = {D3DERR_DEVICELOST, D3DERR_DEVICELOST, D3DERR_DEVICELOST};
    frame();
    std::string printed;
    std::vector<std::string> calls;
    for (int i = 0; i < 3; ++i) {
        printed += frame();
        calls.insert(calls.end(), standin().calls.begin(), standin().calls.end());
    }
    EXPECT_EQ(printed, "");
    std::vector<std::string> failing_frame = waiting_frame;
    failing_frame.push_back("device->Reset(present_params)");
    EXPECT_EQ(calls, (std::vector<std::string>{failing_frame[0], failing_frame[1], failing_frame[2], failing_frame[3],
                                               failing_frame[0], failing_frame[1], failing_frame[2], failing_frame[3],
                                               failing_frame[0], failing_frame[1], failing_frame[2], failing_frame[3]}));
    EXPECT_TRUE(device_lost);

    EXPECT_EQ(frame(), "Error : Vshader\nError : Pshader\n");
    EXPECT_EQ(standin().calls, reset_frame);
    EXPECT_FALSE(device_lost);
}

TEST_F(device_loss, a_second_loss_after_coming_back_is_reported_again)
{
    standin().script.presents = {D3DERR_DEVICELOST, D3DERR_DEVICELOST};
    std::string printed;
    for (int i = 0; i < 3; ++i)
        printed += frame();
    // Lost; reset, drawn and lost again; reset and drawn.
    EXPECT_EQ(printed, lost_line + "Error : Vshader\nError : Pshader\n" + lost_line + "Error : Vshader\nError : Pshader\n");
    EXPECT_EQ(standin().calls, reset_frame);
}

// The whole program: lost in its first frame, then asked to end while the device stays lost.
struct ending_while_lost : program_test, ::testing::WithParamInterface<UINT> {};

TEST_P(ending_while_lost, exits_with_0_after_one_more_frame_and_releases_everything_once)
{
    standin_script& script = standin().script;
    script.presents = {D3DERR_DEVICELOST};
    script.cooperative_levels = std::deque<HRESULT>(100, D3DERR_DEVICELOST);
    script.messages = {GetParam() == WM_KEYDOWN ? message_to_window(WM_KEYDOWN, VK_ESCAPE)
                                                : message_to_window(GetParam())};
    script.idle_peeks_before_messages = 3;
    std::string printed;
    EXPECT_EQ(run_main(&printed), 0);
    EXPECT_EQ(printed, "Load Shader.\n" + lost_line);
    // The pass that saw the quit still ran its frame, a waiting one.
    EXPECT_EQ(standin_calls("Sleep").size(), 3u);
    EXPECT_EQ(standin_calls("device->TestCooperativeLevel").size(), 3u);
    EXPECT_THAT(standin_calls("device->Reset"), IsEmpty());
    EXPECT_THAT(standin_live_objects(), IsEmpty());
    EXPECT_EQ(standin_objects(), (std::vector<std::string>{"d3d", "device", "buffer1", "vs1", "buffer2", "ps1"}));
    for (const std::string& name : standin_objects())
        EXPECT_EQ(standin_releases(name), 1) << name;
}

INSTANTIATE_TEST_SUITE_P(escape_or_close, ending_while_lost, ::testing::Values<UINT>(WM_KEYDOWN, WM_CLOSE),
                         [](const ::testing::TestParamInfo<UINT>& info) {
                             return std::string(info.param == WM_KEYDOWN ? "escape" : "close");
                         });

}  // namespace
