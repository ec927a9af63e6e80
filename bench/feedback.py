#!/usr/bin/env python3
"""Reading previous_frame, under Wine 10 on Xvfb, on each Direct3D 9 stack (HOTFX_D3D9 picks
one; both by default). Writes its rows into BENCHMARKS.md between its own markers.

The same light shader three times, run by `hotfx.exe --watch` so that its inputs are filled:
once as bench/main.fx draws it, once also reading its own texel of previous_frame, which makes
hotfx copy every presented frame for the next, and once reading an image of the same size
instead, which costs the renderer the same texture read without the copy. The frame rate of
each is Wine's +fps reports over LIVE_SECONDS but the first two, the shaders taking turns for
ROUNDS rounds.

usage: feedback.py [BENCHMARKS.md]
"""

import os
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

from frames import LIVE_SECONDS, watched_rates_on_each_stack
from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE  # noqa: E402
FOLDER = REPO / "build" / "bench" / "feedback"
ROUNDS = 3
STACKS = [os.environ["HOTFX_D3D9"]] if os.environ.get("HOTFX_D3D9") else ["wined3d", "dxvk"]
BEGIN, END = "<!-- previous frame: written by bench/feedback.py -->", "<!-- end of previous frame -->"

# bench/main.fx's pixel stage, and the same mixed with a hundredth of the pixel's own texel of
# the frame before.
WITHOUT = "return float4(frac(uv.x + time.x), uv.y * 0.5 + 0.5, 0.5, 1);"
WITH = ("float2 own = (floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5) + 0.5) * resolution.zw;\n"
        "    return lerp(float4(frac(uv.x + time.x), uv.y * 0.5 + 0.5, 0.5, 1), tex2D(previous_frame, own), 0.01);")
INPUTS = "float4 resolution;\nsampler2D previous_frame;\n"


def prepare():
    shutil.rmtree(FOLDER, ignore_errors=True)
    source = (REPO / "bench" / "main.fx").read_text()
    assert WITHOUT in source, "bench/main.fx's pixel stage changed: mend feedback.py"
    folders = {}
    for name, body in (("without", WITHOUT), ("with", WITH)):
        folders[name] = FOLDER / name
        folders[name].mkdir(parents=True)
        shutil.copy(EXE, folders[name])
        (folders[name] / "main.fx").write_text(INPUTS + source.replace(WITHOUT, body))
    image = FOLDER / "image"
    image.mkdir()
    shutil.copy(EXE, image)
    (image / "main.fx").write_text(INPUTS.replace("previous_frame", "photo") +
                                   source.replace(WITHOUT, WITH.replace("previous_frame", "photo")))
    subprocess.run(["convert", "-size", "1280x1024", "plasma:", "PNG24:" + str(image / "photo.png")], check=True)
    folders["image"] = image
    return folders


def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    table_rows = []
    for stack, rates in watched_rates_on_each_stack(prepare(), ROUNDS, STACKS).items():
        with_, without, image = (statistics.mean(rates[name]) for name in ("with", "without", "image"))
        command = f"bench/feedback.py: hotfx.exe --watch, +fps over {LIVE_SECONDS} s, {ROUNDS} rounds taking turns"
        table_rows.append(row(f"{stack}: frames a second reading previous_frame, against the same shader "
                              "without it", f"{with_:.1f} against {without:.1f} ({with_ / without:.2f})",
                              "at least 0.9", with_ >= 0.9 * without, command))
        table_rows.append(row(f"{stack}: frames a second reading previous_frame, against the same shader "
                              "reading a 1280x1024 image instead (the same read, no copy)",
                              f"{with_:.1f} against {image:.1f} ({with_ / image:.2f})", "", None, command))
        for found in table_rows[-2:]:
            print(found["figure"], ":", found["value"], flush=True)
    write_section(path, (BEGIN, END), "Reading the previous frame (Wine 10, Xvfb, Mesa llvmpipe and lavapipe)",
                  "bench/main.fx drawn by `hotfx.exe --watch`, once as it is and once also reading its pixel's "
                  "own texel of previous_frame, for which hotfx keeps a copy of every presented frame on the "
                  "device.", table_rows)


if __name__ == "__main__":
    main()
