"""tools/record.sh and tools/gallery.sh, which make videos and pictures with hotfx.exe --frames
and --frame on a private Xvfb."""

import json
import os
import re
import subprocess

import numpy
import pytest

from support import EXE, REPO, shader
from test_frames import time_at
from test_sound_keys import sine_folder

pytestmark = pytest.mark.default_stack

RECORD = str(REPO / "tools" / "record.sh")
GALLERY = str(REPO / "tools" / "gallery.sh")
MOVING = shader("return float4(frac(t.x), uv * 0.5 + 0.5, 1);")


def tool_env(stack):
    return dict(os.environ, HOTFX_EXE=str(EXE), HOTFX_D3D9=stack)


def probe(path):
    """Frames counted by decoding, the size and the frame rate of a video's first stream."""
    done = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                           "stream=nb_read_frames,width,height,r_frame_rate", "-of", "json", str(path)],
                          capture_output=True, text=True, check=True)
    stream = json.loads(done.stdout)["streams"][0]
    return int(stream["nb_read_frames"]), (stream["width"], stream["height"]), stream["r_frame_rate"]


def codecs(path):
    """The codec of each of a video's streams."""
    return subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", str(path)],
                          capture_output=True, text=True, check=True).stdout.split()


def mean_reds(path):
    """The mean red of each frame of a video, decoded by ffmpeg."""
    rgb = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-fps_mode", "passthrough", "-f", "rawvideo",
                          "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    return numpy.frombuffer(rgb, numpy.uint8).reshape(-1, 1024 * 1280, 3)[:, :, 0].mean(axis=1)


