#!/usr/bin/env python3
"""The cost of the sound's picture on the build machine, against the quiet stand-in: a sampler
of ps_main reads music.wav, whose picture (sound_rows: the 2048-point transform, the spectrum's
and the waveform's rows) is made and uploaded in every frame. The stand-in serves bench_wav's
four seconds of 16-bit stereo at 44,100 Hz as the file, and the time goes round within them,
so that every frame makes the whole picture. Writes its rows into BENCHMARKS.md between its
own markers.

- Time: Google Benchmark, sound_rows alone (one call at one frame's time after another) and a
  pass of hotfx's main loop reading the WAV (hotfx_frame_bench's pass/reading_a_wav); median
  CPU time of five repetitions.
- Instructions: callgrind on hotfx_passes sound 1000 and 3000, the difference over 2000: what
  sound_rows takes with what it calls (inclusive), and the whole pass by source file as
  native.py counts it.
- Heap allocations: memcheck's "total heap usage" of the same two runs, the difference over 2000.

usage: sound_native.py BUILD_DIR [BENCHMARKS.md]
"""

import json
import re
import subprocess
import sys
from pathlib import Path

from native import FEW, MANY, callgrind, heap_allocations
from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
BEGIN, END = "<!-- sound picture: written by bench/sound_native.py -->", "<!-- end of sound picture -->"
FRAME_NS = 1e9 / 60


def google_benchmark(bench_exe, out_dir, alone="sound_rows_alone", per_pass="pass/reading_a_wav"):
    """Median CPU time in nanoseconds of a picture alone and of a pass that makes it."""
    out = out_dir / "sound_bench.json"
    # A pass prints that there is no sound device, once a run.
    subprocess.run([str(bench_exe), f"--benchmark_filter=^({per_pass}|{alone})$",
                    "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   stdout=subprocess.DEVNULL, check=True)
    medians = {result["run_name"]: result["cpu_time"] for result in json.loads(out.read_text())["benchmarks"]
               if result.get("aggregate_name") == "median"}
    return medians[alone], medians[per_pass]


def inclusive(out_file):
    """sound_rows's instructions with those of what it calls, and log10's, in one callgrind run."""
    listing = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--auto=no", "--threshold=100",
                              str(out_file)], capture_output=True, text=True, check=True, cwd=REPO).stdout
    found = {}
    for line in listing.splitlines():
        match = re.match(r"\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(.+?):(\S+)", line)
        if not match:
            continue
        name = match.group(3).split("(")[0]
        if name in ("sound_rows", "log10"):
            found.setdefault(name, int(match.group(1).replace(",", "")))
    return found


