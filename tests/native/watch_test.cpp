#include <functional>

#include "program.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const char shader_text[] = "#include \"common.hlsli\"\nfloat4 ps_main() : COLOR0 { return 1; }\n";
const char other_text[] = "#include \"common.hlsli\"\nfloat4 ps_main() : COLOR0 { return 0.5; }\n";

// A device with shaders loaded from main.fx, and the folder watched since before that load.
struct watch : program_test {
    void SetUp() override
    {
        program_test::SetUp();
        make_device();
        use_options(true, true);
        standin().folder.files["main.fx"].bytes = shader_text;
        start_watching();
        captured(load_shaders);
        frame();
        standin().calls.clear();
    }
    void TearDown() override
    {
        stop_watching();
        program_test::TearDown();
    }
    // One frame, the clock having moved on by ms first; what it printed.
    std::string frame(DWORD ms = 16)
    {
        standin().folder.now += ms;
        return captured(render_frame);
    }
    // Frames for ms milliseconds; how many of them reloaded.
    int reloads_within(DWORD ms, DWORD frame_ms = 16)
    {
        int reloads = 0;
        for (DWORD spent = 0; spent < ms; spent += frame_ms) {
            std::string printed = frame(frame_ms);
            EXPECT_THAT(printed, ::testing::AnyOf("", "Load Shader.\n" + slots_line)) << "at " << spent << " ms";
            reloads += printed == "Load Shader.\n" + slots_line;
        }
        return reloads;
    }
};

TEST_F(watch, an_idle_frame_only_looks_at_the_notification_without_waiting)
{
    frame();
    std::vector<std::string> expected = frame_calls;
    expected.insert(expected.begin() + 1, "WaitForSingleObject(change, 0)");
    EXPECT_EQ(standin().calls, expected);
}

TEST_F(watch, a_save_reloads_once_when_the_folder_has_been_quiet_for_20_ms)
{
    standin_write("main.fx", other_text);
    EXPECT_EQ(frame(), "");
    EXPECT_THAT(standin_calls("FindNextChangeNotification"), ElementsAre("FindNextChangeNotification(change)"));
    EXPECT_EQ(frame(19), "") << "19 ms after the change";
    EXPECT_EQ(frame(1), "Load Shader.\n" + slots_line) << "20 ms after the change";
    EXPECT_EQ(reloads_within(1000), 0);
    EXPECT_THAT(standin().folder.open, IsEmpty()) << "every file and search closed";
}

TEST_F(watch, writes_closer_than_the_quiet_window_make_one_save)
{
    standin_write("main.fx", "float4 ps_main");
    for (int write = 0; write < 5; write++) {
        EXPECT_EQ(frame(15), "");
        standin_write("main.fx", standin().folder.files["main.fx"].bytes + " ");
    }
    standin_write("main.fx", other_text);
    EXPECT_EQ(reloads_within(1000, 5), 1);
    EXPECT_EQ(standin_calls("D3DXCompileShaderFromFileA").size(), 2u);
}

// Each editor's save, step by step, a few milliseconds apart; then frames for a second.
struct save_row {
    const char* what;
    std::function<void()> steps[5];
    int reloads;
};

void PrintTo(const save_row& row, std::ostream* out)
{
    *out << row.what;
}

const save_row saves[] = {
    {"written in place", {[] { standin_write("main.fx", other_text); }}, 1},
    {"truncated then written", {[] { standin_write("main.fx", ""); }, [] { standin_write("main.fx", other_text); }}, 1},
    {"a temporary file renamed over",
     {[] { standin_write(".goutputstream-Q2XJ3Z", other_text); }, [] { standin_rename(".goutputstream-Q2XJ3Z", "main.fx"); }}, 1},
    {"Kate's copy renamed over",
     {[] { standin_write("main.fx.aBc123", other_text); }, [] { standin_rename("main.fx.aBc123", "main.fx"); }}, 1},
    {"JetBrains' copies",
     {[] { standin_write("main.fx___jb_tmp___", other_text); }, [] { standin_rename("main.fx", "main.fx___jb_old___"); },
      [] { standin_rename("main.fx___jb_tmp___", "main.fx"); }, [] { standin_remove("main.fx___jb_old___"); }}, 1},
    {"Visual Studio's copies",
     {[] { standin_write("main.fx~RF4a1b2c.TMP", other_text); }, [] { standin_rename("main.fx", "main.fx~RF4a1b3d.TMP"); },
      [] { standin_rename("main.fx~RF4a1b2c.TMP", "main.fx"); }, [] { standin_remove("main.fx~RF4a1b3d.TMP"); }}, 1},
    {"deleted then written", {[] { standin_remove("main.fx"); }, [] { standin_write("main.fx", other_text); }}, 1},
    {"an included file", {[] { standin_write("common.HLSLI", "float4 tint;"); }}, 1},
    {"unchanged bytes", {[] { standin_write("main.fx", shader_text); }}, 0},
    {"unchanged, renamed over",
     {[] { standin_write("main.fx.tmp", shader_text); }, [] { standin_rename("main.fx.tmp", "main.fx"); }}, 0},
    {"editors' swap, lock and backup files",
     {[] { standin_write(".main.fx.swp", other_text); }, [] { standin_write("main.fx~", other_text); },
      [] { standin_write("#main.fx#", other_text); }, [] { standin_write(".#main.fx", other_text); },
      [] { standin_write("~$main.fx", other_text); }}, 0},
    {"vim's write test and a picture hotfx doesn't read",
     {[] { standin_write("4913", ""); }, [] { standin_remove("4913"); }, [] { standin_write("shot.gif", "GIF"); }}, 0},
    {"emptied", {[] { standin_write("main.fx", ""); }}, 0},
    {"removed", {[] { standin_remove("main.fx"); }}, 0},
};

