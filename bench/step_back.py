#!/usr/bin/env python3
"""A step back with shaders that carry state, under Wine 10 on Xvfb, on each Direct3D 9 stack
(HOTFX_D3D9 picks one; both by default). Writes its rows into BENCHMARKS.md between its own
markers; a stack not run keeps its row from before.

`hotfx.exe --watch` draws a main.fx with one light pass that reads itself, so a frame needs
every frame before it: Space stops the time, Home takes it to frame 0 and Shift+Right FAR / 60
times to frame FAR, which hotfx draws its way up to. Once presents come steadily there again,
the time between them over PLAIN_SECONDS is the plain frame. Then Left goes to frame FAR - 1,
which hotfx draws again from frame 0, at most 40 ms of them (by QueryPerformanceCounter) before each
present. Every time between two presents counts, from the last one before the key to the third
after "Stopped at frame FAR - 1." (either stack may hold up to three presents queued then), and
the longest must be at most the plain frame's median + ALLOWANCE_MS.

A present is a line of Wine's trace, stamped with time.monotonic() as it arrives (the pipe is
read at most a millisecond apart): on wined3d the swap of its GL buffers (WINEDEBUG=+wgl, which
traces nothing else once frames run), on DXVK the Vulkan present (+vulkan, a dozen lines a
frame, none per draw, and the calls with which hotfx waits for the device). Both come from the
thread that hands the frame to the X server, after hotfx's Present call; DXVK may make its call
before lavapipe has drawn what it presents, so there the screen waits at least as long as the
trace says. hotfx's output is read the same way, so each console line is placed among the
presents. Every time and line of a run is kept in build/bench/step_back/STACK.json.

usage: step_back.py [BENCHMARKS.md]
"""

import bisect
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE, VERTEX_STAGE, WINE_ROOT, Display, shader, wait_until  # noqa: E402
FOLDER = REPO / "build" / "bench" / "step_back"
STACKS = [os.environ["HOTFX_D3D9"]] if os.environ.get("HOTFX_D3D9") else ["wined3d", "dxvk"]
TRACE = {"wined3d": ("+wgl", "trace:wgl:glxdrv_wglSwapBuffers"),
         "dxvk": ("+vulkan", "trace:vulkan:win32u_vkQueuePresentKHR")}
FAR = 3000
PLAIN_SECONDS = 4
ALLOWANCE_MS = 60
QUEUED = 3
SETTLED = 20
# The renderers draw a frame of the pass in 20 to 60 ms, and the frames hotfx hands over on
# the way may all be queued: 3,000 of them take minutes.
CATCH_UP_TIMEOUT = 400
BEGIN, END = "<!-- step back: written by bench/step_back.py -->", "<!-- end of step back -->"

# The pass adds 1/256 to its own texel every frame; ps_main shows it. Both read the texel at
# the pixel's centre, so no filtering blurs what is carried.
SOURCE = shader("return float4(frac(tex2D(acc, own(uv)).x), uv.y * 0.5 + 0.5, 0.5, 1);", VERTEX_STAGE + """
float4 resolution;
sampler2D acc;

float2 own(float2 uv)
{
    return (floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5) + 0.5) * resolution.zw;
}

float4 ps_acc(float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(acc, own(uv)) + float4(1.0 / 256, 0, 0, 0);
}
""")


