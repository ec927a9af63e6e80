#!/usr/bin/env python3
"""Full screen against a window of the same size, under Wine 10 with bench/main.fx, on each
Direct3D 9 stack (HOTFX_D3D9 picks one; both by default): the live frame rate of
`hotfx.exe --watch --fullscreen` on a 1600x1200 Xvfb (a borderless window over the screen, its
back buffer the screen's 1600x1200) against `hotfx.exe --watch --size 1600x1200` on a 2000x1400
Xvfb, which has room for a client area of 1600x1200, so that both present a 1600x1200 back
buffer unscaled. ROUNDS of each take turns, so that a change in the machine's load falls on
both alike; each rate is Wine's +fps reports over frames.LIVE_SECONDS but the first two, and the
figure the ratio of the medians. Writes its rows into BENCHMARKS.md between its own markers.

usage: fullscreen.py [BENCHMARKS.md]
"""

import os
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

from frames import FOLDER, LIVE_SECONDS, STACKS, live_rate
from results import row, write_section
from support import EXE, WINE_ROOT, Display

REPO = Path(__file__).resolve().parents[1]
ROUNDS = 6
# Each run: its screen, then hotfx's arguments.
RUNS = {"full screen": ("1600x1200x24", "--watch", "--fullscreen"),
        "window": ("2000x1400x24", "--watch", "--size", "1600x1200")}
BEGIN, END = "<!-- full screen: written by bench/fullscreen.py -->", "<!-- end of full screen -->"


def main():
    if len(sys.argv) > 2:
        print("usage: fullscreen.py [BENCHMARKS.md]", file=sys.stderr)
        sys.exit(2)
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    shutil.rmtree(FOLDER, ignore_errors=True)
    FOLDER.mkdir(parents=True)
    shutil.copy(EXE, FOLDER)
    shutil.copy(REPO / "bench" / "main.fx", FOLDER)
    displays = {screen: Display(screen) for screen, *_ in RUNS.values()}
    table_rows = []
    try:
        for stack in STACKS:
            subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(os.environ, HOTFX_D3D9=stack))
            rates = {name: [] for name in RUNS}
            for _ in range(ROUNDS):
                for name, (screen, *args) in RUNS.items():
                    rates[name].append(live_rate(displays[screen], stack, FOLDER, *args))
            full, window = (statistics.median(rates[name]) for name in RUNS)
            found = row(f"{stack}, bench/main.fx at 1600x1200: frames a second in full screen, against a window of "
                        "the same size", f"{full / window:.3f} ({full:.1f} against {window:.1f} fps; full screen "
                        f"{min(rates['full screen']):.1f} to {max(rates['full screen']):.1f})",
                        "at least 0.99", full / window >= 0.99,
                        f"bench/fullscreen.py: hotfx.exe --watch --fullscreen on a 1600x1200 Xvfb against "
                        f"hotfx.exe --watch --size 1600x1200 on a 2000x1400 one, +fps over {LIVE_SECONDS} s, "
                        f"{ROUNDS} of each taking turns, medians")
            table_rows.append(found)
            print(found["figure"], ":", found["value"], flush=True)
    finally:
        for display in displays.values():
            display.close()
    write_section(path, (BEGIN, END), "Full screen (Wine 10, Xvfb, Mesa llvmpipe and lavapipe)",
                  "`hotfx.exe --watch --fullscreen` with bench/main.fx, its back buffer the screen's 1600x1200, "
                  "against a window whose client area is 1600x1200 on a larger screen.", table_rows)


if __name__ == "__main__":
    main()
