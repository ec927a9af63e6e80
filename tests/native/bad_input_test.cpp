// What a shader author can leave in "main.fx", seen from hotfx: the stand-in does not read
// the file, so each row scripts what the compiler hands back for it. Where Wine 10's
// d3dx9_43 answers, the answer is the one it gave for that file (tests/e2e/test_bad_input.py
// runs the same files for real); its messages end in a line feed and no zero byte.
#include "program.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const HRESULT invalid_data = (HRESULT)0x88760B59;  // D3DXERR_INVALIDDATA: the file can't be read

compile_result unreadable_file()
{
    compile_result result;
    result.status = invalid_data;
    result.code = false;
    return result;
}

compile_result out_of_memory()
{
    compile_result result;
    result.status = E_OUTOFMEMORY;
    result.code = false;
    return result;
}

compile_result wine_error(const std::string& text)
{
    compile_result result = compile_error(text);
    result.terminated = false;
    return result;
}

compile_result wine_warning(const std::string& text)
{
    compile_result result;
    result.messages = true;
    result.text = text;
    result.terminated = false;
    return result;
}

// Sixteen thousand undeclared identifiers, one report each: 1.1 MB.
std::string megabyte_of_errors()
{
    std::string text;
    for (int i = 0; i < 16000; ++i)
        text += "main.fx:" + std::to_string(i + 21) + ":29: E5005: Identifier \"undeclared_" +
                std::to_string(i) + "\" is not declared.\n";
    return text;
}

const std::string megabyte = megabyte_of_errors();
const std::string no_vs_main = "main.fx: E5005: Entry point \"vs_main\" is not defined.\n";
const std::string no_ps_main = "main.fx: E5005: Entry point \"ps_main\" is not defined.\n";
const std::string quoted_bytes = std::string("main.fx:1:2: E5000: unexpected \"\xfe\x01") + '\0' + "\x9b\x80\"\n";

struct bad_file {
    const char* what;
    compile_result vertex, pixel;
    std::string printed;       // by the load
    std::string each_frame;    // by every frame after it
    bool vertex_shader_made, pixel_shader_made;
};

const std::string both_missing = "Error : Vshader\nError : Pshader\n";
const std::string pixel_missing = "Error : Pshader\n";

const bad_file bad_files[] = {
    {"missing", unreadable_file(), {},
     "Error : main.fx: vs_main (vs_3_0) failed to compile, status 0x88760B59, no message from the compiler\n",
     both_missing, false, false},
    {"a folder", unreadable_file(), {},
     "Error : main.fx: vs_main (vs_3_0) failed to compile, status 0x88760B59, no message from the compiler\n",
     both_missing, false, false},
    {"empty", wine_error(no_vs_main), {}, "Error : " + no_vs_main + "\n", both_missing, false, false},
    {"random bytes with zero bytes", wine_error(no_vs_main), {}, "Error : " + no_vs_main + "\n", both_missing,
     false, false},
    // A compiler that quotes the bytes: the text ends at its first zero byte.
    {"random bytes quoted in the message", wine_error(quoted_bytes), {},
     "Error : main.fx:1:2: E5000: unexpected \"\xfe\x01\n", both_missing, false, false},
    {"50 MB of functions, the compiler out of memory", out_of_memory(), {},
     "Error : main.fx: vs_main (vs_3_0) failed to compile, status 0x8007000E, no message from the compiler\n",
     both_missing, false, false},
    // Wine's compiler never returns from this one; a compiler that limits the depth says so.
    {"including itself", compile_error("main.fx(1,10): error: #include nested too deeply\n"), {},
     "Error : main.fx(1,10): error: #include nested too deeply\n\n", both_missing, false, false},
    {"including a file that does not exist", wine_error("main.fx:1:1: E4002: Failed to open \"nothere.fxh\".\n"),
     {}, "Error : main.fx:1:1: E4002: Failed to open \"nothere.fxh\".\n\n", both_missing, false, false},
    {"a megabyte of messages", wine_error(megabyte), {}, "Error : " + megabyte + "\n", both_missing, false, false},
    {"a megabyte of messages with its zero byte", compile_error(megabyte), {}, "Error : " + megabyte + "\n",
     both_missing, false, false},
    {"only vs_main", {}, wine_error(no_ps_main), "Error : " + no_ps_main + "\n", pixel_missing, true, false},
    {"only ps_main", wine_error(no_vs_main), {}, "Error : " + no_vs_main + "\n", both_missing, false, false},
    {"warnings only", wine_warning("main.fx:19:8: W5300: Implicit truncation of vector type.\n"),
     wine_warning("main.fx:19:8: W5300: Implicit truncation of vector type.\n"), "Load Shader.\n", "", true, true},
    {"gone between the vertex and the pixel compile", {}, unreadable_file(),
     "Error : main.fx: ps_main (ps_3_0) failed to compile, status 0x88760B59, no message from the compiler\n",
     pixel_missing, true, false},
};

