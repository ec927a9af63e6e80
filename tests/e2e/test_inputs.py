"""The inputs a shader declares by name, given any option, and the keys that stop and step the
time under --watch, as the picture saved or shown has them."""

import os
import runpy
import subprocess

import numpy
import pytest

from support import REPO, VERTEX_STAGE, colour_close_to, exit_code_kept, pixel_at, shader
from test_frames import TIME_IN_COLOUR, frame_command, saved, time_at
from test_watch import LOADED, WATCH

# A pixel's own texel, rounded to it: wined3d's coordinates alone strayed into neighbours.
OWN_TEXEL = "(floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5) + 0.5) * resolution.zw"
fx = lambda declared, body: shader(body, VERTEX_STAGE + declared)
pixels = lambda img: numpy.frombuffer(img.pixels, numpy.uint8).reshape(img.height, img.width, 3)

# The vertex stage's own registers: mouse or frame lands in c0, where the time went first.
CONSTANTS = """float4 mouse; float frame;
vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{ vs_out o; o.position = float4(position, 1); o.uv = float4(uv, frame, any(mouse)); return o; }
float4 t : register(c0); float4 resolution; float time;
float4 ps_main(float4 uv : TEXCOORD0) : COLOR0
{ return float4(abs(uv.z - 40) < 0.01 && uv.w == 0, all(resolution == float4(1280, 1024, 1.0 / 1280, 1.0 / 1024)),
                time == t.x && time > 0.6, 1); }"""


