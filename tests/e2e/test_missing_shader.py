import pytest

pytestmark = pytest.mark.default_stack

FRAME_ERRORS = ["Error : Vshader", "Error : Pshader"]


def test_start_without_main_fx(hotfx):
    run = hotfx(None)
    assert run.expect(r"Error : ") not in FRAME_ERRORS
    # Then, frame after frame, both stages are reported missing, vertex first.
    assert [run.expect(r"Error : ") for _ in range(100)] == FRAME_ERRORS * 50
    run.window()
    assert run.process.poll() is None
    run.key("Escape")
    assert run.wait_exit() == 0
    output = run.output()
    assert [line for line in output if line.startswith("Error : ") and line not in FRAME_ERRORS] == [output[0]]
    assert "Load Shader." not in output
