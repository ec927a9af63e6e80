#include <math.h>

#include <deque>

#include "program.h"

using ::testing::Each;
using ::testing::ElementsAreArray;

namespace {

std::string le(uint32_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; i++)
        text += char(value >> 8 * i);
    return text;
}

std::string chunk(const std::string& id, const std::string& body)
{
    return id + le(uint32_t(body.size()), 4) + body + std::string(body.size() & 1, '\0');
}

std::string fmt_body(int tag, int channels, int rate, int bits, int block = 0)
{
    block = block ? block : channels * bits / 8;
    return le(tag, 2) + le(channels, 2) + le(rate, 4) + le(uint32_t(rate) * block, 4) + le(block, 2) + le(bits, 2);
}

std::string fmt(int tag, int channels, int rate, int bits, int block = 0)
{
    return chunk("fmt ", fmt_body(tag, channels, rate, bits, block));
}

std::string extensible(int format, int channels, int bits)
{
    return chunk("fmt ", fmt_body(0xFFFE, channels, 8000, bits) + le(22, 2) + le(bits, 2) + le(3, 4) + le(format, 2) +
                             std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14));
}

std::string wave(const std::string& chunks)
{
    return "RIFF" + le(uint32_t(chunks.size() + 4), 4) + "WAVE" + chunks;
}

std::string floats(const std::vector<float>& samples)
{
    return std::string((const char*)samples.data(), samples.size() * sizeof(float));
}

std::string float_wave(const std::vector<float>& samples, int rate = 8000)
{
    return wave(fmt(3, 1, rate, 32) + chunk("data", floats(samples)));
}

struct sound : program_test {
    std::string printed;
    std::deque<track> tracks;
    void TearDown() override
    {
        for (track& loaded : tracks)
            release_sound(&loaded);
        program_test::TearDown();
    }
    // Loads NAME.wav, beat.wav holding the bytes, into a track of its own: the last.
    sound_found load(const std::string& bytes, const char* name = "beat")
    {
        standin().folder.files["beat.wav"].bytes = bytes;
        tracks.emplace_back();
        ::testing::internal::CaptureStdout();
        sound_found found = load_sound(name, &tracks.back());
        printed = ::testing::internal::GetCapturedStdout();
        return found;
    }
    std::vector<int> row(const track& sound, float time, int which)
    {
        BYTE rows[2][sound_width];
        sound_rows(&sound, time, rows);
        return std::vector<int>(rows[which], rows[which] + sound_width);
    }
};

struct format_row {
    const char* what;
    std::string file;
    std::vector<float> mono;
    std::vector<short> stereo;
};

struct read_format : sound, ::testing::WithParamInterface<format_row> {};

TEST_P(read_format, gives_the_mono_mix_and_a_16_bit_stereo_copy)
{
    ASSERT_EQ(load(GetParam().file), sound_loaded) << printed;
    EXPECT_EQ(printed, "");
    const track& t = tracks.back();
    EXPECT_THAT(std::vector<float>(t.mono, t.mono + t.frames), ElementsAreArray(GetParam().mono));
    EXPECT_THAT(std::vector<short>(t.stereo, t.stereo + 2 * t.frames), ElementsAreArray(GetParam().stereo));
}

const std::string pcm16 = le(0x8000, 2) + le(0x7FFF, 2) + le(0x4000, 2) + le(0xFFFE, 2);
const std::string pcm24 = le(0x800000, 3) + le(0x7FFFFF, 3) + le(0x400000, 3) + le(0xFFFFFF, 3);

INSTANTIATE_TEST_SUITE_P(sound, read_format, ::testing::Values(
    format_row{"8-bit mono", wave(fmt(1, 1, 8000, 8) + chunk("data", std::string("\x00\x80\xFF\x40", 4))),
               {-1, 0, 127 / 128.0f, -0.5f}, {-32768, -32768, 0, 0, 32512, 32512, -16384, -16384}},
    format_row{"16-bit stereo", wave(fmt(1, 2, 8000, 16) + chunk("data", pcm16)),
               {(-1 + 32767 / 32768.0f) / 2, (0.5f - 2 / 32768.0f) / 2}, {-32768, 32767, 16384, -2}},
    format_row{"24-bit mono", wave(fmt(1, 1, 8000, 24) + chunk("data", pcm24)),
               {-1, 8388607 / 8388608.0f, 0.5f, -1 / 8388608.0f}, {-32768, -32768, 32767, 32767, 16384, 16384, 0, 0}},
    format_row{"32-bit PCM mono", wave(fmt(1, 1, 8000, 32) + chunk("data", le(0x80000000, 4) + le(0x40000000, 4))),
               {-1, 0.5f}, {-32768, -32768, 16384, 16384}},
    format_row{"float stereo", wave(fmt(3, 2, 8000, 32) + chunk("data", floats({0.25f, -0.75f, 2, -2}))), {-0.25f, 0},
               {8192, -24576, 32767, -32768}},
    format_row{"extensible 24-bit stereo",
               wave(extensible(1, 2, 24) + chunk("data", le(0x400000, 3) + le(0xC00000, 3))), {0}, {16384, -16384}},
    format_row{"extensible float mono", wave(extensible(3, 1, 32) + chunk("data", floats({0.125f}))), {0.125f},
               {4096, 4096}},
    format_row{"16-bit mono in blocks of 4 bytes", wave(fmt(1, 1, 8000, 16, 4) + chunk("data", pcm16)), {-1, 0.5f},
               {-32768, -32768, 16384, 16384}},
    format_row{"other chunks skipped and odd sizes padded",
               wave(chunk("LIST", "abc") + fmt(1, 1, 8000, 16) + chunk("fact", "x") +
                    chunk("data", le(0x4000, 2) + "\x7F")),
               {0.5f}, {16384, 16384}}),
    row_name<format_row>);