# A GIF counts its delays in hundredths of a second, so its 60 frames a second play at 50.
@pytest.mark.parametrize("name, rate", [("clip.mp4", "60/1"), ("clip.webm", "60/1"), ("clip.gif", "50/1")])
def test_record_makes_a_video_of_every_frame_at_60_a_second(tmp_path, stack, name, rate):
    (tmp_path / "main.fx").write_text(MOVING)
    done = subprocess.run([RECORD, str(tmp_path / "main.fx"), "5", "16", str(tmp_path / name)], env=tool_env(stack),
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert probe(tmp_path / name) == (12, (1280, 1024), rate)
    # Each frame in its place: the red of frame N is the fraction of its time, 4.25 steps of 255
    # a frame, less what the encoding's colours shift all frames by alike. (The one palette of a
    # GIF has too few reds to tell neighbouring frames apart.)
    if name.endswith(".gif"):
        return
    wanted = numpy.array([255 * float(time - numpy.floor(time)) for time in map(time_at, range(5, 17))])
    shift = mean_reds(tmp_path / name) - wanted
    assert numpy.all(abs(shift - numpy.median(shift)) < 1.5) and abs(numpy.median(shift)) < 3, shift.round(1)
    # Into a pipe, no progress bar; and nothing is left behind in the shader's folder.
    assert "\r" not in done.stderr and "left" not in done.stderr, done.stderr
    assert sorted(path.name for path in tmp_path.iterdir()) == sorted(["main.fx", name])


def test_record_at_a_size_makes_a_video_of_that_size(tmp_path, stack):
    (tmp_path / "main.fx").write_text(MOVING)
    done = subprocess.run([RECORD, "--size", "640x360", str(tmp_path / "main.fx"), "0", "9", str(tmp_path / "a.webm")],
                          env=tool_env(stack), capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert probe(tmp_path / "a.webm") == (10, (640, 360), "60/1")


@pytest.mark.parametrize("out", ["pictures", "clip.mp4"])
def test_record_on_a_terminal_shows_a_progress_bar(tmp_path, stack, out):
    sine_folder(tmp_path)
    command = " ".join([RECORD, str(tmp_path / "main.fx"), "0", "7", str(tmp_path / out)])
    # script(1) gives the run a terminal of its own and copies what reaches it.
    # Bytes, as text mode would turn each carriage return into a line end.
    done = subprocess.run(["script", "-qec", command, "/dev/null"], env=tool_env(stack), capture_output=True,
                          timeout=300)
    shown = done.stdout.decode(errors="replace")
    assert done.returncode == 0, shown
    bars = [part for part in shown.split("\r") if part.startswith("record: [")]
    assert bars and re.fullmatch(r"record: \[#{30}\] 8/8 frames, 0:00 left ", bars[-1]), bars
    assert all(re.fullmatch(r"record: \[[#.]{30}\] [1-8]/8 frames, \d+:\d\d left ", bar) for bar in bars), bars
    assert (probe(tmp_path / out)[0] if out == "clip.mp4" else len(list((tmp_path / out).iterdir()))) == 8
    # The shader reads music.wav, so the video carries it.
    assert out != "clip.mp4" or codecs(tmp_path / out) == ["h264", "aac"]


def test_record_into_a_folder_keeps_the_pictures_as_hotfx_saved_them(tmp_path, stack):
    (tmp_path / "shader").mkdir()
    (tmp_path / "shader" / "main.fx").write_text(MOVING)
    done = subprocess.run([RECORD, str(tmp_path / "shader"), "098", "0101", str(tmp_path / "pictures")],
                          env=tool_env(stack), capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    pictures = sorted((tmp_path / "pictures").iterdir())
    assert [path.name for path in pictures] == [f"{frame:010d}.png" for frame in range(98, 102)]
    assert len({path.read_bytes() for path in pictures}) == 4
    assert sorted(path.name for path in (tmp_path / "shader").iterdir()) == ["main.fx"]


def test_record_passes_on_a_shader_that_does_not_compile_and_keeps_the_old_video(tmp_path, stack):
    (tmp_path / "main.fx").write_text(shader("return undeclared;"))
    (tmp_path / "clip.mp4").write_bytes(b"last week's video")
    done = subprocess.run([RECORD, str(tmp_path), "0", "9", str(tmp_path / "clip.mp4")], env=tool_env(stack),
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 3
    assert "undeclared" in done.stderr and "record: hotfx exited with code 3" in done.stderr
    assert sorted(path.name for path in tmp_path.iterdir()) == ["clip.mp4", "main.fx"]
    assert (tmp_path / "clip.mp4").read_bytes() == b"last week's video"


BAD_ARGUMENTS = {
    "too few": (["0", "9"], r"2 arguments, not 3 or 4"),
    "not a number": (["{tmp}", "zero", "9", "{tmp}/a.mp4"], r"not a frame number: zero"),
    "backwards": (["{tmp}", "9", "0", "{tmp}/a.mp4"], r"the last frame comes before the first: 0"),
    "a file as the folder": (["{tmp}", "0", "9", "{tmp}/main.fx"], r"not a folder, nor \.mp4, \.webm or \.gif: .*"),
    "no such shader": (["{tmp}/nowhere.fx", "0", "9", "{tmp}/a.mp4"], r"no such folder or file: .*/nowhere\.fx"),
    "output in no folder": (["{tmp}", "0", "9", "{tmp}/gone/a.mp4"], r"cannot write into the folder: .*/gone"),
    "not a size": (["--size", "640", "{tmp}", "0", "9", "{tmp}/a.mp4"], r"not a size such as 1920x1080: 640"),
    "an odd size for 4:2:0": (["--size", "641x360", "{tmp}", "0", "9", "{tmp}/a.mp4"],
                              r"an \.mp4 or \.webm needs an even width and height, not 641x360"),
}


@pytest.mark.parametrize("bad", BAD_ARGUMENTS, ids=list(BAD_ARGUMENTS))
def test_record_bad_arguments_say_one_line_and_exit_2(tmp_path, bad):
    (tmp_path / "main.fx").write_text(MOVING)
    arguments, message = BAD_ARGUMENTS[bad]
    done = subprocess.run([RECORD, *(argument.format(tmp=tmp_path) for argument in arguments)],
                          capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout) == (2, "")
    assert re.fullmatch(r"record: " + message + r"; usage: tools/record\.sh .*\n", done.stderr), done.stderr
    assert sorted(path.name for path in tmp_path.iterdir()) == ["main.fx"], "something was written"


def test_gallery_gives_the_same_bytes_every_run(tmp_path, stack):
    pictures = []
    for run in ("first", "second"):
        done = subprocess.run([GALLERY, "shapes", "template"], env=dict(tool_env(stack), HOTFX_GALLERY_OUT=str(tmp_path / run)),
                              capture_output=True, text=True, timeout=300)
        (tmp_path / run).mkdir(exist_ok=True)
        assert done.returncode == 0, done.stderr
        pictures.append({path.name: path.read_bytes() for path in (tmp_path / run).iterdir()})
    assert sorted(pictures[0]) == ["shapes.png", "template.png"]
    assert pictures[0] == pictures[1]
    made_small = subprocess.run(["identify", "-format", "%w %h %m", str(tmp_path / "first" / "shapes.png")],
                                capture_output=True, text=True, check=True).stdout
    assert made_small == "400 320 PNG"
