// stdio.h first: after math.h or stdlib.h, mingw-w64 gives C++ its own printf, not the C
// runtime's, and the exe grows by 25 KB.
#include <stdio.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "render/render.h"

// Sound for the shaders. A sampler NAME with NAME.wav beside main.fx reads a 512x2 picture of
// the sound at the frame's time: the spectrum in row 0 and the waveform in row 1. A file is read
// whole at load into one mono track (and a 16-bit stereo copy for the sound device); a frame
// only reads the track, into static buffers, and keeps nothing for the next, so any frame is
// the same picture whenever it is drawn, as the time itself is.

// The spectrum's window: its first sound_width bins run up to a quarter of the rate.
static const int fft_size = spectrum_size;
// The levels mapped to 0 and to 1, as a Web Audio analyser maps them by default.
static const double quietest_db = -100, loudest_db = -30;
// The rates a sound device plays, and a bound on what a file may claim.
static const DWORD lowest_rate = 1000, highest_rate = 384000;

// Made at the first load.
static float window[fft_size];
static float twiddle_cos[fft_size / 2], twiddle_sin[fft_size / 2];
static WORD bit_reversed[fft_size];
static bool tables_made = false;
static float fft_re[fft_size], fft_im[fft_size];

// What the fmt and data chunks say.
struct wave_file {
    WORD format, channels, block_align, bits;
    DWORD rate;
    const BYTE* data;
    DWORD data_size;
};
enum { pcm_format = 1, float_format = 3, extensible_format = 0xFFFE };
static char why[96];

// Playing: the track from the time on, in one buffer that the device reads to its end, so that
// nothing is done for it in a frame and a long compile can't starve it.
static HWAVEOUT wave_out = NULL;
static WAVEHDR wave_header;
static const track* playing = NULL;
static bool no_device_said = false;

// Blackman's window over the whole transform, as periodic as the transform itself, so that a
// tone at a bin's frequency reaches its two neighbours on either side and no further.
static void make_tables()
{
    if (tables_made)
        return;
    const double pi = 3.14159265358979323846;
    for (int n = 0; n < fft_size; n++) {
        double phase = 2 * pi * n / fft_size;
        window[n] = (float)(0.42 - 0.5 * cos(phase) + 0.08 * cos(2 * phase));
        if (n < fft_size / 2) {
            twiddle_cos[n] = (float)cos(phase);
            twiddle_sin[n] = (float)sin(phase);
        }
        int reversed = 0;
        for (int bit = 1; bit < fft_size; bit <<= 1)
            reversed = reversed << 1 | ((n & bit) != 0);
        bit_reversed[n] = (WORD)reversed;
    }
    tables_made = true;
}

static DWORD read16(const BYTE* at)
{
    return at[0] | at[1] << 8;
}

static DWORD read32(const BYTE* at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | (DWORD)at[3] << 24;
}

// Every pattern here with ten digits in it fits in why, so the C runtime's own sprintf serves;
// snprintf would bring mingw-w64's emulation of it into the exe.
static const char* because(const char* pattern, unsigned value)
{
    sprintf(why, pattern, value);
    return why;
}

// Finds the fmt and data chunks, skipping any others with their pad byte; NULL, or why not.
// Only what the chunks declare and the file holds is read: a size from the file is never trusted.
static const char* find_chunks(const BYTE* file, DWORD size, wave_file* wave)
{
    if (size < 12 || memcmp(file, "RIFF", 4) || memcmp(file + 8, "WAVE", 4))
        return "not a RIFF WAVE file";
    bool fmt_seen = false;
    for (DWORD at = 12; size - at >= 8;) {
        const BYTE* chunk = file + at;
        DWORD length = read32(chunk + 4);
        DWORD left = size - at - 8;
        if (length > left)
            return "truncated";
        if (!memcmp(chunk, "fmt ", 4)) {
            if (length < 16)
                return "truncated";
            wave->format = (WORD)read16(chunk + 8);
            wave->channels = (WORD)read16(chunk + 10);
            wave->rate = read32(chunk + 12);
            wave->block_align = (WORD)read16(chunk + 20);
            wave->bits = (WORD)read16(chunk + 22);
            // The extensible header carries the real format in the first two bytes of its GUID.
            if (wave->format == extensible_format) {
                if (length < 40)
                    return "truncated";
                wave->format = (WORD)read16(chunk + 32);
            }
            fmt_seen = true;
        } else if (!memcmp(chunk, "data", 4)) {
            if (!fmt_seen)
                return "no fmt chunk before the samples";
            wave->data = chunk + 8;
            wave->data_size = length;
            return NULL;
        }
        at += 8 + length + (length & 1 && length < left);
    }
    return fmt_seen ? "no samples" : "truncated";
}