struct editor_save : watch, ::testing::WithParamInterface<save_row> {};

TEST_P(editor_save, reloads_once_if_anything_that_counts_changed)
{
    for (auto& step : GetParam().steps) {
        if (!step)
            break;
        step();
        EXPECT_EQ(frame(3), "");
    }
    EXPECT_EQ(reloads_within(1000), GetParam().reloads);
}

INSTANTIATE_TEST_SUITE_P(editors, editor_save, ::testing::ValuesIn(saves), row_name<save_row>);

TEST_F(watch, an_emptied_shader_waits_for_the_write_that_follows)
{
    standin_write("main.fx", "");
    EXPECT_EQ(reloads_within(200), 0);
    standin_write("main.fx", other_text);
    EXPECT_EQ(reloads_within(200), 1);
}

TEST_F(watch, a_shader_held_by_another_program_is_tried_again_after_pauses_and_never_reported)
{
    standin().folder.files["main.fx"].locked = true;
    standin_write("main.fx", other_text);
    EXPECT_EQ(reloads_within(3000), 0);
    size_t tries = standin_calls("CreateFileA(\"main.fx\"").size();
    EXPECT_TRUE(tries >= 3000 / 100 && tries <= 3000 / 50) << tries << " tries in 188 frames";
    standin().folder.files["main.fx"].locked = false;
    EXPECT_EQ(reloads_within(64), 1) << "without a change after the release";
    EXPECT_EQ(reloads_within(200), 0);
}

