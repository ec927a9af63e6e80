#include <stdio.h>

#include <map>

#include "program.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

struct shaders : program_test {
    void SetUp() override
    {
        program_test::SetUp();
        make_device();
    }
    std::string load() { return captured(load_shaders); }
    compile_result& vertex_compile() { return standin().script.compile["vs_main"]; }
    compile_result& pixel_compile() { return standin().script.compile["ps_main"]; }
};

const char vertex_error[] = "main.fx(9,5): error X3004: undeclared identifier 'pos'";
const char pixel_error[] = "main.fx(20,12): error X3014: incorrect number of arguments to numeric-type constructor";

TEST_F(shaders, a_complete_load_creates_both_then_sets_sampler_0_in_table_order)
{
    EXPECT_EQ(load(), "Load Shader.\n");
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs1");
    EXPECT_EQ(standin_name_of(drawn_pixel_shader()), "ps1");
    EXPECT_THAT(standin_calls("device->SetSamplerState"),
                ElementsAre("device->SetSamplerState(0, 5, 2)", "device->SetSamplerState(0, 6, 2)",
                            "device->SetSamplerState(0, 7, 2)", "device->SetSamplerState(0, 1, 1)",
                            "device->SetSamplerState(0, 2, 1)"));
    EXPECT_EQ(standin().calls[standin().calls.size() - 7], "device->CreatePixelShader(buffer2 bytes, out)")
        << "the sampler states come after both shaders";
}

struct failure_row {
    const char* what;
    void (*script)(standin_script&);
    std::string printed;
    const char* vertex;
    const char* pixel;
};

const failure_row failures[] = {
    {"vertex compile fails", [](standin_script& s) { s.compile["vs_main"] = compile_error(vertex_error); },
     std::string("Error : ") + vertex_error + "\n", "NULL", "NULL"},
    {"vertex creation fails", [](standin_script& s) { s.create_vertex_shader_status = D3DERR_INVALIDCALL; },
     "Error : vs_main compiled, but the device refused it as a vertex shader (status 0x8876086C)\n", "NULL", "NULL"},
    {"pixel compile fails", [](standin_script& s) { s.compile["ps_main"] = compile_error(pixel_error); },
     std::string("Error : ") + pixel_error + "\n", "vs1", "NULL"},
    {"pixel creation fails", [](standin_script& s) { s.create_pixel_shader_status = E_OUTOFMEMORY; },
     "Error : ps_main compiled, but the device refused it as a pixel shader (status 0x8007000E)\n", "vs1", "NULL"},
};

void PrintTo(const failure_row& row, std::ostream* out)
{
    *out << row.what;
}

struct shader_failure : shaders, ::testing::WithParamInterface<failure_row> {};

TEST_P(shader_failure, prints_one_line_and_keeps_only_the_stages_before_it)
{
    const failure_row& row = GetParam();
    row.script(standin().script);
    EXPECT_EQ(load(), row.printed);
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), row.vertex);
    EXPECT_EQ(standin_name_of(drawn_pixel_shader()), row.pixel);
    EXPECT_THAT(standin_calls("device->SetSamplerState"), IsEmpty());

    // Every buffer the compiler handed back is gone; what lives is the device and its shaders.
    std::vector<std::string> live = {"d3d", "device"};
    if (drawn_vertex_shader())
        live.push_back("vs1");
    EXPECT_EQ(standin_live_objects(), live);
}

INSTANTIATE_TEST_SUITE_P(every_row, shader_failure, ::testing::ValuesIn(failures), row_name<failure_row>);

TEST_F(shaders, a_compile_failure_without_message_names_the_file_and_entry)
{
    vertex_compile() = compile_error("");
    vertex_compile().messages = false;
    EXPECT_EQ(load(), "Error : main.fx: vs_main (vs_3_0) failed to compile, status 0x80004005, "
                      "no message from the compiler\n");
    EXPECT_EQ(drawn_vertex_shader(), nullptr);

    vertex_compile() = compile_result();
    pixel_compile() = compile_error("");  // a buffer, but empty
    EXPECT_EQ(load(), "Error : main.fx: ps_main (ps_3_0) failed to compile, status 0x80004005, "
                      "no message from the compiler\n");
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs1");
}

TEST_F(shaders, a_message_without_its_zero_byte_is_printed_to_the_buffer_end)
{
    vertex_compile() = compile_error("main.fx(1,1): error X3000: syntax error: unexpected end of file");
    vertex_compile().terminated = false;
    EXPECT_EQ(load(), "Error : main.fx(1,1): error X3000: syntax error: unexpected end of file\n");
}

