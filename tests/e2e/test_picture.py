from support import colour_close_to, pixel_at, shader


def expected_gradient(img, x, y):
    # The 1280x1024 back buffer is stretched over the client area, so the texture coordinate
    # of a window pixel depends only on its place relative to the client size.
    u = 2 * (x + 0.5) / img.width - 1
    v = 1 - 2 * (y + 0.5) / img.height
    return (round(255 * min(max(u, 0), 1)), round(255 * min(max(v, 0), 1)), 0)


def test_texture_coordinate_runs_from_minus_one_to_one(hotfx):
    run = hotfx(shader("return float4(uv.x, uv.y, 0, 1);"))
    run.expect(r"Load Shader\.$")
    # The outermost column and row of the client area show how the implementation scales the
    # back buffer into it rather than the shader: DXVK mixes them half and half with black.
    img = run.wait_for_picture(lambda img: colour_close_to(pixel_at(img, img.width - 2, 0), (255, 255, 0), 4))
    samples = [(img.width * i // 16, img.height * j // 12) for i in range(17) for j in range(13)]
    samples = [(min(x, img.width - 2), min(y, img.height - 2)) for x, y in samples]
    wrong = [((x, y), pixel_at(img, x, y), expected_gradient(img, x, y)) for x, y in samples
             if not colour_close_to(pixel_at(img, x, y), expected_gradient(img, x, y), 4)]
    assert not wrong, f"{len(wrong)} of {len(samples)} points off the gradient, e.g. {wrong[:5]}"


def test_time_in_c0_x_advances(hotfx):
    # One turn of the red channel takes 16 time units, about 960 frames.
    run = hotfx(shader("return float4(frac(t.x / 16), 0, 0, 1);"))
    run.expect(r"Load Shader\.$")
    red = lambda img: pixel_at(img, img.width // 2, img.height // 2)[0]
    first = red(run.wait_for_picture(lambda img: red(img) > 0, label="first"))
    second = red(run.wait_for_picture(lambda img: red(img) != first, label="second"))
    assert 0 < (second - first) % 256 < 128, (first, second)


def zero_registers_shader(registers, marker):
    # Each stage adds up the absolute values of c0.yzw and of the given registers; the vertex
    # stage hands its sum to the pixel stage, which paints green when both are zero and red
    # otherwise, with marker in blue to tell one shader from the next. Wine's compiler copies
    # every constant a shader reads into a temporary register first and a shader has 32 of
    # them, so one shader checks no more than 16 registers.
    declared = "".join(f"float4 c{i} : register(c{i});\n" for i in [0] + list(registers))
    sums = "".join(f"    s += abs(c{i});\n" for i in registers)
    return f"""
{declared}
float4 residue()
{{
    float4 s = abs(float4(0, c0.yzw));
{sums}    return s;
}}

struct vs_out {{
    float4 position : POSITION0;
    float4 residue : TEXCOORD0;
}};

vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{{
    vs_out o;
    o.position = float4(position, 1);
    o.residue = residue();
    return o;
}}

float4 ps_main(float4 vs_residue : TEXCOORD0) : COLOR0
{{
    float bad = step(1e-30, dot(vs_residue + residue(), 1));
    return float4(bad, 1 - bad, {marker / 255}, 1);
}}
"""


def test_other_constants_are_zero(hotfx):
    groups = [range(1, 16), range(16, 32), range(32, 48), range(48, 64)]
    run = hotfx(zero_registers_shader(groups[0], 0))
    for number, registers in enumerate(groups):
        if number:
            run.save_shader(zero_registers_shader(registers, 64 * number))
            run.key("F5")
        run.expect(r"Load Shader\.$")
        run.wait_for_colour((0, 255, 64 * number), tol=4, label=f"c{registers[0]}-c{registers[-1]}")
