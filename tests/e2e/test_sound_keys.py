"""A sampler NAME with NAME.wav beside main.fx reads the sound's spectrum and waveform at the
frame's time; a sampler named keyboard reads the keys, and the time keys then take Ctrl."""

import time
import wave

import numpy
import pytest

from support import VERTEX_STAGE, RecordingSink, exit_code_kept, pixel_at, shader
from test_frames import frame_command, saved, time_at
from test_watch import LOADED, WATCH

RATE, BIN, FRAME = 8192, 64, 90
fx = lambda declared, body: shader(body, VERTEX_STAGE + declared)

# The picture's first 512 columns show the texels one for one: row 0 above, row 1 below.
SHOWN = fx("sampler2D music; float4 resolution;", """float2 pixel = floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5);
    return tex2D(music, float2((pixel.x + 0.5) / 512, pixel.y < 512 ? 0.25 : 0.75));""")


def write_wav(path, samples):
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes((samples * 32767).round().astype("<i2").tobytes())


def sine_folder(folder):
    (folder / "main.fx").write_text(SHOWN)
    samples = 0.25 * numpy.sin(2 * numpy.pi * BIN / 2048 * numpy.arange(2 * RATE))
    write_wav(folder / "music.wav", samples)
    return samples


# On both stacks: the rows are hotfx's arithmetic, but the byte texture's format is the stack's.
def test_a_wav_reads_its_spectrum_and_waveform_at_the_frames_time(hotfx, tmp_path):
    samples = numpy.round(sine_folder(tmp_path) * 32767) / 32768
    run = hotfx(sine_folder, command=frame_command("--frame", FRAME, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader."]
    img = saved(run, "out.png")
    spectrum = [pixel_at(img, x, 100)[0] for x in range(512)]
    waveform = [pixel_at(img, x, 900)[0] for x in range(512)]
    last = int(numpy.floor(numpy.float64(time_at(FRAME)) * RATE))
    assert waveform == list(numpy.clip(numpy.round(128 * (samples[last - 511:last + 1] + 1)), 0, 255).astype(int))
    window = numpy.blackman(2049)[:2048]
    level = 20 * numpy.log10(abs(numpy.fft.rfft(samples[last - 2047:last + 1] * window)[:512]) / 2048)
    expected = numpy.clip(numpy.round((level + 100) * 255 / 70), 0, 255)
    # The tone and its window's spread, exact; what lies further off is the samples' rounding.
    assert all(abs(spectrum[k] - expected[k]) <= 1 for k in range(BIN - 3, BIN + 4)), spectrum[BIN - 3:BIN + 4]
    assert max(spectrum[:BIN - 8] + spectrum[BIN + 9:]) <= 10


@pytest.mark.default_stack
def test_a_wav_hotfx_cant_read_is_one_line_and_exit_3(hotfx):
    def folder(path):
        (path / "main.fx").write_text(SHOWN)
        (path / "music.wav").write_bytes(b"RIFF\x24\x00\x00\x00WAVEfmt ")
    run = hotfx(folder, command=exit_code_kept("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 3
    run.expect(r"Error : sampler music: can't read music\.wav: .*; it reads black$")
    run.expect(LOADED)


# Red while A is down, green once A has been pressed an odd number of times, blue while Space
# is down; the texels of virtual-key codes 65 and 32 in rows 0 and 2.
KEYS = fx("sampler2D keyboard;", """return float4(tex2D(keyboard, float2(65.5 / 256, 0.5 / 3)).r,
    tex2D(keyboard, float2(65.5 / 256, 2.5 / 3)).r, tex2D(keyboard, float2(32.5 / 256, 0.5 / 3)).r, 1);""")


@pytest.mark.default_stack
def test_the_keyboard_reads_keys_down_and_toggled_and_the_time_keys_take_ctrl(hotfx):
    run = hotfx(KEYS, command=WATCH)
    run.expect(LOADED)
    run.key("a", action="keydown")
    run.wait_for_colour((255, 255, 0), label="A down")
    run.key("a", action="keyup")
    run.wait_for_colour((0, 255, 0), label="A up")
    run.key("space", action="keydown")
    run.wait_for_colour((0, 255, 255), label="space down")
    run.key("space", action="keyup")
    assert run.output(settle=0.5) == ["Load Shader."]
    run.key("ctrl+space")
    run.expect(r"Stopped at frame \d+\.$")


# Noise, so that any stretch of it tells where in the track it was, and smooth, so that
# resampling keeps it.
NOISE = numpy.interp(numpy.arange(6 * RATE), numpy.arange(0, 6 * RATE, 8),
                     numpy.random.default_rng(32).uniform(-0.5, 0.5, 6 * RATE // 8))


def recorded_runs(raw):
    """The stretches of sound in a recording, each as (first sample, its samples)."""
    left = numpy.frombuffer(raw, "<i2").reshape(-1, 2)[:, 0]
    loud = numpy.flatnonzero(left)
    starts = [0] + [i + 1 for i in numpy.flatnonzero(numpy.diff(loud) > RATE * 3 // 2)]
    ends = [i + 1 for i in numpy.flatnonzero(numpy.diff(loud) > RATE * 3 // 2)] + [len(loud)]
    return [(loud[a], left[loud[a]:loud[b - 1] + 1]) for a, b in zip(starts, ends)]


def track_at(heard, at):
    """Where in the track the 256 samples heard from at lie, or None where they aren't in it."""
    stretch = heard[at:at + 256].astype(float)
    fit = numpy.correlate(NOISE, stretch, "valid")
    best = int(numpy.argmax(fit))
    match = fit[best] / numpy.sqrt(stretch @ stretch * (NOISE[best:best + 256] @ NOISE[best:best + 256]) + 1e-9)
    return best if match > 0.9 else None


@pytest.mark.default_stack
def test_the_wav_plays_on_through_a_reload_space_silences_it_and_home_starts_it_over(hotfx):
    """Heard in a PulseAudio null sink that keeps real time."""
    sinks = []

    def folder(path):
        (path / "main.fx").write_text(SHOWN)
        write_wav(path / "music.wav", NOISE)
        sinks.append(RecordingSink(path, RATE, latency_msec=10))
    try:
        run = hotfx(folder, command=WATCH, env={"PULSE_SERVER": "unix:/job/pulse.sock"})
        run.expect(LOADED)
        time.sleep(1.5)
        run.key("F5")
        run.expect(LOADED)
        time.sleep(1.5)
        run.key("space")
        stopped = int(run.expect(r"Stopped at frame \d+\.$").split()[-1][:-1])
        time.sleep(1)
        run.key("Home")
        run.expect(r"Stopped at frame 0\.$")
        time.sleep(1)
        run.key("space")
        run.expect(r"Running at frame \d+\.$")  # the frame the sound has reached when it is shown
        time.sleep(3)
    finally:
        for sink in sinks:
            sink.stop()
    raw = bytes(sinks[0].data)
    runs = recorded_runs(raw)
    assert len(runs) == 2, [(start, len(run)) for start, run in runs]
    # What played last before Space is the track at the frame Space stopped, give or take what
    # the sound system holds in its buffers; and as far into it as there was sound to hear (a
    # starved Wine leaves gaps, and may skip on), where a reload that started the track over
    # would be 1.5 s short.
    heard = runs[0][1]
    last = [(at, track_at(heard, at)) for at in range(len(heard) - 256, max(0, len(heard) - RATE), -256)]
    at, best = next(((at, best) for at, best in last if best is not None), (None, None))
    assert best is not None and abs((best + len(heard) - at) / RATE - stopped * 0.016666) < 0.3, (last, stopped)
    assert (best + len(heard) - at) / RATE > numpy.count_nonzero(heard) / RATE - 0.75, (last, len(heard))
    # After Home the track starts over, where without it it would go on from Space. Playing
    # starts late on a busy machine, and Wine then drops what it is late by (up to a second
    # was seen) to stay in time, so the first stretch heard may lie that much into the track.
    heard = runs[1][1]
    found = [(at, track_at(heard, at)) for at in range(0, min(RATE, len(heard) - 256), 256)]
    at, best = next(((at, best) for at, best in found if best is not None), (None, None))
    assert best is not None and best - at < stopped * 0.016666 * RATE / 2, (found, stopped)
