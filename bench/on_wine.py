#!/usr/bin/env python3
"""hotfx.exe against a bare reference program (bench/reference) on the real platform: Wine 10,
Xvfb and Mesa's software renderers, both drawing bench/main.fx, on the Direct3D 9 implementation
that HOTFX_D3D9 names: wined3d (the default, over OpenGL and llvmpipe) or dxvk (DXVK, over
Vulkan and lavapipe). Every time is read on this side, with
time.monotonic(), as a line of Wine's trace arrives from a program or a key goes out. All
programs run under one wineserver that bench/launcher.sh keeps up, with the prefix's services
started, so that a start is the program's own.

- Frames per second: Wine's "fps" debug channel. With WINEDEBUG=+fps, wined3d counts the
  presents it carries out, and for DXVK Wine counts the Vulkan presents, and every 1.5 s prints
  the rate since its last report; nothing else is traced, so every program pays the same tick read per frame for it. Two programs run at
  the same time, windows side by side, each held to one of the two cores (taskset), so that
  work of other processes on the machine falls on both alike while neither takes the other's
  core; they swap cores from round to round. A pair of two references shows how even the two
  sides are, and references that add one of hotfx's per-frame calls each show what it costs;
  the reference that adds all three makes the same calls as hotfx's frame.
- Start: from the command that launches a program to the first present carried out, which the
  same channel reports at once, one program at a time, taking turns. On wined3d, starts under
  WINEDEBUG=+d3d9,+d3dx show the steps in between; DXVK's d3d9 writes no such trace.
- Reload: hotfx alone with WINEDEBUG=+d3d9,+d3dx, which shows each compile and device call.
  main.fx is changed, F5 goes out through XTEST, and the time runs to the Present call of the
  first frame after the new pixel shader's creation. On DXVK, whose d3d9 traces nothing, the
  compiles show on +d3dx and the presents on Wine's +vulkan channel, and the time runs to the
  first Vulkan present after the pixel stage's compile. The two compiles alone are timed by
  the reference in a process of their own.

usage: on_wine.py OUT.json
"""

import ctypes
import json
import os
import re
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

from results import machine, row

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import Display  # noqa: E402
FOLDER = "build/bench/platform"             # relative to the repository, which is /job in the root
SCREEN = "2600x1100x24"                     # room for two 1280-pixel windows side by side
HOTFX, REFERENCE = "hotfx.exe", "reference.exe"
RIGHT = "reference.exe r"                   # the reference with its window right of hotfx's
SAME_CALLS = "reference.exe ckbr"           # ... that also makes every other call of hotfx's frame
PAIRS = [(HOTFX, RIGHT)] * 4 + [(HOTFX, SAME_CALLS)] * 6 + [(REFERENCE, RIGHT)] * 4 + [
    ("reference.exe c", RIGHT), ("reference.exe k", RIGHT), ("reference.exe b", RIGHT)] * 2
SETTLE_SECONDS, PAIR_SECONDS = 2, 15
STARTS = 8                                  # of each program, and as many under trace
RELOADS = 20
STACK = os.environ.get("HOTFX_D3D9") or "wined3d"
# The function whose presents the fps channel counts, and the trace that shows the device's
# presents one by one for the reloads.
PRESENTER = {"wined3d": "wined3d_cs_exec_present", "dxvk": "win32u_vkQueuePresentKHR"}[STACK]
RELOAD_TRACE, PRESENT_CALL = {"wined3d": ("+d3d9,+d3dx", "d3d9_device_Present"),
                              "dxvk": ("+d3dx,+vulkan", "trace:vulkan:win32u_vkQueuePresentKHR")}[STACK]
FPS_LINE = re.compile(rf"(\w+):trace:fps:{PRESENTER} \w+ @ approx ([\d.]+)fps")
# wined3d reports its first present at once, as a rate of 0.
FIRST_PRESENT = rf"(\w+):trace:fps:{PRESENTER} \w+ @ approx 0\.00fps"
VARIANTS = {"reference.exe c": "clearing the target", "reference.exe k": "uploading all 64 registers",
            "reference.exe b": "binding the shaders and vertex format"}


