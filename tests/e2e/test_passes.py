"""Passes: a sampler NAME that main.fx has ps_NAME for reads what that function drew, in float,
this frame's where the pass is drawn before its reader and the frame before's where it reads
itself; a reload keeps it by name, Home clears it."""

import re
import time

import pytest

from support import VERTEX_STAGE, colour_close_to, exit_code_kept, pixel_at, shader
from test_frames import frame_command, saved
from test_watch import LOADED, WATCH

fx = lambda declared, body: shader(body, VERTEX_STAGE + declared)

# acc adds (0.5, -0.25, 1/1024) to what it held every frame: values past 1, below 0 and steps
# an 8-bit target would round away. twice doubles acc as drawn this frame. At frame 39 each half
# of the picture is 51 (0.2) in every channel; twice reading the frame before's acc gives 50.
FLOAT_ORDER = fx("""sampler2D acc; sampler2D twice;
float4 ps_acc(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(acc, uv) + float4(0.5, -0.25, 1.0 / 1024, 0); }
float4 ps_twice(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(acc, uv) * 2; }""", """
    float4 a = tex2D(acc, uv), b = tex2D(twice, uv) / 2;
    if (uv.x > 0) a = b;
    return float4(a.x / 100, -a.y / 50, a.z * 5.12, 1);""")


def test_passes_draw_in_order_in_float_and_keep_what_they_drew(hotfx):
    run = hotfx(FLOAT_ORDER, command=frame_command("--frame", 39, "out.png"))
    assert run.wait_exit(timeout=120) == 0
    assert run.output() == ["Load Shader.", "Passes in order: acc twice"]
    # As many instructions as Wine's own disassembly of each stage lists, declarations apart.
    assert run.lines[2] == "Slots: vs_main 13, acc 5, twice 5, ps_main 51 of 512"
    img = saved(run, "out.png")
    assert [pixel_at(img, x, 512) for x in (100, 1180)] == [(51, 51, 51)] * 2


# r is set in frame 0 alone and then kept; g counts frames in 64ths.
KEPT = """sampler2D p; float frame;
float4 ps_p(float2 uv : TEXCOORD0) : COLOR0 { float4 last = tex2D(p, uv); return float4(frame < 1 ? 1 : last.r, last.g + 1.0 / 64, 0, 1); }"""


@pytest.mark.default_stack
def test_a_reload_keeps_a_pass_by_its_name_and_home_clears_it(hotfx):
    run = hotfx(fx(KEPT, "float4 p4 = tex2D(p, uv); return float4(p4.r, min(p4.g, 1), 0, 1);"), command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour((255, 255, 0), label="counted")
    run.save_shader(fx(KEPT, "float4 p4 = tex2D(p, uv); return float4(p4.r, 0, min(p4.g, 1), 1);"))
    run.expect(LOADED)
    run.wait_for_colour((255, 0, 255), label="kept")
    run.key("space")
    run.expect(r"Stopped at frame \d+\.$")
    run.key("Home")
    run.expect(r"Stopped at frame 0\.$")
    run.wait_for_colour((255, 0, 4), tol=1, label="cleared")


# Counts frames in 255ths, round and round.
COUNTING = "sampler2D p;\nfloat4 ps_p(float2 uv : TEXCOORD0) : COLOR0 { return frac(tex2D(p, uv) + 1.0 / 255); }"


@pytest.mark.default_stack
def test_after_a_reload_that_fails_the_passes_go_on_drawing(hotfx):
    run = hotfx(fx(COUNTING, "return tex2D(p, uv);"), command=WATCH)
    run.expect(LOADED)
    run.save_shader(fx(COUNTING, "retrun tex2D(p, uv);"))
    run.expect(r"Error : .*main\.fx")
    seen = [pixel_at(run.screenshot("counting"), 640, 512) for _ in range(5) if not time.sleep(0.2)]
    assert len(set(seen)) == 5, seen


def chain(count):
    """count passes, each reading the next, and the last reading nothing."""
    samplers = "".join("sampler2D p%d;\n" % n for n in range(count))
    passes = "".join("float4 ps_p%d(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(p%d, uv); }\n" % (n, n + 1)
                     for n in range(count - 1))
    last = "float4 ps_p%d(float2 uv : TEXCOORD0) : COLOR0 { return 1; }\n" % (count - 1)
    return fx(samplers + passes + last, "return tex2D(p0, uv);")


BAD = {"a pass the compiler can't make": (
           fx("sampler2D broken;\nfloat4 ps_broken(float2 uv : TEXCOORD0) : COLOR0 "
              "{ return float4(1, 0, 0, 1) * (uv.x < 0 ? 1 : 0); }", "return tex2D(broken, uv);"),
           r"Error : main\.fx:\d+:\d+: "),
       "more passes than samplers": (chain(17), r"Error : sampler p16: more passes than ps_3_0 has samplers \(16\)")}


@pytest.mark.default_stack
@pytest.mark.parametrize("case", BAD, ids=list(BAD))
def test_a_pass_that_cant_be_drawn_reads_black_and_frame_exits_3(hotfx, case):
    source, said = BAD[case]
    run = hotfx(source, command=exit_code_kept("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 3 and not (run.folder / "out.png").exists()
    run.expect(said)
    run.expect(LOADED)


# F2: one line for the next second, the frame and each pass in the order drawn, in ms. The
# frame runs from its first stamp to its last, so its mean is the sum of the others'.
def test_f2_says_what_the_next_second_of_frames_took_on_the_device(hotfx):
    run = hotfx(FLOAT_ORDER, command=WATCH)
    run.expect(LOADED)
    run.key("F2")
    line = run.expect(r"(GPU|CPU) over 1 s", timeout=30)
    found = re.fullmatch(r"GPU over 1 s, (\d+) frames: frame ([\d.]+) ms; acc ([\d.]+), twice ([\d.]+), ps_main ([\d.]+)", line)
    assert found, run.output()
    frames, frame, *passes = map(float, found.groups())
    assert frames > 0 and all(ms > 0 for ms in passes), line
    assert abs(frame - sum(passes)) <= 0.02, line
