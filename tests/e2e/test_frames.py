"""hotfx.exe --frame N OUT.png and --frames FIRST LAST PATTERN: the saved picture is the live
program's frame N, unscaled; the exit codes that scripts gate on; the same bytes every time."""

import re
import subprocess

import numpy
import pytest

from support import D3D9_LOADED, STACKS, WINE_ROOT, Image, colour_close_to, exit_code_kept, pixel_at, shader, wait_until

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
    """The PNG the run wrote, checked to be the unscaled back buffer drawn by the stack named."""
    loaded = D3D9_LOADED.search(run.stderr_path.read_text(errors="replace"))
    assert loaded and loaded.group(1) == STACKS[run.stack][0], f"d3d9.dll of {run.stack} not loaded"
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
        assert colour_close_to(colour, expected, 1), \
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


def test_a_name_ending_in_bmp_saves_a_bitmap_of_the_same_picture(hotfx):
    bitmaps = hotfx(TIME_IN_COLOUR, command=frame_command("--frames", 59, 60, "f%d.BMP"))
    png = hotfx(TIME_IN_COLOUR, command=frame_command("--frame", 60, "f60.png"))
    assert [run.wait_exit(timeout=120) for run in (bitmaps, png)] == [0, 0]
    assert (bitmaps.folder / "f60.BMP").read_bytes()[:2] == b"BM"
    assert (png.folder / "f60.png").read_bytes()[:4] == b"\x89PNG"
    assert saved(bitmaps, "f60.BMP").pixels == saved(png, "f60.png").pixels
    assert saved(bitmaps, "f59.BMP").pixels != saved(png, "f60.png").pixels


def printed(run):
    lines = run.stderr_path.read_text(errors="replace").split("\n")
    return [line.rstrip("\r") for line in lines if line.startswith(("Load Shader.", "Error : "))]


def test_frames_into_a_pipe_are_the_bitmaps_pixels_and_nothing_else(hotfx):
    # Through cmd.exe, as tools/record.sh runs it.
    piped = hotfx(TIME_IN_COLOUR, command=["sh", "-c", '"$@" > frames.raw', "sh", *exit_code_kept("--frames", 59, 61, "-")])
    bitmaps = hotfx(TIME_IN_COLOUR, command=frame_command("--frames", 59, 61, "f%d.bmp"))
    assert [run.wait_exit(timeout=120) for run in (piped, bitmaps)] == [0, 0]
    assert printed(piped) == ["Load Shader."]
    raw = numpy.fromfile(piped.folder / "frames.raw", numpy.uint8)  # three frames and nothing else, or no reshape
    for frame, pixels in zip(range(59, 62), raw.reshape(3, 1024, 1280 * 4)):
        bitmap = (bitmaps.folder / f"f{frame}.bmp").read_bytes()
        # 4 bytes a pixel after the headers, bottom row first.
        rows = numpy.frombuffer(bitmap, numpy.uint8, offset=int.from_bytes(bitmap[10:14], "little")).reshape(1024, -1)
        assert numpy.array_equal(pixels, rows[::-1]), f"frame {frame}"


@pytest.mark.default_stack
def test_a_reader_that_goes_away_ends_the_frames_with_4_and_one_line(hotfx):
    run = hotfx(TIME_IN_COLOUR, command=["bash", "-c", '"$@" | head -c 1000 >/dev/null; exit ${PIPESTATUS[0]}', "bash",
                                         *exit_code_kept("--frames", 0, 100000, "-")])
    assert run.wait_exit(timeout=120) == 4
    assert printed(run) == ["Load Shader.", "Error : can't write the frames to standard output"]


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


@pytest.mark.default_stack
@pytest.mark.parametrize("case", FAILURES, ids=list(FAILURES))
def test_a_failure_has_its_exit_code_and_line(hotfx, case):
    source, args, code, said = FAILURES[case]
    run = hotfx(source, command=exit_code_kept(*args))
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


BAD_ARGUMENTS = {
    "no file": ["--frame", "12"],
    "a negative frame": ["--frame", "-1", "out.png"],
    "backwards": ["--frames", "9", "5", "%d.png"],
    "no number in the name": ["--frames", "1", "2", "out.png"],
    "one too many": ["--frame", "1", "out.png", "more"],
}


@pytest.mark.default_stack
@pytest.mark.parametrize("args", BAD_ARGUMENTS.values(), ids=list(BAD_ARGUMENTS))
def test_bad_arguments_give_one_line_and_2(hotfx, args):
    run = hotfx(TIME_IN_COLOUR, command=frame_command(*args))
    assert run.wait_exit(timeout=120) == 2
    said = [line for line in run.stderr_path.read_text(errors="replace").splitlines() if line.startswith("hotfx")]
    assert len(said) == 1 and "usage: hotfx.exe" in said[0], said
    assert run.output() == [] and not list(run.folder.glob("*.png"))


# Wine's +d3d9 channel logs each device method as it is entered; +d3d logs the constants as
# wined3d takes them for a draw, each to nine digits, which is every bit of a float.
D3D9_CALL = re.compile(r"trace:d3d9:d3d9_device_([A-Z]\w*) (.*)$")
CONSTANT = re.compile(r"trace:d3d:wined3d_device_set_([vp]s)_consts_f Set vec4 constant (\d+) to \{(.*)\}\.$")
ADDRESS = re.compile(r"\b[0-9A-F]{8}\b")


def traced_frames(path):
    """Each frame's device calls from Clear to EndScene, addresses masked, and the constants
    that its draw used, as (stage, register, four floats)."""
    frames = []
    with open(path, errors="replace") as log:
        for line in log:
            if call := D3D9_CALL.search(line):
                method = call.group(1)
                if method == "Clear":
                    frames.append(([], []))
                if frames and method not in ("AddRef", "Release") and len(frames[-1][0]) < 9:
                    frames[-1][0].append(method + " " + ADDRESS.sub("*", call.group(2)))
            elif frames and (constant := CONSTANT.search(line)):
                frames[-1][1].append((constant.group(1), int(constant.group(2)),
                                      tuple(numpy.float32(v) for v in constant.group(3).split(", "))))
    return frames


@pytest.mark.only_on("wined3d", "the calls and constants are read from Wine's d3d9 and wined3d trace channels, "
                     "which DXVK's d3d9 does not write to")
def test_a_saved_frame_makes_the_calls_and_uses_the_time_of_the_live_frame(hotfx):
    frame = 30
    live = hotfx(TIME_IN_COLOUR, winedebug="+d3d9,+d3d")
    live.window()
    assert wait_until(lambda: live.stderr_path.read_text(errors="replace").count("d3d9_device_EndScene") > frame + 1,
                      120, 0.5), "the live run did not draw enough frames"
    live.key("Escape")
    assert live.wait_exit(timeout=120) == 0
    saved_run = hotfx(TIME_IN_COLOUR, winedebug="+d3d9,+d3d", command=frame_command("--frame", frame, "out.png"))
    assert saved_run.wait_exit(timeout=120) == 0

    live_calls, live_constants = traced_frames(live.stderr_path)[frame]
    (calls, constants), = traced_frames(saved_run.stderr_path)
    assert calls == live_calls and len(calls) == 9 and calls[-1].startswith("EndScene"), (calls, live_calls)
    assert constants == live_constants
    assert sorted((stage, register) for stage, register, _ in constants) == \
        sorted((stage, register) for stage in ("vs", "ps") for register in range(64))
    for stage, register, values in constants:
        assert values == ((time_at(frame), 0, 0, 0) if register == 0 else (0, 0, 0, 0)), (stage, register, values)