class Wine:
    """bench/launcher.sh inside the Wine root; every line the programs trace is kept with the
    time it arrived."""

    def __init__(self, display):
        self.lines = []
        self.process = subprocess.Popen([str(REPO / "tools" / "wine-root.sh"), "run", "bash", "bench/launcher.sh"],
                                        cwd=REPO, env=dict(os.environ, DISPLAY=display, HOTFX_D3D9=STACK),
                                        text=True, bufsize=1,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        threading.Thread(target=self._read, daemon=True).start()
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("the launcher did not start")

    def _read(self):
        for line in self.process.stderr:
            self.lines.append((time.monotonic(), line.rstrip("\n")))

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def start(self, debug, program, cpus="-"):
        """Returns the program's process id and the time it was launched."""
        launched = time.monotonic()
        return int(self.ask(f"start {FOLDER} {cpus} {debug} {program}").split()[1]), launched

    def stop(self, pid):
        self.ask(f"stop {pid}")

    def output(self, program):
        self.process.stdin.write(f"run {FOLDER} {program}\n")
        self.process.stdin.flush()
        lines = []
        while (line := self.process.stdout.readline().strip()) != "done":
            lines.append(line)
        return lines

    def wait_for(self, pattern, after, timeout=60):
        """The first line from index after on that matches pattern: (index, time, match)."""
        deadline = time.monotonic() + timeout
        index = after
        while time.monotonic() < deadline:
            while index < len(self.lines):
                found = re.search(pattern, self.lines[index][1])
                if found:
                    return index, self.lines[index][0], found
                index += 1
            time.sleep(0.001)
        raise TimeoutError(f"no line matching {pattern!r} within {timeout} s")

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)


def side_by_side(wine, left, right, swap):
    """Frames per second of two programs over the same PAIR_SECONDS, each on a core of its own."""
    mark, pids, threads = len(wine.lines), [], []
    for program, cpu in ((left, 1 if swap else 0), (right, 0 if swap else 1)):
        before = len(wine.lines)
        pid, _ = wine.start("+fps", program, cpu)
        pids.append(pid)
        threads.append(wine.wait_for(FIRST_PRESENT, before)[2].group(1))
    time.sleep(SETTLE_SECONDS)
    begin = time.monotonic()
    time.sleep(PAIR_SECONDS)
    end = time.monotonic()
    for pid in pids:
        wine.stop(pid)
    rates = []
    for thread in threads:
        # Each report gives the rate since the one before it; a stretch counts when it lies
        # wholly inside the span.
        reports = [(t, float(m.group(2))) for t, line in wine.lines[mark:]
                   if (m := FPS_LINE.match(line)) and m.group(1) == thread]
        frames = span = 0.0
        for (before, _), (after, rate) in zip(reports, reports[1:]):
            if before >= begin and after <= end:
                frames += rate * (after - before)
                span += after - before
        rates.append(frames / span)
    return rates


def start_time(wine, program):
    """Seconds from launch to the first present carried out."""
    mark = len(wine.lines)
    pid, launched = wine.start("+fps", program)
    presented = wine.wait_for(FIRST_PRESENT, mark)[1]
    wine.stop(pid)
    return presented - launched


def start_steps(wine, program):
    """Milliseconds from launch to the steps of start-up that Wine's d3d9 and d3dx channels show."""
    steps = [("Direct3DCreate9 called", r"trace:d3d9:Direct3DCreate9 sdk"),
             ("device created", r"d3d9_CreateDevice Created device"),
             ("pixel shader created", r"d3d9_device_CreatePixelShader Created"),
             ("first frame begun", r"d3d9_device_(Clear|BeginScene) iface"),
             ("first Present called", r"d3d9_device_Present iface"),
             ("first present carried out", FIRST_PRESENT)]
    mark = len(wine.lines)
    pid, launched = wine.start("+d3d9,+d3dx,+fps", program)
    times = {name: (wine.wait_for(pattern, mark)[1] - launched) * 1000 for name, pattern in steps}
    wine.stop(pid)
    return times


