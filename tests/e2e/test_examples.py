"""Every example under examples/ as a user would start from it: it loads, draws a picture, and
moves when it is meant to."""

import shutil

import pytest

from support import REPO, WINE_ROOT, colour_close_to, pixel_at

# Whether each example's picture changes from frame to frame. A new example folder fails
# test_every_example_is_listed until it is added here.
ANIMATED = {
    "blur": True,
    "clock": True,
    "filter": True,
    "keys": False,
    "life": True,
    "live": True,
    "music": True,
    "paint": True,
    "palette": True,
    "pattern": False,
    "raymarch": True,
    "reaction": True,
    "reflect": True,
    "rings": True,
    "shapes": True,
    "template": True,
    "tuned": True,
}
FOLDERS = sorted(path.parent.name for path in (REPO / "examples").glob("*/main.fx"))

# The ray marcher draws a few frames a second on the software renderer, less on a busy machine.
PATIENCE = 120


def samples(img):
    """Colours on a 33 x 27 grid over the whole picture."""
    return [pixel_at(img, min(img.width * i // 32, img.width - 1), min(img.height * j // 26, img.height - 1))
            for i in range(33) for j in range(27)]


def spread(img):
    """The largest difference in any channel between two sampled points."""
    points = samples(img)
    return max(max(p[c] for p in points) - min(p[c] for p in points) for c in range(3))


def change(img, other):
    """The largest difference in any channel at one sampled point between two pictures."""
    return max(abs(a - b) for p, q in zip(samples(img), samples(other)) for a, b in zip(p, q))


def test_every_example_is_listed():
    assert FOLDERS == sorted(ANIMATED)


# The examples that read named inputs, which hotfx fills only when it runs with an option.
WITH_INPUTS = {"blur", "filter", "keys", "life", "live", "music", "paint", "reaction", "reflect", "tuned"}
# What examples print after "Load Shader.": the order of their passes, and for music and live,
# as the Wine of these tests has no sound device, the one line that says so (their pictures move
# all the same).
SAYS = {"blur": ["Passes in order: blur_x blur_y"], "reaction": ["Passes in order: chemicals"],
        "music": ["Error : no sound device (waveOutOpen answered 2); the time runs without sound"],
        "live": ["Error : sound_in: no capture device; it reads silence, and F5 tries again"]}


def start_example(hotfx, name):
    """hotfx in a copy of the example's folder, as tools/view.sh runs it."""
    if name not in WITH_INPUTS:
        return hotfx((REPO / "examples" / name / "main.fx").read_text())
    return hotfx(lambda folder: shutil.copytree(REPO / "examples" / name, folder, dirs_exist_ok=True),
                 command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"])


@pytest.mark.parametrize("name", FOLDERS)
def test_example_loads_and_draws(hotfx, name):
    run = start_example(hotfx, name)
    run.expect(r"Load Shader\.$", timeout=PATIENCE)
    first = run.wait_for_picture(lambda img: spread(img) > 48, timeout=PATIENCE, label="first")
    assert spread(first) > 48, "one flat colour, or nearly"
    if ANIMATED[name]:
        second = run.wait_for_picture(lambda img: change(img, first) > 8, timeout=PATIENCE, label="second")
        assert change(second, first) > 8, "the picture did not move"
    else:
        # Long enough for several frames even at the slowest example's rate.
        second = run.wait_for_picture(lambda img: change(img, first) > 0, timeout=5, label="second")
        assert change(second, first) == 0, "a still picture moved"
    said = run.output(settle=1.0)
    assert said == ["Load Shader."] + SAYS.get(name, []), said


def test_paint_paints_where_the_button_is_held(hotfx):
    run = start_example(hotfx, "paint")
    run.expect(r"Load Shader\.$")
    _, _, width, height = run.geometry()
    # Left of where the brush that paints by itself ever goes.
    x, y = width // 20, height // 2
    paper = (245, 240, 224)
    run.wait_for_picture(lambda img: colour_close_to(pixel_at(img, x, y), paper, 3), label="paper")
    run.display.run("xdotool", "mousemove", "--window", str(run.window()), str(x), str(y), "mousedown", "1")
    painted = run.wait_for_picture(lambda img: not colour_close_to(pixel_at(img, x, y), paper, 40), label="painted")
    run.display.run("xdotool", "mouseup", "1")
    assert not colour_close_to(pixel_at(painted, x, y), paper, 40), pixel_at(painted, x, y)
