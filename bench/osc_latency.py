"""OSC to picture in hotfx.exe --osc under Wine 10 on Xvfb, wined3d: from the start of liblo's
oscsend to the first present after hotfx received its message, SENDS times, against the frame's
own time (the median time between presents in the same run). The receive shows on Wine's
+winsock channel (a recv of status 0), presents on +d3d9. Also hotfx's heap allocations per frame
while bundles arrive, against the quiet stand-in (valgrind, as bench/native.py counts them).
Writes its rows into BENCHMARKS.md between its own markers.

usage: osc_latency.py BENCH_BUILD [BENCHMARKS.md]
"""

import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE, WINE_ROOT, Display, wait_until  # noqa: E402

SENDS = 40
FEW, MANY = 1000, 3000
TRACE = "+winsock,+d3d9"
PRESENT, RECEIVED = "d3d9_device_Present", "WS2_recv_base status 0."
FOLDER = REPO / "build" / "bench" / "osc"
BEGIN, END = "<!-- osc: written by bench/osc_latency.py -->", "<!-- end of osc -->"
# The benchmark's light shader, its blue channel a global that the messages set.
SOURCE = (REPO / "bench" / "main.fx").read_text().replace("0.5, 1);", "level, 1);").replace(
    "float4 time : register(c0);", "float4 time : register(c0);\nfloat level = 0.5;")


def measure(display):
    shutil.rmtree(FOLDER, ignore_errors=True)
    FOLDER.mkdir(parents=True)
    (FOLDER / "main.fx").write_text(SOURCE)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    lines = []
    env = dict(display.env(), WINEDEBUG=TRACE, HOTFX_D3D9="wined3d", HOTFX_PROGRAM=str(EXE))
    hotfx = subprocess.Popen([str(WINE_ROOT), "wine", "/tmp/hotfx/hotfx.exe", "--osc", str(port)], cwd=FOLDER,
                             env=env, text=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                             start_new_session=True)

    def read():
        for line in hotfx.stderr:
            lines.append((time.monotonic(), line))
    threading.Thread(target=read, daemon=True).start()

    def first(text, after, timeout=30):
        found = wait_until(lambda: next((i for i in range(after, len(lines)) if text in lines[i][1]), None),
                           timeout, 0.001)
        if found is None:
            raise TimeoutError(f"no {text!r} within {timeout} s")
        return found, lines[found][0]

    latencies = []
    try:
        first(PRESENT, 0, 120)
        time.sleep(3)
        for number in range(SENDS):
            mark = len(lines)
            started = time.monotonic()
            subprocess.run(["oscsend", "localhost", str(port), "/level", "f", str(0.1 + 0.8 * (number % 2))],
                           check=True)
            index, _ = first(RECEIVED, mark)
            _, presented = first(PRESENT, index + 1)
            latencies.append(presented - started)
            time.sleep(0.2)
        presents = [at for at, line in lines if PRESENT in line]
    finally:
        os.killpg(hotfx.pid, 15)
        hotfx.wait(timeout=60)
    gaps = [b - a for a, b in zip(presents, presents[1:])]
    return latencies, statistics.median(gaps)


def heap_allocations(passes_exe, passes):
    report = subprocess.run(["valgrind", "--tool=memcheck", str(passes_exe), "osc", str(passes)],
                            capture_output=True, text=True, check=True).stderr
    return int(re.search(r"total heap usage: ([\d,]+) allocs", report).group(1).replace(",", ""))


def rows(latencies, frame, passes_exe):
    ms = lambda seconds: f"{seconds * 1000:.1f} ms"
    bound = 2 * frame + 0.002
    worst, median = max(latencies), statistics.median(latencies)
    extra = heap_allocations(passes_exe, MANY) - heap_allocations(passes_exe, FEW)
    return [
        row("oscsend to the first frame presented with its value, hotfx.exe --osc, wined3d",
            f"{ms(median)} median, {ms(worst)} at most (of {len(latencies)}); a frame {ms(frame)}",
            f"at most a frame + its own time + 2 ms ({ms(bound)})", worst <= bound,
            f"bench/osc_latency.py: the start of oscsend localhost PORT /level f V to the first present after "
            f"hotfx's recv of status 0 (WINEDEBUG={TRACE})"),
        row("Heap allocations per pass, --osc with four bundles of two messages arriving before each",
            f"{extra / (MANY - FEW):g}", "0", extra == 0,
            f"valgrind --tool=memcheck {passes_exe.relative_to(REPO)} osc {FEW} and {MANY}: the difference of "
            "the allocation counts over the difference of the passes"),
    ]


def main():
    bench_build = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "build" / "bench").resolve()
    path = Path(sys.argv[2] if len(sys.argv) > 2 else REPO / "BENCHMARKS.md")
    display = Display()
    try:
        latencies, frame = measure(display)
    finally:
        display.close()
    table_rows = rows(latencies, frame, bench_build / "bench" / "hotfx_passes")
    write_section(path, (BEGIN, END), "OSC to picture, hotfx.exe --osc on wined3d (Wine 10, Xvfb, Mesa)",
                  f"hotfx.exe --osc runs on a private Xvfb under `WINEDEBUG={TRACE}`, drawing bench/main.fx with "
                  f"its blue a global `level`; oscsend (liblo-tools) sends `/level f V` {SENDS} times, 0.2 s "
                  "apart. A message that arrives just after a frame read the socket waits for the next frame, "
                  "which then draws it: the bound is a frame of waiting, the frame's own time and 2 ms. The "
                  "time includes oscsend's own start. The trace slows every frame alike. Allocations: against "
                  "the quiet stand-in, whose clock stands still, so main.values (saved at most four times a "
                  "second, as for a control) is not written in these passes.", table_rows)
    for r in table_rows:
        print(r["figure"], ":", r["value"], ":", r["target"])


if __name__ == "__main__":
    main()
