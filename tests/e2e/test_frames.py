"""hotfx.exe --frame N OUT.png and --frames FIRST LAST PATTERN: the saved picture is the live
program's frame N, unscaled; the exit codes that scripts gate on; the same bytes every time."""

import re
import subprocess

import numpy
import pytest

from support import WINE_ROOT, Image, pixel_at, shader, solid

TIME_STEP = numpy.float32(0.016666)
# The time in the red channel, and its fine part (a 256th of a unit per step) in the green.
TIME_IN_COLOUR = shader("return float4(frac(t.x), frac(t.x * 256), 0, 1);")
BROKEN = shader("return float4(undeclared, 0, 0, 1);")


def time_at(frame):
    """c0.x of frame N: N single-precision additions of the step from 0, as numpy adds them."""
    time = numpy.float32(0)
    while frame > 0:
        chunk = min(frame, 1 << 20)
        steps = numpy.full(chunk + 1, TIME_STEP, dtype=numpy.float32)
        steps[0] = time
        time = numpy.add.accumulate(steps, dtype=numpy.float32)[-1]
        frame -= chunk
    return time


def frame_command(*args):
    return [str(WINE_ROOT), "wine", "hotfx.exe", *map(str, args)]


def saved(run, name):
    """The PNG the run wrote, checked to be the unscaled back buffer."""
    ppm = subprocess.run(["convert", str(run.folder / name), "-depth", "8", "ppm:-"],
                         capture_output=True, check=True).stdout
    img = Image(ppm)
    assert (img.width, img.height) == (1280, 1024)
    return img


def test_the_time_stops_growing_where_an_addition_no_longer_changes_it():
    last = time_at(24986957)
    assert last == 524288 and last + TIME_STEP == last
    assert time_at(24986956) < last
    assert time_at(60) < 1 < time_at(61)


@pytest.mark.parametrize("frame", [0, 1, 59, 60, 12345, 24986957])
def test_the_saved_frame_shows_the_time_of_that_frame(hotfx, frame):
    run = hotfx(TIME_IN_COLOUR, command=frame_command("--frame", frame, "out.png"))
    assert run.wait_exit(timeout=120) == 0
    assert run.output() == ["Load Shader."]
    img = saved(run, "out.png")

    time = time_at(frame)
    fine = time * numpy.float32(256)
    expected = (255 * float(time - numpy.floor(time)), 255 * float(fine - numpy.floor(fine)), 0)
    for x, y in ((0, 0), (640, 512), (1279, 1023), (17, 1000)):
        colour = pixel_at(img, x, y)
        assert all(abs(got - want) <= 1 for got, want in zip(colour, expected)), \
            f"frame {frame}: c0.x {time!r} should show {expected}, the picture shows {colour} at {(x, y)}"


def test_a_range_saves_the_same_bytes_as_single_frames_every_time(hotfx):
    ranged = hotfx(TIME_IN_COLOUR, command=frame_command("--frames", 59, 61, "%%x%03d.png"))
    assert ranged.wait_exit(timeout=120) == 0
    single = [hotfx(TIME_IN_COLOUR, command=frame_command("--frame", 60, "one.png")) for _ in range(2)]
    assert [run.wait_exit(timeout=120) for run in single] == [0, 0]

    assert sorted(path.name for path in ranged.folder.glob("*.png")) == ["%x059.png", "%x060.png", "%x061.png"]
    first, second = ((run.folder / "one.png").read_bytes() for run in single)
    assert first == second
    assert (ranged.folder / "%x060.png").read_bytes() == first
    assert (ranged.folder / "%x059.png").read_bytes() != first


def folder_named_out_png(folder):
    (folder / "main.fx").write_text(TIME_IN_COLOUR)
    (folder / "out.png").mkdir()


# id: (main.fx, arguments, exit code, what it prints: the words of a load's error line, or
# the file named by the line that says it could not be written)
FAILURES = {
    "broken shader": (BROKEN, ["--frame", 5, "out.png"], 3, ["main.fx", "undeclared"]),
    "no main.fx": (None, ["--frames", 5, 9, "out%d.png"], 3, ["main.fx", "vs_main"]),
    "a folder in the file's place": (folder_named_out_png, ["--frame", 5, "out.png"], 4, "out.png"),
    "a folder that does not exist": (TIME_IN_COLOUR, ["--frames", 5, 9, "gone\\%d.png"], 4, "gone\\5.png"),
}


@pytest.mark.parametrize("case", FAILURES, ids=list(FAILURES))
def test_a_failure_has_its_exit_code_and_line(hotfx, case):
    source, args, code, said = FAILURES[case]
    run = hotfx(source, command=frame_command(*args))
    assert run.wait_exit(timeout=120) == code
    lines = run.output()
    if code == 3:
        # The load's error, as the compiler wrote it, and nothing after it.
        assert lines[0].startswith("Error : ") and all(word in lines[0] for word in said), lines
        assert "Load Shader." not in lines and not any(line.startswith("Error : ") for line in lines[1:]), lines
    else:
        assert len(lines) == 2 and lines[0] == "Load Shader.", lines
        assert re.fullmatch(r"Error : can't write (.+) \(status 0x[0-9A-F]{8}\)", lines[1]).group(1) == said, lines
    assert not [path for path in run.folder.rglob("*.png") if path.is_file()]


@pytest.mark.parametrize("args", [["--frame", "12"], ["--frame", "-1", "out.png"], ["--frames", "9", "5", "%d.png"],
                                  ["--frames", "1", "2", "out.png"], ["--frame", "1", "out.png", "more"]])
def test_bad_arguments_give_one_line_and_2(hotfx, args):
    run = hotfx(TIME_IN_COLOUR, command=frame_command(*args))
    assert run.wait_exit(timeout=120) == 2
    said = [line for line in run.stderr_path.read_text(errors="replace").splitlines() if line.startswith("hotfx")]
    assert len(said) == 1 and "usage: hotfx.exe" in said[0], said
    assert run.output() == [] and not list(run.folder.glob("*.png"))
