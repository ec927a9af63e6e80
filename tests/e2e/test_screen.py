"""Full screen and the monitors: F11, --fullscreen, --monitor N and --monitor list, on Xvfb's one
1600x1200 monitor."""

import re
import subprocess

import pytest

from support import LOADED, WINE_ROOT, Image, colour_close_to, pixel_at, shader, wait_until

# Red and green: the resolution over 4096, so that the back buffer's size shows in the picture.
RESOLUTION = shader("return float4(resolution.xy / 4096, 0.5, 1);").replace(
    "float4 ps_main", "float4 resolution;\nfloat4 ps_main")
# A pass that adds 1 to itself in every frame holds frame + 1, as long as nothing lost what it
# carried: red while it does, blue once it doesn't.
COUNTING = shader("""float2 texel = (position + 0.5) * resolution.zw;
    return abs(tex2D(count, texel).x - frame - 1) < 0.5 ? float4(1, 0, 0, 1) : float4(0, 0, 1, 1);""").replace(
    "float4 ps_main(float2 uv : TEXCOORD0)", """float4 resolution;
float frame;
sampler2D count;
float4 ps_count(float2 position : VPOS) : COLOR0
{
    return tex2D(count, (position + 0.5) * resolution.zw) + 1;
}
float4 ps_main(float2 uv : TEXCOORD0, float2 position : VPOS)""")
SCREEN = (0, 0, 1600, 1200)
POINTS = [(5, 5), (1594, 5), (800, 600), (5, 1194), (1594, 1194)]


def hotfx_exe(*args):
    return [str(WINE_ROOT), "wine", "hotfx.exe", *map(str, args)]


def resolution_colour(width, height):
    return (255 * width / 4096, 255 * height / 4096, 128)


def whole_screen(run):
    ppm = subprocess.run(["import", "-display", run.display.name, "-window", "root", "-depth", "8", "ppm:-"],
                         capture_output=True, check=True, timeout=30).stdout
    return Image(ppm)


def covers_screen_in(run, colour):
    """Waits until the window is the screen and the screen shows colour at the corners and the centre."""
    def shown():
        img = whole_screen(run)
        return run.geometry() == SCREEN and all(colour_close_to(pixel_at(img, x, y), colour, 2) for x, y in POINTS)
    return wait_until(shown, 30, 0.2)


# The back buffer takes the monitor's size: a Reset, which each stack does its own way.
def test_f11_covers_the_screen_with_a_back_buffer_of_its_size(hotfx):
    run = hotfx(RESOLUTION, command=hotfx_exe("--watch"))
    run.expect(LOADED)
    run.key("F11")
    assert covers_screen_in(run, resolution_colour(1600, 1200)), (run.geometry(), whole_screen(run).width)


@pytest.mark.default_stack
def test_f11_again_gives_the_window_back_where_it_was_with_its_back_buffer(hotfx):
    run = hotfx(RESOLUTION, command=hotfx_exe("--watch"))
    run.expect(LOADED)
    windowed = run.geometry()
    run.key("F11")
    assert covers_screen_in(run, resolution_colour(1600, 1200))
    run.key("F11")
    assert wait_until(lambda: run.geometry() == windowed, 30), (run.geometry(), windowed)
    run.wait_for_colour(resolution_colour(1280, 1024), tol=2)


# What the pass carries goes through each Reset, in and out of full screen, stretched: on both stacks.
def test_a_pass_goes_on_counting_through_full_screen_and_back(hotfx):
    run = hotfx(COUNTING, command=hotfx_exe("--watch"))
    run.expect(LOADED)
    run.wait_for_colour((255, 0, 0), tol=2)
    run.key("F11")
    assert covers_screen_in(run, (255, 0, 0))
    run.key("F11")
    run.wait_for_colour((255, 0, 0), tol=2, label="back")
    assert not [line for line in run.output() if line.startswith("Error")]


@pytest.mark.default_stack
def test_fullscreen_with_size_keeps_the_picture_its_size_between_bars(hotfx):
    run = hotfx(RESOLUTION, command=hotfx_exe("--fullscreen", "--size", "1600x900"))
    run.expect(LOADED)
    picture = resolution_colour(1600, 900)
    assert wait_until(lambda: all(colour_close_to(pixel_at(img, x, y), colour, 2)
                                  for img in [whole_screen(run)]
                                  for (x, y), colour in [((800, 140), (0, 0, 0)), ((800, 160), picture),
                                                         ((5, 600), picture), ((800, 1040), picture),
                                                         ((800, 1060), (0, 0, 0))]), 30, 0.2)


@pytest.mark.default_stack
def test_monitor_list_names_the_one_monitor_and_its_size(hotfx):
    run = hotfx(RESOLUTION, command=hotfx_exe("--monitor", "list"))
    assert run.wait_exit() == 0
    assert run.output() == ["1: 1600x1200 at 0,0, primary"]


@pytest.mark.default_stack
def test_a_monitor_that_isnt_there_is_one_line_and_2_without_a_window(hotfx):
    run = hotfx(RESOLUTION, command=hotfx_exe("--watch", "--monitor", "3"))
    assert run.wait_exit() == 2
    lines = [line for line in run.stderr_path.read_text(errors="replace").splitlines() if line.startswith("hotfx")]
    assert lines == ["hotfx: --monitor 3: there is no monitor 3; --monitor list shows the 1 there are"]
    assert run.output() == []
    assert not re.search(r"trace:fps:", run.stderr_path.read_text(errors="replace"))
