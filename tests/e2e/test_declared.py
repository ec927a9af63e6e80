"""What a shader declares beside its code, given any option: initial values, main.values, and
sampler states, as the saved picture has them."""

import subprocess

import pytest

from support import VERTEX_STAGE, colour_close_to, exit_code_kept, pixel_at, shader
from test_frames import frame_command, saved
from test_watch import LOADED, WATCH

# Left: speed over 4, gain, flip. Bottom right: the array. Top right: tint, its blue times c0.x:
# c0 has an initial value, so it holds that and not the time.
GLOBALS = shader("""if (uv.x < 0) return float4(speed / 4, gain, flip, 1);
    if (uv.y < 0) return float4(weights[0], weights[1], weights[2], 1);
    return float4(tint.xy, tint.z * c0.x, 1);""", VERTEX_STAGE + """
float speed < string UIName = "Speed"; float UIMin = 0; float UIMax = 4; > = 1.5;
float3 tint < string UIWidget = "Color"; > = float3(0.25, 0.5, 0.75);
float gain = 0.5;  // a comment; gain = 9
bool flip = true;
float weights[3] = {0.1, 0.2, 0.3};
float4 c0 : register(c0) = float4(0.5, 0, 0, 1);
""")


def points(img):
    return [pixel_at(img, x, y) for x, y in [(10, 500), (1270, 1000), (1270, 10)]]


