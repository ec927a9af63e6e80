"""Device failures on the real stacks: a d3d9.dll of the tests' own (tests/injector) stands
before the stack's d3d9, answers Present, TestCooperativeLevel, Reset, BeginScene, device and shader
creation from the schedule in HOTFX_FAULTS, passes everything else to the real device, and
logs each call it stands before, with its millisecond tick, to faults.log in the run's folder."""

import os
import re
import shutil
import time
from pathlib import Path

import pytest

from support import GREEN, LOADED, REPO, VERTEX_STAGE, WINE_ROOT, colour_close_to, exit_code_kept, pixel_at, shader, solid, \
    wait_until, wine_process

BLACK = (0, 0, 0)
LOST = "Error : The Direct3D device was lost, so the shaders were dropped; F5 loads them again"
DRIVER_FAILED = ("Error : The Direct3D driver failed (D3DERR_DRIVERINTERNALERROR), so the shaders were dropped; "
                 "F5 loads them again")
GAVE_UP = "Error : The Direct3D driver failed again before showing a frame; hotfx ends"
MISSING = ["Error : Vshader", "Error : Pshader"]

INJECTOR = REPO / "build" / "windows" / "tests" / "injector" / "d3d9.dll"
CACHE = Path(os.environ.get("HOTFX_CACHE") or Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "hotfx")
REAL_D3D9 = {"wined3d": CACHE / "wine10-dxvk-root/usr/lib/i386-linux-gnu/wine/i386-windows/d3d9.dll",
             "dxvk": CACHE / "wine10-dxvk-root/usr/lib/dxvk/wine32/d3d9.dll.so"}
# Late enough that the picture is on screen before the fault, on the slower stack too.
FAULT_AT = 100


@pytest.fixture
def injected(hotfx, stack):
    """Starts hotfx with the injector and the stack's real d3d9 beside it, and that schedule."""
    if not INJECTOR.is_file() or not REAL_D3D9[stack].is_file():
        pytest.skip("needs the Windows build's tests/injector/d3d9.dll and the Wine root's d3d9")

    def start(faults, source=solid(GREEN), winedebug="-all", command=None):
        def place(folder):
            (folder / "main.fx").write_text(source)
            shutil.copy(INJECTOR, folder / "d3d9.dll")
            shutil.copy(REAL_D3D9[stack], folder / "real_d3d9.dll")
        return hotfx(place, winedebug, command, env={"WINEDLLOVERRIDES": "d3d9=n,b", "HOTFX_FAULTS": faults})
    return start


def fault_log(run):
    """The injector's log as (tick in ms, call) pairs."""
    entries = []
    for line in (run.folder / "faults.log").read_text().splitlines():
        tick, call = line.split(" ", 1)
        entries.append((int(tick), call))
    return entries


def calls(log, prefix):
    return [call for _, call in log if call.startswith(prefix)]


def released_everything(log):
    """hotfx's own Release of the device and of the Direct3D object, each leaving no reference."""
    return calls(log, "device Release")[-1:] == ["device Release -> 0"] and \
        calls(log, "d3d Release")[-1:] == ["d3d Release -> 0"]


def no_crash(run):
    """True, or fails showing the end of Wine's stderr, where the crash's own lines say what crashed."""
    stderr = run.stderr_path.read_text(errors="replace")
    assert "Unhandled" not in stderr and "starting debugger" not in stderr, "\n".join(stderr.splitlines()[-60:])
    return True


def f5_brings_the_shaders_back_and_escape_ends_cleanly(run):
    run.key("F5")
    run.expect(LOADED)
    run.wait_for_colour(GREEN, label="after F5")
    run.key("Escape")
    assert run.wait_exit() == 0
    assert released_everything(fault_log(run)) and no_crash(run)


