#!/usr/bin/env python3
"""Saved frames, under Wine 10 on Xvfb, with bench/main.fx, on each Direct3D 9 stack
(HOTFX_D3D9 picks one; both by default). Writes its rows into BENCHMARKS.md between its
own markers.

- Frame 1 against frame 10,000,000: the wall time of `hotfx.exe --frame N OUT.png`, from the
  launch to the exit, the two frames taking turns, ROUNDS of each; medians and ranges.
- Frames saved a second by `--frames`: a run of RANGE frames against a run of 1, taking turns,
  so that the start and the shutdown drop out: (RANGE - 1) / (T(RANGE) - T(1)). As PNG files
  and as bitmaps, into the folder and into memory (the sandbox's /dev/shm), so that the
  machine's disk shows apart from hotfx; and as raw frames into a pipe (`-`, the route to a
  video), read here in 1 MB pieces and dropped. Against the live frame rate
  of the same shader: hotfx.exe alone for LIVE_SECONDS, Wine's +fps reports but the first
  two, averaged. The same for examples/rings, a picture that is far harder to deflate, over
  RINGS_RANGE frames.
- Where a saved frame's time goes (wined3d only, whose d3d9 writes a trace): a --frames run
  under WINEDEBUG=+d3d9,+d3dx, its lines timed as they arrive. wined3d draws and reads back on
  its own thread, and D3DX's lock of the copy waits for that, then encodes the PNG from the
  locked copy, so the time from LockRect to UnlockRect holds the drawing, the read back and the
  encoding; the rest of the frame is everything else. Beside it, what deflating one saved
  picture's rows takes with zlib at its default level, on this side, as an estimate of the
  encoding's share.

usage: frames.py [BENCHMARKS.md]
"""

import os
import re
import zlib
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE, WINE_ROOT, Display  # noqa: E402
FOLDER = REPO / "build" / "bench" / "frames"
ROUNDS = 8
RANGE = 121
RINGS_RANGE = 31
RINGS = FOLDER / "rings"
# How saved pictures are named, and what the figures call them.
ROUTES = [("r%03d.png", "PNG files"), ("r%03d.bmp", "bitmaps"), (r"Z:\dev\shm\r%03d.bmp", "bitmaps in memory"),
          ("-", "raw frames into a pipe")]
LIVE_SECONDS = 12
STACKS = [os.environ["HOTFX_D3D9"]] if os.environ.get("HOTFX_D3D9") else ["wined3d", "dxvk"]
BEGIN, END = "<!-- saved frames: written by bench/frames.py -->", "<!-- end of saved frames -->"


def wine(display, stack, *args, winedebug="-all", folder=FOLDER, stdout=subprocess.DEVNULL):
    env = dict(display.env(), HOTFX_D3D9=stack, WINEDEBUG=winedebug, DXVK_LOG_LEVEL="none")
    return subprocess.Popen([str(WINE_ROOT), "wine", "hotfx.exe", *map(str, args)], cwd=folder, env=env,
                            stdout=stdout, stderr=subprocess.PIPE, text=True)


def timed(display, stack, *args, folder=FOLDER):
    started = time.monotonic()
    piped = args[-1] == "-"
    run = wine(display, stack, *args, folder=folder, stdout=subprocess.PIPE if piped else subprocess.DEVNULL)
    if piped:
        # As a reader such as ffmpeg takes them; hotfx prints a line at most meanwhile.
        piece = bytearray(1 << 20)
        while run.stdout.buffer.readinto(piece):
            pass
    run.communicate()
    assert run.returncode == 0, f"hotfx.exe {args} exited with {run.returncode}"
    return time.monotonic() - started


def live_rate(display, stack, folder=FOLDER, *args):
    run = wine(display, stack, *args, winedebug="+fps", folder=folder)
    time.sleep(LIVE_SECONDS)
    run.kill()
    # wine-root.sh's bwrap takes the Wine processes with it.
    _, stderr = run.communicate()
    rates = [float(rate) for rate in re.findall(r"trace:fps:\S+ .*approx ([0-9.]+)fps", stderr)][2:]
    return statistics.mean(rates)


def rates_taking_turns(display, stack, folders, rounds, *args):
    """Each folder's live frame rate, one run after another for the given rounds, so that a
    change in the machine's load falls on all of them alike."""
    rates = {name: [] for name in folders}
    for _ in range(rounds):
        for name, folder in folders.items():
            rates[name].append(live_rate(display, stack, folder, *args))
    return rates


def watched_rates_on_each_stack(folders, rounds, stacks):
    """{stack: rates_taking_turns of hotfx.exe --watch in the folders} for each stack in turn."""
    display = Display()
    try:
        rates = {}
        for stack in stacks:
            subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(os.environ, HOTFX_D3D9=stack))
            rates[stack] = rates_taking_turns(display, stack, folders, rounds, "--watch")
        return rates
    finally:
        display.close()

