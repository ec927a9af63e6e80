"""Reload on save in hotfx.exe itself (--watch), beside F5, under Wine 10 on Xvfb, on the
Direct3D 9 stack HOTFX_D3D9 names: from the save (a new file renamed over main.fx, and main.fx
written in place) or from F5 (through XTEST) to the first present after the pixel stage's
compile, RELOADS times each, taking turns, in one run of hotfx. The compiles show on Wine's
+d3dx channel; presents on +d3d9 (wined3d) or +vulkan (DXVK, whose d3d9 traces nothing).
Writes its rows into BENCHMARKS.md between its own markers, one section per stack.

With --drag, and after the reloads without it: a trackbar of "hotfx controls" dragged by keys
(XTEST, a key every KEY_EVERY seconds for DRAG_SECONDS), so that main.values is saved four times
a second, with a WAV of a second and with a 50 MB one that a sampler reads (so that both draw
the sound's picture and play it, and only the size differs) listed beside the shader; the
longest gap between two presents while it is dragged, which hotfx's own saves of main.values
must not lengthen (they hash main.values only): the median of ROUNDS runs each, taking turns.

usage: save_reload.py [--drag] [BENCHMARKS.md]
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
DRAG_BEGIN = f"<!-- trackbar drag {STACK}: written by bench/save_reload.py -->"
DRAG_END = f"<!-- end of trackbar drag {STACK} -->"
DRAG_SECONDS, KEY_EVERY, KEYS_EACH_WAY, ROUNDS = 10.0, 0.03, 40, 3
GAP_ALLOWANCE = 0.005       # the WAV may lengthen the longest gap by this much
WAV_BYTES, SHORT_WAV_BYTES = 50 * 1024 * 1024, 44 + 44100 * 4
# A trackbar from 0 to 1 and a sampler that reads music.wav where there is one.
DRAGGED = """float level < string UIName = "Level"; > = 0.5;
sampler2D music;
struct vs_out { float4 position : POSITION0; float2 uv : TEXCOORD0; };
vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{
    vs_out o;
    o.position = float4(position, 1);
    o.uv = uv;
    return o;
}
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0 { return float4(level, tex2D(music, uv).r, uv.y, 1); }
"""


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


def wav(path, size):
    """A silent 16-bit stereo WAV at 44.1 kHz of size bytes, last written an hour ago, as a
    track that has long lain beside the shader."""
    data = size - 44
    header = (b"RIFF" + (size - 8).to_bytes(4, "little") + b"WAVEfmt " + (16).to_bytes(4, "little")
              + bytes([1, 0, 2, 0]) + (44100).to_bytes(4, "little") + (44100 * 4).to_bytes(4, "little")
              + bytes([4, 0, 16, 0]) + b"data" + data.to_bytes(4, "little"))
    with open(path, "wb") as out:
        out.write(header)
        out.truncate(size)
    os.utime(path, (time.time() - 3600, time.time() - 3600))


def longest_gap(display, with_wav):
    """The longest gap between two presents while the trackbar is dragged, and the median."""
    shutil.rmtree(FOLDER, ignore_errors=True)
    FOLDER.mkdir(parents=True)
    (FOLDER / "main.fx").write_text(DRAGGED)
    wav(FOLDER / "music.wav", WAV_BYTES if with_wav else SHORT_WAV_BYTES)
    presents = []
    env = dict(display.env(), WINEDEBUG=TRACE, HOTFX_D3D9=STACK, HOTFX_PROGRAM=str(EXE))
    hotfx = subprocess.Popen([str(WINE_ROOT), "wine", "/tmp/hotfx/hotfx.exe", "--watch"], cwd=FOLDER, env=env,
                             text=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)

    def read():
        for line in hotfx.stderr:
            if PRESENT in line:
                presents.append(time.monotonic())
    threading.Thread(target=read, daemon=True).start()
    x11, xtest = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xtest.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    connection = x11.XOpenDisplay(display.name.encode())
    right, left = x11.XKeysymToKeycode(connection, 0xFF53), x11.XKeysymToKeycode(connection, 0xFF51)
    try:
        find = lambda: display.run("xdotool", "search", "--onlyvisible", "--name", "^hotfx controls$", check=False)
        # A click on the label gives the keys to the trackbar once the window takes clicks: a key
        # then saves main.values.
        for _ in range(20):
            controls = wait_until(find, 120).split()[0]
            display.run("xdotool", "mousemove", "--window", controls, "40", "12", "click", "1", check=False)
            xtest.XTestFakeKeyEvent(connection, right, 1, 0)
            xtest.XTestFakeKeyEvent(connection, right, 0, 0)
            x11.XSync(connection, 0)
            if wait_until(lambda: (FOLDER / "main.values").exists(), 3):
                break
        time.sleep(1)
        start = time.monotonic()
        number = 0
        while time.monotonic() - start < DRAG_SECONDS:
            key = right if (number // KEYS_EACH_WAY) % 2 == 0 else left
            xtest.XTestFakeKeyEvent(connection, key, 1, 0)
            xtest.XTestFakeKeyEvent(connection, key, 0, 0)
            x11.XSync(connection, 0)
            number += 1
            time.sleep(KEY_EVERY)
        end = time.monotonic()
        saved = (FOLDER / "main.values").read_text()
    finally:
        os.killpg(hotfx.pid, 15)
        hotfx.wait(timeout=60)
    if not saved.startswith("level = "):
        raise RuntimeError(f"main.values holds {saved!r}, not the dragged level")
    during = [t for t in presents if start <= t <= end]
    gaps = [b - a for a, b in zip(during, during[1:])]
    return max(gaps), statistics.median(gaps), len(during)


def dragged(display):
    """ROUNDS runs without the WAV and with it, taking turns."""
    found = {False: [], True: []}
    for _ in range(ROUNDS):
        for with_wav in (False, True):
            found[with_wav].append(longest_gap(display, with_wav))
    return found[False], found[True]


def drag_rows(without, with_wav):
    ms = lambda seconds: f"{seconds * 1000:.1f} ms"
    longest = lambda runs: statistics.median(run[0] for run in runs)
    described = lambda runs: (f"{ms(longest(runs))} (median of {len(runs)} runs: "
                              + ", ".join(ms(run[0]) for run in runs)
                              + f"; median gap {ms(statistics.median(run[1] for run in runs))}, "
                              f"{sum(run[2] for run in runs) // len(runs)} frames a run)")
    command = (f"bench/save_reload.py --drag: XTEST Right/Left every {KEY_EVERY * 1000:.0f} ms for "
               f"{DRAG_SECONDS:.0f} s, presents on WINEDEBUG={TRACE}")
    return [row(f"Longest gap between two frames while a trackbar is dragged, a WAV of a second listed, "
                f"hotfx.exe --watch, {STACK}",
                described(without), "", None, command),
            row(f"The same with a 50 MB WAV listed beside the shader, {STACK}", described(with_wav),
                f"at most the gap without it + 5 ms ({ms(longest(without) + GAP_ALLOWANCE)})",
                longest(with_wav) <= longest(without) + GAP_ALLOWANCE, command)]


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
    drag = "--drag" in sys.argv[1:]
    arguments = [a for a in sys.argv[1:] if a != "--drag"]
    path = Path(arguments[0] if arguments else REPO / "BENCHMARKS.md")
    display = Display()
    try:
        table_rows = [] if drag else rows(measure(display))
        drag_table = drag_rows(*dragged(display)) if drag else []
    finally:
        display.close()
    if table_rows:
        write(path, table_rows)
    if drag_table:
        write_section(path, (DRAG_BEGIN, DRAG_END),
                      f"A trackbar dragged beside a large file, hotfx.exe --watch on {STACK} (Wine 10, Xvfb, Mesa)",
                      f"hotfx.exe --watch draws a shader with a trackbar and a sampler music, on a private Xvfb "
                      f"under `WINEDEBUG={TRACE}`; the trackbar is dragged by keys through XTEST, so that "
                      "main.values is saved up to four times a second, once with a music.wav of a second and "
                      "once with a 50 MB one, which the load reads and lists, and which plays and is drawn "
                      "alike. The longest gap between two presents while it "
                      f"is dragged, as the presents' trace lines arrive; the median of {ROUNDS} runs each, "
                      "taking turns.",
                      drag_table)
    for r in table_rows + drag_table:
        print(r["figure"], ":", r["value"])


if __name__ == "__main__":
    main()
