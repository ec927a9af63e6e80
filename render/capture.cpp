#include <stdio.h>
#include <string.h>

#include "render/render.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

// Live sound in, for the samplers sound_in, sound_in_smoothed and sound_in_total: what a capture
// device hears, up to the start of each frame. The device fills a ring of small buffers on its
// own; a frame only takes the buffers it has filled and gives them back, so it never waits for
// sound, and keeps the last spectrum_size samples in memory made once. --sound-in loopback
// takes the packets of Windows' loopback capture instead, in the same way.

// 16-bit mono at the first rate the device takes; small buffers, so that a frame sees what was
// heard a few milliseconds before it.
static const DWORD capture_rates[] = {44100, 48000};
static const int buffer_samples = 256;
static const int buffer_count = 16;
// A device that sends nothing this long has stopped: unplugged, or its sound server gone.
static const double stopped_seconds = 2.0;
// How far a bin of sound_in_smoothed falls in a second after a peak, of its range of 0 to 1.
static const float fall_per_second = 0.5f;

// Loopback: what the default output device plays, as Windows' audio engine mixes it, with 0.2 s
// of it held for us between frames (in 100 ns units). A loopback stream sends nothing while
// nothing plays: a pause longer than loopback_quiet_seconds reads as silence, not as a stopped
// device.
static const REFERENCE_TIME loopback_buffer = 2000000;
static const double loopback_quiet_seconds = 0.1;
// The classes and interfaces asked for, by the numbers Windows gives them.
static const CLSID enumerator_class = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
static const IID enumerator_id = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
static const IID client_id = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
static const IID capture_id = {0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
static const GUID float_subformat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
static const GUID pcm_subformat = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Chosen on the command line: a waveIn number, or the system's default; or loopback.
static UINT chosen_device = WAVE_MAPPER;
static bool loopback_asked = false;

// The open device and its buffers, handed back to it in turn.
static HWAVEIN wave_in = NULL;
static WAVEHDR headers[buffer_count];
static short buffers[buffer_count][buffer_samples];
static int next_buffer = 0;
static double last_buffer_seconds = 0;
static bool stopped = false;
static bool exact_said = false;

// The open loopback stream, and the mix format's frames it sends: float or 16-bit, interleaved.
static bool com_started = false;
static IAudioClient* loopback_client = NULL;
static IAudioCaptureClient* loopback_capture = NULL;
static WORD loopback_channels = 0;
static bool loopback_float = false;

// The samples heard, the oldest overwritten; silence until the device sends any.
static float heard_ring[spectrum_size];
static int ring_at = 0;
static float in_order[spectrum_size];
static float held[sound_width];
static double last_listen_seconds = 0;
static hearing heard;

static bool same_letters(char a, char b)
{
    return (a >= 'A' && a <= 'Z' ? a + 32 : a) == (b >= 'A' && b <= 'Z' ? b + 32 : b);
}

// Whether part is found in name, whatever the case of their letters.
static bool name_holds(const char* name, const char* part)
{
    for (; *name; name++) {
        size_t i = 0;
        while (part[i] && same_letters(name[i], part[i]))
            i++;
        if (!part[i])
            return true;
    }
    return false;
}

// --sound-in list: each device by the number that picks it, on standard output.
void list_capture_devices()
{
    UINT count = waveInGetNumDevs();
    if (!count)
        printf("No capture devices.\n");
    for (UINT i = 0; i < count; i++) {
        WAVEINCAPSA caps;
        if (waveInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR)
            printf("%u: %.*s\n", i, (int)sizeof caps.szPname, caps.szPname);
    }
}

// --sound-in DEVICE: a number from the list, loopback, or a part of a device's name (the first
// that has it). Returns false after one line on stderr when none matches.
bool choose_capture_device(const char* wanted)
{
    if (strcmp(wanted, "loopback") == 0) {
        loopback_asked = true;
        return true;
    }
    UINT count = waveInGetNumDevs();
    bool number = wanted[0] != 0 && strspn(wanted, "0123456789") == strlen(wanted);
    for (UINT i = 0; i < count; i++) {
        WAVEINCAPSA caps;
        if (waveInGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR)
            continue;
        caps.szPname[sizeof caps.szPname - 1] = 0;
        char own_number[12];
        sprintf(own_number, "%u", i);
        if (number ? strcmp(own_number, wanted) == 0 : name_holds(caps.szPname, wanted)) {
            chosen_device = i;
            return true;
        }
    }
    fprintf(stderr, "hotfx: --sound-in %s: no capture device has that %s; --sound-in list shows them\n", wanted,
            number ? "number" : "name");
    return false;
}

static void say_fault(const char* what, unsigned status)
{
    printf("Error : sound_in: %s (answered %u); it reads silence, and F5 tries the device again\n", what, status);
}

// The buffers go to the device, which fills them in turn; false after saying why not.
static bool hand_buffers()
{
    for (int i = 0; i < buffer_count; i++) {
        memset(&headers[i], 0, sizeof headers[i]);
        headers[i].lpData = (LPSTR)buffers[i];
        headers[i].dwBufferLength = sizeof buffers[i];
        MMRESULT status = waveInPrepareHeader(wave_in, &headers[i], sizeof headers[i]);
        if (status == MMSYSERR_NOERROR)
            status = waveInAddBuffer(wave_in, &headers[i], sizeof headers[i]);
        if (status != MMSYSERR_NOERROR) {
            say_fault("the capture device refused a buffer", status);
            return false;
        }
    }
    next_buffer = 0;
    MMRESULT status = waveInStart(wave_in);
    if (status != MMSYSERR_NOERROR)
        say_fault("the capture device would not start", status);
    return status == MMSYSERR_NOERROR;
}

// The mix format's kind, if the ring can take it: float32 or 16-bit PCM, plain or extensible.
static bool takes_mix_format(const WAVEFORMATEX* format)
{
    const GUID* sub = format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22
                          ? &((const WAVEFORMATEXTENSIBLE*)format)->SubFormat : NULL;
    loopback_float = format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT || (sub && IsEqualGUID(*sub, float_subformat));
    bool pcm = format->wFormatTag == WAVE_FORMAT_PCM || (sub && IsEqualGUID(*sub, pcm_subformat));
    loopback_channels = format->nChannels;
    return loopback_channels > 0 && ((loopback_float && format->wBitsPerSample == 32) || (pcm && format->wBitsPerSample == 16));
}

// Windows' loopback capture of the default output device, in its shared mix format; the status
// of the first step that failed, with loopback_client left NULL, or S_OK.
static HRESULT open_loopback(DWORD* rate)
{
    HRESULT status = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    com_started = SUCCEEDED(status);
    IMMDeviceEnumerator* devices = NULL;
    if (SUCCEEDED(status))
        status = CoCreateInstance(enumerator_class, NULL, CLSCTX_ALL, enumerator_id, (void**)&devices);
    IMMDevice* output = NULL;
    if (SUCCEEDED(status)) {
        status = devices->GetDefaultAudioEndpoint(eRender, eConsole, &output);
        devices->Release();
    }
    if (SUCCEEDED(status)) {
        status = output->Activate(client_id, CLSCTX_ALL, NULL, (void**)&loopback_client);
        output->Release();
    }
    WAVEFORMATEX* format = NULL;
    if (SUCCEEDED(status))
        status = loopback_client->GetMixFormat(&format);
    if (SUCCEEDED(status)) {
        *rate = format->nSamplesPerSec;
        status = takes_mix_format(format) ? loopback_client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                                                         loopback_buffer, 0, format, NULL)
                                          : AUDCLNT_E_UNSUPPORTED_FORMAT;
        CoTaskMemFree(format);
    }
    if (SUCCEEDED(status))
        status = loopback_client->GetService(capture_id, (void**)&loopback_capture);
    if (SUCCEEDED(status))
        status = loopback_client->Start();
    if (FAILED(status))
        stop_listening();
    return status;
}