TEST_F(shaders, the_message_is_printed_byte_for_byte)
{
    pixel_compile() = compile_error("main.fx(4,1): warning X3206: truncation\n"
                                    "main.fx(7,3): error X3018: invalid subscript 'w' 100%s\n");
    EXPECT_EQ(load(), "Error : main.fx(4,1): warning X3206: truncation\n"
                      "main.fx(7,3): error X3018: invalid subscript 'w' 100%s\n\n");
}

TEST_F(shaders, success_without_code_is_a_failure_and_creates_nothing)
{
    vertex_compile().code = false;
    EXPECT_EQ(load(), "Error : main.fx: vs_main (vs_3_0) compiled to nothing\n");
    EXPECT_THAT(standin_calls("device->Create"), IsEmpty());
    EXPECT_THAT(standin_calls("D3DXCompileShaderFromFileA"), ::testing::SizeIs(1));

    vertex_compile().code = true;
    pixel_compile().code = false;
    EXPECT_EQ(load(), "Error : main.fx: ps_main (ps_3_0) compiled to nothing\n");
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs1");
    EXPECT_EQ(drawn_pixel_shader(), nullptr);
}

TEST_F(shaders, warnings_of_a_successful_compile_are_not_printed)
{
    for (compile_result* result : {&vertex_compile(), &pixel_compile()}) {
        result->messages = true;
        result->text = "main.fx(3,8): warning X3206: implicit truncation of vector type";
    }
    EXPECT_EQ(load(), "Load Shader.\n");
    EXPECT_EQ(standin_live_objects(), (std::vector<std::string>{"d3d", "device", "vs1", "ps1"}));
}

TEST_F(shaders, a_reload_of_an_unchanged_file_builds_both_again)
{
    EXPECT_EQ(load(), "Load Shader.\n");
    standin().calls.clear();
    EXPECT_EQ(load(), "Load Shader.\n");

    EXPECT_EQ(std::vector<std::string>(standin().calls.begin(), standin().calls.begin() + 3),
              (std::vector<std::string>{"vs1->Release()", "ps1->Release()",
                                        "D3DXCompileShaderFromFileA(\"main.fx\", NULL, NULL, \"vs_main\", "
                                        "\"vs_3_0\", 0x8400, out, out, NULL)"}));
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs2");
    EXPECT_EQ(standin_name_of(drawn_pixel_shader()), "ps2");
    EXPECT_EQ(standin_releases("vs1"), 1);
    EXPECT_EQ(standin_releases("ps1"), 1);
}

TEST_F(shaders, a_file_that_fails_and_is_then_fixed_loads_again)
{
    EXPECT_EQ(load(), "Load Shader.\n");
    pixel_compile() = compile_error(pixel_error);
    EXPECT_EQ(load(), std::string("Error : ") + pixel_error + "\n");
    EXPECT_EQ(drawn_pixel_shader(), nullptr);

    pixel_compile() = compile_result();
    EXPECT_EQ(load(), "Load Shader.\n");
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs3");
    EXPECT_EQ(standin_name_of(drawn_pixel_shader()), "ps2");
    EXPECT_EQ(standin_calls("device->SetSamplerState").size(), 10u);
}

TEST_F(shaders, each_shader_is_released_exactly_once)
{
    load();
    vertex_compile() = compile_error(vertex_error);
    load();
    release_shaders();
    release_shaders();
    EXPECT_EQ(drawn_vertex_shader(), nullptr);
    EXPECT_EQ(drawn_pixel_shader(), nullptr);
    EXPECT_EQ(standin_releases("vs1"), 1);
    EXPECT_EQ(standin_releases("ps1"), 1);
    for (const std::string& name : standin_objects()) {
        if (name.compare(0, 6, "buffer") == 0) {
            EXPECT_EQ(standin_releases(name), 1) << name;
        }
    }
    EXPECT_EQ(standin_live_objects(), (std::vector<std::string>{"d3d", "device"}));
}