void PrintTo(const bad_file& row, std::ostream* out)
{
    *out << row.what;
}

struct bad_input : program_test, ::testing::WithParamInterface<bad_file> {
    void SetUp() override
    {
        program_test::SetUp();
        make_device();
    }
};

TEST_P(bad_input, prints_the_compiler_answer_keeps_running_and_loads_the_next_good_file)
{
    const bad_file& row = GetParam();
    standin().script.compile["vs_main"] = row.vertex;
    standin().script.compile["ps_main"] = row.pixel;

    EXPECT_EQ(captured(load_shaders), row.printed);
    EXPECT_EQ(drawn_vertex_shader() != nullptr, row.vertex_shader_made);
    EXPECT_EQ(drawn_pixel_shader() != nullptr, row.pixel_shader_made);
    std::vector<std::string> live = {"d3d", "device"};
    if (row.vertex_shader_made)
        live.push_back("vs1");
    if (row.pixel_shader_made)
        live.push_back("ps1");
    EXPECT_EQ(standin_live_objects(), live) << "no compiler buffer outlives the load";

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(captured(render_frame), row.each_frame);
    EXPECT_EQ(standin_calls("device->Present").size(), 3u);

    // The author fixes the file and presses F5.
    standin().script.compile.clear();
    standin().script.key_polls[VK_F5] = {1};
    EXPECT_EQ(captured(render_frame), "Load Shader.\n");
    EXPECT_NE(drawn_vertex_shader(), nullptr);
    EXPECT_NE(drawn_pixel_shader(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(main_fx, bad_input, ::testing::ValuesIn(bad_files), row_name<bad_file>);

struct editor_saves : program_test {
    void SetUp() override
    {
        program_test::SetUp();
        make_device();
    }
    // One frame, with F5 seen down in it or not.
    std::string frame(bool f5)
    {
        standin().script.key_polls[VK_F5] = {SHORT(f5 ? 0x8000 : 0)};
        return captured(render_frame);
    }
};

// An editor writes a temporary file and renames it over main.fx; one that deletes first
// leaves a moment with no file. Each F5 compiles what is there at that moment.
TEST_F(editor_saves, each_f5_compiles_the_file_as_it_stands_then)
{
    std::deque<compile_result>& vs = standin().script.compile_queue["vs_main"];
    std::deque<compile_result>& ps = standin().script.compile_queue["ps_main"];
    const std::string syntax_error = "main.fx:12:5: E5000: syntax error, unexpected '}'\n";
    vs = {compile_result(), wine_error(syntax_error), unreadable_file(), compile_result()};
    ps = {compile_result(), compile_result()};

    std::vector<std::string> printed;
    for (bool f5 : {true, false, true, false, true, false, true, false})
        printed.push_back(frame(f5));
    EXPECT_THAT(printed, ElementsAre("Load Shader.\n", "",
                                     "Error : " + syntax_error + "\n" + both_missing, both_missing,
                                     "Error : main.fx: vs_main (vs_3_0) failed to compile, status 0x88760B59, "
                                     "no message from the compiler\n" + both_missing,
                                     both_missing, "Load Shader.\n", ""));
    EXPECT_EQ(standin_name_of(drawn_vertex_shader()), "vs2");
    EXPECT_EQ(standin_name_of(drawn_pixel_shader()), "ps2");
    EXPECT_THAT(vs, IsEmpty());
    EXPECT_THAT(ps, IsEmpty());
}

}  // namespace
