"""sound_in, sound_in_smoothed and sound_in_total hear a real PulseAudio null sink's monitor, into which
paplay plays tones. Sound is not the Direct3D stack's doing, so these run on wined3d alone."""

import os
import re
import subprocess
import time
import wave

import numpy
import pytest

from support import EXE, VERTEX_STAGE, RecordingSink, pixel_at, shader
from test_frames import frame_command, saved
from test_sound_keys import BIN, SHOWN, sine_folder
from test_view import VIEW
from test_watch import LOADED, WATCH

pytestmark = pytest.mark.only_on("wined3d", "sound is not the stack's doing")

RATE = 44100
STOPPED = (r"Error : sound_in: the capture device sent nothing for 2 seconds \(unplugged, or its sound server "
           r"gone\); it reads silence, and F5 tries the device again$")
LISTENING = r"Listening to (.+) at (\d+) samples a second\.$"
# The first 512 columns show sound_in's texels one for one: row 0 above, row 1 below.
LIVE = SHOWN.replace("music", "sound_in")
SILENCE = ([0] * 512, [128] * 512)


class Room:
    """Sound servers in the runs' folders (a null sink, its monitor the default source) and tones."""

    def __init__(self, hotfx):
        self.hotfx, self.sinks, self.players = hotfx, [], []

    def server(self, path):
        self.sinks.append(RecordingSink(path, RATE, latency_msec=10))
        subprocess.run(["pactl", "set-default-source", "rec.monitor"], env=self.pulse(path), check=True, timeout=10)
        return self.sinks[-1]

    pulse = staticmethod(lambda path: {"PULSE_SERVER": f"unix:{path}/pulse.sock"})

    def hotfx_in(self, source=LIVE, command=WATCH, make=None, tone=None):
        """hotfx listening: source as main.fx, or what make puts in the folder; a tone if asked."""
        def folder(path):
            make(path) if make else (path / "main.fx").write_text(source)
            self.server(path)
            if tone:
                self.play(path, tone)
        return self.hotfx(folder, command=command, env={"PULSE_SERVER": "unix:/job/pulse.sock"})

    def play(self, path, frequency, seconds=30):
        """A tone at half of full scale into the sink, until the test ends or it is killed."""
        tone, samples = path / f"tone{frequency}.wav", numpy.arange(seconds * RATE)
        with wave.open(str(tone), "wb") as out:
            out.setparams((1, 2, RATE, 0, "NONE", ""))
            out.writeframes((16384 * numpy.sin(2 * numpy.pi * frequency * samples / RATE)).round().astype("<i2").tobytes())
        self.players.append(subprocess.Popen(["paplay", "-d", "rec", str(tone)], env=self.pulse(path)))
        return self.players[-1]

    def close(self):
        for player in self.players:
            player.kill()
        for sink in self.sinks:
            sink.stop()


@pytest.fixture
def room(hotfx):
    yield (made := Room(hotfx))
    made.close()


def peak_of(run, frequency):
    """The bin of the tone at the rate hotfx says it listens at."""
    return round(frequency * 2048 / int(re.match(LISTENING, run.expect(LISTENING)).group(2)))


def rows(img):
    """Row 0 and row 1 as the picture shows them, 0 to 255 each."""
    return ([pixel_at(img, x, 100)[0] for x in range(512)], [pixel_at(img, x, 700)[0] for x in range(512)])


def peaks_at(row, peak):
    """The tone, far above -30 dB, fills its bin and its neighbours to 255; nothing else is loud."""
    loud = numpy.nonzero(numpy.array(row) >= 200)[0]
    return row[peak] == 255 and len(loud) > 0 and abs(loud - peak).max() <= 3


@pytest.mark.parametrize("frequency", [1000, 4000])
def test_a_tone_peaks_at_its_bin_and_row_1_shows_its_sine(room, frequency):
    run = room.hotfx_in()
    peak = peak_of(run, frequency)
    assert peak in {(1000): (46, 43), (4000): (186, 171)}[frequency]
    room.play(run.folder, frequency)
    row0, row1 = rows(run.wait_for_picture(lambda img: peaks_at(rows(img)[0], peak), label="tone"))
    assert peaks_at(row0, peak), row0
    # Half of full scale: 128 +- 64.
    assert 60 <= min(row1) <= 68 and 188 <= max(row1) <= 196, row1
    rises = numpy.count_nonzero(numpy.diff((numpy.array(row1) >= 128).astype(int)) == 1)
    assert abs(rises - 512 * peak / 2048) <= 1, row1  # a period of rate / frequency samples


def test_silence_after_a_tone_reads_0_across_row_0_and_128_across_row_1(room):
    run = room.hotfx_in()
    peak = peak_of(run, 1000)
    player = room.play(run.folder, 1000)
    run.wait_for_picture(lambda img: peaks_at(rows(img)[0], peak), label="tone")
    player.kill()
    assert rows(run.wait_for_picture(lambda img: max(rows(img)[0]) == 0, label="silence")) == SILENCE


def test_list_names_the_devices_and_exits_0_and_a_part_of_a_name_picks_one(room):
    run = room.hotfx_in(command=WATCH + ["--sound-in", "list"])
    assert (run.wait_exit(), run.output()) == (0, ["0: PulseAudio Input", "1: Monitor of Null Output"])
    run = room.hotfx_in(command=WATCH + ["--sound-in", "monitor"])
    assert re.match(LISTENING, run.expect(LISTENING)).group(1) == "Monitor of Null Output"


def test_a_name_that_matches_no_device_is_one_line_and_2(room):
    run = room.hotfx_in(command=WATCH + ["--sound-in", "Speakers"])
    assert run.wait_exit() == 2
    said = run.stderr_path.read_text(errors="replace").splitlines()
    assert [line for line in said if line.startswith("hotfx")] == [
        "hotfx: --sound-in Speakers: no capture device has that name; --sound-in list shows them"]
    assert run.output() == []


