// F5 held for a thousand frames, against the recording stand-in: whatever each compile
// answers, every object hotfx was handed is given back exactly once, and what stays alive at
// the end is what was alive after the first load.
#include "program.h"

using ::testing::IsEmpty;

namespace {

const std::string syntax_error = "main.fx:12:5: E5000: syntax error, unexpected '}'\n";

struct reload_kind {
    const char* what;
    void (*script)(standin_script&);
    std::string printed;  // by the reload and the rest of its frame
};

// One reload of each kind in turn; the last of the cycle succeeds.
const reload_kind cycle[] = {
    {"vertex compile fails", [](standin_script& s) { s.compile["vs_main"] = compile_error(syntax_error); },
     "Error : " + syntax_error + "\nError : Vshader\nError : Pshader\n"},
    {"pixel compile fails", [](standin_script& s) { s.compile["ps_main"] = compile_error(syntax_error); },
     "Error : " + syntax_error + "\nError : Pshader\n"},
    {"vertex creation fails", [](standin_script& s) { s.create_vertex_shader_status = D3DERR_INVALIDCALL; },
     "Error : vs_main compiled, but the device refused it as a vertex shader (status 0x8876086C)\n"
     "Error : Vshader\nError : Pshader\n"},
    {"pixel creation fails", [](standin_script& s) { s.create_pixel_shader_status = E_OUTOFMEMORY; },
     "Error : ps_main compiled, but the device refused it as a pixel shader (status 0x8007000E)\n"
     "Error : Pshader\n"},
    {"warnings", [](standin_script& s) {
         s.compile["vs_main"].messages = s.compile["ps_main"].messages = true;
         s.compile["vs_main"].text = s.compile["ps_main"].text = "main.fx:3:1: W5300: truncation\n";
     },
     "Load Shader.\n"},
    {"no code", [](standin_script& s) { s.compile["vs_main"].code = false; },
     "Error : main.fx: vs_main (vs_3_0) compiled to nothing\nError : Vshader\nError : Pshader\n"},
    {"clean", [](standin_script&) {}, "Load Shader.\n"},
};
const int cycle_length = sizeof cycle / sizeof cycle[0];

struct endurance : program_test {};

TEST_F(endurance, a_thousand_reloads_leave_every_reference_count_where_it_started)
{
    make_device();
    captured(load_shaders);
    captured(render_frame);  // the device now holds the pair it draws with
    const std::vector<long> at_start = {standin_refs("d3d"), standin_refs("device"), standin_refs("vs1"),
                                        standin_refs("ps1")};
    EXPECT_EQ(at_start, (std::vector<long>{1, 1, 2, 2}));

    const int reloads = 1001;  // a whole number of cycles, ending on a clean one
    ASSERT_EQ(reloads % cycle_length, 0);
    std::string printed, expected;
    standin().script.keys[VK_F5] = (SHORT)0x8000;
    for (int i = 0; i < reloads; ++i) {
        const reload_kind& kind = cycle[i % cycle_length];
        standin_script& script = standin().script;
        script.compile.clear();
        script.create_vertex_shader_status = script.create_pixel_shader_status = D3D_OK;
        kind.script(script);
        printed += captured(render_frame);
        expected += kind.printed;
        standin().calls.clear();
    }
    EXPECT_EQ(printed, expected);

    const std::string vs = standin_name_of(drawn_vertex_shader()), ps = standin_name_of(drawn_pixel_shader());
    EXPECT_EQ(standin_live_objects(), (std::vector<std::string>{"d3d", "device", vs, ps}));
    EXPECT_EQ((std::vector<long>{standin_refs("d3d"), standin_refs("device"), standin_refs(vs), standin_refs(ps)}),
              at_start);
    int buffers = 0, shaders = 0;
    for (const std::string& name : standin_objects()) {
        if (name == "d3d" || name == "device" || name == vs || name == ps)
            continue;
        buffers += name.compare(0, 6, "buffer") == 0;
        shaders += name.compare(0, 6, "buffer") != 0;
        EXPECT_EQ(standin_releases(name), 1) << name;
    }
    // Handed out per cycle, in its order: buffers 1, 2, 1, 2, 4, 0, 2; shaders 0, 1, 0, 1, 2, 0, 2.
    EXPECT_EQ(buffers, 2 + (reloads / cycle_length) * 12);
    EXPECT_EQ(shaders, 2 + (reloads / cycle_length) * 6 - 2);
}

TEST_F(endurance, the_program_shuts_down_clean_after_a_thousand_reloads)
{
    standin().script.keys[VK_F5] = (SHORT)0x8000;
    standin().script.idle_peeks_before_quit = 1000;
    std::string printed;
    EXPECT_EQ(run_main(&printed), 0);

    std::string expected;
    for (int i = 0; i < 1001; ++i)
        expected += "Load Shader.\n";
    EXPECT_EQ(printed, expected);
    EXPECT_THAT(standin_live_objects(), IsEmpty());
    for (const std::string& name : standin_objects())
        EXPECT_EQ(standin_releases(name), 1) << name;
}

TEST_F(endurance, a_thousand_reloads_with_an_image_the_previous_frame_and_the_keys_give_back_every_object)
{
    standin().folder.files["photo.png"].bytes = "image";
    standin().script.compile["ps_main"].constants = {{"photo", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
        {"previous_frame", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
        {"keyboard", D3DXRS_SAMPLER, 2, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
    standin().script.keys[VK_F5] = (SHORT)0x8000;
    standin().script.idle_peeks_before_quit = 1000;
    std::string printed;
    EXPECT_EQ(run_main(&printed, {"hotfx.exe", "--watch"}), 0);
    EXPECT_EQ(standin_calls("D3DXCreateTextureFromFileInMemoryEx").size(), 1001u);
    EXPECT_THAT(standin_live_objects(), IsEmpty());
    for (const std::string& name : standin_objects())
        EXPECT_EQ(standin_releases(name), 1) << name;
}

}  // namespace