def reloads(wine, display):
    """F5 to the Present of the first frame with the new shaders, RELOADS times, with the parts
    of that time; and the frame period of the same run."""
    fx = REPO / FOLDER / "main.fx"
    source = fx.read_text()
    x11, xtest = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtest.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    connection = x11.XOpenDisplay(display.encode())
    f5 = x11.XKeysymToKeycode(connection, 0xFFC2)

    mark = len(wine.lines)
    pid, _ = wine.start(RELOAD_TRACE, HOTFX)
    wine.wait_for(PRESENT_CALL, mark)
    time.sleep(2)
    env = dict(os.environ, DISPLAY=display)
    window = subprocess.run(["xdotool", "search", "--name", "^test$"], env=env, capture_output=True, text=True,
                            check=True).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=True)
    time.sleep(0.5)
    presents = [t for t, line in wine.lines[mark:] if PRESENT_CALL in line][-60:]
    periods = [after - before for before, after in zip(presents, presents[1:])]
    found = []
    for number in range(RELOADS):
        fx.write_text(source.replace("0.5, 1);", f"{0.1 + 0.8 * (number % 2)}, 1);"))
        time.sleep(0.3)
        mark = len(wine.lines)
        xtest.XTestFakeKeyEvent(connection, f5, 1, 0)
        xtest.XTestFakeKeyEvent(connection, f5, 0, 0)
        x11.XSync(connection, 0)
        pressed = time.monotonic()
        last_present = max(t for t, line in wine.lines[:mark] if PRESENT_CALL in line)
        if STACK == "dxvk":
            index, seen, _ = wine.wait_for(r'D3DXCompileShaderFromFileA .*"vs_main"', mark)
            index, ps_compile, _ = wine.wait_for(r'D3DXCompileShaderFromFileA .*"ps_main"', index)
            index, presented, _ = wine.wait_for(PRESENT_CALL, index)
            found.append({"latency": presented - pressed, "poll": seen - pressed, "seen": presented - seen,
                          "since": pressed - last_present})
            time.sleep(0.2)
            continue
        index, seen, _ = wine.wait_for(r"d3d9_vertexshader_Release", mark)
        index, vs_compile, _ = wine.wait_for(r'D3DXCompileShaderFromFileA .*"vs_main"', index)
        index, vs_created, _ = wine.wait_for(r"d3d9_device_CreateVertexShader iface", index)
        index, ps_compile, _ = wine.wait_for(r'D3DXCompileShaderFromFileA .*"ps_main"', index)
        index, ps_created, _ = wine.wait_for(r"d3d9_device_CreatePixelShader iface", index)
        index, presented, _ = wine.wait_for(PRESENT_CALL, index)
        found.append({"latency": presented - pressed, "poll": seen - pressed, "seen": presented - seen,
                      "since": pressed - last_present,
                      "compiles": (vs_created - vs_compile) + (ps_created - ps_compile),
                      "after": presented - ps_created})
        time.sleep(0.2)
    wine.stop(pid)
    fx.write_text(source)
    x11.XCloseDisplay(connection)
    return found, statistics.median(periods)


def measure(display):
    wine = Wine(display)
    try:
        pairs = [((left, right), side_by_side(wine, left, right, number % 2 == 1))
                 for number, (left, right) in enumerate(PAIRS)]
        starts = {HOTFX: [], REFERENCE: []}
        steps = {HOTFX: [], REFERENCE: []}
        for number in range(STARTS):
            for program in (HOTFX, REFERENCE) if number % 2 == 0 else (REFERENCE, HOTFX):
                starts[program].append(start_time(wine, program))
                if STACK == "wined3d":
                    steps[program].append(start_steps(wine, program))
        compiles_alone = float(wine.output("reference.exe compile 50")[-1]) / 1000
        found, period = reloads(wine, display)
        version = wine.output("--version")[-1]
    finally:
        wine.close()
    return pairs, starts, steps, compiles_alone, found, period, version