// Opens the chosen device, at each load whose shaders listen while it isn't open (so F5 tries a
// failed or stopped one again); under --frame and --frames, says once that there is no live
// sound to replay.
void start_listening(bool exact)
{
    if (exact) {
        if (!exact_said)
            printf("sound_in: --frame and --frames can't replay live sound; sound_in, sound_in_smoothed and "
                   "sound_in_total read silence\n");
        exact_said = true;
        return;
    }
    if ((wave_in || loopback_client) && !stopped)
        return;
    stop_listening();
    if (loopback_asked) {
        DWORD rate = 0;
        HRESULT status = open_loopback(&rate);
        if (FAILED(status)) {
            printf("Error : sound_in: no loopback capture of the default output (answered 0x%08X); under Linux "
                   "with PulseAudio or PipeWire the output's \"Monitor of ...\" source captures what it plays: "
                   "--sound-in Monitor\n", (unsigned)status);
            return;
        }
        printf("Listening to what the default output device plays at %lu samples a second.\n", (unsigned long)rate);
        last_buffer_seconds = seconds_now();
        return;
    }
    if (!waveInGetNumDevs()) {
        printf("Error : sound_in: no capture device; it reads silence, and F5 tries again\n");
        return;
    }
    MMRESULT status = WAVERR_BADFORMAT;
    DWORD rate = 0;
    for (size_t i = 0; i < sizeof capture_rates / sizeof capture_rates[0] && status == WAVERR_BADFORMAT; i++) {
        rate = capture_rates[i];
        WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16, 0};
        status = waveInOpen(&wave_in, chosen_device, &format, 0, 0, CALLBACK_NULL);
    }
    if (status != MMSYSERR_NOERROR) {
        wave_in = NULL;
        say_fault(status == WAVERR_BADFORMAT ? "the capture device refuses 16-bit mono at 44,100 and 48,000 samples a second"
                                             : "the capture device failed to open",
                  status);
        return;
    }
    if (!hand_buffers()) {
        stop_listening();
        return;
    }
    WAVEINCAPSA caps;
    bool named = chosen_device != WAVE_MAPPER && waveInGetDevCapsA(chosen_device, &caps, sizeof caps) == MMSYSERR_NOERROR;
    if (named)
        caps.szPname[sizeof caps.szPname - 1] = 0;
    printf("Listening to %s at %lu samples a second.\n", named ? caps.szPname : "the default capture device",
           (unsigned long)rate);
    last_buffer_seconds = seconds_now();
}

