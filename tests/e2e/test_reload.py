import pytest

from support import BLUE, LOADED, RED, solid

FRAME_ERROR = r"Error : [VP]shader$"
LOAD_ERROR = r"Error : (?![VP]shader$)"


def started(hotfx, colour):
    run = hotfx(solid(colour))
    run.expect(LOADED)
    run.wait_for_colour(colour, label="before")
    return run


@pytest.mark.parametrize("via_rename", [False, True], ids=["saved in place", "renamed over"])
def test_f5_loads_the_saved_file(hotfx, via_rename):
    run = started(hotfx, RED)
    run.save_shader(solid(BLUE), via_rename)
    # Saving alone changes nothing: only F5 reloads.
    assert run.output(settle=1.0) == ["Load Shader."]
    run.wait_for_colour(RED, timeout=0, label="saved")
    run.key("F5")
    run.expect(LOADED)
    run.wait_for_colour(BLUE, label="after")


def test_f5_held_down_reloads_every_frame(hotfx):
    run = started(hotfx, RED)
    run.key("F5", action="keydown")
    for _ in range(5):
        run.expect(LOADED, timeout=5)
    run.key("F5", action="keyup")
    settled = len(run.output(settle=0.5))
    assert run.output(settle=1.0)[settled:] == [], "still reloading after F5 was let go"


BROKEN = {
    # A syntax error in the vertex stage: neither stage gets a shader.
    "both stages": (solid(RED).replace("o.uv = uv;", "o.uv = uv"), ["Error : Vshader", "Error : Pshader"]),
    # Only the ps_3_0 compile of ps_main fails: the vertex shader stays.
    "pixel stage": (solid(RED).replace(") : COLOR0", ")"), ["Error : Pshader"]),
}


@pytest.mark.parametrize("broken", BROKEN, ids=list(BROKEN))
def test_broken_save_reports_then_fix_restores(hotfx, broken):
    source, missing = BROKEN[broken]
    run = started(hotfx, RED)
    run.save_shader(source)
    run.key("F5")
    error = run.expect(LOAD_ERROR)
    assert "main.fx" in error, "the compiler's message names the file"
    assert [run.expect(FRAME_ERROR) for _ in range(6)] == (missing * 6)[:6]
    run.save_shader(solid(BLUE))
    run.key("F5")
    run.expect(LOADED)
    run.wait_for_colour(BLUE, label="fixed")
    after = run.output(settle=0.5)[run.consumed:]
    assert all(line == "Load Shader." for line in after), after
