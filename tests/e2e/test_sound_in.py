"""The samplers sound_in, sound_in_smoothed and sound_in_total read what a capture device hears:
here the monitor of a real PulseAudio server's null sink, into which paplay plays tones. Sound
is not the Direct3D stack's doing, so these run on wined3d alone."""

import re
import subprocess
import time
import wave

import numpy
import pytest

from support import VERTEX_STAGE, RecordingSink, exit_code_kept, pixel_at, shader
from test_sound_keys import SHOWN
from test_watch import WATCH

pytestmark = pytest.mark.only_on("wined3d", "sound is not the stack's doing")

RATE = 44100
PULSE = {"PULSE_SERVER": "unix:/job/pulse.sock"}
STOPPED = (r"Error : sound_in: the capture device sent nothing for 2 seconds \(unplugged, or its sound server "
           r"gone\); it reads silence, and F5 tries the device again$")
LISTENING = r"Listening to (.+) at (\d+) samples a second\.$"
# The first 512 columns show sound_in's texels one for one: row 0 above, row 1 below.
LIVE = SHOWN.replace("music", "sound_in")


def server_in(path):
    """A sound server in the run's folder whose default source is its null sink's monitor."""
    sink = RecordingSink(path, RATE, latency_msec=10)
    subprocess.run(["pactl", "set-default-source", "rec.monitor"], env={"PULSE_SERVER": f"unix:{path}/pulse.sock"},
                   check=True, timeout=10)
    return sink


def play(path, frequency, seconds=30):
    """paplay playing a tone at half of full scale into the sink, until it is ended."""
    tone = path / f"tone{frequency}.wav"
    with wave.open(str(tone), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        samples = 0.5 * numpy.sin(2 * numpy.pi * frequency * numpy.arange(seconds * RATE) / RATE)
        out.writeframes((samples * 32767).round().astype("<i2").tobytes())
    return subprocess.Popen(["paplay", "-d", "rec", str(tone)], env={"PULSE_SERVER": f"unix:{path}/pulse.sock"})


def rows(img):
    """Row 0 and row 1 as the picture shows them, 0 to 255 each."""
    return ([pixel_at(img, x, 100)[0] for x in range(512)], [pixel_at(img, x, 700)[0] for x in range(512)])


def listening(hotfx, source=LIVE, args=()):
    sinks = []

    def folder(path):
        (path / "main.fx").write_text(source)
        sinks.append(server_in(path))
    run = hotfx(folder, command=WATCH + list(args), env=PULSE)
    return run, sinks[0]


def peaks_at(row, peak):
    """The tone, far above -30 dB, fills its bin and its neighbours to 255; nothing else is loud."""
    loud = numpy.nonzero(numpy.array(row) >= 200)[0]
    return row[peak] == 255 and len(loud) > 0 and abs(loud - peak).max() <= 3


def crossings(row):
    """Where the waveform crosses its middle going up, by linear interpolation."""
    wave_ = numpy.array(row, float) - 128
    up = numpy.nonzero((wave_[:-1] < 0) & (wave_[1:] >= 0))[0]
    return up - wave_[up] / (wave_[up + 1] - wave_[up])


@pytest.mark.parametrize("frequency", [1000, 4000])
def test_a_tone_peaks_at_its_bin_and_row_1_shows_its_sine(hotfx, frequency, tmp_path):
    run, sink = listening(hotfx)
    player = None
    try:
        rate = int(re.match(LISTENING, run.expect(LISTENING)).group(2))
        peak = round(frequency * 2048 / rate)
        assert peak == {(1000, 44100): 46, (1000, 48000): 43, (4000, 44100): 186, (4000, 48000): 171}[frequency, rate]
        player = play(run.folder, frequency)
        img = run.wait_for_picture(lambda img: peaks_at(rows(img)[0], peak), label="tone")
        row0, row1 = rows(img)
        assert peaks_at(row0, peak), row0
        # Half of full scale: 128 +- 64, and a period of rate / frequency samples.
        assert 60 <= min(row1) <= 68 and 188 <= max(row1) <= 196, row1
        assert abs(numpy.mean(numpy.diff(crossings(row1))) - rate / frequency) < 0.05 * rate / frequency, row1
    finally:
        if player:
            player.kill()
        sink.stop()


def test_silence_after_a_tone_reads_0_across_row_0_and_128_across_row_1(hotfx):
    run, sink = listening(hotfx)
    player = None
    try:
        rate = int(re.match(LISTENING, run.expect(LISTENING)).group(2))
        player = play(run.folder, 1000)
        run.wait_for_picture(lambda img: peaks_at(rows(img)[0], round(1000 * 2048 / rate)), label="tone")
        player.kill()
        img = run.wait_for_picture(lambda img: max(rows(img)[0]) == 0, label="silence")
        assert rows(img) == ([0] * 512, [128] * 512)
    finally:
        if player:
            player.kill()
        sink.stop()


def test_list_names_the_devices_and_exits_0(hotfx):
    run, sink = listening(hotfx, args=["--sound-in", "list"])
    try:
        assert run.wait_exit() == 0
        assert run.output() == ["0: PulseAudio Input", "1: Monitor of Null Output"]
    finally:
        sink.stop()


def test_a_part_of_a_name_picks_that_device(hotfx):
    run, sink = listening(hotfx, args=["--sound-in", "monitor"])
    try:
        assert re.match(LISTENING, run.expect(LISTENING)).group(1) == "Monitor of Null Output"
    finally:
        sink.stop()


def test_a_name_that_matches_no_device_is_one_line_and_2(hotfx):
    run, sink = listening(hotfx, args=["--sound-in", "Speakers"])
    try:
        assert run.wait_exit() == 2
        said = run.stderr_path.read_text(errors="replace").splitlines()
        assert [line for line in said if line.startswith("hotfx")] == [
            "hotfx: --sound-in Speakers: no capture device has that name; --sound-in list shows them"]
        assert run.output() == []
    finally:
        sink.stop()


def test_the_server_gone_is_one_line_and_silence_the_picture_goes_on_and_escape_ends_with_0(hotfx):
    run, sink = listening(hotfx)
    player = None
    try:
        rate = int(re.match(LISTENING, run.expect(LISTENING)).group(2))
        player = play(run.folder, 1000)
        run.wait_for_picture(lambda img: peaks_at(rows(img)[0], round(1000 * 2048 / rate)), label="tone")
        sink.server.kill()
        run.expect(STOPPED)
        img = run.wait_for_picture(lambda img: rows(img) == ([0] * 512, [128] * 512), label="silence")
        assert rows(img) == ([0] * 512, [128] * 512)
        run.key("F5")
        run.expect(r"Load Shader\.$")
        run.expect(r"Error : sound_in: the capture device failed to open \(answered \d+\); it reads silence, and F5 "
                   r"tries the device again$")
        run.key("Escape")
        assert run.wait_exit() == 0
        errors = [line for line in run.output() if line.startswith("Error")]
        assert len(errors) == 2 and re.match(STOPPED, errors[0]), errors
    finally:
        if player:
            player.kill()
        sink.stop()
