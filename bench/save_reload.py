"""Reload on save through tools/view.sh, under Wine 10 on Xvfb: from the rename that saves
main.fx to the Present call of the first frame drawn with the new shaders, RELOADS times,
and that time's parts, read from Wine's trace (WINEDEBUG=+d3d9,+d3dx) as its lines arrive.
Writes its rows into BENCHMARKS.md between its own markers.

usage: save_reload.py [BENCHMARKS.md]
"""

import os
import re
import statistics
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

from results import machine, row, verdict

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE, Display, wait_until  # noqa: E402
SETTLE_SECONDS = 0.4        # as in tools/view-live.py
RELOADS = 20
FOLDER = REPO / "build" / "bench" / "save"
BEGIN, END = "<!-- save reload: written by bench/save_reload.py -->", "<!-- end of save reload -->"


def saves(display):
    FOLDER.mkdir(parents=True, exist_ok=True)
    source = (REPO / "bench" / "main.fx").read_text()
    (FOLDER / "main.fx").write_text(source)
    lines = []
    env = dict(display.env(), WINEDEBUG="+d3d9,+d3dx", HOTFX_EXE=str(EXE))
    view = subprocess.Popen([str(REPO / "tools" / "view.sh"), str(FOLDER)], env=env, text=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def read():
        for line in view.stderr:
            lines.append((time.monotonic(), line))
    threading.Thread(target=read, daemon=True).start()

    def wait_for(pattern, after, timeout=60):
        found = wait_until(lambda: next((index for index in range(after, len(lines))
                                         if re.search(pattern, lines[index][1])), None), timeout, 0.001)
        if found is None:
            raise TimeoutError(f"no line matching {pattern!r} within {timeout} s")
        return found, lines[found][0]

    wait_for(r"^view: .* reload hotfx$", 0, 300)
    wait_for(r"d3d9_device_Present", 0)
    time.sleep(2)
    presents = [t for t, line in lines if "d3d9_device_Present" in line][-60:]
    period = statistics.median(after - before for before, after in zip(presents, presents[1:]))
    found = []
    for number in range(RELOADS):
        # Saved as most editors save: a new file renamed over the old one.
        scratch = FOLDER / ".main.fx.new"
        scratch.write_text(source.replace("0.5, 1);", f"{0.1 + 0.8 * (number % 2)}, 1);"))
        mark = len(lines)
        os.replace(scratch, FOLDER / "main.fx")
        saved = time.monotonic()
        index, seen = wait_for(r"d3d9_vertexshader_Release", mark)
        index, vs_compile = wait_for(r'D3DXCompileShaderFromFileA .*"vs_main"', index)
        index, vs_created = wait_for(r"d3d9_device_CreateVertexShader iface", index)
        index, ps_compile = wait_for(r'D3DXCompileShaderFromFileA .*"ps_main"', index)
        index, ps_created = wait_for(r"d3d9_device_CreatePixelShader iface", index)
        index, presented = wait_for(r"d3d9_device_Present", index)
        found.append({"latency": presented - saved, "seen": seen - saved, "after": presented - seen,
                      "compiles": (vs_created - vs_compile) + (ps_created - ps_compile)})
        time.sleep(0.5)
    window = display.run("xdotool", "search", "--name", "^test$").split()[0]
    display.run("xdotool", "windowfocus", "--sync", window, "key", "Escape")
    view.wait(timeout=60)
    return found, period


def rows(found, period):
    ms = lambda seconds: f"{seconds * 1000:.1f} ms"
    median = lambda key: statistics.median(reload[key] for reload in found)
    latency, compiles = median("latency"), median("compiles")
    allowance = SETTLE_SECONDS + compiles + period
    return [
        row("Save (rename over main.fx) to the first frame drawn with the new shaders, through view.sh",
            f"{ms(latency)} (median of {len(found)}; {ms(max(r['latency'] for r in found))} at most); "
            f"settle {ms(SETTLE_SECONDS)}, two compiles {ms(compiles)}, one frame {ms(period)}",
            f"at most settle + two compiles + one frame ({ms(allowance)})", latency <= allowance,
            "bench/save_reload.py: os.replace to the next Present (WINEDEBUG=+d3d9,+d3dx)"),
        row("… of which until hotfx acts on the F5 that view.sh sends", ms(median("seen")), "", None,
            "the same saves: rename to the release of the old vertex shader"),
        row("… of which from there (the reload and its frame)", ms(median("after")), "", None,
            "the same saves: release of the old vertex shader to Present"),
    ]


def write(path, table_rows):
    text = path.read_text()
    body = "\n".join([BEGIN, "", "### Reload on save, through tools/view.sh (Wine 10, Xvfb, Mesa llvmpipe)", "",
                      textwrap.fill("tools/view.sh runs hotfx.exe on a private Xvfb under `WINEDEBUG=+d3d9,+d3dx`; "
                      f"`main.fx` is saved {RELOADS} times as most editors save, a new file renamed over it, "
                      "half a second apart, and the time runs from the rename to the `Present` call of the first "
                      "frame after the new pixel shader was created. The settle time is tools/view-live.py's; "
                      "the compiles (both `D3DXCompileShaderFromFileA` calls to their shader's creation) and "
                      "the frame (between `Present` calls) are medians of the same run, whose trace also slows "
                      "the frame.", 95), "",
                      f"Machine: {machine()}", "",
                      "| Figure | Result | Target | | Command | Date |", "|---|---|---|---|---|---|"]
                     + [f"| {r['figure']} | {r['value']} | {r['target']} | {verdict(r['met'])} | `{r['command']}` "
                        f"| {r['date']} |" for r in table_rows] + ["", END])
    if BEGIN in text:
        text = text[:text.index(BEGIN)] + body + text[text.index(END) + len(END):]
    else:
        marker = "<!-- end of results -->"
        text = text.replace(marker, marker + "\n\n" + body, 1)
    path.write_text(text)


def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    display = Display()
    try:
        found, period = saves(display)
    finally:
        display.close()
    table_rows = rows(found, period)
    write(path, table_rows)
    for r in table_rows:
        print(r["figure"], ":", r["value"])


if __name__ == "__main__":
    main()