class Run:
    """hotfx.exe --watch in folder under the present's trace; every line of its output and of
    the trace is kept with the time it arrived."""

    def __init__(self, display, stack, folder):
        self.display, self.said, self.presented = display, [], []
        debug, self.present = TRACE[stack]
        env = dict(display.env(), WINEDEBUG=debug, HOTFX_D3D9=stack, DXVK_LOG_LEVEL="none")
        self.process = subprocess.Popen([str(WINE_ROOT), "wine", "hotfx.exe", "--watch"], cwd=folder, env=env,
                                        text=True, bufsize=1, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        start_new_session=True)
        threading.Thread(target=self._read_output, daemon=True).start()
        threading.Thread(target=self._read_trace, daemon=True).start()
        self.window = None

    def _read_output(self):
        for line in self.process.stdout:
            self.said.append((time.monotonic(), line.rstrip("\r\n")))

    def _read_trace(self):
        # Only the presents are counted, in whatever the pipe holds at most a millisecond apart:
        # waiting for the device, hotfx on DXVK has the trace carry some 20,000 vkGetEventStatus
        # lines a second, and reading them line by line took a third of a core from the renderer.
        marker, fd, tail = self.present.encode(), self.process.stderr.fileno(), b""
        while piece := os.read(fd, 1 << 20):
            piece = tail + piece
            arrived = time.monotonic()
            self.presented.extend([arrived] * piece.count(marker))
            tail = piece[1 - len(marker):]
            time.sleep(0.001)

    def presents(self, since=0.0):
        presented = self.presented[:]
        return presented[bisect.bisect_left(presented, since):]

    def line(self, pattern, after, timeout):
        """The first console line at index after or later matching pattern: (index, time)."""
        def find():
            if self.process.poll() is not None:
                raise RuntimeError(f"hotfx exited with {self.process.returncode}; it said {self.said[-5:]}")
            return next(((i, self.said[i][0]) for i in range(after, len(self.said))
                         if re.match(pattern, self.said[i][1])), None)
        found = wait_until(find, timeout, 0.01)
        if found is None:
            raise TimeoutError(f"no line matching {pattern!r} within {timeout} s; hotfx said {self.said[after:]}")
        return found

    def keys(self, *keys):
        if self.window is None:
            self.window = wait_until(lambda: self.display.run("xdotool", "search", "--name", "^test$",
                                                              check=False).split(), 60)[0]
        self.display.run("xdotool", "windowfocus", "--sync", self.window)
        self.display.run("xdotool", "key", "--delay", "20", *keys)

    def close(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, 15)
            self.process.wait(timeout=60)