// NULL when hotfx reads these samples, or why not.
static const char* check_format(const wave_file& wave)
{
    if (wave.format != pcm_format && wave.format != float_format)
        return because("compressed (format 0x%04X); hotfx reads PCM and 32-bit float", wave.format);
    if (wave.format == pcm_format ? wave.bits % 8 || wave.bits < 8 || wave.bits > 32 : wave.bits != 32)
        return because(wave.format == pcm_format ? "%u-bit PCM; hotfx reads 8, 16, 24 and 32 bits"
                                                 : "%u-bit float; hotfx reads 32 bits",
                       wave.bits);
    if (wave.channels < 1 || wave.channels > 2)
        return because("%u channels; hotfx reads mono and stereo", wave.channels);
    if (wave.rate < lowest_rate || wave.rate > highest_rate)
        return because("a rate of %u samples a second; hotfx reads 1,000 to 384,000", wave.rate);
    // The samples of one frame lie at the start of a block of the size the header gives.
    if (wave.block_align < wave.channels * wave.bits / 8)
        return because("blocks of %u bytes, too small for one sample of each channel", wave.block_align);
    if (wave.data_size < wave.block_align)
        return "no samples";
    return NULL;
}

// One sample, -1 to 1. 8-bit samples are unsigned, the rest signed; 24 bits are read into the
// top of 32, so that one scale serves both.
static float sample_of(const BYTE* at, const wave_file& wave)
{
    switch (wave.format == float_format ? 0 : wave.bits) {
    case 8:
        return (at[0] - 128) / 128.0f;
    case 16:
        return (SHORT)read16(at) / 32768.0f;
    case 24:
        return (LONG)((DWORD)at[0] << 8 | (DWORD)at[1] << 16 | (DWORD)at[2] << 24) / 2147483648.0f;
    case 32:
        return (LONG)read32(at) / 2147483648.0f;
    }
    float value;
    memcpy(&value, at, sizeof value);
    return value;
}

static short to_short(float value)
{
    float scaled = floorf(value * 32768 + 0.5f);
    return !(scaled > -32768) ? -32768 : scaled > 32767 ? 32767 : (short)scaled;
}

// The samples as the track holds them, in memory allocated here; false if there's too little.
static bool convert(const wave_file& wave, track* to)
{
    DWORD frame_size = wave.block_align;
    DWORD frames = wave.data_size / frame_size;
    size_t per_frame = sizeof(float) + 2 * sizeof(short);
    if (frames > (size_t)-1 / per_frame || !(to->mono = (float*)malloc(frames * per_frame)))
        return false;
    to->stereo = (short*)(to->mono + frames);
    to->frames = frames;
    to->rate = wave.rate;
    const BYTE* at = wave.data;
    for (DWORD i = 0; i < frames; i++, at += frame_size) {
        float left = sample_of(at, wave);
        float right = wave.channels == 2 ? sample_of(at + wave.bits / 8, wave) : left;
        to->mono[i] = (left + right) / 2;
        to->stereo[2 * i] = to_short(left);
        to->stereo[2 * i + 1] = to_short(right);
    }
    return true;
}

