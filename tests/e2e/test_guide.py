"""What docs/writing-shaders.md tells shader authors, tried on the real program: its walkthrough
step by step, and the facts it gives about what a shader receives."""

import re
import time

import pytest

from support import REPO, shader, wait_until

GUIDE = (REPO / "docs" / "writing-shaders.md").read_text()
TEMPLATE = (REPO / "examples" / "template" / "main.fx").read_text()


def guide_block(opening):
    """The first fenced block of the guide whose text starts with opening."""
    for block in re.findall(r"```\w*\n(.*?)```", GUIDE, re.S):
        if block.startswith(opening):
            return block
    raise AssertionError(f"the guide has no block starting with {opening!r}")


def frozen(run, timeout=30):
    """Waits until two screenshots half a second apart are the same picture, and not black."""
    shots = [run.screenshot("frozen")]

    def still():
        time.sleep(0.5)
        shots.append(run.screenshot("frozen"))
        return shots[-1].pixels == shots[-2].pixels
    assert wait_until(still, timeout), "the picture kept changing after the failed load"
    assert shots[-1].pixels.count(0) < len(shots[-1].pixels), "the picture went black"


@pytest.mark.default_stack
def test_the_walkthrough_goes_as_the_guide_says(hotfx):
    colour_line = "    float3 colour = float3(uv * 0.5 + 0.5, 0.5 + 0.5 * sin(time.x));\n"
    assert TEMPLATE.count(colour_line) == 1
    changed = TEMPLATE.replace(colour_line, guide_block("    float3 colour ="))
    broken = changed.replace("float3(0, 2, 4));", "float3(0, 2, 4))")
    printed = guide_block("Error : main.fx").splitlines()

    run = hotfx(TEMPLATE)
    run.expect(r"Load Shader\.$")
    run.window()
    for source, first_line in ((changed, "Load Shader."), (broken, printed[0]), (changed, "Load Shader.")):
        run.save_shader(source)
        run.key("F5")
        assert run.expect(re.escape(first_line) + "$") == first_line
        if source is broken:
            assert run.expect(r"Error : Vshader$") and run.expect(r"Error : Pshader$")
            # The device keeps the shaders bound before the failed load; the time stops reaching them.
            frozen(run)
    assert printed[1:4] == ["", "Error : Vshader", "Error : Pshader"]


def test_sampler_0_without_a_texture_reads_black_with_full_alpha(hotfx):
    run = hotfx("sampler2D s0 : register(s0);\n" + shader(
        "float4 c = tex2D(s0, uv * 0.5 + 0.5); return float4(c.r + c.g, c.a, c.b + 0.5, 1);"))
    run.expect(r"Load Shader\.$")
    run.wait_for_colour((0, 255, 128), tol=2)


def test_uv_at_a_pixel_centre_is_its_back_buffer_place_over_640_and_512(hotfx):
    # uv = (i / 640 - 1, 1 - j / 512) at back-buffer pixel (i, j): the differences are 0, and
    # 0.5 is added to show them as mid grey; half a pixel off would show as 0 or 255. llvmpipe
    # interpolates to about a sixteenth of a pixel, hence the tolerance of an eighth.
    run = hotfx(shader("return float4((uv.x * 640 + 640) - vpos.x + 0.5, (512 - uv.y * 512) - vpos.y + 0.5, 0, 1);")
                .replace("ps_main(float2 uv : TEXCOORD0)", "ps_main(float2 uv : TEXCOORD0, float2 vpos : VPOS)"))
    run.expect(r"Load Shader\.$")
    run.wait_for_colour((128, 128, 0), tol=32)


def test_a_global_that_is_not_static_reads_zero_whatever_its_initialiser(hotfx):
    # Declared after c0's time, as a shader author would.
    run = hotfx(shader("return float4(gain, 1 - gain, 0, 1);").replace("struct vs_out", "float gain = 1.0;\n\nstruct vs_out", 1))
    run.expect(r"Load Shader\.$")
    run.wait_for_colour((0, 255, 0), tol=2)
