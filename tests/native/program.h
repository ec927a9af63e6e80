// Shared by the unit tests: the program's state put back to how the process starts, the
// stand-in reset, and small helpers for running it.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "render/render.h"
#include "state.h"
#include "standin.h"

int hotfx_main(int argc, char* argv[]);


struct program_test : ::testing::Test {
    void SetUp() override
    {
        standin_reset();
        main_window = NULL;
        d3d = NULL;
        device = NULL;
        device_lost = false;
        watch_folder = false;
        save_frames = false;
        numbered_frames = false;
        first_frame = last_frame = 0;
        frame_path = NULL;
        any_option = full_screen_asked = list_monitors_asked = false;
        monitor_number = 0;
        driver_failing = false;
        device_failed = false;
        use_options(false, false);
        frame_time = 0;
        frame_number = 0;
        time_running = true;
        restart_chain();
        memset(shader_constants, 0, sizeof shader_constants);
        window_class.hInstance = NULL;
        standin_name(&window_class, "window_class");
        standin_name(&present_params, "present_params");
        standin_name(shader_constants, "shader_constants");
        standin_name(quad_vertices, "quad_vertices");
    }
    // What the test left loaded goes while its objects still exist.
    void TearDown() override
    {
        release_shaders();
        release_device_resources(false);
        EXPECT_THAT(standin().faults, ::testing::IsEmpty());
    }
};

// Runs main as the runtime would and returns its exit code, keeping what it printed.
inline int run_main(std::string* printed, std::vector<std::string> args = {"hotfx.exe"})
{
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    ::testing::internal::CaptureStdout();
    int exit_code = hotfx_main(int(args.size()), argv.data());
    *printed = ::testing::internal::GetCapturedStdout();
    return exit_code;
}

// A device as start-up leaves it, with the log emptied of its creation.
inline void make_device()
{
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, NULL, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                      &present_params, &device);
    standin().calls.clear();
}

// What a load with an option says after "Load Shader.": the stand-in's code is one move a stage.
const std::string slots_line = "Slots: vs_main 1, ps_main 1 of 512\n";

inline std::string captured(void (*procedure)())
{
    ::testing::internal::CaptureStdout();
    procedure();
    return ::testing::internal::GetCapturedStdout();
}

// The calls of one frame that draws with the first pair of shaders.
const std::vector<std::string> frame_calls = {
    "GetAsyncKeyState(0x74)",
    "device->Clear(0, NULL, 0x7, 0x00000000, 1, 0)",
    "device->BeginScene()",
    "device->SetVertexShaderConstantF(0, shader_constants, 64)",
    "device->SetVertexShader(vs1)",
    "device->SetPixelShaderConstantF(0, shader_constants, 64)",
    "device->SetPixelShader(ps1)",
    "device->SetFVF(0x102)",
    "device->DrawPrimitiveUP(5, 2, quad_vertices, 20)",
    "device->EndScene()",
    "device->Present(NULL, NULL, NULL, NULL)",
};

// Names a parameterised test by its row's "what".
template <class Row>
std::string row_name(const ::testing::TestParamInfo<Row>& info)
{
    std::string name = info.param.what;
    for (char& c : name)
        if (!isalnum((unsigned char)c))
            c = '_';
    return name;
}

// What the compiler hands back for source it rejects.
inline compile_result compile_error(const std::string& text)
{
    compile_result result;
    result.status = E_FAIL;
    result.code = false;
    result.messages = true;
    result.text = text;
    return result;
}

inline MSG message_to_window(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return MSG{standin_window, message, wParam, lParam, 0, {0, 0}};
}