// Images that samplers a and b read: a is held by another program at the load, b from a later
// save on. Neither is waited for once said.
TEST_F(watch, a_file_held_at_a_load_is_never_waited_for_and_each_held_file_is_said_and_waited_for_once)
{
    standin().script.compile["ps_main"].constants = {{"a", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
                                                     {"b", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1}};
    standin().folder.files["a.png"] = {"PNG", true};
    standin().folder.files["b.png"].bytes = "PNG";
    standin().script.key_polls[VK_F5] = {1};
    EXPECT_EQ(frame(), "Error : sampler a: can't open a.png (error 32); it reads black\nLoad Shader.\n" + slots_line);
    standin_write("notes.txt", "x");
    EXPECT_EQ(reloads_within(200), 0) << "a.png, held since the load, has nothing new";
    standin().folder.files["b.png"].locked = true;
    standin_write("main.fx", other_text);
    EXPECT_EQ(reloads_within(960), 0);
    EXPECT_EQ(frame(100), "Error : b.png is held by another program; reloading without waiting for it\n"
                          "Error : sampler a: can't open a.png (error 32); it reads black\n"
                          "Error : sampler b: can't open b.png (error 32); it reads black\nLoad Shader.\n" + slots_line);
    standin_write("main.fx", shader_text);
    EXPECT_THAT(frame() + frame() + frame(), ::testing::EndsWith("Load Shader.\n" + slots_line)) << "without waiting for either";
}

// The files the last load read count, and nothing else: an image, a sound or a cube map a sampler
// reads (there or not), and what main.fx includes.
TEST_F(watch, only_what_the_last_load_read_counts_from_that_load_on)
{
    standin().folder.files["Stone.png"].bytes = standin().folder.files["sky.dds"].bytes = "PNG";
    const std::string wav = std::string("RIFF\x26\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\x02\0\0\0", 44);
    standin().folder.files["music.wav"].bytes = wav + std::string(2, '\0');
    standin().script.compile["ps_main"].constants = {{"stone", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
                                                     {"moss", D3DXRS_SAMPLER, 1, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
                                                     {"music", D3DXRS_SAMPLER, 2, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
                                                     {"sky", D3DXRS_SAMPLER, 3, 1, D3DXPC_OBJECT, D3DXPT_SAMPLERCUBE, 1, 1, 1}};
    standin_write("main.fx", other_text);
    EXPECT_THAT(frame() + frame() + frame(), ::testing::EndsWith("Load Shader.\n" + slots_line));
    for (const char* unread : {"screenshot.png", "stone.jpg", "other.wav", "sky.png", "sky.wav"}) {
        standin_write(unread, "PNG");
        EXPECT_EQ(reloads_within(200), 0) << unread;
    }
    for (const char* read : {"moss.JPEG", "music.wav", "common.hlsli", "STONE.png", "Sky.dds"}) {
        standin_write(read, std::string(read) == "music.wav" ? wav + std::string("\x01\0", 2) : "PNG!");
        EXPECT_EQ(reloads_within(200), 1) << read;
    }
}

// hotfx's own output, or anything else, written into the folder as it starts.
TEST_F(watch, a_write_just_after_start_reloads_nothing)
{
    stop_watching();
    start_watching();
    captured(load_shaders);
    standin_write("hotfx.log", "Load Shader.\n");
    EXPECT_EQ(reloads_within(500), 0);
}

TEST_F(watch, f5_still_reloads_beside_it)
{
    standin().script.key_polls[VK_F5] = {1};
    EXPECT_EQ(frame(), "Load Shader.\n" + slots_line);
    EXPECT_EQ(reloads_within(200), 0);
}

TEST_F(watch, a_removed_folder_reloads_nothing_and_says_nothing)
{
    standin().folder.gone = true;
    standin_write("main.fx", other_text);
    EXPECT_EQ(reloads_within(200), 0);
    standin().folder.gone = false;
    standin_write("main.fx", other_text);
    EXPECT_EQ(reloads_within(200), 1);
}

TEST_F(watch, a_notification_that_cannot_be_armed_again_ends_watching_with_one_line)
{
    standin().folder.rearm_fails = true;
    standin_write("main.fx", other_text);
    EXPECT_EQ(frame(), "Error : stopped watching this folder for saves (error 5); F5 still reloads\n");
    EXPECT_FALSE(standin().folder.watched);
    standin().calls.clear();
    EXPECT_EQ(reloads_within(200), 0);
    EXPECT_THAT(standin_calls("WaitForSingleObject"), IsEmpty());
}

struct watch_run : program_test {};

TEST_F(watch_run, watches_from_before_the_first_load_until_shutdown)
{
    standin().folder.files["main.fx"].bytes = shader_text;
    standin().script.idle_peeks_before_quit = 3;
    std::string printed;
    EXPECT_EQ(run_main(&printed, {"hotfx.exe", "--watch"}), 0);
    EXPECT_EQ(printed, "Load Shader.\n" + slots_line);
    auto& calls = standin().calls;
    auto at = [&](const std::string& call) { return std::find(calls.begin(), calls.end(), call) - calls.begin(); };
    auto compile = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
        return call.compare(0, 37, "D3DXCompileShaderFromFileA(\"main.fx\"") == 0;
    });
    EXPECT_LT(at("FindFirstChangeNotificationA(\".\", 1, 0x19)"), compile - calls.begin());
    EXPECT_LT(at("FindCloseChangeNotification(change)"), at("vs1->Release()"));
    EXPECT_EQ(at("FindCloseChangeNotification(change)"), (long)calls.size() - 5) << "before the shaders go";
    watch_folder = false;
}

TEST_F(watch_run, a_folder_that_cannot_be_watched_says_so_and_f5_still_works)
{
    standin().folder.notification_fails = true;
    standin().script.idle_peeks_before_quit = 3;
    standin().script.key_polls[VK_F5] = {0, 1};
    std::string printed;
    EXPECT_EQ(run_main(&printed, {"hotfx.exe", "--watch"}), 0);
    EXPECT_EQ(printed, "Error : can't watch this folder for saves (error 5); F5 still reloads\n"
                       "Load Shader.\n" + slots_line + "Load Shader.\n" + slots_line);
    EXPECT_THAT(standin_calls("WaitForSingleObject"), IsEmpty());
    watch_folder = false;
}

TEST_F(watch_run, without_the_option_no_file_or_folder_is_looked_at)
{
    standin().folder.files["main.fx"].bytes = shader_text;
    standin().script.idle_peeks_before_quit = 5;
    std::string printed;
    EXPECT_EQ(run_main(&printed), 0);
    for (const char* call : {"Find", "WaitFor", "GetTickCount", "CreateFile", "ReadFile", "CloseHandle", "GetLastError"})
        EXPECT_THAT(standin_calls(call), IsEmpty()) << call;
}

}  // namespace

// level, a global of ps_main's, at 0.5 from main.values, loaded with the folder watched.
const float quarter = 0.25f;
struct values_watch : watch {
    void SetUp() override
    {
        watch::SetUp();
        standin().script.compile["ps_main"].constants = {
            {"level", D3DXRS_FLOAT4, 1, 1, D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1, 1, 0, 4, &quarter}};
        standin().folder.files["main.values"].bytes = "level = 0.5\n";
        standin().script.key_polls[VK_F5] = {1};
        frame();
    }
    global& level() { return drawn_set()->globals[0]; }
    void move_level(float to)
    {
        level().value[0] = to;
        tune(&level());
    }
    void fail_next_compile()
    {
        standin().script.compile_queue["ps_main"].push_back({E_FAIL, false, true, "main.fx(2): error X3000: syntax error\n", true, {}});
    }
    std::string values() { return standin().folder.files["main.values"].bytes; }
};

TEST_F(values_watch, a_hand_edit_saved_beside_a_broken_shader_applies_and_no_control_save_writes_over_it)
{
    ASSERT_EQ(level().value[0], 0.5f);
    // Save All: the values by hand and main.fx with a typo, in one go.
    standin_write("main.values", "level = 0.75 # by hand\n");
    fail_next_compile();
    standin_write("main.fx", other_text);
    EXPECT_THAT(frame() + frame() + frame(), ::testing::HasSubstr("error X3000"));
    EXPECT_EQ(level().value[0], 0.75f) << "on the shaders that draw on";
    standin().calls.clear();
    move_level(0.5f);
    reloads_within(300);
    EXPECT_EQ(values(), "level = 0.5 # by hand\n");
    const auto& calls = standin().calls;
    EXPECT_LT(std::find(calls.begin(), calls.end(), "FlushFileBuffers(file)"),
              std::find(calls.begin(), calls.end(), "MoveFileExA(\"main.values.new\", \"main.values\", 9)"));

    // A hand's edit saved after a control's move that hotfx hasn't written yet: the hand's stands.
    move_level(0.25f);
    standin_write("main.values", "level = 1 # later\n");
    reloads_within(300);
    EXPECT_EQ(level().value[0], 1.0f);
    EXPECT_EQ(values(), "level = 1 # later\n");

    // Where the folder isn't watched, F5's failed load reads it likewise.
    stop_watching();
    standin_write("main.values", "level = 0.125\n");
    fail_next_compile();
    standin().script.key_polls[VK_F5] = {1};
    frame();
    EXPECT_EQ(level().value[0], 0.125f);
    move_level(0.375f);
    reloads_within(300);
    EXPECT_EQ(values(), "level = 0.375\n");
    // Nor is one that F5's load couldn't read read again behind it once it can be.
    standin_write("main.values", "level = 0.625\n");
    standin().folder.files["main.values"].denied = true;
    standin().script.key_polls[VK_F5] = {1};
    frame();
    standin().folder.files["main.values"].denied = false;
    reloads_within(300);
    EXPECT_EQ(level().value[0], 0.375f);
}

// Held by another program, then denied: said, the values kept, and read once it can be, with
// no write in the folder to tell.
TEST_F(values_watch, an_unreadable_file_keeps_the_values_and_is_read_again_once_it_can_be)
{
    move_level(0.625f);
    standin().folder.files["main.values"].locked = true;
    standin_write("main.values", "level = 0.75\n");
    std::string printed;
    for (int i = 0; i < 80; i++)
        printed += frame();
    EXPECT_EQ(printed, "Error : main.values is held by another program; reloading without waiting for it\n"
                       "Error : main.values: held by another program (error 32); the values read before stay\n");
    EXPECT_EQ(level().value[0], 0.625f);
    EXPECT_EQ(values(), "level = 0.75\n") << "no save over a file hotfx couldn't read";
    standin().folder.files["main.values"].locked = false;
    standin().folder.files["main.values"].denied = true;
    standin().script.key_polls[VK_F5] = {1};
    EXPECT_EQ(frame(), "Error : main.values: access denied (error 5); the values read before stay\nLoad Shader.\n" + slots_line);
    EXPECT_EQ(level().value[0], 0.625f);
    standin().folder.files["main.values"].denied = false;
    reloads_within(300);
    EXPECT_EQ(level().value[0], 0.75f) << "the hand's line, written after the move";
}