def step_back(display, stack):
    folder = FOLDER / stack
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy(EXE, folder)
    (folder / "main.fx").write_text(SOURCE)
    run = Run(display, stack, folder)

    def settled(since):
        # What was drawn on the way may still be queued when hotfx says the frame is reached.
        if not wait_until(lambda: len(run.presents(since)) >= SETTLED, CATCH_UP_TIMEOUT, 0.1):
            raise RuntimeError(f"fewer than {SETTLED} presents within {CATCH_UP_TIMEOUT} s after the catch-up")

    try:
        run.line(r"Passes in order: acc$", 0, 120)
        if not wait_until(run.presents, 60):
            raise RuntimeError(f"no {run.present} on the trace: is {stack} drawing?")
        time.sleep(1)
        run.keys("space")
        index, _ = run.line(r"Stopped at frame \d+\.$", 0, 30)
        run.keys("Home")
        index, _ = run.line(r"Stopped at frame 0\.$", index + 1, 30)
        keyed = time.monotonic()
        run.keys(*["shift+Right"] * (FAR // 60))
        index, reached = run.line(rf"Stopped at frame {FAR}\.$", index + 1, CATCH_UP_TIMEOUT)
        settled(reached)
        print(f"{stack}: frame {FAR} said {reached - keyed:.1f} s after the keys, presents steady "
              f"{run.presents(reached)[SETTLED - 1] - keyed:.1f} s after", flush=True)
        begin = time.monotonic()
        time.sleep(PLAIN_SECONDS)
        plain = run.presents(begin)
        mark = len(run.said)
        pressed = time.monotonic()
        run.keys("Left")
        index, arrived = run.line(rf"Stopped at frame {FAR - 1}\.$", mark, CATCH_UP_TIMEOUT)
        settled(arrived)
        last_before = [t for t in run.presents() if t < pressed][-1]
        shown = run.presents(arrived)[QUEUED - 1]
        presents = [t for t in run.presents(last_before) if t <= shown]
    finally:
        run.close()
    return {"plain": [b - a for a, b in zip(plain, plain[1:])],
            "intervals": [b - a for a, b in zip(presents, presents[1:])],
            "presents": [t - pressed for t in presents],
            "said": [(t - pressed, line) for t, line in run.said],
            "forward": reached - keyed, "took": arrived - pressed, "shown": shown - pressed}


def after_key(found):
    """When the presents came, or how many and how far apart where they are too many to list."""
    after = [t for t in found["presents"] if t > 0]
    if len(after) > 12:
        return (f"{len(after)} presents after the key, {statistics.median(found['intervals']) * 1000:.1f} ms "
                "apart (median)")
    return "presents " + ", ".join(f"{t:.2f}" for t in after) + " s after the key"


def stack_row(stack, found):
    ms = lambda seconds: f"{seconds * 1000:.1f} ms"
    plain = statistics.median(found["plain"])
    longest = max(found["intervals"])
    allowed = plain + ALLOWANCE_MS / 1000
    on_the_way = [(t, line) for t, line in found["said"] if 0 < t and line.startswith("Drawing up to")]
    said = (f"'{on_the_way[0][1].split(':')[0]}: …' {on_the_way[0][0]:.1f} s after the key" if on_the_way
            else "no 'Drawing up to' line")
    return row(f"{stack}: longest time between two presented frames during a step back from frame {FAR:,}, "
               "one pass that reads itself, against the plain frame",
               f"{ms(longest)}; plain frame {ms(plain)} (median of {len(found['plain'])} while stopped, the longest "
               f"{ms(max(found['plain']))}); 99th percentile on the way "
               f"{ms(statistics.quantiles(found['intervals'], n=100)[98])}; "
               f"{after_key(found)}; 'Stopped at frame {FAR - 1}.' {found['took']:.1f} s and the "
               f"picture {found['shown']:.1f} s after the key; {said}",
               f"at most plain + {ALLOWANCE_MS} ms ({ms(allowed)})", longest <= allowed,
               f"bench/step_back.py: hotfx.exe --watch, Space, Home, Shift+Right x {FAR // 60}, Left; "
               f"presents on WINEDEBUG={TRACE[stack][0]}")


def kept_rows(path, measured):
    """The rows of the stacks not measured now, as the section holds them."""
    text = path.read_text()
    if BEGIN not in text:
        return []
    kept = []
    for line in text[text.index(BEGIN):text.index(END)].splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split(" | ")]
        if len(cells) == 6 and any(cells[0].startswith(f"{stack}: ") for stack in TRACE if stack not in measured):
            figure, value, target, verdict, command, date = cells
            kept.append({"figure": figure, "value": value, "target": target, "command": command.strip("`"),
                         "met": None if not verdict else verdict == "met", "date": date})
    return kept


def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    display = Display()
    table_rows = kept_rows(path, STACKS)
    try:
        for stack in STACKS:
            subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(os.environ, HOTFX_D3D9=stack))
            found = step_back(display, stack)
            (FOLDER / f"{stack}.json").write_text(json.dumps(found, indent=1))
            table_rows.append(stack_row(stack, found))
            print(table_rows[-1]["figure"], ":", table_rows[-1]["value"], flush=True)
    finally:
        display.close()
    table_rows.sort(key=lambda r: list(TRACE).index(r["figure"].split(":")[0]))
    write_section(path, (BEGIN, END), "Stepping back through a pass that carries state (Wine 10, Xvfb, Mesa)",
                  f"`hotfx.exe --watch` with one light pass that reads itself, stopped at frame {FAR:,}; Left "
                  f"goes to frame {FAR - 1:,}, which hotfx draws again from frame 0, at most 40 ms of frames (by "
                  "QueryPerformanceCounter) before each present. The longest time between two "
                  "presents on the way, against the plain frame while stopped, each present dated as Wine's "
                  "trace of it arrives.", table_rows)


if __name__ == "__main__":
    main()
