// The capture device's faults that no real sound server produces on demand, as sound_in sees them.
#include "program.h"

namespace {

struct capture : program_test {
    void SetUp() override
    {
        program_test::SetUp();
        make_device();
        use_named_inputs(true);
        standin().script.compile["ps_main"].constants = {
            {"sound_in", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
    }
    void TearDown() override
    {
        stop_listening();
        program_test::TearDown();
    }
    // What a load and a frame print.
    std::string load_and_draw()
    {
        ::testing::internal::CaptureStdout();
        load_shaders();
        draw_scene();
        return ::testing::internal::GetCapturedStdout();
    }
    bool reads_silence()
    {
        const char* rows = (const char*)standin_texture_bytes(drawn_set()->passes[0].reads.inputs[0].texture);
        return std::string(rows, 1024) == std::string(512, '\0') + std::string(512, '\x80');
    }
};

const std::string retry = "; it reads silence, and F5 tries the device again\n";

TEST_F(capture, no_device_is_one_line_and_silence)
{
    EXPECT_EQ(load_and_draw(),
              "Load Shader.\n" + slots_line + "Error : sound_in: no capture device; it reads silence, and F5 tries again\n");
    EXPECT_TRUE(reads_silence());
}

TEST_F(capture, a_format_refused_at_both_rates_is_one_line_and_silence)
{
    standin().script.capture_devices = {"Line In"};
    standin().script.wave_in_opens = {WAVERR_BADFORMAT, WAVERR_BADFORMAT};
    EXPECT_EQ(load_and_draw(), "Load Shader.\n" + slots_line +
                                   "Error : sound_in: the capture device refuses 16-bit mono at 44,100 and 48,000 samples "
                                   "a second (answered 32)" + retry);
    EXPECT_EQ(standin_calls("waveInOpen"), (std::vector<std::string>{
                                               "waveInOpen(wave_in, 0xffffffff, {1, 1 channels, 44100 Hz, 16 bits})",
                                               "waveInOpen(wave_in, 0xffffffff, {1, 1 channels, 48000 Hz, 16 bits})"}));
    EXPECT_TRUE(reads_silence());
}

TEST_F(capture, a_device_that_failed_to_open_opens_at_the_next_load)
{
    standin().script.capture_devices = {"Line In"};
    standin().script.wave_in_opens = {MMSYSERR_NODRIVER};
    EXPECT_EQ(load_and_draw(), "Load Shader.\n" + slots_line + "Error : sound_in: the capture device failed to open "
                                                              "(answered 6)" + retry);
    EXPECT_EQ(load_and_draw(), "Load Shader.\n" + slots_line +
                                   "Listening to the default capture device at 44100 samples a second.\n");
    EXPECT_EQ(standin_calls("waveInStart").size(), 1u);
}

TEST_F(capture, loopback_where_the_platform_has_none_is_one_line_naming_the_monitor)
{
    ASSERT_TRUE(choose_capture_device("loopback"));
    EXPECT_EQ(load_and_draw(), "Load Shader.\n" + slots_line + "Error : sound_in: no loopback capture of the default "
        "output (answered 0x80040154); under Linux with PulseAudio or PipeWire the output's \"Monitor of ...\" "
        "source captures what it plays: --sound-in Monitor\n");
    EXPECT_TRUE(reads_silence());
}

}  // namespace
