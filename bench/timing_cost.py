#!/usr/bin/env python3
"""What F2's timestamp queries cost the frame rate, under Wine 10 on Xvfb, on each Direct3D 9
stack (HOTFX_D3D9 picks one; both by default). `hotfx.exe --watch` draws the one-pass shader
of bench/step_back.py three ways, taking turns for ROUNDS rounds: the build before F2 (BEFORE,
a commit), this build with F2 never pressed, and this build measuring all along (F2 pressed
again as soon as each line is printed). The rate is the presents on Wine's trace over SECONDS,
from WARM_UP seconds after the pass order is printed. Writes its rows into BENCHMARKS.md
between its own markers.

usage: timing_cost.py [BENCHMARKS.md]   (HOTFX_BEFORE_EXE: the earlier build, else built here)
"""

import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

from results import row, write_section
from step_back import SOURCE, STACKS, TRACE, Run
from support import EXE, WINE_ROOT, Display

REPO = Path(__file__).resolve().parents[1]
FOLDER = REPO / "build" / "bench" / "timing_cost"
BEFORE = "0100cc6"
ROUNDS = 3
WARM_UP, SECONDS = 3, 10
BEGIN, END = "<!-- timing cost: written by bench/timing_cost.py -->", "<!-- end of timing cost -->"


def before_exe():
    if os.environ.get("HOTFX_BEFORE_EXE"):
        return Path(os.environ["HOTFX_BEFORE_EXE"])
    tree = FOLDER / "before"
    if not (tree / "build" / "windows" / "hotfx.exe").exists():
        shutil.rmtree(tree, ignore_errors=True)
        subprocess.run(["git", "worktree", "add", "-f", str(tree), BEFORE], cwd=REPO, check=True)
        subprocess.run(["cmake", "--preset", "windows"], cwd=tree, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "windows"], cwd=tree, check=True, stdout=subprocess.DEVNULL)
    return tree / "build" / "windows" / "hotfx.exe"


def rate(display, stack, folder, measuring):
    """Presents a second over SECONDS; with measuring, F2 is pressed again after each line."""
    run = Run(display, stack, folder)
    try:
        run.line(r"Passes in order: acc$", 0, 120)
        time.sleep(WARM_UP)
        lines = len(run.said)
        if measuring:
            run.keys("F2")
        start = time.monotonic()
        while time.monotonic() - start < SECONDS:
            if measuring and any(line.startswith(("GPU over", "CPU over")) for _, line in run.said[lines:]):
                lines = len(run.said)
                run.keys("F2")
            time.sleep(0.02)
        said = [line for _, line in run.said if line.startswith(("GPU over", "CPU over"))]
        return len(run.presents(start)) / (time.monotonic() - start), said
    finally:
        run.close()


def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    builds = {"before": before_exe(), "idle": EXE, "measuring": EXE}
    display = Display()
    table_rows = []
    try:
        for stack in STACKS:
            subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(os.environ, HOTFX_D3D9=stack))
            rates, lines = {name: [] for name in builds}, []
            for _ in range(ROUNDS):
                for name, exe in builds.items():
                    folder = FOLDER / stack / name
                    shutil.rmtree(folder, ignore_errors=True)
                    folder.mkdir(parents=True)
                    shutil.copy(exe, folder / "hotfx.exe")
                    (folder / "main.fx").write_text(SOURCE)
                    found, said = rate(display, stack, folder, name == "measuring")
                    rates[name].append(found)
                    lines += said
            before, idle, measuring = (statistics.median(rates[name]) for name in builds)
            command = (f"bench/timing_cost.py: hotfx.exe --watch, one pass; presents on WINEDEBUG={TRACE[stack][0]} "
                       f"over {SECONDS} s, {ROUNDS} rounds taking turns")
            table_rows += [
                row(f"{stack}: frames a second with F2 never pressed, against the build before F2 ({BEFORE})",
                    f"{idle:.1f} against {before:.1f} ({idle / before:.3f}); medians of {ROUNDS}",
                    "at least 0.99", idle >= 0.99 * before, command),
                row(f"{stack}: frames a second while F2 measures all along, against F2 never pressed",
                    f"{measuring:.1f} against {idle:.1f} ({measuring / idle:.3f}); {len(lines)} lines, the last "
                    f"'{lines[-1] if lines else 'none'}'", "", None, command),
            ]
            for found in table_rows[-2:]:
                print(found["figure"], ":", found["value"], flush=True)
    finally:
        display.close()
    write_section(path, (BEGIN, END), "The cost of F2's timestamp queries (Wine 10, Xvfb, Mesa)",
                  "`hotfx.exe --watch` with one pass that reads itself: the build before F2, this build with F2 "
                  "never pressed, and this build measuring all along, taking turns.", table_rows)


if __name__ == "__main__":
    main()