void stop_listening()
{
    if (loopback_capture)
        loopback_capture->Release();
    loopback_capture = NULL;
    if (loopback_client) {
        loopback_client->Stop();
        loopback_client->Release();
    }
    loopback_client = NULL;
    if (com_started)
        CoUninitialize();
    com_started = false;
    stopped = false;
    memset(heard_ring, 0, sizeof heard_ring);
    if (!wave_in)
        return;
    waveInReset(wave_in);
    for (int i = 0; i < buffer_count; i++)
        if (headers[i].dwFlags & WHDR_PREPARED)
            waveInUnprepareHeader(wave_in, &headers[i], sizeof headers[i]);
    waveInClose(wave_in);
    wave_in = NULL;
}

// At each load: sound_in_total counts from there.
void restart_totals()
{
    memset(heard.total, 0, sizeof heard.total);
}

// The buffers the device has filled, in the order it fills them, into the ring, each handed
// back at once; a round of them at most, however fast a device fills them. A device that has sent nothing for a while is said to have stopped, once, and
// reads silence until it sends again.
static void take_buffers(double now)
{
    for (int taken = 0; taken < buffer_count && (headers[next_buffer].dwFlags & WHDR_DONE); taken++) {
        WAVEHDR& header = headers[next_buffer];
        const short* samples = buffers[next_buffer];
        for (DWORD i = 0, count = header.dwBytesRecorded / 2; i < count && i < (DWORD)buffer_samples; i++) {
            heard_ring[ring_at] = samples[i] / 32768.0f;
            ring_at = ring_at + 1 == spectrum_size ? 0 : ring_at + 1;
        }
        header.dwFlags &= ~WHDR_DONE;
        header.dwBytesRecorded = 0;
        MMRESULT status = waveInAddBuffer(wave_in, &header, sizeof header);
        if (status != MMSYSERR_NOERROR) {
            say_fault("the capture device took no more buffers", status);
            stopped = true;
            memset(heard_ring, 0, sizeof heard_ring);
            return;
        }
        next_buffer = (next_buffer + 1) % buffer_count;
        last_buffer_seconds = now;
        stopped = false;
    }
    if (!stopped && now - last_buffer_seconds > stopped_seconds) {
        printf("Error : sound_in: the capture device sent nothing for %g seconds (unplugged, or its sound server "
               "gone); it reads silence, and F5 tries the device again\n", stopped_seconds);
        stopped = true;
        memset(heard_ring, 0, sizeof heard_ring);
    }
}

