from support import solid

BLUE = (0, 0, 255)


def test_window_geometry_single_load_and_escape(hotfx):
    run = hotfx(solid(BLUE))
    run.expect(r"Load Shader\.$")
    assert "WM_CLASS(STRING) = \"hotfx.exe\"" in run.display.run("xprop", "-id", str(run.window()))
    x, y, width, height = run.geometry()
    # With no window manager nobody draws a frame: Wine maps only the client area as an X
    # window, placed where the client sits inside the Windows window rectangle, that is
    # inset by the border on the left, right and bottom and by border and caption at the top.
    # Taking the left inset as the border on every side, the outer rectangle must be
    # 1280x1024 at the corner; test_trace reads Wine's own window rectangle as well.
    border = x
    assert 0 < border < y <= 60, (x, y)
    assert (width + 2 * border, y + height + border) == (1280, 1024), (x, y, width, height)
    run.wait_for_colour(BLUE)
    run.key("Escape")
    assert run.wait_exit() == 0
    assert run.output(settle=0.5) == ["Load Shader."]


def test_alt_f4_ends_cleanly(hotfx):
    run = hotfx(solid(BLUE))
    run.expect(r"Load Shader\.$")
    run.wait_for_colour(BLUE)
    run.key("alt+F4")
    assert run.wait_exit() == 0
    assert run.output() == ["Load Shader."]
    # Wine reports a crash on stderr whatever WINEDEBUG says.
    stderr = run.stderr_path.read_text(errors="replace")
    assert "Unhandled" not in stderr and "starting debugger" not in stderr, stderr[-2000:]
