#include "program.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

namespace {

struct saving : program_test {};

// The calls of one saved frame: the live frame's drawing (all of it but the F5 poll and the
// presentation), then the picture read back and written.
std::vector<std::string> saved_frame_calls(const std::string& file, int surface)
{
    std::string back_buffer = "backbuffer" + std::to_string(surface);
    std::string copy = "surface1";
    std::vector<std::string> calls(frame_calls.begin() + 1, frame_calls.end() - 1);
    calls.insert(calls.end(), {
        "device->GetBackBuffer(0, 0, 0, out)",
        "device->CreateOffscreenPlainSurface(1280, 1024, 22, 2, out, NULL)",
        "device->GetRenderTargetData(" + back_buffer + ", " + copy + ")",
        "D3DXSaveSurfaceToFileA(\"" + file + "\", 3, " + copy + ", NULL, NULL)",
        back_buffer + "->Release()",
    });
    if (surface > 1)  // the copy is made for the first frame and kept for the rest
        calls.erase(calls.end() - 4);
    return calls;
}

TEST_F(saving, a_range_draws_each_frame_as_the_loop_would_without_showing_the_window)
{
    std::string printed;
    EXPECT_EQ(run_main(&printed, {"hotfx.exe", "--frames", "59", "60", "out/%%%03d.png"}), 0);
    EXPECT_EQ(printed, "Load Shader.\n" + slots_line);

    std::vector<std::string> calls = standin().calls;
    auto first_clear = std::find(calls.begin(), calls.end(), "device->Clear(0, NULL, 0x7, 0x00000000, 1, 0)");
    std::vector<std::string> frames(first_clear, calls.end());
    std::vector<std::string> expected = saved_frame_calls("out/%059.png", 1);
    std::vector<std::string> second = saved_frame_calls("out/%060.png", 2);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.push_back("surface1->Release()");
    expected.insert(expected.end(), {"vs1->Release()", "ps1->Release()", "device->Release()", "d3d->Release()"});
    EXPECT_EQ(frames, expected);
    EXPECT_THAT(standin_calls("ShowWindow"), IsEmpty());
    EXPECT_THAT(standin_calls("UpdateWindow"), IsEmpty());
    EXPECT_THAT(standin_calls("GetAsyncKeyState"), IsEmpty());
    EXPECT_THAT(standin_live_objects(), IsEmpty());

    // 59 additions of the step from 0 stay below 0.98333; the 60th stays just under 1.
    float time = 0;
    for (int frame = 0; frame < 59; frame++)
        time += time_step;
    EXPECT_THAT(standin().saved, ElementsAre(Pair("out/%059.png", time), Pair("out/%060.png", time + time_step)));
}

struct failure_row {
    const char* what;
    HRESULT create_surface_status;
    HRESULT read_back_status;
    HRESULT save_status;
    int exit_code;
    const char* line;
};

const failure_row failure_rows[] = {
    {"no system memory for the copy", E_OUTOFMEMORY, D3D_OK, D3D_OK, 1,
     "Error : can't read the picture back from the device (status 0x8007000E)\n"},
    {"device lost before the read back", D3D_OK, D3DERR_DEVICELOST, D3D_OK, 1,
     "Error : can't read the picture back from the device (status 0x88760868)\n"},
    {"file not written", D3D_OK, D3D_OK, E_FAIL, 4, "Error : can't write out/00002.png (status 0x80004005)\n"},
};

struct saving_fails : program_test, ::testing::WithParamInterface<failure_row> {};

// The frames before the failure are saved, none after it, and nothing is left held.
TEST_P(saving_fails, stops_at_that_frame_with_one_line_and_releases_everything)
{
    const failure_row& row = GetParam();
    standin().script.save_statuses["out/00002.png"] = row.save_status;
    standin().script.create_surface_status = row.create_surface_status;
    standin().script.read_back_status = row.read_back_status;
    std::string printed;
    EXPECT_EQ(run_main(&printed, {"hotfx.exe", "--frames", "2", "9", "out/%05d.png"}), row.exit_code);
    EXPECT_EQ(printed, "Load Shader.\n" + slots_line + row.line);
    EXPECT_THAT(standin().saved, IsEmpty());
    EXPECT_EQ(standin_calls("device->Clear").size(), 1u);
    EXPECT_THAT(standin_live_objects(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(rows, saving_fails, ::testing::ValuesIn(failure_rows), row_name<failure_row>);

}  // namespace