def test_resolution_time_frame_and_mouse_hold_their_values_in_each_stage(hotfx):
    run = hotfx("struct vs_out { float4 position : POSITION0; float4 uv : TEXCOORD0; };\n" + CONSTANTS,
                command=frame_command("--frame", 40, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader."]
    assert pixel_at(saved(run, "out.png"), 640, 512) == (255, 255, 255)


# Frame 0 draws stripes and reads black; each later frame copies its own texel and adds 1 to
# blue: any blur, shift or flip of the copy, or a frame not drawn, shows in frame N.
PREVIOUS = fx("float4 resolution; float frame; sampler2D previous_frame;", """float4 last = tex2D(previous_frame, %s);
    float2 pixel = floor((uv * 0.5 + 0.5) * resolution.xy + 0.5);
    return frame == 0 ? float4(fmod(pixel, 2), last.b, 1) : float4(last.rg, last.b + 1.0 / 255, 1);""" % OWN_TEXEL)


@pytest.mark.parametrize("frame", [0, 5])
def test_previous_frame_is_the_last_picture_texel_for_texel(hotfx, frame):
    run = hotfx(PREVIOUS, command=frame_command("--frame", frame, "out.png"))
    assert run.wait_exit(timeout=120) == 0
    img = pixels(saved(run, "out.png"))
    assert (img[:, :, 0] == numpy.arange(1280) % 2 * 255).all() and (img[:, :, 2] == frame).all()
    assert (img[:, :, 1] == ((1024 - numpy.arange(1024)) % 2 * 255)[:, None]).all()


NOISE = numpy.random.default_rng(24).integers(0, 256, (1024, 1280, 3), numpy.uint8)
SOLIDS = {"b.jpg": (200, 40, 40), "c.JPEG": (40, 200, 40), "d.bmp": (40, 40, 200), "e.dds": (200, 200, 40),
          "f.tga": (40, 200, 200)}


def image_folder(folder):
    subprocess.run(["convert", "ppm:-", str(folder / "Photo.PNG")], input=b"P6 1280 1024 255\n" + NOISE.tobytes())
    for name, colour in SOLIDS.items():
        subprocess.run(["convert", "-size", "300x200", "xc:rgb(%d,%d,%d)" % colour, "-define", "dds:compression=none",
                        str(folder / name)], check=True)
    (folder / "main.fx").write_text(fx("float4 resolution; sampler2D photo; sampler b, c, d, e, f;", """float k = (1 - uv.y) * 2.5;
    float4 band = k < 1 ? tex2D(b, uv) : k < 2 ? tex2D(c, uv) : k < 3 ? tex2D(d, uv) : k < 4 ? tex2D(e, uv) : tex2D(f, uv);
    return uv.x < 0 ? tex2D(photo, %s) : band;""" % OWN_TEXEL))


def test_images_beside_main_fx_are_read_at_their_own_size_by_any_case_of_their_name(hotfx):
    run = hotfx(image_folder, command=frame_command("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader."]
    img = pixels(saved(run, "out.png"))
    assert (img[:, :640] == NOISE[:, :640]).all()
    assert all(colour_close_to(img[band * 1024 // 5 + 100, 1000], colour, 4) for band, colour in enumerate(SOLIDS.values()))


# Six faces and four slices of flat colours, none with its channels in another's order: a face or
# a slice read from the wrong place, red and blue swapped, or a texture not bound shows.
FACES = [(250, 30, 10), (20, 240, 60), (40, 50, 230), (230, 220, 20), (30, 200, 210), (210, 40, 190)]
SLICES = [(200, 10, 30), (10, 200, 50), (60, 20, 200), (120, 120, 10)]
dds = runpy.run_path(str(REPO / "tools" / "make-textures.py"))["dds"]
flat = lambda colours: b"".join(bytes((b, g, r, 255)) * 16 for r, g, b in colours)


def cube_and_volume(folder):
    (folder / "sky.dds").write_bytes(dds(4, 4, cube=True) + flat(FACES))
    (folder / "fog.dds").write_bytes(dds(4, 4, 4) + flat(SLICES))
    # Columns: above, each face's centre in the file's order; below, each slice's centre.
    (folder / "main.fx").write_text(fx("samplerCUBE sky; sampler3D fog;", """
    float c = floor((uv.x * 0.5 + 0.5) * 6);
    float3 axis = (1 - saturate(abs(floor(c / 2) - float3(0, 1, 2)))) * (1 - 2 * fmod(c, 2));
    return uv.y > 0 ? texCUBE(sky, axis) : tex3D(fog, float3(0.5, 0.5, (fmod(c, 4) + 0.5) / 4));"""))


def test_a_cube_map_and_a_volume_read_the_texels_their_dds_holds(hotfx):
    run = hotfx(cube_and_volume, command=frame_command("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 0 and run.output() == ["Load Shader."]
    img = saved(run, "out.png")
    read = [(pixel_at(img, x, 256), pixel_at(img, x, 768)) for x in range(1280 // 12, 1280, 1280 // 6)]
    assert read == [(FACES[c], SLICES[c % 4]) for c in range(6)], read


CUBE = lambda name: ("samplerCUBE %s;" % name, "texCUBE(%s, uv.xyy)" % name)
NO_DDS, JUNK = ["Error : sampler photo: no photo.dds here; it reads black"], b"not a picture"
BAD = {"no image": ("sampler2D photo;", "tex2D(photo, uv)", None, ["sampler photo", "photo.png"]),
       "an image D3DX can't read": ("sampler2D photo;", "tex2D(photo, uv)", {"photo.png": JUNK}, ["photo.png", "status 0x"]),
       "no cube map": (*CUBE("photo"), None, NO_DDS),
       "a cube map D3DX can't read": (*CUBE("photo"), {"photo.dds": JUNK}, ["photo.dds", "status 0x"]),
       "a volume beside an image": ("sampler3D photo;", "tex3D(photo, uv.xyy)", {"photo.png": JUNK}, NO_DDS),
       "a samplerCUBE previous_frame": (*CUBE("previous_frame"), None, ["previous_frame", "sampler2D"]),
       "a sampler1D": ("sampler1D photo;", "tex1D(photo, uv.x)", None, ["photo", "sampler2D"]),
       "a float4x4 mouse": ("float4x4 mouse;", "mul(mouse, float4(uv, 0, 1))", None, ["mouse", "float4"]),
       "a sampler named time": ("sampler2D time;", "tex2D(time, uv)", None, ["time", "float4"])}


@pytest.mark.default_stack
@pytest.mark.parametrize("case", BAD, ids=list(BAD))
def test_an_input_that_cant_be_filled_is_one_line_and_exit_3(hotfx, case):
    declared, read, files, said = BAD[case]
    source = fx(declared, "return float4(1, 0, 0, 1) + %s;" % read)
    run = hotfx(lambda path: [(path / name).write_bytes(data) for name, data in
                              {"main.fx": source.encode(), **(files or {})}.items()],
                command=exit_code_kept("--frame", 3, "out.png"))
    assert run.wait_exit(timeout=120) == 3 and not (run.folder / "out.png").exists()
    lines = run.output()
    assert len(lines) == 2 and lines[1] == "Load Shader." and lines[0].startswith("Error : "), lines
    assert all(word in lines[0] for word in said), lines


# Frame 0 shows the image, every later frame its previous frame: the picture stays only while
# the frame number, the image and the previous frame are all fed and bound.
KEPT = fx("float frame; float4 resolution; sampler2D photo; sampler2D previous_frame;",
          "return frame < 1 ? tex2D(photo, uv) : tex2D(previous_frame, %s);" % OWN_TEXEL)


def kept_folder(folder):
    (folder / "main.fx").write_text(KEPT)
    subprocess.run(["convert", "-size", "8x8", "xc:rgb(0,0,255)", "PNG24:" + str(folder / "photo.png")], check=True)


@pytest.mark.default_stack
def test_a_failed_reload_leaves_the_last_good_shaders_drawing_with_their_inputs(hotfx):
    run = hotfx(kept_folder, command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour((0, 0, 255), label="loaded")
    run.save_shader(KEPT.replace("return", "retrun"))
    run.expect(r"Error : .*main\.fx")
    lines = run.output(settle=1.0)
    assert not any(line in ("Error : Vshader", "Error : Pshader") for line in lines), lines
    run.wait_for_colour((0, 0, 255), timeout=1, label="after the typo")


def test_a_missing_image_reads_black_until_it_is_saved(hotfx):
    run = hotfx(fx("sampler2D photo;", "return float4(1, 0, 0, 1) + tex2D(photo, uv);"), command=WATCH)
    run.expect("Error : sampler photo: no photo.png")
    run.wait_for_colour((255, 0, 0), label="without")
    subprocess.run(["convert", "-size", "7x5", "xc:blue", "bmp:" + str(run.folder / "photo.part")], check=True)
    os.replace(run.folder / "photo.part", run.folder / "photo.bmp")
    run.wait_for_colour((255, 0, 255), label="with")
    assert run.output()[1:] == ["Load Shader.", "Load Shader."]


MOUSE = fx("float4 mouse; float4 resolution; sampler2D previous_frame;", """
    float clicks = tex2D(previous_frame, %s).b + (mouse.w > 0 ? 1.0 / 255 : 0);
    if (uv.x > 0) return float4(mouse.z > 0 ? 0.75 : mouse.z < 0 ? 0.25 : 0.5, abs(mouse.z) / 1280, clicks, 1);
    return float4(mouse.x / 1280, mouse.y / 1024, clicks, 1);""" % OWN_TEXEL)


def test_the_mouse_follows_its_convention_in_back_buffer_pixels(hotfx):
    run = hotfx(MOUSE, command=WATCH)
    run.expect(LOADED)
    _, _, width, height = run.geometry()
    at = lambda x, y: (round(255 * x / width), round(255 * (height - y) / height))
    sides = lambda img: (pixel_at(img, width // 10, height // 2), pixel_at(img, width * 9 // 10, height // 2))
    first, second = (width * 3 // 10, height // 4), (width * 7 // 10, height * 3 // 5)
    move = lambda x, y: ["mousemove", "--window", run.window(), x, y]
    # z and |z| on the right, the clicks seen with w > 0 in blue: one frame per click.
    for action, left, right in (([], (0, 0, 0), (128, 0, 0)),
                                (move(*first) + ["mousedown", 1], (*at(*first), 1), (191, at(*first)[0], 1)),
                                (move(*second), (*at(*second), 1), (191, at(*first)[0], 1)),
                                (["mouseup", 1], (*at(*second), 1), (64, at(*first)[0], 1)),
                                (["click", 1], (*at(*second), 2), (64, at(*second)[0], 2))):
        if action:
            run.display.run("xdotool", *map(str, action))
        ready = lambda img: colour_close_to(sides(img)[0], left, 3) and colour_close_to(sides(img)[1], right, 3)
        assert ready(run.wait_for_picture(ready, label="mouse")), (action, sides(run.shots["mouse"]), left, right)


def stopped(run, line):
    frame = int(run.expect(line).split()[-1].rstrip("."))
    time = time_at(frame)
    colour = tuple(round(255 * float(v - numpy.floor(v))) for v in (time, time * numpy.float32(256))) + (0,)
    run.wait_for_colour(colour, tol=2, label="frame %d" % frame)
    return frame


@pytest.mark.default_stack
@pytest.mark.parametrize("option", [[], ["--watch"]], ids=["no option", "--watch"])
def test_space_stops_the_time_on_a_frame_that_frame_saves_alike(hotfx, option):
    run = hotfx(TIME_IN_COLOUR, command=frame_command(*option))
    run.expect(LOADED)
    run.key("space")
    if not option:
        run.key("Right")
        shown = pixel_at(run.screenshot("running"), 100, 100)
        run.wait_for_picture(lambda img: pixel_at(img, 100, 100) != shown, label="running")
        assert run.output(settle=1.0) == ["Load Shader."]
        return
    # Each frame shown says where the keys before it moved the time: one key at a time.
    frame = int(run.expect(r"Stopped at frame \d+\.$").split()[-1][:-1]) + 1
    run.key("Right")
    assert stopped(run, r"Stopped at frame %d\.$" % frame) == frame
    shown = pixel_at(run.screenshot("stopped"), 100, 100)
    same = hotfx(TIME_IN_COLOUR, command=frame_command("--frame", frame, "out.png"))
    assert same.wait_exit(timeout=120) == 0 and pixel_at(saved(same, "out.png"), 100, 100) == shown
    run.key("space")
    run.expect(r"Running at frame %d\.$" % frame)
    run.wait_for_picture(lambda img: pixel_at(img, 100, 100) != shown, label="running")


@pytest.mark.default_stack
def test_the_arrows_step_the_stopped_time_by_1_or_60_frames(hotfx):
    run = hotfx(TIME_IN_COLOUR, command=WATCH)
    run.expect(LOADED)
    run.key("space")
    frame = stopped(run, r"Stopped at frame \d+\.$")
    for keys, step in (("Right", 1), ("shift+Right", 60), ("Left", -1), ("shift+Left", -60)):
        run.key(keys)
        frame += step
        assert stopped(run, r"Stopped at frame \d+\.$") == frame


def test_home_goes_back_to_frame_0_and_clears_the_previous_frame_that_a_reload_keeps(hotfx):
    run = hotfx(fx("float4 resolution; sampler2D previous_frame;", "return float4(1, 0, 0, 1);"), command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour((255, 0, 0), label="drawn")
    run.save_shader(fx("float4 resolution; sampler2D previous_frame;", "return tex2D(previous_frame, %s);" % OWN_TEXEL))
    run.expect(LOADED)
    run.wait_for_colour((255, 0, 0), timeout=3, label="kept")
    run.key("Home")
    run.expect(r"Running at frame 0\.$")
    run.wait_for_colour((0, 0, 0), label="cleared")
