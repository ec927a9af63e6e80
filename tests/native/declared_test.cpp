// The tokenizer that reads what main.fx declares beside its code, and main.values' parser.
#include "program.h"

namespace {

const char source[] = R"(#line 1 "main.fx"
/* float fake < string UIName = "no"; > = 1; */ // float fake2 = 2;
static const float pi = 3.14159, tau = 6.28318;
matrix<float, 4, 4> view;
technique T < string UIName = "not a global"; > { pass P { } }
float speed < string UIName = "Speed {fast}"; float UIMin = 4; float UIMax = -2e0; float UIStep = 0.5; int other = 3; > = 1.5;
float3 tint < string UIWidget = "Color"; > : register(c3);
struct vs_out { float4 position : POSITION0; float plain; };
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0 { float inside = uv.x < 0.5 ? 1 : 2; { if (inside > 1) inside = 0; } return inside; }
sampler2D photo = sampler_state { Texture = <photo_texture>; Filter = MIN_POINT_MAG_LINEAR_MIP_POINT; addressu = CLAMP;
                                  BorderColor = float4(1, 0, 0.5, 1); MipMapLodBias = -5e-1; };
float after;
)";

TEST(declared, the_tokenizer_reads_globals_their_annotations_and_sampler_states_past_comments_and_code)
{
    static shader_set set;
    set.setting_count = 0;
    EXPECT_TRUE(read_declarations(source, &set));
    EXPECT_EQ(declared("fake"), nullptr);
    EXPECT_EQ(declared("fake2"), nullptr);
    EXPECT_EQ(declared("inside"), nullptr);
    EXPECT_EQ(declared("plain"), nullptr);
    ASSERT_NE(declared("tau"), nullptr);
    ASSERT_NE(declared("view"), nullptr);
    EXPECT_FALSE(declared("view")->annotations.annotated);
    EXPECT_TRUE(declared("pi")->initialised && declared("tau")->initialised);
    const declaration* speed = declared("speed");
    ASSERT_NE(speed, nullptr);
    EXPECT_TRUE(speed->initialised && speed->annotations.annotated && !speed->annotations.colour);
    EXPECT_STREQ(speed->annotations.label, "Speed {fast}");
    EXPECT_EQ(speed->annotations.low, -2);
    EXPECT_EQ(speed->annotations.high, 4);
    EXPECT_EQ(speed->annotations.step, 0.5f);
    const declaration* tint = declared("tint");
    ASSERT_NE(tint, nullptr);
    EXPECT_TRUE(!tint->initialised && tint->annotations.colour && tint->annotations.high == 1);
    EXPECT_STREQ(tint->annotations.label, "tint");
    ASSERT_NE(declared("after"), nullptr);
    EXPECT_FALSE(declared("after")->annotations.annotated);

    float bias = -0.5f;
    DWORD bias_bits;
    memcpy(&bias_bits, &bias, sizeof bias_bits);
    const std::vector<std::tuple<std::string, int, DWORD>> expected = {
        {"photo", D3DSAMP_MINFILTER, D3DTEXF_POINT},         {"photo", D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
        {"photo", D3DSAMP_MIPFILTER, D3DTEXF_POINT},         {"photo", D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP},
        {"photo", D3DSAMP_BORDERCOLOR, 0xFFFF0080},          {"photo", D3DSAMP_MIPMAPLODBIAS, bias_bits},
    };
    std::vector<std::tuple<std::string, int, DWORD>> settings;
    for (int i = 0; i < set.setting_count; i++)
        settings.emplace_back(set.settings[i].sampler, set.settings[i].state, set.settings[i].value);
    EXPECT_EQ(settings, expected);
}

struct values : program_test {};

TEST_F(values, each_bad_line_is_said_with_its_number_and_the_rest_apply)
{
    static shader_set set;
    static global globals[3];
    static float initial_values[3][1][4];
    set.globals = globals;
    set.global_count = 3;
    auto make = [](global* g, const char* name, bool boolean, std::vector<float> initial) {
        memset(g, 0, sizeof *g);
        g->initial = initial_values[g - globals];
        strcpy(g->name, name);
        g->boolean = boolean;
        g->components = (BYTE)initial.size();
        std::copy(initial.begin(), initial.end(), g->initial[0]);
    };
    make(&set.globals[0], "gain", false, {0.5f});
    make(&set.globals[1], "tint", false, {0.25f, 0.5f, 0.75f});
    make(&set.globals[2], "flip", true, {1});
    standin().folder.files["main.values"].bytes =
        "# tuned by hand\r\n"
        "tint = 1 0\n"
        "gain=0.25   # quieter\n"
        "speed = nan\n"
        "flip = 2\n"
        "  \n"
        "gone = 1 2 3 4\n"
        "= 3";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(read_values(&set));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Error : main.values:4: not a finite number; the line is left out\n"
              "Error : main.values:8: expected NAME = NUMBERS; the line is left out\n"
              "Error : main.values:2: tint has 2 numbers here and 3 in main.fx; it keeps its initial value\n");
    EXPECT_EQ(set.globals[0].value[0], 0.25f);
    EXPECT_TRUE(set.globals[0].set);
    EXPECT_EQ(set.globals[1].value[0], 0.25f);
    EXPECT_FALSE(set.globals[1].set);
    EXPECT_EQ(set.globals[2].value[0], 1);
}