// Names as Windows compares them: any case, '_' as itself, the first extension of the list.
TEST_F(shaders, an_image_is_found_by_its_name_in_any_case_with_the_first_extension)
{
    use_named_inputs(true);
    for (const char* name : {"my_Photo.TGA", "MY_PHOTO.jpg", "my_photo.png.txt", "my_photos.png", "my_photo"})
        standin().folder.files[name].bytes = "image";
    pixel_compile().constants = {{"my_photo", D3DXRS_SAMPLER, 3, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
    EXPECT_EQ(load(), "Load Shader.\n" + slots_line);
    EXPECT_THAT(standin_calls("CreateFileA(\"my_"), ElementsAre(HasSubstr("\"my_photo.wav\""), HasSubstr("\"my_photo.png\""),
                                                                HasSubstr("\"my_photo.jpg\"")));
    EXPECT_THAT(standin_calls("D3DXCreate"), ElementsAre("D3DXCreateTextureFromFileInMemoryEx(5 bytes, -2, -2, -1, 1)"));
    release_shaders();
}

// A samplerCUBE or a sampler3D reads NAME.dds alone, never a sound, a pass or an image of its name.
TEST_F(shaders, a_cube_map_and_a_volume_read_their_dds_alone_and_are_bound_and_released)
{
    use_named_inputs(true);
    for (const char* name : {"sky.wav", "sky.png", "sky.dds", "fog.dds"})
        standin().folder.files[name].bytes = "dds";
    standin().script.compile["ps_sky"] = compile_result();
    pixel_compile().constants = {{"sky", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLERCUBE, 1, 1, 1},
                                 {"fog", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER3D, 1, 1, 1}};
    EXPECT_EQ(load(), "Load Shader.\n" + slots_line);
    EXPECT_THAT(standin_calls("CreateFileA(\"sky"), ElementsAre(HasSubstr("\"sky.dds\"")));
    EXPECT_EQ(standin_calls("D3DXCompileShaderFromFileA").size(), 2u);
    EXPECT_THAT(standin_calls("D3DXCreate"), ElementsAre("D3DXCreateCubeTextureFromFileInMemoryEx(3 bytes, -1, -1, 1)",
                                                        "D3DXCreateVolumeTextureFromFileInMemoryEx(3 bytes, -1, -1, -1, -1, 1)"));
    EXPECT_TRUE(draw_scene() && draw_scene());
    EXPECT_THAT(standin_calls("device->SetTexture"), ElementsAre("device->SetTexture(0, cube1)", "device->SetTexture(1, volume1)"));
    release_shaders();
    EXPECT_EQ(standin_refs("cube1") + standin_refs("volume1"), 0);
}

// Wine's compiler refuses a leading UTF-8 byte-order mark, and a sampler_state's Texture = <NAME>;.
TEST_F(shaders, a_byte_order_mark_is_dropped_from_main_fx_and_what_it_includes)
{
    use_named_inputs(true);
    standin().folder.files["main.fx"].bytes = "\xEF\xBB\xBF#include \"e.fx\"\nfloat4 x;\n";
    standin().folder.files["e.fx"].bytes = "\xEF\xBB\xBF// \xEF\xBB\xBF\n";
    EXPECT_EQ(load(), "Load Shader.\n" + slots_line);
    EXPECT_EQ(standin().compiler_read["main.fx"], "#include \"e.fx\"\nfloat4 x;\n");
    EXPECT_EQ(standin().compiler_read["e.fx"], "// \xEF\xBB\xBF\n");
    release_shaders();
}

TEST_F(shaders, a_texture_assignment_in_a_sampler_state_is_blanked_keeping_lines_and_columns)
{
    use_named_inputs(true);
    standin().folder.files["main.fx"].bytes =
        "sampler2D s = sampler_state {\n    TEXTURE =\n  < tex > ;MinFilter = Point; };\ntexture t = <tex>;\n";
    EXPECT_EQ(load(), "Load Shader.\n" + slots_line);
    EXPECT_EQ(standin().compiler_read["main.fx"], "sampler2D s = sampler_state {\n" + std::string(13, ' ') + "\n" +
                                                      std::string(11, ' ') + "MinFilter = Point; };\ntexture t = <tex>;\n");
    release_shaders();
}

// Wine's compiler numbers the lines of the text its preprocessor makes, includes in place.
TEST_F(shaders, an_error_in_a_nested_include_names_that_file_and_its_own_line)
{
    use_named_inputs(true);
    standin().script.preprocesses = true;
    standin().folder.files["main.fx"].bytes = "float4 vs_main() : POSITION { return 0; }\n#include \"lib/a.fxh\"\n"
                                              "// main.fx 3\nfloat4 ps_main() : COLOR0 { return shade(); }\n";
    standin().folder.files["lib/a.fxh"].bytes = "// a 1\n#include \"b.fxh\"\nfloat4 shade() { return bee(); }\n";
    standin().folder.files["lib/b.fxh"].bytes = "// b 1\nfloat4 bee() { return missing; }";
    vertex_compile() = compile_error("main.fx:6:24: E5005: Identifier \"missing\" is not declared.\n"
                                     "main.fx:7:25: E5005: Identifier \"bee\" is not declared.\n"
                                     "main.fx:10:36: E5005: Identifier \"shade\" is not declared.\n");
    EXPECT_EQ(load(), "Error : lib/b.fxh:2:24: E5005: Identifier \"missing\" is not declared.\n"
                      "lib/a.fxh:3:25: E5005: Identifier \"bee\" is not declared.\n"
                      "main.fx:4:36: E5005: Identifier \"shade\" is not declared.\n\n");
}

// Wine's compiler makes no vertex shader that samples, so this one is shown here: a vertex
// sampler named mouse was written as a constant at register 257 + n, far past the registers;
// now it is bound to nothing.
TEST_F(shaders, a_vertex_sampler_named_as_a_constant_input_is_refused_and_reads_black)
{
    use_named_inputs(true);
    vertex_compile().constants = {{"mouse", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
    EXPECT_EQ(load(), "Error : mouse: hotfx fills it as a float, float2, float3 or float4; it reads 0\n"
                      "Load Shader.\n" + slots_line);
    EXPECT_TRUE(inputs_failed());
    EXPECT_TRUE(draw_scene());
    EXPECT_THAT(standin_calls("device->SetVertexShaderConstantF"), ElementsAre("device->SetVertexShaderConstantF(0, shader_constants, 64)"));
    EXPECT_THAT(standin_calls("device->SetTexture"), IsEmpty());
    release_shaders();
}

// A frame binds only what changed, so what each sampler holds is followed through the calls of
// several frames: at every draw, the target drawn into is bound at no sampler, and each
// sampler that a stage reads a pass through holds that pass's last picture.
struct pass_binding_row {
    const char* what;
    bool reads_itself;
};

struct pass_bindings : shaders, ::testing::WithParamInterface<pass_binding_row> {};

TEST_P(pass_bindings, no_draw_reads_its_own_target_and_each_reads_the_latest_picture)
{
    use_named_inputs(true);
    const D3DXCONSTANT_DESC p0_at_1 = {"p0", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1};
    const D3DXCONSTANT_DESC p0_at_0 = {"p0", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1};
    pixel_compile().constants = {p0_at_1};
    standin().script.compile["ps_p0"].constants.clear();
    if (GetParam().reads_itself)
        standin().script.compile["ps_p0"].constants = {p0_at_0};
    EXPECT_EQ(load(), "Load Shader.\nPasses in order: p0\nSlots: vs_main 1, p0 1, ps_main 1 of 512\n");
    ASSERT_EQ(drawn_set()->pass_count, 2);
    std::map<std::string, std::string> held;
    std::string target;
    size_t seen = standin().calls.size();
    for (int frame = 0; frame < 4; frame++) {
        std::string latest = standin_name_of(*pass_texture(1));
        EXPECT_TRUE(draw_scene());
        std::string drawn_into = standin_name_of(*pass_texture(1));
        int draws = 0;
        for (const std::string& call : std::vector<std::string>(standin().calls.begin() + seen, standin().calls.end())) {
            char sampler[16], texture[64];
            if (sscanf(call.c_str(), "device->SetTexture(%15[^,], %63[^)])", sampler, texture) == 2)
                held[sampler] = texture;
            if (call.compare(0, 22, "device->DrawPrimitiveU") != 0)
                continue;
            // The pass draws into its target, then ps_main into the picture.
            target = draws == 0 ? drawn_into : "the picture";
            for (const auto& sampler_texture : held)
                EXPECT_NE(sampler_texture.second, target) << "frame " << frame << ", sampler " << sampler_texture.first;
            if (draws++ == 0) {
                if (GetParam().reads_itself) {
                    EXPECT_EQ(held["0"], latest) << "frame " << frame;
                }
            } else {
                EXPECT_EQ(held["1"], drawn_into) << "frame " << frame;
            }
        }
        EXPECT_EQ(draws, 2) << "frame " << frame;
        seen = standin().calls.size();
    }
    release_shaders();
}

const pass_binding_row pass_binding_rows[] = {{"a pass that reads itself", true}, {"a pass that reads nothing", false}};

void PrintTo(const pass_binding_row& row, std::ostream* out)
{
    *out << row.what;
}

INSTANTIATE_TEST_SUITE_P(shaders, pass_bindings, ::testing::ValuesIn(pass_binding_rows));

}  // namespace
