"""hotfx.exe kept busy: F5 held down (a reload in every frame), then left drawing, with
resident memory read by the host from /proc/<pid>/status of the Wine process that runs it.
The platform itself keeps memory for every shader pair made and drawn, and wined3d for drawing
alone (about a kilobyte a second on llvmpipe), so hotfx is judged against the reference
program (bench/reference), which makes the same calls in every frame and runs beside it the
whole time, reloading in every frame while F5 is held: from 5 s after the first reload to 5 s
after the last, hotfx may keep no more than the reference keeps per reload times its own
reloads, give or take the heap's steps (as a reload takes a frame, what drawing keeps counts
alike on both), and once the drawing has settled, its memory may rise no more per frame drawn
than the reference's, frames counted from Wine's fps channel.

Every run takes the short one: an image under --watch, 20 s of F5, 20 s of drawing, judged by
what the reloads keep (no minute of drawing is long enough to judge growth by the frame). A build
that kept each reload's image (640x480) failed it, keeping 228 MB over 71 reloads on wined3d
where 2.8 MB were allowed, 183 MB over 57 on DXVK where 4.0 MB were; the real one kept 3.8 and
0.4 kB per reload, the reference 29.8 and 57.6. The six-minute runs, with and without an
image, run by hand with -m endurance."""

import collections
import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import time

import pytest

from support import ARTIFACTS, LOADED, RED, REPO, STACKS, WINE_ROOT, solid, wine_process

# Seconds of F5 held; of drawing after it, of which the quiet part starts settle seconds in;
# and between readings.
Length = collections.namedtuple("Length", "held running settle sample_every")
SIX_MINUTES = Length(30, 300, 120, 10)
SHORT = Length(20, 20, 5, 5)
# What was kept is taken this long after the reloads.
KEPT_AFTER = 5
# The heap grows in steps of up to some hundred kilobytes: over the reloads hotfx once kept
# 270 kB more than the reference's rate accounts for. Drawing keeps memory by the frame, and
# two programs beside each other do not draw as many frames, so the quiet minutes are compared
# per frame.
SLACK_KB = 512
FLAT_KB = 256


@pytest.fixture(scope="session")
def reference_exe():
    """bench/reference built as bench/run.sh builds it."""
    built = REPO / "build" / "e2e-reference" / "reference.exe"
    built.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["i686-w64-mingw32-g++", "-std=c++11", "-Os", "-DNDEBUG", "-static", "-s", "-o", str(built),
                    str(REPO / "bench" / "reference" / "reference.cpp"), "-ld3dx9_43", "-ld3d9", "-lgdi32"],
                   check=True)
    return built


def resident_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"^VmRSS:\s+(\d+) kB$", status.read(), re.M).group(1))


def settled_kb(pid, samples=5, interval=0.5):
    """The median of a few readings, so that one page fault in flight doesn't decide."""
    readings = []
    for _ in range(samples):
        readings.append(resident_kb(pid))
        time.sleep(interval)
    return statistics.median(readings)


def slope(readings):
    """The slope of the least-squares line through (x, kB) readings."""
    xs, sizes = [x for x, _ in readings], [kb for _, kb in readings]
    mean_x, mean_kb = statistics.mean(xs), statistics.mean(sizes)
    return (sum((x - mean_x) * (kb - mean_kb) for x, kb in readings)
            / sum((x - mean_x) ** 2 for x in xs))


def frames_drawn(stderr_path, stack):
    """Frames presented so far: Wine's fps channel reports the rate over each 1.5 s."""
    report = re.compile(rf"trace:fps:{STACKS[stack][1]} .*@ approx ([\d.]+)fps")
    with open(stderr_path, errors="replace") as log:
        return sum(1.5 * float(m.group(1)) for line in log if (m := report.search(line)))


class Reference:
    """bench/reference in reload mode, in hotfx's folder and on its stack: it reloads once,
    says "before" and waits; told to go, it reloads in every frame for the seconds given and says
    "after COUNT"; all the time it makes the calls hotfx makes in every frame."""

    def __init__(self, run, stack, reference_exe, held):
        shutil.copy(reference_exe, run.folder)
        self.stderr_path = run.folder.parent / "reference.stderr"
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen([str(WINE_ROOT), "wine", "reference.exe", "reload", str(held)],
                                            cwd=run.folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=stderr, start_new_session=True,
                                            env=dict(run.display.env(), WINEDEBUG="-all,+fps", HOTFX_D3D9=stack))

    def says(self, word, timeout):
        ready = select.select([self.process.stdout], [], [], timeout)[0]
        line = self.process.stdout.readline().decode(errors="replace").strip() if ready else "(nothing)"
        assert line.startswith(word), f"the reference said {line!r}, not {word!r}"
        return line

    def go(self):
        self.process.stdin.write(b"\n")
        self.process.stdin.flush()

    def close(self):
        os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()


@pytest.fixture
def reference(hotfx, stack, reference_exe):
    started = []
    yield lambda run, held: started.append(Reference(run, stack, reference_exe, held)) or started[-1]
    for program in started:
        program.close()


