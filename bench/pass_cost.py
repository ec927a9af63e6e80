#!/usr/bin/env python3
"""What a pass costs, under Wine 10 on Xvfb, on each Direct3D 9 stack (HOTFX_D3D9 picks one;
both by default). Writes its rows into BENCHMARKS.md between its own markers.

bench/main.fx's light pixel stage drawn by `hotfx.exe --watch` with 0, 1, 2 and 4 passes: each
pass is that same stage as ps_pN, drawn into its float texture of the back buffer's size, and
ps_main shows the mean of the passes' texels at its pixel (without passes it draws the stage
itself). The frame rate of each is Wine's +fps reports over LIVE_SECONDS but the first two, the
four shaders taking turns for ROUNDS rounds; a pass's cost is the frame's time with N passes
less the frame's time without, over N.

usage: pass_cost.py [BENCHMARKS.md]
"""

import os
import shutil
import statistics
import sys
from pathlib import Path

import frames
from frames import watched_rates_on_each_stack
from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE  # noqa: E402
FOLDER = REPO / "build" / "bench" / "pass_cost"
ROUNDS = 2
# Longer than frames.py's runs: four passes on a busy machine drew under a frame a second, and
# a run of 25 s once gave no report past the first two.
LIVE_SECONDS = frames.LIVE_SECONDS = 40
COUNTS = (0, 1, 2, 4)
STACKS = [os.environ["HOTFX_D3D9"]] if os.environ.get("HOTFX_D3D9") else ["wined3d", "dxvk"]
BEGIN, END = "<!-- passes: written by bench/pass_cost.py -->", "<!-- end of passes -->"

STAGE = "return float4(frac(uv.x + time.x), uv.y * 0.5 + 0.5, 0.5, 1);"
OWN = "float2 own = (floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5) + 0.5) * resolution.zw;\n"


def source(count):
    main = (REPO / "bench" / "main.fx").read_text()
    assert STAGE in main, "bench/main.fx's pixel stage changed: mend pass_cost.py"
    if count == 0:
        return main
    declared = "float4 resolution;\n" + "".join(f"sampler2D p{n};\n" for n in range(count))
    passes = "".join(f"float4 ps_p{n}(float2 uv : TEXCOORD0) : COLOR0\n{{\n    {STAGE}\n}}\n\n" for n in range(count))
    mean = OWN + "    return (" + " + ".join(f"tex2D(p{n}, own)" for n in range(count)) + f") / {count};"
    return declared + main.replace(STAGE, mean).replace("float4 ps_main", passes + "float4 ps_main")


def prepare():
    shutil.rmtree(FOLDER, ignore_errors=True)
    folders = {}
    for count in COUNTS:
        folders[count] = FOLDER / str(count)
        folders[count].mkdir(parents=True)
        shutil.copy(EXE, folders[count])
        (folders[count] / "main.fx").write_text(source(count))
    return folders


def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    table_rows = []
    for stack, rates in watched_rates_on_each_stack(prepare(), ROUNDS, STACKS).items():
        mean = {count: statistics.mean(rates[count]) for count in COUNTS}
        command = f"bench/pass_cost.py: hotfx.exe --watch, +fps over {LIVE_SECONDS} s, {ROUNDS} rounds taking turns"
        for count in COUNTS:
            each = ", ".join(f"{rate:.1f}" for rate in rates[count])
            if count == 0:
                value = f"{mean[0]:.1f} ({each})"
            else:
                per_pass = (1000 / mean[count] - 1000 / mean[0]) / count
                value = (f"{mean[count]:.1f} ({each}); {mean[count] / mean[0]:.2f} of the rate without; "
                         f"{per_pass:.2f} ms a pass")
            table_rows.append(row(f"{stack}: frames a second with {count} pass{'es' if count != 1 else ''}",
                                  value, "", None, command))
            print(table_rows[-1]["figure"], ":", table_rows[-1]["value"], flush=True)
    write_section(path, (BEGIN, END), "Passes (Wine 10, Xvfb, Mesa llvmpipe and lavapipe)",
                  "bench/main.fx's pixel stage drawn by `hotfx.exe --watch` with 0, 1, 2 and 4 passes, each pass "
                  "that same stage drawn into its 32-bit float texture of 1280x1024 and ps_main showing the mean "
                  "of the passes' texels at its pixel; frames a second (the mean of the rounds, then each round), "
                  "and the time a pass adds to the frame: the frame's time with N passes less that without, "
                  "over N.", table_rows)


if __name__ == "__main__":
    main()