struct bad_row {
    const char* what;
    std::string file;
    const char* why;
};

struct bad_file : sound, ::testing::WithParamInterface<bad_row> {};

TEST_P(bad_file, is_said_in_one_line_and_gives_no_track)
{
    EXPECT_EQ(load(GetParam().file), unreadable_sound);
    EXPECT_EQ(printed,
              std::string("Error : sampler beat: can't read beat.wav: ") + GetParam().why + "; it reads black\n");
}

const std::string some_data = chunk("data", std::string(8, '\0'));

INSTANTIATE_TEST_SUITE_P(sound, bad_file, ::testing::Values(
    bad_row{"empty", "", "not a RIFF WAVE file"},
    bad_row{"not RIFF", "RIFX" + wave(fmt(1, 1, 8000, 16) + some_data).substr(4), "not a RIFF WAVE file"},
    bad_row{"compressed", wave(fmt(2, 1, 8000, 4) + some_data),
            "compressed (format 0x0002); hotfx reads PCM and 32-bit float"},
    bad_row{"extensible compressed", wave(extensible(0x55, 2, 16) + some_data),
            "compressed (format 0x0055); hotfx reads PCM and 32-bit float"},
    bad_row{"12 bits", wave(fmt(1, 1, 8000, 12) + some_data), "12-bit PCM; hotfx reads 8, 16, 24 and 32 bits"},
    bad_row{"64-bit float", wave(fmt(3, 1, 8000, 64) + some_data), "64-bit float; hotfx reads 32 bits"},
    bad_row{"3 channels", wave(fmt(1, 3, 8000, 16) + some_data), "3 channels; hotfx reads mono and stereo"},
    bad_row{"rate 0", wave(fmt(1, 1, 0, 16) + some_data), "a rate of 0 samples a second; hotfx reads 1,000 to 384,000"},
    bad_row{"rate past any device", wave(fmt(1, 1, 0x7FFFFFFF, 16) + some_data),
            "a rate of 2147483647 samples a second; hotfx reads 1,000 to 384,000"},
    bad_row{"blocks smaller than a frame", wave(fmt(1, 2, 8000, 16, 2) + some_data),
            "blocks of 2 bytes, too small for one sample of each channel"},
    bad_row{"data cut short", wave(fmt(1, 1, 8000, 16)) + "data" + le(100, 4) + "0123456789", "truncated"},
    bad_row{"fmt cut short", wave("fmt " + le(16, 4) + "01234567"), "truncated"},
    bad_row{"fmt too short", wave(chunk("fmt ", fmt_body(1, 1, 8000, 16).substr(0, 14)) + some_data), "truncated"},
    bad_row{"extensible fmt too short", wave(chunk("fmt ", fmt_body(0xFFFE, 1, 8000, 16)) + some_data), "truncated"},
    bad_row{"header alone", wave(""), "truncated"},
    bad_row{"no data chunk", wave(fmt(1, 1, 8000, 16)), "no samples"},
    bad_row{"empty data", wave(fmt(1, 1, 8000, 16) + chunk("data", "")), "no samples"},
    bad_row{"less than a frame", wave(fmt(1, 2, 8000, 16) + chunk("data", "abc")), "no samples"},
    bad_row{"data before fmt", wave(some_data + fmt(1, 1, 8000, 16)), "no fmt chunk before the samples"}),
    row_name<bad_row>);

