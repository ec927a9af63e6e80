"""--size WIDTHxHEIGHT: the back buffer, the passes, resolution and the window follow it."""

import re
import subprocess

import numpy
import pytest

from support import WINE_ROOT, Image, colour_close_to, exit_code_kept, pixel_at, shader

# Red and green: resolution over 4096. Blue: a pass that holds its own pixel's column mod 256,
# read at the same pixel, so a pass of another size than the picture shows another value.
SIZED = shader("""float2 texel = (position + 0.5) * resolution.zw;
    return float4(resolution.xy / 4096, tex2D(columns, texel).x, 1);""").replace(
    "float4 ps_main(float2 uv : TEXCOORD0)", """float4 resolution;
sampler2D columns;
float4 ps_columns(float2 position : VPOS) : COLOR0
{
    return float4(fmod(position.x, 256) / 255, 0, 0, 1);
}
float4 ps_main(float2 uv : TEXCOORD0, float2 position : VPOS)""")


def hotfx_exe(*args):
    return [str(WINE_ROOT), "wine", "hotfx.exe", *map(str, args)]


def png(run, name):
    ppm = subprocess.run(["convert", str(run.folder / name), "-depth", "8", "ppm:-"], capture_output=True,
                         check=True).stdout
    return Image(ppm)


@pytest.mark.default_stack
@pytest.mark.parametrize("args", [("--size", "640x360", "--frame", 0, "out.png"),
                                  ("--frame", 0, "out.png", "--size", "1920x1080")], ids=["640x360", "1920x1080"])
def test_a_saved_frame_is_the_size_asked_with_resolution_and_passes_at_that_size(hotfx, args):
    width, height = map(int, args[args.index("--size") + 1].split("x"))
    runs = [hotfx(SIZED, command=hotfx_exe(*args)) for _ in range(2)]
    assert [run.wait_exit(timeout=120) for run in runs] == [0, 0]
    img = png(runs[0], "out.png")
    assert (img.width, img.height) == (width, height)
    for x, y in ((0, 0), (300, 200), (width - 1, height - 1)):
        expected = (255 * width / 4096, 255 * height / 4096, x % 256)
        assert colour_close_to(pixel_at(img, x, y), expected, 1.5), (x, y, pixel_at(img, x, y), expected)
    assert (runs[0].folder / "out.png").read_bytes() == (runs[1].folder / "out.png").read_bytes()


@pytest.mark.default_stack
def test_frames_into_a_pipe_come_at_the_size_asked(hotfx):
    run = hotfx(SIZED, command=["sh", "-c", '"$@" > frames.raw', "sh",
                                *exit_code_kept("--size", "640x360", "--frames", 0, 1, "-")])
    assert run.wait_exit(timeout=120) == 0
    raw = numpy.fromfile(run.folder / "frames.raw", numpy.uint8)
    assert raw.size == 2 * 640 * 360 * 4
    # 4 bytes a pixel, blue first, top row first.
    assert colour_close_to(tuple(raw[(10 * 640 + 300) * 4:][:3][::-1]), (255 * 640 / 4096, 255 * 360 / 4096, 44), 1.5)


# The screen is 1600x1200: 640x360 fits as it is; 2400x1000 is shown at the largest 12:5 that does.
@pytest.mark.default_stack
@pytest.mark.parametrize("size", ["640x360", "2400x1000"])
def test_with_watch_the_client_area_is_the_size_or_the_largest_of_its_aspect_that_fits(hotfx, size):
    width, height = map(int, size.split("x"))
    run = hotfx(SIZED, command=hotfx_exe("--watch", "--size", size))
    run.expect(r"Load Shader\.$")
    client, outer = run.geometry(), run.outer_size()
    if width <= 1600:
        assert client[2:] == (width, height), client
    else:
        assert client[2] * height == client[3] * width and 1600 - 12 - (outer[0] - client[2]) <= client[2], (client, outer)


USAGE = "usage: hotfx.exe [--watch | --frame N OUT.png | --frames FIRST LAST PATTERN|-] [--size WIDTHxHEIGHT]" \
        " [--sound-in list|DEVICE|loopback] [--osc [ADDRESS:]PORT]" \
        " [--fullscreen] [--monitor N|list]"


# One line and 2, before any window: a size that doesn't parse, and one larger than the device draws.
@pytest.mark.default_stack
@pytest.mark.parametrize("size, said", [(size, re.escape(f"hotfx: not a size such as 1920x1080: {size}; {USAGE}"))
                                        for size in ["0x100", "640x", "640x360x2", "wide", "65536x100"]]
                         + [("65535x100", r"hotfx: --size 65535x100: this device draws at most \d+x\d+")])
def test_a_bad_size_is_one_line_and_2(hotfx, size, said):
    run = hotfx(SIZED, command=hotfx_exe("--watch", "--size", size))
    assert run.wait_exit(timeout=120) == 2
    lines = [line for line in run.stderr_path.read_text(errors="replace").splitlines() if line.startswith("hotfx")]
    assert len(lines) == 1 and re.fullmatch(said, lines[0]), lines
    assert run.output() == []
