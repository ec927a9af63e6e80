#!/usr/bin/env python3
"""hotfx's own cost per frame on the build machine, against the quiet stand-in whose calls do
nothing and allocate nothing: time per pass of the main loop (Google Benchmark), instructions
per pass (callgrind) and heap allocations per pass after the first (memcheck).

The valgrind figures come from two whole runs of hotfx_passes that differ only in the number
of passes: start-up and shutdown cancel out of the difference, which divided by the extra
passes is the cost of one pass, that is the drain of an empty queue plus render_frame.

usage: native.py BUILD_DIR OUT.json
"""

import json
import re
import subprocess
import sys
from pathlib import Path

from results import machine, row

REPO = Path(__file__).resolve().parents[1]
FEW, MANY = 1000, 3000
MODES = {"both": "both shaders loaded", "none": "no shaders (both compiles fail)",
         "reload": "F5 held, a reload in every frame", "watch": "both shaders, --watch on a quiet folder",
         "inputs": "--watch, each stage reading every named input and an image",
         "passes": "--watch, every named input and an image read by each stage and by 4 passes that ps_main reads and each read themselves"}
# Own instructions per pass at most, where there is a target: 500, and 1,100 with four passes
# (each pass binds and fills its inputs itself every frame, the simpler way).
TARGETS = {"both": 500, "watch": 500, "inputs": 500, "passes": 1100}


def categorise(path):
    # callgrind_annotate, run in the repository, names the files under it relative to it.
    path = path[len(str(REPO)) + 1:] if path.startswith(str(REPO) + "/") else path
    if path.startswith(("app/", "render/")):
        return "own"
    if path.startswith("tests/platform/"):
        return "stand-in"
    if path.startswith("bench/"):
        return "harness"
    return "other"


def callgrind(passes_exe, mode, passes, out_dir):
    """Instructions of one whole run, summed by where the code comes from."""
    out = out_dir / f"callgrind.{mode}.{passes}.out"
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", str(passes_exe), mode,
                    str(passes)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    listing = subprocess.run(["callgrind_annotate", "--auto=no", "--threshold=100", str(out)],
                             capture_output=True, text=True, check=True, cwd=REPO).stdout
    totals = {"own": 0, "stand-in": 0, "harness": 0, "other": 0}
    for line in listing.splitlines():
        match = re.match(r"\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(.+?):", line)
        if match and "PROGRAM TOTALS" not in line:
            totals[categorise(match.group(2))] += int(match.group(1).replace(",", ""))
    return totals


def heap_allocations(passes_exe, mode, passes):
    report = subprocess.run(["valgrind", "--tool=memcheck", str(passes_exe), mode, str(passes)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True).stderr
    return int(re.search(r"total heap usage: ([\d,]+) allocs", report).group(1).replace(",", ""))


def google_benchmark(bench_exe, out_dir):
    """Median CPU time per pass in nanoseconds, by mode."""
    out = out_dir / "frame_bench.json"
    # The frames without shaders print two lines each, so standard output is thrown away and
    # the figures are read from the JSON file.
    subprocess.run([str(bench_exe), "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   stdout=subprocess.DEVNULL, check=True)
    medians = {}
    for result in json.loads(out.read_text())["benchmarks"]:
        if result.get("aggregate_name") == "median":
            medians[result["run_name"]] = result["cpu_time"]
    return {"both": medians["pass/both_shaders"], "none": medians["pass/no_shaders"],
            "reload": medians["pass/reload_every_frame"], "watch": medians["pass/watching_the_folder"],
            "inputs": medians["pass/every_named_input"], "passes": medians["pass/four_passes"]}


def main():
    build, out_path = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    passes_exe, bench_exe = build / "bench" / "hotfx_passes", build / "bench" / "hotfx_frame_bench"
    out_dir = out_path.parent
    rel = lambda path: str(path.relative_to(REPO))
    rows = []

    nanoseconds = google_benchmark(bench_exe, out_dir)
    for mode, label in MODES.items():
        rows.append(row(f"Time per pass, {label}", f"{nanoseconds[mode]:.1f} ns", "", None,
                        f"{rel(bench_exe)} --benchmark_repetitions=5 (median CPU time of pass/…)"))

    per_pass = {}
    for mode in MODES:
        few, many = callgrind(passes_exe, mode, FEW, out_dir), callgrind(passes_exe, mode, MANY, out_dir)
        per_pass[mode] = {part: (many[part] - few[part]) / (MANY - FEW) for part in few}
    command = (f"valgrind --tool=callgrind {rel(passes_exe)} MODE {FEW} and {MANY}, "
               "callgrind_annotate by source file, difference / " + str(MANY - FEW))
    for mode, label in MODES.items():
        own, parts = per_pass[mode]["own"], per_pass[mode]
        detail = (f"{own:.0f} own (app/, render/); stand-in {parts['stand-in']:.0f}, "
                  f"harness {parts['harness']:.0f}, C library and the rest {parts['other']:.0f}")
        target, met = (f"at most {TARGETS[mode]} own", own <= TARGETS[mode]) if mode in TARGETS else ("", None)
        rows.append(row(f"Instructions per pass, {label}", detail, target, met,
                        command.replace("MODE", mode)))
    reload_own = per_pass["reload"]["own"] - per_pass["both"]["own"]
    rows.append(row("Instructions of load_shaders of its own, per reload", f"{reload_own:.0f}", "", None,
                    "own instructions per pass with F5 held minus those with both shaders, as above"))

    for mode, label in MODES.items():
        extra = heap_allocations(passes_exe, mode, MANY) - heap_allocations(passes_exe, mode, FEW)
        allocations = extra / (MANY - FEW)
        rows.append(row(f"Heap allocations per pass after the first, {label}", f"{allocations:g}", "0",
                        allocations == 0,
                        f"valgrind --tool=memcheck {rel(passes_exe)} {mode} {FEW} and {MANY}: "
                        "difference of 'total heap usage' allocs / " + str(MANY - FEW)))
    rows[list(MODES).index("reload") - len(MODES)]["figure"] += " (= load_shaders apart from the compiler)"

    out_path.write_text(json.dumps({"section": "Native, against the quiet stand-in", "machine": machine(),
                                    "rows": rows}, indent=1))


if __name__ == "__main__":
    main()
