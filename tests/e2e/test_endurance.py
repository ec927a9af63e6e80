"""hotfx.exe kept busy for six minutes: F5 held down for 30 seconds (a reload in every frame),
then five minutes of drawing, with resident memory read by the host from /proc/<pid>/status
of the Wine process that runs it. Wine and the drivers keep some memory for every shader pair
made and drawn, so the reloads are judged against the platform itself: the reference program
(bench/reference) makes as many reloads, call for call, in the same run, and hotfx may grow by
no more per reload than it does. Growth that comes later, while the platform settles, counts
towards the reloads; from two minutes after them on, memory must stay flat. Skip it in quick
runs with -m "not endurance"."""

import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import threading
import time

import pytest

from support import ARTIFACTS, REPO, WINE_ROOT, solid

pytestmark = pytest.mark.endurance

RED = (255, 0, 0)
LOADED = r"Load Shader\.$"
HELD = 30
RUNNING = 300
# After the reloads, the platform is given this long to settle before its growth is taken.
SETTLE = 120
SAMPLE_EVERY = 10
# Reading the resident size of a process that is drawing is exact to a few pages per reading;
# over a thousand reloads or more that is a few bytes per reload.
NOISE_PER_RELOAD_KB = 0.25
# The straight line through the readings of the quiet minutes may rise by no more than this
# over them.
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


def descendants(pid):
    children = {}
    for entry in (p for p in os.listdir("/proc") if p.isdigit()):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(parent, []).append(int(entry))
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def wine_process(launcher, name):
    """The host pid of the Wine process running name: the one called so below the launcher."""
    for pid in descendants(launcher):
        try:
            with open(f"/proc/{pid}/comm") as comm:
                if comm.read().strip() == name:
                    return pid
        except OSError:
            pass
    raise AssertionError(f"no process named {name} below the launcher")


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


def trend_kb(readings):
    """How far the least-squares line through (seconds, kB) readings rises over their span."""
    times, sizes = [t for t, _ in readings], [kb for _, kb in readings]
    mean_t, mean_kb = statistics.mean(times), statistics.mean(sizes)
    slope = (sum((t - mean_t) * (kb - mean_kb) for t, kb in readings)
             / sum((t - mean_t) ** 2 for t in times))
    return slope * (times[-1] - times[0])


def reference_growth(run, stack, reference_exe, reloads, result):
    """Runs the reference beside hotfx, in its folder: one reload, the memory, as many reloads as
    hotfx made, SETTLE seconds, the memory again. Puts (before, after) in kB into result."""
    shutil.copy(reference_exe, run.folder)
    process = subprocess.Popen([str(WINE_ROOT), "wine", "reference.exe", "reload", str(reloads)], cwd=run.folder,
                               env=dict(run.display.env(), WINEDEBUG="-all", HOTFX_D3D9=stack),
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               start_new_session=True)

    def says(word, timeout):
        ready = select.select([process.stdout], [], [], timeout)[0]
        line = process.stdout.readline().decode(errors="replace").strip() if ready else "(nothing)"
        assert line == word, f"the reference said {line!r}, not {word!r}"

    try:
        says("before", 180)
        pid = wine_process(process.pid, "reference.exe")
        before = settled_kb(pid)
        process.stdin.write(b"\n")
        process.stdin.flush()
        says("after", 300)
        time.sleep(SETTLE)
        result.extend([before, settled_kb(pid)])
    finally:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def test_memory_kept_per_reload_is_the_platforms_and_stays_flat_after(hotfx, stack, reference_exe, request):
    log = ARTIFACTS / re.sub(r"[^\w.-]+", "_", request.node.name) / "memory.txt"
    log.parent.mkdir(parents=True, exist_ok=True)
    figures = []

    def note(text):
        figures.append(text)
        log.write_text("\n".join(figures) + "\n")

    run = hotfx(solid(RED))
    run.expect(LOADED)
    run.wait_for_colour(RED)
    pid = wine_process(run.process.pid, "hotfx.exe")

    run.key("F5")
    run.expect(LOADED)
    time.sleep(5)  # the first frames drawn with a new pair warm caches up
    baseline = settled_kb(pid)
    note(f"hotfx, 5 s after the first reload: {baseline} kB")

    loaded_before = run.output().count("Load Shader.")
    run.key("F5", action="keydown")
    held_until = time.monotonic() + HELD
    while time.monotonic() < held_until:
        time.sleep(5)
        note(f"F5 held, {HELD - (held_until - time.monotonic()):.0f} s: {resident_kb(pid)} kB")
    run.key("F5", action="keyup")
    released = time.monotonic()
    reloads = run.output(settle=1.0).count("Load Shader.") - loaded_before
    note(f"reloads while F5 was held: {reloads}")
    assert reloads > 10 * HELD, "F5 held should reload in every frame"

    # The reference makes its reloads while hotfx draws on.
    reference = []
    beside = threading.Thread(target=reference_growth, args=(run, stack, reference_exe, reloads, reference))
    beside.start()
    readings, settled = [], None
    while time.monotonic() < released + RUNNING:
        time.sleep(SAMPLE_EVERY)
        since = time.monotonic() - released
        readings.append((since, resident_kb(pid)))
        note(f"running, {since:.0f} s after the reloads: {readings[-1][1]} kB")
        if since >= SETTLE and settled is None:
            settled = settled_kb(pid)
            note(f"hotfx, {SETTLE} s after the reloads: {settled} kB")
    beside.join()
    assert len(reference) == 2, "the reference did not finish"
    note(f"reference, 5 s after its first reload: {reference[0]} kB; {SETTLE} s after as many reloads: "
         f"{reference[1]} kB")

    per_reload = (settled - baseline) / reloads
    platform_per_reload = (reference[1] - reference[0]) / reloads
    flat = [(t, kb) for t, kb in readings if t >= SETTLE]
    rise = trend_kb(flat)
    note(f"kept per reload: hotfx {per_reload:.2f} kB, reference {platform_per_reload:.2f} kB; "
         f"trend over the last {flat[-1][0] - flat[0][0]:.0f} s: {rise:+.0f} kB")

    assert run.process.poll() is None
    assert set(run.output()) == {"Load Shader."}, "no error line in six minutes"
    assert per_reload <= platform_per_reload + NOISE_PER_RELOAD_KB, figures
    assert rise <= FLAT_KB, figures
    run.key("F5")
    run.expect(LOADED)
    run.key("Escape")
    assert run.wait_exit() == 0
