#!/usr/bin/env python3
"""Raw frames into a pipe at sizes other than 1280x1024, under Wine 10 on Xvfb, with
bench/main.fx, on each Direct3D 9 stack (HOTFX_D3D9 picks one; both by default): frames saved
a second by `hotfx.exe --size SIZE --frames 0 N -` (a run of RANGE frames against a run of 1,
taking turns, as bench/frames.py measures them) against the live frame rate of
`hotfx.exe --size SIZE` (Wine's +fps reports over frames.LIVE_SECONDS, the first two left
out). Writes its rows into BENCHMARKS.md between its own markers.

usage: sizes.py [BENCHMARKS.md]
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import frames
from frames import FOLDER, LIVE_SECONDS, STACKS, live_rate, saved_rate
from results import row, write_section
from support import EXE, WINE_ROOT, Display

REPO = Path(__file__).resolve().parents[1]
SIZES = ["1920x1080", "3840x2160"]
RANGE = 61
BEGIN, END = "<!-- sizes: written by bench/sizes.py -->", "<!-- end of sizes -->"


def main():
    if len(sys.argv) > 2:
        print("usage: sizes.py [BENCHMARKS.md]", file=sys.stderr)
        sys.exit(2)
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    shutil.rmtree(FOLDER, ignore_errors=True)
    FOLDER.mkdir(parents=True)
    shutil.copy(EXE, FOLDER)
    shutil.copy(REPO / "bench" / "main.fx", FOLDER)
    display = Display()
    table_rows = []
    try:
        for stack in STACKS:
            subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(os.environ, HOTFX_D3D9=stack))
            for size in SIZES:
                saved = saved_rate(display, stack, "-", RANGE, options=("--size", size))
                live = live_rate(display, stack, FOLDER, "--size", size)
                found = row(f"{stack}, bench/main.fx at {size}: raw frames into a pipe a second, against the live "
                            "frame rate at the same size", f"{saved:.1f} against {live:.1f} ({saved / live * 100:.0f} %)",
                            "at least half", saved >= live / 2,
                            f"bench/sizes.py: --size {size} --frames 0 {RANGE - 1} - against --frames 0 0 -; "
                            f"live: hotfx.exe --size {size}, +fps over {LIVE_SECONDS} s")
                table_rows.append(found)
                print(found["figure"], ":", found["value"], flush=True)
    finally:
        display.close()
    write_section(path, (BEGIN, END), "Frames at other sizes (Wine 10, Xvfb, Mesa llvmpipe and lavapipe)",
                  "`hotfx.exe --size` with bench/main.fx: raw frames into a pipe, as videos take them, against "
                  "the live frame rate of the same size.", table_rows)


if __name__ == "__main__":
    main()