def asks_per_second(log):
    ticks = [tick for tick, call in log if call.startswith("TestCooperativeLevel")]
    return (len(ticks) - 1) * 1000 / (ticks[-1] - ticks[0])


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_with_no_fault_the_injector_changes_nothing(hotfx, injected):
    # A picture that differs in every pixel, so that any difference in drawing shows.
    gradient = shader("return float4(uv * 0.5 + 0.5, 0.25, 1);")
    pictures = []
    # One after the other: both windows are titled "test".
    for start in (hotfx, lambda source: injected("", source=source)):
        run = start(gradient)
        run.expect(LOADED)
        run.window()
        time.sleep(1)
        pictures.append(run.screenshot("drawn"))
        run.key("Escape")
        assert run.wait_exit() == 0
        assert run.output(settle=0.5) == ["Load Shader."]
    differing = [i for i in range(0, len(pictures[0].pixels), 3)
                 if pictures[0].pixels[i:i + 3] != pictures[1].pixels[i:i + 3]]
    assert (pictures[0].width, pictures[0].height) == (pictures[1].width, pictures[1].height)
    assert not differing, f"{len(differing)} pixels differ, the first at {differing[0] // 3 % pictures[0].width}," \
        f"{differing[0] // 3 // pictures[0].width}: {pictures[0].pixels[differing[0]:differing[0] + 3]!r} " \
        f"without, {pictures[1].pixels[differing[0]:differing[0] + 3]!r} with the injector"
    log = fault_log(run)
    assert "Present 1 -> 0x00000000" in calls(log, "Present 1 ")
    assert released_everything(log)


# schedule, the line of the loss, how many Resets the injector refuses, whether the real
# device is reset at all
COMES_BACK = {
    "lost then ready to reset": (f"lost_at={FAULT_AT},still_lost=40", LOST, 0, True),
    "Reset failing three times": (f"lost_at={FAULT_AT},still_lost=10,reset_fails=3", LOST, 3, True),
    "lost then back by itself": (f"lost_at={FAULT_AT},still_lost=40,back_by_itself", LOST, 0, False),
    "driver internal error once": (f"internal_at={FAULT_AT}", DRIVER_FAILED, 0, False),
}


@pytest.mark.parametrize("schedule", COMES_BACK, ids=list(COMES_BACK))
def test_after_a_fault_the_dropped_shaders_never_draw_again_until_f5(injected, schedule):
    faults, line, refused, reset = COMES_BACK[schedule]
    run = injected(faults)
    run.expect(LOADED)
    run.wait_for_colour(GREEN, label="before")
    run.expect(re.escape(line) + "$")
    assert [run.expect(r"Error : [VP]shader$") for _ in range(4)] == MISSING * 2
    # A frame reaches the screen a few frames after its lines; then it stays black.
    run.wait_for_colour(BLACK, timeout=5, label="after the fault")
    for _ in range(4):
        time.sleep(0.25)
        run.wait_for_colour(BLACK, timeout=0, label="still after the fault")

    log = fault_log(run)
    created = re.search(r"CreateDevice -> 0x00000000 with (.*)", "\n".join(calls(log, "CreateDevice ->"))).group(1)
    resets = calls(log, "Reset")
    assert resets == [f"Reset({created}) -> 0x88760868 injected"] * refused + \
        ([f"Reset({created}) ...", "Reset -> 0x00000000"] if reset else [])
    if line == LOST:
        assert len(calls(log, "TestCooperativeLevel")) >= 10
        assert 12 <= asks_per_second(log) <= 21, "a lost device is asked about 20 times a second"

    f5_brings_the_shaders_back_and_escape_ends_cleanly(run)


# Ending while the device is lost: it stays lost, or every Reset is refused.
NEVER_BACK = {"staying lost": "lost_at=30,still_lost=1000000", "Reset always failing": "lost_at=30,reset_fails=1000000"}