@pytest.mark.default_stack
@pytest.mark.parametrize("values, expected", [
    (None, [(96, 128, 255), (26, 51, 76), (64, 128, 96)]),
    ("# tuned\ngain = 0.25\nflip = 0  # off\ntint = 1 0 0.5\ngone = 1 2 3\n", [(96, 64, 0), (26, 51, 76), (255, 0, 64)]),
], ids=["initial values", "main.values"])
def test_globals_read_their_initial_values_or_main_values_in_a_saved_frame(hotfx, values, expected):
    run = hotfx(lambda folder: ((folder / "main.fx").write_text(GLOBALS),
                                values and (folder / "main.values").write_text(values)),
                command=frame_command("--frame", 40, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader."]
    img = saved(run, "out.png")
    assert all(colour_close_to(got, want, 1) for got, want in zip(points(img), expected)), points(img)


# 65 registers of globals in the pixel stage, so that one of them runs past c63: gain in c0 and
# the palette after it, or the palette first and gain in c64.
@pytest.mark.default_stack
def test_a_palette_of_64_registers_beside_another_global_reads_every_initial_value(hotfx):
    palette = "float4(1, 0.5, 0, 1), %s, float4(0, 1, 0.5, 1)" % ", ".join(["float4(0, 0, 0, 0)"] * 62)
    run = hotfx(shader("return float4(uv.x < 0 ? palette[0].rgb : palette[63].rgb, 1) * gain;", VERTEX_STAGE +
                       "float gain = 0.5;\nfloat4 palette[64] = {%s};\n" % palette), command=frame_command("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader."]
    img = saved(run, "out.png")
    got = [pixel_at(img, 320, 512), pixel_at(img, 960, 512)]
    assert all(map(colour_close_to, got, [(128, 64, 0), (0, 128, 64)], [1, 1])), got


@pytest.mark.default_stack
def test_main_values_saved_by_hand_applies_at_once_without_a_compile(hotfx):
    run = hotfx(GLOBALS, command=WATCH)
    run.expect(LOADED)
    left = lambda img: pixel_at(img, 10, img.height // 2)
    for values, colour in [(None, (96, 128, 255)), ("gain = 0.25\nflip = 0\n", (96, 64, 0)), ("gain = lots\n", (96, 128, 255))]:
        if values:
            run.save_shader(values, name="main.values")
        img = run.wait_for_picture(lambda img: colour_close_to(left(img), colour, 2))
        assert colour_close_to(left(img), colour, 2), left(img)
    run.expect(r"^Error : main.values:1: not a finite number; the line is left out$")
    assert run.output() == ["Load Shader.", "Error : main.values:1: not a finite number; the line is left out"]


BAD = {
    "not a number": ("gain = half", "Error : main.values:2: not a finite number; the line is left out"),
    "not finite": ("gain = 1e39", "Error : main.values:2: not a finite number; the line is left out"),
    "no equals": ("gain 0.5", "Error : main.values:2: expected NAME = NUMBERS; the line is left out"),
    "components": ("tint = 1 0", "Error : main.values:2: tint has 2 numbers here and 3 in main.fx; it keeps its initial value"),
    "sampler state": ("", "Error : sampler photo: no such state as Blur = 1 in its sampler_state; it keeps the default for it"),
    "state value": ("", "Error : sampler photo: no such value as AddressU = Sideways in its sampler_state; it keeps the default for it"),
}
BAD_STATES = {"sampler state": "Blur = 1;", "state value": "AddressU = Sideways;"}


@pytest.mark.default_stack
@pytest.mark.parametrize("case", BAD, ids=list(BAD))
def test_a_bad_values_line_or_sampler_state_is_one_line_editors_can_jump_to_and_exit_3(hotfx, case):
    line, said = BAD[case]
    source = GLOBALS.replace("float gain", "sampler2D photo = sampler_state { %s };\nfloat gain" % BAD_STATES.get(case, ""))
    run = hotfx(lambda folder: ((folder / "main.fx").write_text(source),
                                (folder / "main.values").write_text("flip = 0\n%s\n" % line)),
                command=exit_code_kept("--frame", 3, "out.png"))
    assert run.wait_exit(timeout=120) == 3 and not (run.folder / "out.png").exists()
    assert run.output() == [said, "Load Shader."]


# A 2x1 picture, red then blue, read at u = 0.4 (left half of the window) and u = -0.1 (right
# half): 0.4 lies 30% of the way from red's centre to blue's, -0.1 is 0.9 wrapped, 30% of the way
# from blue's centre back to red's.
@pytest.mark.parametrize("states, left, right", [
    ("", (179, 0, 77), (77, 0, 179)),
    ("Filter = MIN_MAG_MIP_POINT;", (255, 0, 0), (0, 0, 255)),
    ("MinFilter = Point; MagFilter = POINT; AddressU = Clamp;", (255, 0, 0), (255, 0, 0)),
    ("magfilter = point; minfilter = point; AddressU = Border; BorderColor = float4(0, 1, 0, 1);", (255, 0, 0), (0, 255, 0)),
    ("AddressU = Mirror;", (179, 0, 77), (255, 0, 0)),
], ids=["default linear wrap", "point", "clamp", "border", "mirror"])
def test_sampler_states_set_filter_and_address_at_exact_texels(hotfx, states, left, right):
    def folder(path):
        subprocess.run(["convert", "ppm:-", "png24:" + str(path / "photo.png")], input=b"P6 2 1 255\n\xff\0\0\0\0\xff", check=True)
        (path / "main.fx").write_text(shader("return tex2D(photo, float2(uv.x < 0 ? 0.4 : -0.1, 0.5));",
                                             VERTEX_STAGE + "sampler2D photo = sampler_state { %s };\n" % states))
    run = hotfx(folder, command=frame_command("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader."]
    img = saved(run, "out.png")
    assert colour_close_to(pixel_at(img, 320, 512), left, 3) and colour_close_to(pixel_at(img, 960, 512), right, 3), \
        (pixel_at(img, 320, 512), pixel_at(img, 960, 512))


# A pass reads previous_frame through s0, where ps_main reads the picture, clamped: each stage
# draws with its own sampler's states, not with the last stage's.
@pytest.mark.default_stack
def test_a_pass_sharing_a_sampler_register_leaves_ps_main_its_own_sampler_states(hotfx):
    def folder(path):
        subprocess.run(["convert", "ppm:-", "png24:" + str(path / "photo.png")], input=b"P6 2 1 255\n\xff\0\0\0\0\xff", check=True)
        (path / "main.fx").write_text(shader("return tex2D(photo, float2(-0.1, 0.5)) + 0 * tex2D(A, uv);", VERTEX_STAGE + """
sampler2D photo = sampler_state { Filter = MIN_MAG_MIP_POINT; AddressU = Clamp; };
sampler2D A, previous_frame;
float4 ps_A(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(previous_frame, uv); }
"""))
    run = hotfx(folder, command=frame_command("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader.", "Passes in order: A"]
    assert pixel_at(saved(run, "out.png"), 640, 512) == (255, 0, 0)