def test_the_server_gone_is_one_line_and_silence_the_picture_goes_on_and_escape_ends_with_0(room):
    run = room.hotfx_in()
    peak = peak_of(run, 1000)
    room.play(run.folder, 1000)
    run.wait_for_picture(lambda img: peaks_at(rows(img)[0], peak), label="tone")
    room.sinks[0].server.kill()
    run.expect(STOPPED)
    assert rows(run.wait_for_picture(lambda img: rows(img) == SILENCE, label="silence")) == SILENCE
    run.key("F5")
    run.expect(LOADED)
    run.expect(r"Error : sound_in: the capture device failed to open \(answered \d+\); it reads silence, and F5 "
               r"tries the device again$")
    run.key("Escape")
    assert run.wait_exit() == 0
    errors = [line for line in run.output() if line.startswith("Error")]
    assert len(errors) == 2 and re.match(STOPPED, errors[0]), errors


def test_loopback_hears_a_tone_played_into_the_default_output_at_its_bin(room):
    run = room.hotfx_in(command=WATCH + ["--sound-in", "loopback"], tone=1000)
    assert re.match(LISTENING, run.expect(LISTENING)).groups() == ("what the default output device plays", "44100")
    assert peaks_at(rows(run.wait_for_picture(lambda img: peaks_at(rows(img)[0], 46), label="tone"))[0], 46)


# sound_in in the first 512 columns, a WAV's picture in the next 512: row 0 above, row 1 below.
BESIDE_A_WAV = shader("""float2 pixel = floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5);
    float2 at = float2((fmod(pixel.x, 512) + 0.5) / 512, pixel.y < 512 ? 0.25 : 0.75);
    return lerp(tex2D(sound_in, at), tex2D(music, at), step(512, pixel.x));""",
                      VERTEX_STAGE + "sampler2D sound_in; sampler2D music; float4 resolution;")


def test_an_exact_frame_says_sound_in_reads_silence_and_a_wav_beside_it_reads_as_ever(room):
    def folder(path):
        sine_folder(path)
        (path / "main.fx").write_text(BESIDE_A_WAV)
    run = room.hotfx_in(command=frame_command("--frame", 90, "out.png"), make=folder, tone=1000)
    assert run.wait_exit(timeout=120) == 0
    assert run.output() == ["Load Shader.", "sound_in: --frame and --frames can't replay live sound; sound_in, "
                            "sound_in_smoothed and sound_in_total read silence"]
    img = saved(run, "out.png")
    assert rows(img) == SILENCE
    wav = [pixel_at(img, x, 100)[0] for x in range(512, 1024)]
    assert wav[BIN] == max(wav) > 200 and max(wav[:BIN - 8]) <= 10, wav


# Row 0 of sound_in in the top band, sound_in_smoothed in the middle one, and sound_in_total
# divided by 1000 in the bottom one, each texel in its column.
COMPANIONS = shader("""float2 pixel = floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5);
    float x = (pixel.x + 0.5) / 512;
    float4 live = tex2D(sound_in, float2(x, 0.25));
    float4 held = tex2D(sound_in_smoothed, float2(x, 0.5));
    float4 total = tex2D(sound_in_total, float2(x, 0.5)) / 1000;
    return pixel.y < 200 ? live : pixel.y < 400 ? held : total;""",
                    VERTEX_STAGE + "sampler2D sound_in; sampler2D sound_in_smoothed; sampler2D sound_in_total; "
                                   "float4 resolution;")


def bands(img, x):
    return tuple(pixel_at(img, x, y)[0] for y in (100, 300, 500))


def test_smoothed_rises_with_a_tone_at_once_and_falls_back_slowly_after_it(room):
    run = room.hotfx_in(COMPANIONS)
    peak = peak_of(run, 1000)
    player = room.play(run.folder, 1000)
    assert bands(run.wait_for_picture(lambda img: bands(img, peak)[0] == 255, label="tone"), peak)[1] == 255
    player.kill()
    img = run.wait_for_picture(lambda img: bands(img, peak)[0] == 0, label="silence")
    # At most 0.5 of the range a second: after the tone it still holds most of it.
    assert 128 < bands(img, peak)[1] < 255, bands(img, peak)
    time.sleep(2.5)
    assert bands(run.screenshot("later"), peak)[1] == 0


def test_total_grows_with_each_frame_of_a_tone_in_its_bins_alone(room):
    run = room.hotfx_in(COMPANIONS)
    peak = peak_of(run, 1000)
    room.play(run.folder, 1000)
    first = bands(run.wait_for_picture(lambda img: bands(img, peak)[2] > 0, label="tone"), peak)[2]
    time.sleep(1)
    later = bands(run.screenshot("later"), peak)[2], bands(run.screenshot("far"), 400)[2]
    assert later[0] > first and later[1] == 0, (first, later)


@pytest.mark.default_stack
def test_view_passes_sound_in_on_and_reaches_the_sessions_sound_server(tmp_path):
    (tmp_path / "main.fx").write_text(LIVE)
    room, env = Room(None), {name: value for name, value in os.environ.items() if name != "DISPLAY"}
    try:
        room.server(tmp_path)
        done = subprocess.run([VIEW, "--sound-in", "list", str(tmp_path)], capture_output=True, text=True,
                              timeout=300, env=dict(env, HOTFX_EXE=str(EXE), **Room.pulse(tmp_path)))
    finally:
        room.close()
    assert (done.returncode, done.stdout.splitlines()) == (0, ["0: PulseAudio Input", "1: Monitor of Null Output"])