// More than any fixed table held: 13 samplers of 5 states each, and a pixel stage of 40 globals
// in c1 to c103, the last an array of 64 registers from c40. Each is read, and the stage
// uploads its registers up to the last.
TEST_F(values, every_global_of_a_stage_and_every_sampler_state_is_read_however_many)
{
    static shader_set set;
    std::string samplers;
    for (int s = 0; s < 13; s++)
        samplers += "sampler2D s" + std::to_string(s) + " = sampler_state { MinFilter = Point; MagFilter = Point; "
                    "MipFilter = None; AddressU = Clamp; AddressV = Clamp; };\n";
    EXPECT_TRUE(read_declarations(samplers.c_str(), &set));
    ASSERT_EQ(set.setting_count, 65);
    EXPECT_EQ(std::make_tuple(std::string(set.settings[64].sampler), set.settings[64].state, set.settings[64].value),
              std::make_tuple(std::string("s12"), D3DSAMP_ADDRESSV, (DWORD)D3DTADDRESS_CLAMP));
    static std::string names[40];  // beside their initial values, which the table points to
    static float initial[104][4];
    for (int r = 1; r < 104; r++)
        initial[r][0] = (float)r;
    auto& constants = standin().script.compile["ps_main"].constants;
    for (int r = 1; r < 41; r++)
        constants.push_back({(names[r - 1] = "g" + std::to_string(r)).c_str(), D3DXRS_FLOAT4, (UINT)r, r < 40 ? 1u : 64u,
                             D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4, r < 40 ? 1u : 64u, 0, 0, initial[r]});
    make_device();
    use_named_inputs(true);
    EXPECT_EQ(captured(load_shaders), "Load Shader.\n" + slots_line);
    ASSERT_TRUE(draw_scene());
    EXPECT_THAT(standin_calls("device->SetPixelShaderConstantF"), testing::ElementsAre(testing::EndsWith(", 104)")));
    for (int r = 1; r < 104; r++)
        EXPECT_EQ(standin().pixel_constants[4 * r], r) << "c" << r;
}

// A set of one global, level, at its initial value 0.
void one_global(shader_set* set)
{
    ASSERT_TRUE(make_room(&set->globals, &set->global_room, 1));
    memset(&set->globals[0], 0, sizeof set->globals[0]);
    strcpy(set->globals[0].name, "level");
    set->globals[0].components = 1;
    set->global_count = 1;
}

// Each character as two bytes, low first or high first.
std::string utf16(const std::string& latin1, bool big_endian)
{
    std::string wide;
    for (unsigned char c : latin1)
        wide += big_endian ? std::string(1, '\0') + char(c) : std::string(1, char(c)) + '\0';
    return wide;
}

TEST_F(values, utf16_either_way_round_and_zero_bytes_are_read_as_text_and_kept_byte_for_byte)
{
    static shader_set set;
    for (bool big_endian : {false, true}) {
        const std::string mark = big_endian ? "\xFE\xFF" : "\xFF\xFE";
        standin().folder.files["main.values"].bytes = mark + utf16("# r\xE9glage\r\nlevel = 2 # \xFC\r\n", big_endian);
        one_global(&set);
        EXPECT_TRUE(read_values(&set));
        EXPECT_EQ(set.globals[0].value[0], 2);
        set.globals[0].value[0] = 3;
        tune(&set.globals[0]);
        strcpy(set.globals[0].name, "gain");
        tune(&set.globals[0]);
        save_values();
        EXPECT_EQ(standin().folder.files["main.values"].bytes,
                  mark + utf16("# r\xE9glage\r\nlevel = 3 # \xFC\r\ngain = 3\r\n", big_endian));
    }
    const std::string zeros("level = 2\nnote = 1\0 2\n# \0\n", 26);
    standin().folder.files["main.values"].bytes = zeros;
    one_global(&set);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(read_values(&set));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error : main.values:2: a zero byte; the line is left out\n");
    set.globals[0].value[0] = 3;
    tune(&set.globals[0]);
    save_values();
    EXPECT_EQ(standin().folder.files["main.values"].bytes, "level = 3" + zeros.substr(9));
}

// A file that has outlived many globals: its 70 old names stay, and more are added.
TEST_F(values, seventy_names_no_longer_declared_leave_room_for_the_declared_ones)
{
    static shader_set set;
    std::string lines;
    for (int i = 0; i < 70; i++)
        lines += "old" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    standin().folder.files["main.values"].bytes = lines + "level = 2\n";
    one_global(&set);
    EXPECT_TRUE(read_values(&set));
    EXPECT_EQ(set.globals[0].value[0], 2);
    set.globals[0].value[0] = 3;
    tune(&set.globals[0]);
    strcpy(set.globals[0].name, "new0");
    tune(&set.globals[0]);
    save_values();
    EXPECT_EQ(standin().folder.files["main.values"].bytes, lines + "level = 3\nnew0 = 3\n");
}

}  // namespace
