"""Reload on save in hotfx.exe itself (--watch), beside F5, under Wine 10 on Xvfb, on the
Direct3D 9 stack HOTFX_D3D9 names: from the save (a new file renamed over main.fx, and main.fx
written in place) or from F5 (through XTEST) to the first present after the pixel stage's
compile, RELOADS times each, taking turns, in one run of hotfx. The compiles show on Wine's
+d3dx channel; presents on +d3d9 (wined3d) or +vulkan (DXVK, whose d3d9 traces nothing).
Writes its rows into BENCHMARKS.md between its own markers, one section per stack.

usage: save_reload.py [BENCHMARKS.md]
"""

import ctypes
import os
import shutil
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
RELOADS = 20
ALLOWANCE = 0.050           # save to picture may take this much longer than F5 to picture
STACK = os.environ.get("HOTFX_D3D9") or "wined3d"
TRACE, PRESENT = {"wined3d": ("+d3d9,+d3dx", "d3d9_device_Present"),
                  "dxvk": ("+d3dx,+vulkan", "trace:vulkan:win32u_vkQueuePresentKHR")}[STACK]
FOLDER = REPO / "build" / "bench" / "save"
BEGIN = f"<!-- save reload {STACK}: written by bench/save_reload.py -->"
END = f"<!-- end of save reload {STACK} -->"


def colour(source, number):
    return source.replace("0.5, 1);", f"{0.1 + 0.8 * (number % 2)}, 1);")


def measure(display):
    shutil.rmtree(FOLDER, ignore_errors=True)
    FOLDER.mkdir(parents=True)
    source = (REPO / "bench" / "main.fx").read_text()
    (FOLDER / "main.fx").write_text(source)
    lines = []
    env = dict(display.env(), WINEDEBUG=TRACE, HOTFX_D3D9=STACK, HOTFX_PROGRAM=str(EXE))
    hotfx = subprocess.Popen([str(WINE_ROOT), "wine", "/tmp/hotfx/hotfx.exe", "--watch"], cwd=FOLDER, env=env,
                             text=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)

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

    def to_picture(act):
        # Nothing of this reload can be traced before the save or the key: the mark may follow them.
        started = act()
        index, _ = first('"ps_main"', len(lines))
        _, presented = first(PRESENT, index + 1)
        return presented - started

    x11, xtest = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xtest.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    connection = x11.XOpenDisplay(display.name.encode())
    f5 = x11.XKeysymToKeycode(connection, 0xFFC2)
    try:
        first(PRESENT, 0, 120)
        window = wait_until(lambda: display.run("xdotool", "search", "--name", "^test$", check=False).split(), 30)
        display.run("xdotool", "windowfocus", "--sync", window[0])
        time.sleep(2)

        def renamed(number):
            (FOLDER / ".main.fx.new").write_text(colour(source, number))
            os.replace(FOLDER / ".main.fx.new", FOLDER / "main.fx")
            return time.monotonic()

        def in_place(number):
            (FOLDER / "main.fx").write_text(colour(source, number))
            return time.monotonic()

        def pressed(number):
            (FOLDER / "main.fx").write_text(colour(source, number))
            time.sleep(0.3)            # that save's own reload first
            xtest.XTestFakeKeyEvent(connection, f5, 1, 0)
            xtest.XTestFakeKeyEvent(connection, f5, 0, 0)
            x11.XSync(connection, 0)
            return time.monotonic()

        found = {"renamed": [], "in place": [], "F5": []}
        number = 0
        for _ in range(RELOADS):
            for kind, act in (("renamed", renamed), ("in place", in_place), ("F5", pressed)):
                number += 1
                found[kind].append(to_picture(lambda: act(number)))
                time.sleep(0.3)
    finally:
        os.killpg(hotfx.pid, 15)
        hotfx.wait(timeout=60)
    return found


def rows(found):
    ms = lambda seconds: f"{seconds * 1000:.1f} ms"
    f5 = statistics.median(found["F5"])
    table = [row(f"F5 to the first frame drawn with the new shaders, {STACK}",
                 f"{ms(f5)} (median of {len(found['F5'])})", "", None,
                 f"bench/save_reload.py: F5 through XTEST to the first present after the ps_main compile "
                 f"(WINEDEBUG={TRACE})")]
    for kind, how in (("renamed", "a new file renamed over main.fx"), ("in place", "main.fx written in place")):
        median = statistics.median(found[kind])
        table.append(row(f"Save ({how}) to the first frame drawn with the new shaders, hotfx.exe --watch, {STACK}",
                         f"{ms(median)} (median of {len(found[kind])}; {ms(max(found[kind]))} at most)",
                         f"at most F5's + 50 ms ({ms(f5 + ALLOWANCE)})", median <= f5 + ALLOWANCE,
                         "bench/save_reload.py: the write or rename to the first present after the ps_main compile"))
    return table


def write(path, table_rows):
    write_section(path, (BEGIN, END), f"Reload on save, hotfx.exe --watch on {STACK} (Wine 10, Xvfb, Mesa)",
                  f"hotfx.exe --watch runs on a private Xvfb under `WINEDEBUG={TRACE}`; main.fx is saved as a "
                  f"new file renamed over it, then written in place, then written and followed by F5 through "
                  f"XTEST, {RELOADS} times each, in turns. Each time runs to the first present after the "
                  "`ps_main` compile; the trace slows every frame alike. The quiet window of --watch is 20 ms, "
                  "and the folder is looked at once a frame.", table_rows)

def main():
    path = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    display = Display()
    try:
        found = measure(display)
    finally:
        display.close()
    table_rows = rows(found)
    write(path, table_rows)
    for r in table_rows:
        print(r["figure"], ":", r["value"])


if __name__ == "__main__":
    main()