// The packets the loopback stream has ready, each frame of them the mean of its channels, into the
// ring; silence when nothing has played for a while. A stream the output device's loss or a
// change of its format ends is said once, and reads silence until F5.
static void take_packets(double now)
{
    UINT32 frames = 0;
    HRESULT status;
    while (SUCCEEDED(status = loopback_capture->GetNextPacketSize(&frames)) && frames) {
        BYTE* data;
        DWORD flags;
        status = loopback_capture->GetBuffer(&data, &frames, &flags, NULL, NULL);
        if (FAILED(status))
            break;
        for (UINT32 i = 0; i < frames; i++) {
            float sum = 0;
            for (WORD c = 0; c < loopback_channels && !(flags & AUDCLNT_BUFFERFLAGS_SILENT); c++)
                sum += loopback_float ? ((const float*)data)[i * loopback_channels + c]
                                      : ((const short*)data)[i * loopback_channels + c] / 32768.0f;
            heard_ring[ring_at] = sum / loopback_channels;
            ring_at = ring_at + 1 == spectrum_size ? 0 : ring_at + 1;
        }
        loopback_capture->ReleaseBuffer(frames);
        last_buffer_seconds = now;
    }
    if (FAILED(status)) {
        say_fault("the output device's loopback stream ended", (unsigned)status);
        stopped = true;
        memset(heard_ring, 0, sizeof heard_ring);
    } else if (now - last_buffer_seconds > loopback_quiet_seconds) {
        memset(heard_ring, 0, sizeof heard_ring);
    }
}

// Once a frame drawn, before its stages: the picture of the last spectrum_size samples heard,
// each bin of it held where it falls (by at most fall_per_second of its range a second), and
// added to its total.
const hearing* listen()
{
    double now = seconds_now();
    if (wave_in && !stopped)
        take_buffers(now);
    if (loopback_capture && !stopped)
        take_packets(now);
    memcpy(in_order, heard_ring + ring_at, (spectrum_size - ring_at) * sizeof heard_ring[0]);
    memcpy(in_order + (spectrum_size - ring_at), heard_ring, ring_at * sizeof heard_ring[0]);
    spectrum_rows(in_order, heard.rows);
    double since = now - last_listen_seconds;
    float fall = since > 0 && since < 1 ? (float)(fall_per_second * since) : fall_per_second;
    last_listen_seconds = now;
    for (int k = 0; k < sound_width; k++) {
        float level = heard.rows[0][k] / 255.0f;
        held[k] = level > held[k] - fall ? level : held[k] - fall;
        heard.smoothed[k] = (BYTE)(held[k] * 255 + 0.5f);
        heard.total[k] += level;
    }
    return &heard;
}