def main():
    out_path = Path(sys.argv[1])
    display = Display(SCREEN)
    try:
        pairs, starts, steps, compiles_alone, found, period, version = measure(display.name)
    finally:
        display.close()

    rows = []

    def ratios(left, right=RIGHT):
        measured = [rates for programs, rates in pairs if programs == (left, right)]
        each = [a / b for a, b in measured]
        shown = ", ".join(f"{a:.1f}/{b:.1f}" for a, b in measured)
        return statistics.median(each), min(each), max(each), shown

    ratio, low, high, shown = ratios(HOTFX, SAME_CALLS)
    rows.append(row("Frames per second, hotfx over the reference that makes the same calls, side by side",
                    f"{ratio:.3f} (median of {PAIRS.count((HOTFX, SAME_CALLS))} pairs, from {low:.3f} to {high:.3f}; "
                    f"fps {shown})",
                    "at least 0.99", ratio >= 0.99,
                    f"bench/on_wine.py: WINEDEBUG=+fps, {PAIR_SECONDS} s a pair, a core each, {HOTFX} against "
                    f"{SAME_CALLS} (clearing, all 64 registers, binding again)"))
    ratio, low, high, shown = ratios(HOTFX)
    rows.append(row("… hotfx over the bare reference",
                    f"{ratio:.3f} (median of {PAIRS.count((HOTFX, RIGHT))} pairs, from {low:.3f} to {high:.3f}; "
                    f"fps {shown})", "", None, f"the same, {HOTFX} against {RIGHT}"))
    ratio, low, high, shown = ratios(REFERENCE)
    rows.append(row("… a reference over a reference (how even the sides are)",
                    f"{ratio:.3f} (from {low:.3f} to {high:.3f}; fps {shown})", "", None, "the same, two references"))
    for program, label in VARIANTS.items():
        ratio, low, high, shown = ratios(program)
        rows.append(row(f"… the reference also {label} in every frame over the bare one",
                        f"{ratio:.3f} (from {low:.3f} to {high:.3f}; fps {shown})", "", None,
                        f"the same, {program} against {RIGHT}"))

    medians = {program: statistics.median(times) for program, times in starts.items()}
    start_ratio = medians[HOTFX] / medians[REFERENCE]
    rows.append(row("Start to the first presented frame, hotfx over the reference",
                    f"{start_ratio:.3f} (medians of {STARTS} starts: hotfx {medians[HOTFX] * 1000:.0f} ms, "
                    f"reference {medians[REFERENCE] * 1000:.0f} ms)", "at most 1.05", start_ratio <= 1.05,
                    f"bench/on_wine.py: launch to the first present {PRESENTER} reports (WINEDEBUG=+fps), "
                    "taking turns"))
    for program in (HOTFX, REFERENCE) if STACK == "wined3d" else ():
        median = {step: statistics.median(s[step] for s in steps[program]) for step in steps[program][0]}
        rows.append(row(f"… steps of {program}'s start, from launch",
                        "; ".join(f"{step} {ms:.0f} ms" for step, ms in median.items()), "", None,
                        f"the same under WINEDEBUG=+d3d9,+d3dx,+fps, medians of {STARTS} starts"))

    median = lambda key: statistics.median(r[key] for r in found) * 1000
    latency = median("latency")
    allowed = (compiles_alone + period) * 1000
    present = "the next Present" if STACK == "wined3d" else "the next Vulkan present"
    rows.append(row("F5 to the first frame drawn with the new shaders",
                    f"{latency:.1f} ms (median of {RELOADS}; {max(r['latency'] for r in found) * 1000:.1f} ms at most); "
                    f"compiles alone {compiles_alone * 1000:.2f} ms, one frame {period * 1000:.1f} ms",
                    f"at most compiles alone + one frame ({allowed:.1f} ms)", latency <= allowed,
                    f"bench/on_wine.py: F5 through XTEST to {present} (WINEDEBUG={RELOAD_TRACE}); "
                    "reference.exe compile 50 for the compiles alone"))
    if STACK == "wined3d":
        rows.append(row("… of which until hotfx's next poll of the key",
                        f"{median('poll'):.1f} ms (the key came {median('since'):.1f} ms after the last Present call)",
                        "", None, "the same reloads: F5 to the release of the old vertex shader"))
        rows.append(row("… of which from that poll", f"{median('seen'):.1f} ms (the two compiles in hotfx "
                        f"{median('compiles'):.1f} ms, pixel shader created to Present {median('after'):.1f} ms)",
                        "", None, "the same reloads: release of the old vertex shader to Present"))
    else:
        rows.append(row("… of which until hotfx's next poll of the key",
                        f"{median('poll'):.1f} ms (the key came {median('since'):.1f} ms after the last Vulkan present)",
                        "", None, "the same reloads: F5 to the vertex stage's compile call"))
        rows.append(row("… of which from that poll", f"{median('seen'):.1f} ms", "", None,
                        "the same reloads: the vertex stage's compile call to the next Vulkan present"))
    section = {"wined3d": "Wine 10 with wined3d, Xvfb, Mesa llvmpipe (OpenGL)",
               "dxvk": "Wine 10 with DXVK, Xvfb, Mesa lavapipe (Vulkan)"}[STACK]
    out_path.write_text(json.dumps({"section": f"{section}: hotfx.exe against bench/reference",
                                    "machine": machine(f"{version}, Xvfb {SCREEN}"), "rows": rows}, indent=1))


if __name__ == "__main__":
    main()
