"""The controls window under --watch: an annotated global's trackbar, moved by keys, sets what
the picture reads and what main.values holds, and keeps its place through a reload; a window
taller than the screen scrolls to its last control."""

import pytest

from support import LOADED, VERTEX_STAGE, shader, wait_until
from test_watch import WATCH

# Red is the level: a trackbar from 0 to 1, a hundredth a key.
LEVEL = shader("return float4(level, 0, 0, 1);",
               VERTEX_STAGE + 'float level < string UIName = "Level"; float UIMin = 0; float UIMax = 1; > = 0.5;')


@pytest.mark.only_on("wined3d", "what the controls set is hotfx's own doing; one stack draws it")
def test_a_trackbar_moved_by_keys_sets_the_picture_and_main_values_and_keeps_its_value_through_a_reload(hotfx):
    run = hotfx(LEVEL, command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour((128, 0, 0), tol=2, label="initial")
    find = lambda: run.display.run("xdotool", "search", "--onlyvisible", "--name", "^hotfx controls$", check=False)
    controls = wait_until(find, 30).split()[0]
    # Wine activates a window when it is clicked (a window manager would be asked otherwise):
    # a click on the label gives the keys to the first trackbar.
    run.display.run("xdotool", "mousemove", "--window", controls, "40", "12", "click", "1")
    run.display.run("xdotool", "key", "End")
    run.wait_for_colour((255, 0, 0), tol=1, label="end")
    values = run.folder / "main.values"
    assert wait_until(lambda: values.exists() and values.read_text() == "level = 1\n", 10), \
        values.exists() and values.read_text()

    run.save_shader(LEVEL + "\n")
    run.expect(LOADED)
    run.wait_for_colour((255, 0, 0), tol=1, label="reloaded")
    # A step down from the end, where the trackbar stayed: 0.99.
    run.display.run("xdotool", "key", "Left")
    run.wait_for_colour((252, 0, 0), tol=1, label="left")
    assert wait_until(lambda: values.read_text() == "level = 0.99\n", 10), values.read_text()
    run.display.run("xdotool", "key", "Escape")
    assert run.wait_exit() == 0


# Twenty-four trackbars of two rows each: taller than the 1600x1200 screen. Red is the last one.
MANY = shader("return float4(g23, frac(%s), 0, 1);" % " + ".join(f"g{i}" for i in range(23)),
              VERTEX_STAGE + "".join(f'float g{i} < string UIName = "G{i}"; > = 0.5;\n' for i in range(24)))


@pytest.mark.only_on("wined3d", "the window's scrolling is hotfx's own doing")
@pytest.mark.parametrize("scroll", [["click", "--repeat", "20", "5"], ["key", "Tab", "End"]],
                         ids=["wheel", "End on a Reset button"])
def test_controls_taller_than_the_screen_scroll_to_the_last(hotfx, scroll):
    run = hotfx(MANY, command=WATCH)
    run.expect(LOADED)
    controls = wait_until(lambda: run.display.run("xdotool", "search", "--onlyvisible", "--name",
                                                  "^hotfx controls$", check=False), 30).split()[0]
    run.display.run("xdotool", "mousemove", "--window", controls, "40", "12", "click", "1", *scroll)
    # Scrolled to the end, the last trackbar lies just above the client area's foot; unscrolled,
    # a click there would land on the twenty-second.
    height = int(run.display.run("xdotool", "getwindowgeometry", "--shell", controls).split("HEIGHT=")[1].split()[0])
    run.display.run("xdotool", "mousemove", "--window", controls, "100", str(height - 20), "click", "1", "key", "End")
    values = run.folder / "main.values"
    assert wait_until(lambda: values.exists() and values.read_text() == "g23 = 1\n", 10), \
        values.exists() and values.read_text()


@pytest.mark.only_on("wined3d", "what main.values holds is hotfx's own doing")
def test_a_hand_edit_saved_with_a_broken_shader_applies_and_a_control_save_keeps_it(hotfx):
    def folder(path):
        (path / "main.fx").write_text(LEVEL)
        (path / "main.values").write_text("level = 0.25\n")
    run = hotfx(folder, command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour((64, 0, 0), tol=2, label="from main.values")
    find = lambda: run.display.run("xdotool", "search", "--onlyvisible", "--name", "^hotfx controls$", check=False)
    controls = wait_until(find, 30).split()[0]
    run.display.run("xdotool", "mousemove", "--window", controls, "40", "12", "click", "1")
    # Save All in an editor: the values by hand and main.fx with a typo, in one go.
    (run.folder / "main.values").write_text("level = 0.75  # by hand\n")
    run.save_shader(LEVEL.replace("return", "retrun"))
    run.expect(r".*error")
    run.wait_for_colour((191, 0, 0), tol=2, label="the hand's value on the shaders that draw on")
    run.display.run("xdotool", "key", "Left")
    run.wait_for_colour((189, 0, 0), tol=2, label="a step down from the hand's value")
    values = run.folder / "main.values"
    assert wait_until(lambda: values.read_text() == "level = 0.74 # by hand\n", 10), values.read_text()
