#!/usr/bin/env python3
"""What reading hotfx's output costs: tools/view-reader.py, as tools/view.sh runs it, against
`cat` (what --raw amounts to), on a shader whose two stages both fail to compile, hotfx's
fastest output (two lines a frame). hotfx runs under Wine 10 on Xvfb on the stack HOTFX_D3D9
names; its frame rate is Wine's fps channel (WINEDEBUG=+fps, a report every 1.5 s) over
RUN_SECONDS from its first present, the first report left out. The two ways take turns, ROUNDS runs each; the ratio of each
round's frame rates is taken, reader over cat. The reader's CPU time comes from /proc, and its
capacity from a separate run that feeds it per-frame lines as fast as a pipe takes them.

usage: reader.py [BENCHMARKS.md]      (writes its section there; prints the rows)
"""

import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

from results import row, verdict, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import Display, wait_until  # noqa: E402

BEGIN, END = "<!-- reader: written by bench/reader.py -->", "<!-- end of reader -->"
FOLDER = REPO / "build" / "bench" / "reader"
EXE = Path(os.environ.get("HOTFX_EXE", REPO / "build" / "windows" / "hotfx.exe"))
READER = REPO / "tools" / "view-reader.py"
STACK = os.environ.get("HOTFX_D3D9") or "wined3d"
PRESENTER = {"wined3d": "wined3d_cs_exec_present", "dxvk": "win32u_vkQueuePresentKHR"}[STACK]
FPS_LINE = re.compile(rf"trace:fps:{PRESENTER} \w+ @ approx ([\d.]+)fps")
ROUNDS, RUN_SECONDS, SETTLE_REPORTS = 5, 15, 1
CAPACITY_FRAMES = 1_001_472        # a multiple of 2048
TARGET = 0.98


def broken_shader():
    # bench/main.fx with an undeclared name in the part both stages share.
    source = (REPO / "bench" / "main.fx").read_text()
    return "static const float broken = not_declared_anywhere;\n" + source


