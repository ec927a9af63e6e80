import pytest

from support import BLUE, WINE_ROOT, colour_close_to, pixel_at, shader, solid


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


@pytest.mark.parametrize("display", [{"screen": "1366x768x24"}, pytest.param({}, marks=pytest.mark.only_on("wined3d", "a size"))],
                         indirect=True)
def test_with_watch_the_window_fits_the_screen_and_shows_the_whole_picture(hotfx):
    run = hotfx(shader("return float4(uv * 0.5 + 0.5, 0, 1);"), command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"])
    run.expect(r"Load Shader\.$")
    # The picture's own size where the screen has room; else its 5:4, and 4 lines more would not fit.
    client, outer = run.geometry(), run.outer_size()
    assert client[2:] == (1280, 1024) if outer[1] > 768 else client[2] * 4 == client[3] * 5 and outer[1] > 764 and outer[0] <= 1366
    # DXVK's scaling darkens the last row and column: the corners are taken one pixel in.
    corners = lambda img: [pixel_at(img, 1, 1), pixel_at(img, img.width - 2, img.height - 2)]
    img = run.wait_for_picture(lambda img: all(map(colour_close_to, corners(img), [(0, 255, 0), (255, 0, 0)], (8, 8))))
    assert all(map(colour_close_to, corners(img), [(0, 255, 0), (255, 0, 0)], (8, 8))), corners(img)