@pytest.mark.parametrize("key", ["Escape", "alt+F4"])
@pytest.mark.parametrize("schedule", NEVER_BACK, ids=list(NEVER_BACK))
def test_while_lost_it_waits_without_spinning_and_ends_cleanly(injected, schedule, key):
    run = injected(NEVER_BACK[schedule])
    run.expect(LOADED)
    run.expect(re.escape(LOST) + "$")
    run.window()
    pid = wine_process(run.process.pid, "hotfx.exe")
    time.sleep(0.5)
    before, start = cpu_seconds(pid), time.monotonic()
    time.sleep(3)
    used = (cpu_seconds(pid) - before) / (time.monotonic() - start)
    assert used < 0.05, f"{used:.3f} of a core while lost"
    log = fault_log(run)
    assert 12 <= asks_per_second(log) <= 21, "a lost device is asked about 20 times a second"
    if "Reset" in schedule:
        assert len(calls(log, "Reset")) >= len(calls(log, "TestCooperativeLevel")) - 1

    run.key(key)
    assert run.wait_exit() == 0
    assert run.output(settle=0.5) == ["Load Shader.", LOST]
    assert released_everything(fault_log(run)) and no_crash(run)


STARTUP = {
    "Direct3DCreate9 returning NULL": ("no_d3d", "ERROR : Direct3DCreate9"),
    "CreateDevice failing": ("no_device", "ERROR : CreateDevice"),
}


@pytest.mark.parametrize("schedule", STARTUP, ids=list(STARTUP))
def test_a_start_without_a_device_says_so_on_the_debugger_channel_and_exits_1(injected, schedule):
    faults, message = STARTUP[schedule]
    run = injected(faults, winedebug="+debugstr", command=exit_code_kept())
    assert run.wait_exit() == 1
    assert run.output(settle=0.5) == []
    stderr = run.stderr_path.read_text(errors="replace")
    assert re.findall(r'OutputDebugStringA "([^"]*)"', stderr) == [message]
    assert no_crash(run)
    if faults == "no_device":
        assert calls(fault_log(run), "d3d Release") == ["d3d Release -> 0"]


REFUSED = {
    "vertex": ("vs_oom=1", "Error : vs_main compiled, but the device refused it as a vertex shader "
               "(status 0x8007000E)", MISSING),
    "pixel": ("ps_oom=1", "Error : ps_main compiled, but the device refused it as a pixel shader "
              "(status 0x8007000E)", ["Error : Pshader"]),
}


