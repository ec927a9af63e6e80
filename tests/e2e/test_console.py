"""What hotfx prints reaches a pipe whole, line by line, while it runs: an editor's build
panel or a log sees each line when it is printed, not when a buffer fills or the program ends."""

import pytest

from support import BLUE, RED, WINE_ROOT, solid

pytestmark = pytest.mark.default_stack

BROKEN = solid(RED).replace("return float4", "return floatx4")
MESSAGE = 'Error : main.fx:19:8: E5005: Function "floatx4" is not defined.'


def test_compiler_message_then_reload_reach_the_pipe_while_running(hotfx):
    run = hotfx(BROKEN)
    assert run.expect(r"Error : ") == 'Error : main.fx:19:8: E5005: Function "floatx4" is not defined.'
    assert run.process.poll() is None
    # The compiler ends its message with a line end of its own; then each frame names both stages.
    assert [run.expect(r"") for _ in range(3)] == ["", "Error : Vshader", "Error : Pshader"]
    run.save_shader(solid(BLUE))
    run.key("F5")
    # Nothing is printed after this line, so it arrives only if nothing holds it back.
    run.expect(r"Load Shader\.$")
    assert run.process.poll() is None
    run.wait_for_colour(BLUE)
    run.key("Escape")
    assert run.wait_exit() == 0
    output = run.output()
    assert output[:2] == ['Error : main.fx:19:8: E5005: Function "floatx4" is not defined.', ""]
    frames = output[2:-1]
    assert frames and frames == ["Error : Vshader", "Error : Pshader"] * (len(frames) // 2), frames[-6:]
    assert output[-1] == "Load Shader."


def test_with_watch_the_missing_stages_are_said_once_after_each_load(hotfx):
    run = hotfx(BROKEN, command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"])
    run.expect(r"Error : Pshader$")
    run.window()
    run.save_shader(BROKEN + "\n")
    run.expect(r"Error : Pshader$")
    run.save_shader(solid(BLUE))
    run.wait_for_colour(BLUE)
    assert run.output(settle=1.0) == [MESSAGE, "", "Error : Vshader", "Error : Pshader"] * 2 + ["Load Shader."]