def breakdown(display):
    """Medians over a --frames run: the frame, the locked part, and zlib's deflate alone."""
    events = {"d3d9_device_Clear ": [], "d3d9_surface_LockRect ": [], "d3d9_surface_UnlockRect ": []}
    run = wine(display, "wined3d", "--frames", 0, RANGE - 1, "t%03d.png", winedebug="+d3d9,+d3dx")
    for line in run.stderr:
        for name, times in events.items():
            if name in line:
                times.append(time.monotonic())
    run.wait()
    clears, locks, unlocks = events.values()
    frame = statistics.median(after - before for before, after in zip(clears, clears[1:]))
    locked = statistics.median(unlock - lock for lock, unlock in zip(locks, unlocks))
    raw = subprocess.run(["convert", str(FOLDER / "t060.png"), "-depth", "8", "rgb:-"], capture_output=True,
                         check=True).stdout
    rows = b"".join(b"\0" + raw[y * 3840:(y + 1) * 3840] for y in range(1024))
    deflate = []
    for _ in range(5):
        started = time.monotonic()
        zlib.compress(rows)
        deflate.append(time.monotonic() - started)
    return frame, locked, statistics.median(deflate)


def measure(display, stack):
    times = {1: [], 10_000_000: []}
    for _ in range(ROUNDS):
        for frame in times:
            times[frame].append(timed(display, stack, "--frame", frame, f"f{frame}.png"))
    saved = {name: saved_rate(display, stack, pattern, RANGE) for pattern, name in ROUTES}
    rings = {name: saved_rate(display, stack, pattern, RINGS_RANGE, RINGS) for pattern, name in ROUTES[:2] + ROUTES[3:]}
    return times, (saved, live_rate(display, stack)), (rings, live_rate(display, stack, RINGS))


def saved_rate(display, stack, pattern, count, folder=FOLDER, options=()):
    """Frames saved a second, with the start and the end of the program taken out."""
    runs = {1: [], count: []}
    for _ in range(3):
        for frames in runs:
            runs[frames].append(timed(display, stack, *options, "--frames", 0, frames - 1, pattern, folder=folder))
    return (count - 1) / (statistics.median(runs[count]) - statistics.median(runs[1]))


def rows(stack, times, rates, rings, parts):
    s = lambda seconds: f"{seconds:.2f} s"
    first, far = (statistics.median(times[frame]) for frame in (1, 10_000_000))
    spread = max(max(t) - min(t) for t in times.values())
    found = [
        row(f"{stack}: `--frame 1` against `--frame 10000000`, launch to exit",
            f"{s(first)} against {s(far)} (medians of {ROUNDS}; each set spans at most {s(spread)})",
            "the same within noise", abs(far - first) <= spread,
            "bench/frames.py: hotfx.exe --frame N f.png, taking turns"),
    ]
    for shader, (saved, live), count in (("bench/main.fx", rates, RANGE), ("examples/rings", rings, RINGS_RANGE)):
        for name, rate in saved.items():
            found.append(row(f"{stack}, {shader}: frames saved a second by `--frames` as {name}, against the "
                             "live frame rate", f"{rate:.1f} against {live:.1f} ({rate / live * 100:.0f} %)",
                             "at least half", rate >= live / 2,
                             f"bench/frames.py: --frames 0 {count - 1} against --frames 0 0; "
                             f"live: +fps over {LIVE_SECONDS} s"))
    if parts:
        frame, locked, deflate = parts
        ms = lambda seconds: f"{seconds * 1000:.0f} ms"
        found.append(row(f"{stack}: one saved frame under trace; of it, D3DX's lock of the copy (waiting for the "
                         "draw and the read back, then encoding the PNG); zlib's deflate of such a picture alone",
                         f"{ms(frame)}; {ms(locked)}; {ms(deflate)} (medians)", "", None,
                         "bench/frames.py: Clear to Clear, LockRect to UnlockRect (WINEDEBUG=+d3d9,+d3dx); "
                         "zlib.compress of the rows"))
    return found


def write(path, table_rows):
    write_section(path, (BEGIN, END), "Saved frames (Wine 10, Xvfb, Mesa llvmpipe and lavapipe)",
                  "`hotfx.exe --frame` and `--frames` with bench/main.fx, run through tools/wine-root.sh, "
                  "so each time includes Wine's start of the program. Frame 10,000,000 needs the time after "
                  "ten million additions, which hotfx works out on the CPU before it draws.", table_rows)

def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    shutil.rmtree(FOLDER, ignore_errors=True)
    FOLDER.mkdir(parents=True)
    shutil.copy(EXE, FOLDER)
    shutil.copy(REPO / "bench" / "main.fx", FOLDER)
    RINGS.mkdir()
    shutil.copy(EXE, RINGS)
    shutil.copy(REPO / "examples" / "rings" / "main.fx", RINGS)
    display = Display()
    table_rows = []
    try:
        for stack in STACKS:
            subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(os.environ, HOTFX_D3D9=stack))
            times, rates, rings = measure(display, stack)
            parts = breakdown(display) if stack == "wined3d" else None
            found = rows(stack, times, rates, rings, parts)
            table_rows += found
            for r in found:
                print(r["figure"], ":", r["value"], flush=True)
    finally:
        display.close()
    write(path, table_rows)


if __name__ == "__main__":
    main()