@pytest.mark.parametrize("stage", REFUSED, ids=list(REFUSED))
def test_a_shader_the_device_refuses_is_reported_and_f5_brings_it(injected, stage):
    faults, refusal, missing = REFUSED[stage]
    run = injected(faults)
    run.expect(re.escape(refusal) + "$")
    assert [run.expect(r"Error : [VP]shader$") for _ in range(2 * len(missing))] == missing * 2
    run.window()
    img = run.screenshot("refused")
    assert not colour_close_to(pixel_at(img, img.width // 2, img.height // 2), GREEN, 8)
    f5_brings_the_shaders_back_and_escape_ends_cleanly(run)


# The call that keeps failing: its schedule, its status and what hotfx says before it ends.
KEEPS_FAILING = {
    "Present": (f"internal_at={FAULT_AT},internal_always", "0x88760827", [DRIVER_FAILED, *MISSING]),
    "TestCooperativeLevel": (f"lost_at={FAULT_AT},still_lost=1000000,lost_answer=0x88760827", "0x88760827",
                             [LOST, DRIVER_FAILED]),
    "Reset": (f"lost_at={FAULT_AT},reset_fails=1000000,lost_answer=0x8876086c", "0x8876086c",
              [LOST, DRIVER_FAILED.replace("D3DERR_DRIVERINTERNALERROR", "status 0x8876086C")]),
}


@pytest.mark.parametrize("call", KEEPS_FAILING, ids=list(KEEPS_FAILING))
def test_a_driver_that_keeps_failing_ends_hotfx_with_1(injected, call):
    faults, status, said = KEEPS_FAILING[call]
    run = injected(faults, command=exit_code_kept())
    run.expect(LOADED)
    run.wait_for_colour(GREEN, label="before")
    assert run.wait_exit() == 1
    # The first failure is taken for a loss; the frame after it fails again, and hotfx ends.
    assert run.output(settle=0.5) == ["Load Shader.", *said, GAVE_UP]
    log = fault_log(run)
    failed = [status in made for made in calls(log, call)]
    assert failed[-2:] == [True, True] and failed.count(True) == 2, calls(log, call)[-3:]
    assert released_everything(log) and no_crash(run)


def test_with_watch_the_missing_stages_are_said_once_after_a_loss(injected):
    run = injected(f"lost_at={FAULT_AT},still_lost=10", command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"])
    run.expect(r"Error : Pshader$")
    run.wait_for_colour(BLACK, label="after the fault")
    assert run.output(settle=1.0) == ["Load Shader.", LOST, *MISSING]


# The frames before the first, which a shader reading the previous frame draws first, fail alike.
SCENES = {"saved frames": (solid(GREEN), ("--frames", 0, 4, "f%d.bmp"), ["f0.bmp", "f1.bmp"]),
          "frames before the first": (shader("return tex2D(previous_frame, uv);", VERTEX_STAGE + "sampler2D previous_frame;"),
                                      ("--frame", 4, "f.bmp"), [])}


@pytest.mark.parametrize("scenes", SCENES, ids=list(SCENES))
def test_a_scene_the_device_does_not_begin_ends_the_saving_with_1(injected, scenes):
    source, args, saved = SCENES[scenes]
    run = injected("no_scene=3", source=source, command=exit_code_kept(*args))
    assert run.wait_exit(timeout=120) == 1
    assert run.output(settle=0.5) == ["Load Shader.", "Error : can't draw frame 2: the device did not begin the scene"]
    assert sorted(path.name for path in run.folder.glob("*.bmp")) == saved
    assert released_everything(fault_log(run)) and no_crash(run)


# What lives in the default pool (the previous frame, the passes' targets) must not be made while
# the device is lost: a Reset fails while any of it lives.
READS_THE_POOL = shader("return tex2D(p, uv) + tex2D(previous_frame, uv) * 0.001;", VERTEX_STAGE + """
sampler2D previous_frame; sampler2D p;
float4 ps_p(float2 uv : TEXCOORD0) : COLOR0 { return float4(0, 1, 0, 1); }""")


def test_f5_held_through_a_loss_makes_the_default_pool_only_after_the_reset(injected):
    run = injected(f"lost_at={FAULT_AT},still_lost=10", source=READS_THE_POOL,
                   command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"])
    run.expect(LOADED)
    run.key("F5", action="keydown")
    run.expect(re.escape("Error : The Direct3D device was lost, so the shaders were dropped, and what the passes "
                         "held with them; F5 loads them again") + "$")
    assert wait_until(lambda: "Reset -> 0x00000000" in calls(fault_log(run), "Reset"), 30), calls(fault_log(run), "Reset")
    run.key("F5", action="keyup")
    run.wait_for_colour(GREEN, label="after the reset")
    assert not [line for line in run.output() if "driver failed" in line]
    run.key("Escape")
    assert run.wait_exit() == 0 and released_everything(fault_log(run)) and no_crash(run)


# A device without timestamp queries: F2 says so once, then gives the CPU's time for a frame.
@pytest.mark.default_stack
def test_f2_on_a_device_without_timestamps_says_so_and_times_the_cpu(injected):
    run = injected("no_timestamps=1", command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"])
    run.expect(LOADED)
    for _ in range(2):
        run.key("F2")
        line = run.expect(r"CPU over 1 s", timeout=30)
        assert re.fullmatch(r"CPU over 1 s, [1-9]\d* frames: frame \d+\.\d\d ms", line), line
    said = run.output()
    assert said.count("The device has no timestamp queries: F2 gives the CPU's time for each frame instead.") == 1, said
