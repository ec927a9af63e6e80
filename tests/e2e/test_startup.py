from support import solid

BLUE = (0, 0, 255)


def test_window_geometry_single_load_and_escape(hotfx):
    run = hotfx(solid(BLUE))
    run.expect(r"Load Shader\.$")
    assert "WM_CLASS(STRING) = \"hotfx.exe\"" in run.display.run("xprop", "-id", str(run.window()))
    # test_trace reads Wine's own window rectangle as well.
    assert run.outer_size() == (1280, 1024), run.geometry()
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