def main():
    build = Path(sys.argv[1]).resolve()
    document = Path(sys.argv[2] if len(sys.argv) > 2 else REPO / "BENCHMARKS.md")
    passes_exe, bench_exe = build / "bench" / "hotfx_passes", build / "bench" / "hotfx_frame_bench"
    out_dir = build / "results"
    out_dir.mkdir(parents=True, exist_ok=True)
    rel = lambda path: str(path.relative_to(REPO))
    rows = []

    alone, per_pass = google_benchmark(bench_exe, out_dir)
    command = f"{rel(bench_exe)} --benchmark_filter=… --benchmark_repetitions=5 (median CPU time)"
    rows.append(row("Time of sound_rows, a frame's picture of the sound (2048-point transform, 512 levels, "
                    "512 samples)", f"{alone / 1000:.1f} µs ({100 * alone / FRAME_NS:.2f} % of a 16.7 ms frame)",
                    f"at most 1 % of a frame ({FRAME_NS / 100000:.0f} µs)", alone <= FRAME_NS / 100,
                    command.replace("…", "sound_rows_alone")))
    rows.append(row("Time per pass, --watch with ps_main reading a WAV (the picture made and uploaded)",
                    f"{per_pass / 1000:.1f} µs", "", None, command.replace("…", "pass/reading_a_wav")))

    few, many = callgrind(passes_exe, "sound", FEW, out_dir), callgrind(passes_exe, "sound", MANY, out_dir)
    parts = {part: (many[part] - few[part]) / (MANY - FEW) for part in few}
    counted = [inclusive(out_dir / f"callgrind.sound.{passes}.out") for passes in (FEW, MANY)]
    call, log10 = ((counted[1][name] - counted[0][name]) / (MANY - FEW) for name in ("sound_rows", "log10"))
    command = (f"valgrind --tool=callgrind {rel(passes_exe)} sound {FEW} and {MANY}, callgrind_annotate "
               f"--inclusive=yes, difference / {MANY - FEW}")
    rows.append(row("Instructions per call of sound_rows, with what it calls",
                    f"{call:,.0f} (of which the C library's log10 {log10:,.0f}, 512 calls)", "", None, command))
    rows.append(row("Instructions per pass, --watch with ps_main reading a WAV",
                    f"{parts['own']:,.0f} own (app/, render/); stand-in {parts['stand-in']:.0f}, harness "
                    f"{parts['harness']:.0f}, C library and the rest {parts['other']:,.0f}", "", None,
                    command.replace("--inclusive=yes", "by source file")))

    extra = heap_allocations(passes_exe, "sound", MANY) - heap_allocations(passes_exe, "sound", FEW)
    allocations = extra / (MANY - FEW)
    rows.append(row("Heap allocations per pass after the first, --watch with ps_main reading a WAV",
                    f"{allocations:g}", "0", allocations == 0,
                    f"valgrind --tool=memcheck {rel(passes_exe)} sound {FEW} and {MANY}: difference of "
                    f"'total heap usage' allocs / {MANY - FEW}"))
    # Live sound in: a round of 16 buffers of a tone taken from the quiet stand-in's capture
    # device in every call, more than a frame at 60 a second takes (three), then the spectrum, the
    # held levels and the totals; the pass uploads all three pictures.
    alone, per_pass = google_benchmark(bench_exe, out_dir, "listening_alone", "pass/hearing_a_tone")
    command = f"{rel(bench_exe)} --benchmark_filter=… --benchmark_repetitions=5 (median CPU time)"
    rows.append(row("Time of listen(), a frame's sound_in with its two companions (16 buffers of 256 samples "
                    "taken, the 2048-point transform, 512 held levels and totals)",
                    f"{alone / 1000:.1f} µs ({100 * alone / FRAME_NS:.2f} % of a 16.7 ms frame)",
                    f"at most 1 % of a frame ({FRAME_NS / 100000:.0f} µs)", alone <= FRAME_NS / 100,
                    command.replace("…", "listening_alone")))
    rows.append(row("Time per pass, --watch with ps_main reading sound_in, sound_in_smoothed and sound_in_total",
                    f"{per_pass / 1000:.1f} µs", "", None, command.replace("…", "pass/hearing_a_tone")))
    extra = heap_allocations(passes_exe, "listen", MANY) - heap_allocations(passes_exe, "listen", FEW)
    allocations = extra / (MANY - FEW)
    rows.append(row("Heap allocations per pass after the first, --watch with ps_main reading the live sound",
                    f"{allocations:g}", "0", allocations == 0,
                    f"valgrind --tool=memcheck {rel(passes_exe)} listen {FEW} and {MANY}: difference of "
                    f"'total heap usage' allocs / {MANY - FEW}"))
    for found in rows:
        print(found["figure"], ":", found["value"], flush=True)
    write_section(document, (BEGIN, END), "The sound's picture, native, against the quiet stand-in",
                  "hotfx's sources built as for the native benchmarks above; a sampler of ps_main reads "
                  "music.wav, four seconds of 16-bit stereo at 44,100 Hz served by the stand-in, and its "
                  "picture is made and uploaded in every frame (`bench/sound_native.py`).", rows)


if __name__ == "__main__":
    main()