def ticks(pid):
    """CPU time, user and system, of a process so far, in clock ticks."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def run(display, through_reader):
    """One run of hotfx: (its median frame rate, the reader's share of a core or None, what the
    reader showed)."""
    env = dict(display.env(), WINEDEBUG="+fps", HOTFX_D3D9=STACK)
    log = FOLDER / "stderr.txt"
    stderr = open(log, "wb")
    shown = FOLDER / "shown.txt"
    read_end, write_end = os.pipe()
    if through_reader:
        reader = subprocess.Popen(["/usr/bin/python3", str(READER), str(FOLDER), "/job"], stdin=read_end,
                                  stdout=open(shown, "wb"))
    else:
        reader = subprocess.Popen(["cat"], stdin=read_end, stdout=subprocess.DEVNULL)
    os.close(read_end)
    hotfx = subprocess.Popen([str(REPO / "tools" / "wine-root.sh"), "wine", "hotfx.exe"], cwd=FOLDER, env=env,
                             stdout=write_end, stderr=stderr, start_new_session=True)
    os.close(write_end)
    # The run counts from hotfx's first present, once Wine has started.
    drawing = wait_until(lambda: FPS_LINE.search(log.read_text(errors="replace")), 90, 0.1)
    started, cpu_before, skipped = time.monotonic(), ticks(reader.pid), log.stat().st_size
    time.sleep(RUN_SECONDS)
    cpu = (ticks(reader.pid) - cpu_before) / os.sysconf("SC_CLK_TCK") / (time.monotonic() - started)
    os.killpg(hotfx.pid, signal.SIGKILL)
    hotfx.wait()
    reader.wait(timeout=30)
    stderr.close()
    later = log.read_bytes()[skipped:].decode(errors="replace")
    rates = [float(found.group(1)) for found in FPS_LINE.finditer(later)][SETTLE_REPORTS:] if drawing else []
    if not rates:
        raise RuntimeError(f"no frame rate on Wine's fps channel; see {FOLDER / 'stderr.txt'}")
    return statistics.median(rates), cpu, shown.read_bytes() if through_reader else b""


def capacity(frames_a_write, frames):
    """Lines a second the reader takes when per-frame lines come as fast as a pipe carries them,
    in writes of frames_a_write frames (0: one write a line, as hotfx makes them), and what it
    showed."""
    if frames_a_write:
        writes = [b"Error : Vshader\r\nError : Pshader\r\n" * frames_a_write] * (frames // frames_a_write)
    else:
        writes = [b"Error : Vshader\r\n", b"Error : Pshader\r\n"] * frames
    read_end, write_end = os.pipe()
    reader = subprocess.Popen(["/usr/bin/python3", str(READER), str(FOLDER), "/job"], stdin=read_end,
                              stdout=subprocess.PIPE)
    os.close(read_end)
    out = []
    threading.Thread(target=lambda: out.append(reader.stdout.read()), daemon=True).start()
    started = time.monotonic()
    for data in writes:
        os.write(write_end, data)
    os.close(write_end)
    reader.wait()
    elapsed = time.monotonic() - started
    if not out or not out[0].endswith(("Error : Vshader / Error : Pshader  ×%d frames\n" % frames).encode()):
        raise RuntimeError(f"the reader lost count in the capacity run: {out[0][-120:] if out else b''!r}")
    return 2 * frames / elapsed


def measure():
    FOLDER.mkdir(parents=True, exist_ok=True)
    shutil.copy(EXE, FOLDER / "hotfx.exe")
    (FOLDER / "main.fx").write_text(broken_shader())
    display = Display()
    plain, read, cpus, ratios, counted = [], [], [], [], []
    try:
        for number in range(ROUNDS):
            # Which goes first alternates, so that a drift in the machine's load falls on both.
            order = (False, True) if number % 2 == 0 else (True, False)
            results = {way: run(display, way) for way in order}
            plain.append(results[False][0])
            read.append(results[True][0])
            cpus.append(results[True][1])
            ratios.append(results[True][0] / results[False][0])
            found = re.search(rb"Error : Vshader / Error : Pshader  \xc3\x97(\d+) frames\n$", results[True][2])
            if not found:
                raise RuntimeError(f"the reader did not end with the count of frames: {results[True][2][-200:]!r}")
            counted.append(int(found.group(1)))
    finally:
        display.close()
    lines_per_second = (capacity(0, CAPACITY_FRAMES // 10), capacity(2048, CAPACITY_FRAMES))
    return plain, read, cpus, ratios, counted, lines_per_second


def rows(plain, read, cpus, ratios, counted, lines_per_second):
    ratio = statistics.median(ratios)
    command = f"bench/reader.py: HOTFX_D3D9={STACK}, WINEDEBUG=+fps, {ROUNDS} rounds of {RUN_SECONDS} s each way"
    fps = statistics.median(read)
    return [
        row("hotfx's frame rate with the reader over that with `cat`, both stages failing", f"{ratio:.3f} "
            f"(median of {ROUNDS} rounds, from {min(ratios):.3f} to {max(ratios):.3f}; fps with the reader "
            f"{', '.join(f'{f:.0f}' for f in read)}, with cat {', '.join(f'{f:.0f}' for f in plain)})",
            f"at least {TARGET}", ratio >= TARGET, command),
        row("hotfx's output then", f"{2 * fps:,.0f} lines a second (two a frame at {fps:.0f} fps); the reader "
            f"showed them as 2 lines and a count of {min(counted):,} to {max(counted):,} frames a run", "", None,
            command),
        row("The reader's CPU time meanwhile", f"{100 * statistics.median(cpus):.1f}% of a core (median; "
            f"{100 * max(cpus):.1f}% at most)", "", None, command + ", /proc/PID/stat"),
        row("The reader's capacity: per-frame lines as fast as a pipe brings them, one write a line as hotfx "
            "makes them", f"{lines_per_second[0]:,.0f} lines a second ({2 * (CAPACITY_FRAMES // 10):,} lines)", "", None,
            "bench/reader.py: os.write of each line into its standard input, output to a pipe"),
        row("… in writes of 2,048 frames (68 KiB)", f"{lines_per_second[1]:,.0f} lines a second "
            f"({2 * CAPACITY_FRAMES:,} lines)", "", None, "the same, 68 KiB writes"),
    ]


def write(path, table_rows):
    write_section(path, (BEGIN, END), f"Reading hotfx's output: tools/view-reader.py (Wine 10, {STACK}, Xvfb)",
                  "hotfx.exe runs bench/main.fx with an undeclared name that both stages use, so every frame "
                  "prints `Error : Vshader` and `Error : Pshader`, the most hotfx prints. Its standard output "
                  "goes either to tools/view-reader.py, as tools/view.sh sets it up (output to a file: a "
                  "pipe's way of showing), or to `cat`, which is what `--raw` leaves; the two take turns. The "
                  "target is that reading costs hotfx no more than 2% of its frame rate.", table_rows)

def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    table_rows = rows(*measure())
    write(path, table_rows)
    for r in table_rows:
        print(r["figure"], ":", r["value"], verdict(r["met"]))


if __name__ == "__main__":
    main()