// NAME.wav into the track: no_sound_file, saying nothing, when there's no such file (the
// sampler may read an image); unreadable_sound after one line saying why.
sound_found load_sound(const char* name, track* into)
{
    char path[MAX_PATH];
    size_t length = strlen(name);
    if (length > sizeof path - 5)
        return no_sound_file;  // too long a name for a file: none is found
    memcpy(path, name, length);
    memcpy(path + length, ".wav", 5);
    const char* reason = NULL;
    DWORD size = 0, error = 0;
    BYTE* file = read_listed_file(path, &size, &error);
    if (!file && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
        return no_sound_file;
    wave_file wave = {};
    if (!file)
        reason = error == ERROR_NOT_ENOUGH_MEMORY ? "too large to hold in memory" : because("can't open it (error %u)", error);
    else if (!(reason = find_chunks(file, size, &wave)) && !(reason = check_format(wave)) && !convert(wave, into))
        reason = "too large to hold in memory";
    free(file);
    if (reason) {
        printf("Error : sampler %s: can't read %s: %s; it reads black\n", name, path, reason);
        return unreadable_sound;
    }
    make_tables();
    return sound_loaded;
}

// A level of 0 to 255, rounded; what is no number at all reads 0.
static BYTE to_byte(double level)
{
    return !(level > 0) ? 0 : level >= 255 ? 255 : (BYTE)(level + 0.5);
}

// The decimation in time, over what the window left in bit-reversed order.
static void transform()
{
    for (int half = 1; half < fft_size; half *= 2) {
        int stride = fft_size / 2 / half;
        for (int start = 0; start < fft_size; start += 2 * half)
            for (int j = 0; j < half; j++) {
                float c = twiddle_cos[j * stride], s = twiddle_sin[j * stride];
                int a = start + j, b = a + half;
                float re = fft_re[b] * c + fft_im[b] * s;
                float im = fft_im[b] * c - fft_re[b] * s;
                fft_re[b] = fft_re[a] - re;
                fft_im[b] = fft_im[a] - im;
                fft_re[a] += re;
                fft_im[a] += im;
            }
    }
}

// The picture of the track at the time: the sample at floor(time * rate) is the last that
// either row sees, samples before the first are silence, and past the last sample both rows
// are 0. No track reads 0 as well.
void sound_rows(const track* sound, float time, BYTE rows[2][sound_width])
{
    static float last_samples[fft_size];
    double at = sound ? floor((double)time * sound->rate) : 0;
    if (!sound || !sound->mono || !(at < sound->frames)) {
        memset(rows, 0, 2 * sound_width);
        return;
    }
    long last = at < -fft_size ? -fft_size : (long)at;
    for (int i = 0; i < fft_size; i++) {
        long n = last - (fft_size - 1) + i;
        last_samples[i] = n >= 0 ? sound->mono[n] : 0;
    }
    spectrum_rows(last_samples, rows);
}

// The picture of fft_size samples, the last one latest, whatever they came from. Row 0 holds
// the first sound_width bins of their windowed transform, each |X|/fft_size in decibels, -100
// to -30 dB mapped to 0 to 255. Row 1 holds the last sound_width samples, 128 * (1 + sample)
// rounded and clamped, so that silence reads 128/255 and -1 reads 0.
void spectrum_rows(const float samples[fft_size], BYTE rows[2][sound_width])
{
    make_tables();
    for (int i = 0; i < fft_size; i++) {
        fft_re[bit_reversed[i]] = samples[i] * window[i];
        fft_im[i] = 0;
        if (i >= fft_size - sound_width)
            rows[1][i - (fft_size - sound_width)] = to_byte(128 * (samples[i] + 1.0));
    }
    transform();
    const double scale = 255 / (loudest_db - quietest_db);
    const double full_scale_db = 20 * log10((double)fft_size);
    for (int k = 0; k < sound_width; k++) {
        double power = (double)fft_re[k] * fft_re[k] + (double)fft_im[k] * fft_im[k];
        rows[0][k] = power > 0 ? to_byte((10 * log10(power) - full_scale_db - quietest_db) * scale) : 0;
    }
}

void release_sound(track* sound)
{
    if (sound == playing)
        stop_playback();
    free(sound->mono);
    memset(sound, 0, sizeof *sound);
}

// Plays the track from the time on, as 16-bit stereo at its own rate; false when there is
// nothing left to play or no device to play it on (said once, until a device takes a track).
bool start_playback(const track* sound, float time)
{
    stop_playback();
    double at = sound ? floor((double)time * sound->rate) : 0;
    if (!sound || !sound->mono || !(at < sound->frames))
        return false;
    DWORD first = at > 0 ? (DWORD)at : 0;
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, sound->rate, sound->rate * 4, 4, 16, 0};
    MMRESULT status = waveOutOpen(&wave_out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (status != MMSYSERR_NOERROR) {
        wave_out = NULL;
        if (!no_device_said)
            printf("Error : no sound device (waveOutOpen answered %u); the time runs without sound\n", status);
        no_device_said = true;
        return false;
    }
    memset(&wave_header, 0, sizeof wave_header);
    wave_header.lpData = (LPSTR)(sound->stereo + 2 * first);
    wave_header.dwBufferLength = (sound->frames - first) * 4;
    status = waveOutPrepareHeader(wave_out, &wave_header, sizeof wave_header);
    if (status == MMSYSERR_NOERROR)
        status = waveOutWrite(wave_out, &wave_header, sizeof wave_header);
    if (status != MMSYSERR_NOERROR) {
        printf("Error : the sound device refused the track (answered %u); the time runs without sound\n", status);
        stop_playback();
        return false;
    }
    no_device_said = false;
    playing = sound;
    return true;
}

void stop_playback()
{
    if (!wave_out)
        return;
    waveOutReset(wave_out);
    if (wave_header.dwFlags & WHDR_PREPARED)
        waveOutUnprepareHeader(wave_out, &wave_header, sizeof wave_header);
    waveOutClose(wave_out);
    wave_out = NULL;
    playing = NULL;
}

// How long the device has played since playback started, in seconds, for the time to follow;
// negative when nothing plays: never started, stopped, or played to its end.
double played_seconds()
{
    if (!wave_out || (wave_header.dwFlags & WHDR_DONE))
        return -1;
    MMTIME position;
    position.wType = TIME_SAMPLES;
    if (waveOutGetPosition(wave_out, &position, sizeof position) != MMSYSERR_NOERROR)
        return -1;
    // A device that can't count samples answers in another unit.
    double rate = playing->rate;
    if (position.wType == TIME_SAMPLES)
        return position.u.sample / rate;
    if (position.wType == TIME_BYTES)
        return position.u.cb / 4 / rate;
    if (position.wType == TIME_MS)
        return position.u.ms / 1000.0;
    return -1;
}