// Each track is its reader's own, so there is no cap on how many are loaded at once.
TEST_F(sound, a_held_file_is_said_a_missing_one_is_not_and_any_number_load_at_once)
{
    standin().folder.files["beat.wav"].locked = true;
    EXPECT_EQ(load(float_wave({0})), unreadable_sound);
    EXPECT_EQ(printed, "Error : sampler beat: can't read beat.wav: can't open it (error 32); it reads black\n");
    standin().folder.files["beat.wav"].locked = false;
    EXPECT_EQ(load(float_wave({0}), "drums"), no_sound_file);
    EXPECT_EQ(printed, "");
    for (int i = 0; i < 20; i++)
        EXPECT_EQ(load(float_wave({0}, 44100)), sound_loaded) << printed;
    EXPECT_EQ(tracks.back().rate, 44100u);
    EXPECT_THAT(standin().folder.open, ::testing::IsEmpty());
}

// A tone at exactly bin 64 of 2048 (250 Hz at 8000 a second): the periodic Blackman window
// gives |X|/2048 = 0.21, 0.125 and 0.02 times the amplitude at the bin and one and two bins
// away, and nothing further, so each byte is 255 * (20 log10(level) + 100) / 70, rounded.
struct tone_row {
    const char* what;
    float amplitude;
    std::vector<int> bins_61_to_67;
};

struct tone : sound, ::testing::WithParamInterface<tone_row> {};

TEST_P(tone, peaks_at_its_bin_with_the_bytes_of_its_decibels)
{
    std::vector<float> samples(8192);
    for (size_t n = 0; n < samples.size(); n++)
        samples[n] = GetParam().amplitude * (float)sin(2 * M_PI * 64 * n / 2048);
    std::vector<int> expected(sound_width, 0);
    std::copy(GetParam().bins_61_to_67.begin(), GetParam().bins_61_to_67.end(), expected.begin() + 61);
    load(float_wave(samples));
    EXPECT_THAT(row(tracks.back(), 0.5f, 0), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(sound, tone, ::testing::Values(
    tone_row{"loud, clamped", 0.5f, {0, 219, 255, 255, 255, 219, 0}},
    tone_row{"between", 0.01f, {0, 95, 153, 169, 153, 95, 0}},
    tone_row{"near the floor", 0.0001f, {0, 0, 7, 23, 7, 0, 0}}),
    row_name<tone_row>);

// Each sample's waveform byte is its own index modulo 256, so a row shows which samples it took.
TEST_F(sound, the_waveform_ends_at_the_sample_of_the_time_and_silence_reads_128_until_the_end)
{
    std::vector<float> samples(4000);
    for (size_t n = 0; n < samples.size(); n++)
        samples[n] = (int(n % 256) - 128) / 128.0f;
    load(float_wave(samples));
    const track& track = tracks.back();
    std::vector<int> expected(sound_width);
    for (int x = 0; x < sound_width; x++)
        expected[x] = (2000 - 511 + x) % 256;
    EXPECT_THAT(row(track, 0.2501f, 1), ElementsAreArray(expected)) << "the sample at 2000.8 is 2000";
    for (int x = 0; x < sound_width; x++)
        expected[x] = x < 431 ? 128 : (x - 431) % 256;
    EXPECT_THAT(row(track, 80.5f / 8000, 1), ElementsAreArray(expected)) << "before the first sample, silence";
    EXPECT_EQ(row(track, 3999.5f / 8000, 1)[511], 3999 % 256);
    EXPECT_THAT(row(track, 0.5f, 1), Each(0)) << "past the end";
    EXPECT_THAT(row(track, 0.5f, 0), Each(0));
    EXPECT_THAT(row(::track(), 0, 1), Each(0)) << "no track";
    load(float_wave(std::vector<float>(4000, 0)));
    const ::track& quiet = tracks.back();
    EXPECT_THAT(row(quiet, 0.3f, 0), Each(0));
    EXPECT_THAT(row(quiet, 0.3f, 1), Each(128));
}

// The live loop's time follows the device's count of samples played: each frame is the one whose
// time the sound has reached, its time summed as the frames' own, skipping frames forward and
// going back where the device says so (a stack's count can't be set; the stand-in's can), and
// counted from the frame playback started at, so that a resume never steps back.
TEST_F(sound, the_time_is_the_frame_the_samples_played_have_reached)
{
    load(float_wave(std::vector<float>(80000)));
    frame_time = 0;
    frame_number = 0;
    time_running = true;
    play_sound(&tracks.back());
    const struct {
        DWORD played;
        unsigned long frame;
    } steps[] = {{0, 0}, {133, 0}, {134, 1}, {8000, 60}, {40000, 300}, {4000, 30}, {79999, 600}};
    for (const auto& step : steps) {
        standin().script.samples_played = step.played;
        follow_sound();
        EXPECT_EQ(frame_number, step.frame) << step.played << " samples";
        EXPECT_EQ(frame_time, time_at_frame(step.frame)) << step.played << " samples";
    }
    key_moved_time(101, true);
    standin().script.samples_played = 0;
    follow_sound();
    EXPECT_EQ(frame_number, 101u) << "resumed at frame 101";
    play_sound(NULL);
}

}  // namespace