def image_beside(folder):
    (folder / "main.fx").write_text(solid(RED).replace("float4 ps_main", "sampler2D photo;\nfloat4 ps_main")
                                    .replace("float4(1, 0, 0, 1)", "float4(1, tex2D(photo, uv).g, 0, 1)"))
    subprocess.run(["convert", "-size", "640x480", "xc:black", "PNG24:" + str(folder / "photo.png")], check=True)


# An image loaded at every reload must be given back as well. The short run covers the
# reloads of both six-minute runs; those run by hand, with -m endurance.
@pytest.mark.parametrize("image, length", [
    pytest.param(True, SHORT, id="shader and image, --watch, short"),
    pytest.param(False, SIX_MINUTES, id="shader", marks=pytest.mark.endurance),
    pytest.param(True, SIX_MINUTES, id="shader and image, --watch", marks=pytest.mark.endurance)])
def test_memory_kept_per_reload_and_while_drawing_is_no_more_than_the_platforms(hotfx, stack, reference, request,
                                                                                 image, length):
    log = ARTIFACTS / re.sub(r"[^\w.-]+", "_", request.node.name) / "memory.txt"
    log.parent.mkdir(parents=True, exist_ok=True)
    figures = []

    def note(text):
        figures.append(text)
        log.write_text("\n".join(figures) + "\n")

    run = hotfx(image_beside, command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"]) if image else hotfx(solid(RED))
    run.expect(LOADED)
    run.wait_for_colour(RED)
    pid = wine_process(run.process.pid, "hotfx.exe")
    beside = reference(run, length.held)

    run.key("F5")
    run.expect(LOADED)
    beside.says("before", 180)
    time.sleep(5)  # the first frames drawn with a new pair warm caches up
    beside_pid = wine_process(beside.process.pid, "reference.exe")
    baseline, beside_baseline = settled_kb(pid), settled_kb(beside_pid)
    note(f"after the first reload: hotfx {baseline} kB, reference {beside_baseline} kB")

    loaded_before = run.output().count("Load Shader.")
    run.key("F5", action="keydown")
    beside.go()
    held_until = time.monotonic() + length.held
    while time.monotonic() < held_until:
        time.sleep(5)
        note(f"F5 held, {length.held - (held_until - time.monotonic()):.0f} s: hotfx {resident_kb(pid)} kB, "
             f"reference {resident_kb(beside_pid)} kB")
    run.key("F5", action="keyup")
    released = time.monotonic()
    reloads = run.output(settle=1.0).count("Load Shader.") - loaded_before
    beside_reloads = int(beside.says("after", 60).split()[1])
    note(f"reloads: hotfx {reloads}, reference {beside_reloads}")
    # test_reload checks a reload in every frame; here they only need to be many, on a slow
    # stack and a busy machine as well.
    assert reloads > 2 * length.held, "F5 held should reload many times"
    time.sleep(max(0.0, released + KEPT_AFTER - time.monotonic()))
    kept = (settled_kb(pid), settled_kb(beside_pid))
    note(f"{KEPT_AFTER} s after the reloads: hotfx {kept[0]} kB, reference {kept[1]} kB")

    readings = []
    while time.monotonic() < released + length.running:
        time.sleep(length.sample_every)
        since = time.monotonic() - released
        readings.append((since, resident_kb(pid), resident_kb(beside_pid),
                         frames_drawn(run.stderr_path, stack), frames_drawn(beside.stderr_path, stack)))
        note(f"running, {since:.0f} s after the reloads: hotfx {readings[-1][1]} kB, {readings[-1][3]:.0f} frames; "
             f"reference {readings[-1][2]} kB, {readings[-1][4]:.0f} frames")

    growth = kept[0] - baseline
    platform_per_reload = (kept[1] - beside_baseline) / beside_reloads
    quiet = [reading for reading in readings if reading[0] >= length.settle]
    per_frame = slope([(frames, kb) for _, kb, _, frames, _ in quiet])
    platform_per_frame = slope([(frames, kb) for _, _, kb, _, frames in quiet])
    frames = quiet[-1][3] - quiet[0][3]
    note(f"kept per reload: hotfx {growth / reloads:.2f} kB, reference {platform_per_reload:.2f} kB; over the last "
         f"{quiet[-1][0] - quiet[0][0]:.0f} s, per frame: hotfx {per_frame * 1024:+.0f} bytes over {frames:.0f} "
         f"frames, reference {platform_per_frame * 1024:+.0f} bytes over {quiet[-1][4] - quiet[0][4]:.0f}")

    assert run.process.poll() is None
    assert set(run.output()) == {"Load Shader."}, "no error line in the whole run"
    assert growth <= platform_per_reload * reloads + SLACK_KB, figures
    # A minute of drawing is too short to judge growth by the frame: with the same build, DXVK
    # grew 201 and 532 bytes a frame in two short runs, the reference beside it 480 and 171.
    # The six-minute runs judge it over three minutes.
    if length.running - length.settle >= 180:
        assert (per_frame - platform_per_frame) * frames <= FLAT_KB, figures
    run.key("F5")
    run.expect(LOADED)
    run.key("Escape")
    assert run.wait_exit() == 0
