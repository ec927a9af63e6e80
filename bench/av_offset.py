#!/usr/bin/env python3
"""Sound against picture: how far the frame that shows a click lies from the click heard, over a
minute of playback, under Wine 10 with wined3d on Xvfb. Writes its rows into BENCHMARKS.md
between its own markers.

`hotfx.exe --watch` runs in a folder with clicks.wav, 64 s of silence with a click every
second from 3 s on, and a main.fx that turns the screen grey, as bright as the click is loud,
while the newest sample of the sound texture's waveform row is part of one, black otherwise. A
click is a burst of a 128 Hz square wave lasting a quarter of a second, at one of LEVELS
amplitudes in turn: the first frame whose time is at or after its start shows it, and the burst
is long enough that no frame rate this machine gives skips all the frames that show it. The
brightness tells ten seconds' worth of clicks apart, so that each flash is matched to its own
click however late or early it comes. One texel read a pixel keeps the shader light, so that
the frame rate is what the machine allows.

What plays goes to a PulseAudio null sink at the WAV's rate, which parec records from its
monitor: the sink keeps real time by the host clock, so sample n of the recording was played at
t0 + n / rate. Each read of parec's output is stamped with time.monotonic(); t0 is the earliest
of (time of the read - samples before it / rate), since the sink hands a block to its monitor
no later than it plays the block's first sample, and the spread of those values is what the
sink and parec hold back. The picture is one pixel read in another thread through Xlib from the
X server (XGetImage of the screen Xvfb shows), about a thousand times a second, each read stamped
with time.monotonic(); a click is shown halfway between the last read before its brightness and
the first with it. The offset of a click is the time it was shown minus the time it was heard:
positive when the picture comes late.

usage: /usr/bin/python3 av_offset.py [BENCHMARKS.md]   (HOTFX_EXE picks the program; wined3d only;
       Debian's Python, for python3-numpy; PulseAudio and parec as the end-to-end suite installs them)
"""

import ctypes
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time
import wave
from pathlib import Path

import numpy

from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE, VERTEX_STAGE, WINE_ROOT, Display, Hotfx, RecordingSink  # noqa: E402

FOLDER = REPO / "build" / "bench" / "av"
BEGIN, END = "<!-- sound and picture: written by bench/av_offset.py -->", "<!-- end of sound and picture -->"
RATE = 8192
SECONDS = 64
FIRST_CLICK = 3
CLICK = RATE // 4
FRAME = 1 / 60

LEVELS = [0.35 + 0.05 * level for level in range(10)]

SHADER = VERTEX_STAGE + """
sampler2D clicks;

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    // The waveform row's last texel is the newest sample: 128/255 in silence, and half the
    // burst's amplitude above or below that.
    float loud = abs(tex2D(clicks, float2(511.5 / 512, 0.75)).r - 0.5);
    return float4((loud > 0.1 ? 2 * loud : 0).xxx, 1);
}
"""


def clicks_wav(path):
    """Writes the WAV; returns each click's second and amplitude."""
    samples = numpy.zeros(SECONDS * RATE)
    square = numpy.where(numpy.arange(CLICK) // 32 % 2, -1.0, 1.0)
    clicks = [(second, LEVELS[second % len(LEVELS)]) for second in range(FIRST_CLICK, SECONDS - 1)]
    for second, level in clicks:
        samples[second * RATE:second * RATE + CLICK] = level * square
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes((samples * 32767).round().astype("<i2").tobytes())
    return clicks


def level_of(value):
    """The nearest of LEVELS to an amplitude of 0 to 1, or None if none is near."""
    nearest = min(LEVELS, key=lambda level: abs(level - value))
    return nearest if abs(nearest - value) < 0.02 else None


class Watcher:
    """One pixel of the screen, read from the X server about a thousand times a second."""

    def __init__(self, display, x, y):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.c_void_p
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                       ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XGetPixel.restype = ctypes.c_ulong
        self.x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x11.XDestroyImage.argtypes = [ctypes.c_void_p]
        self.connection = self.x11.XOpenDisplay(display.encode())
        self.root = self.x11.XDefaultRootWindow(self.connection)
        self.x, self.y = x, y
        self.changes, self.reads, self.running = [], 0, True
        self.started = time.monotonic()
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()

    def _watch(self):
        ZPixmap, all_planes = 2, 0xFFFFFFFF
        value = previous = None
        while self.running:
            image = self.x11.XGetImage(self.connection, self.root, self.x, self.y, 1, 1, all_planes, ZPixmap)
            now = time.monotonic()
            pixel = self.x11.XGetPixel(image, 0, 0) & 0xFF
            self.x11.XDestroyImage(image)
            self.reads += 1
            if pixel != value:
                self.changes.append(((previous if previous is not None else now) / 2 + now / 2, pixel / 255))
                value = pixel
            previous = now
            # A read takes some 40 µs; reading without a pause would take a core from hotfx.
            time.sleep(0.0005)

    def stop(self):
        self.running = False
        self.thread.join(timeout=10)
        self.stopped = time.monotonic()


def heard_clicks(data):
    """The first sample of each click in the recording (left channel), with its amplitude."""
    left = numpy.frombuffer(bytes(data), "<i2").reshape(-1, 2)[:, 0].astype(float) / 32768
    loud = numpy.flatnonzero(abs(left) > 0.2)
    if not len(loud):
        return []
    starts = [int(loud[0])] + [int(after) for before, after in zip(loud, loud[1:]) if after - before > RATE // 2]
    found = []
    for start in starts:
        # A starved Wine leaves gaps of silence in a burst, and its mixer resamples, which rings
        # at the square's edges: the median of what sounds stays the amplitude.
        burst = abs(left[start:start + CLICK])
        found.append((start, level_of(numpy.median(burst[burst > 0.2]))))
    return found


def main():
    document = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    shutil.rmtree(FOLDER, ignore_errors=True)
    folder = FOLDER / "job"
    folder.mkdir(parents=True)
    shutil.copy(EXE, folder)
    (folder / "main.fx").write_text(SHADER)
    clicks = clicks_wav(folder / "clicks.wav")
    subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(os.environ, HOTFX_D3D9="wined3d"))

    display = Display()
    run = sink = watcher = None
    try:
        sink = RecordingSink(folder, RATE, latency_msec=2)
        run = Hotfx(folder, display, FOLDER / "artifacts", command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"],
                    env={"PULSE_SERVER": "unix:/job/pulse.sock"})
        run.expect(r"Load Shader\.$")
        loaded = time.monotonic()
        x, y, width, height = run.geometry()
        watcher = Watcher(display.name, x + width // 2, y + height // 2)
        # A loaded machine starves Wine's sound, which then plays slower than the clock: the
        # recording goes on until the last click was heard, or half as long again.
        time.sleep(SECONDS - FIRST_CLICK)
        deadline = time.monotonic() + SECONDS / 2
        while time.monotonic() < deadline:
            heard = heard_clicks(sink.data)
            # The sink never plays the track faster than it is: the last click lies at least as far
            # after the first as in the WAV.
            if heard and heard[-1][1] == clicks[-1][1] and len(sink.data) / 4 > heard[-1][0] + RATE and \
                    heard[-1][0] - heard[0][0] > 0.99 * RATE * (clicks[-1][0] - clicks[0][0]):
                break
            time.sleep(2)
        printed = run.output()
        stderr_text = run.stderr_path.read_text(errors="replace")
    finally:
        if watcher:
            watcher.stop()
        if run:
            run.close(failed=False)
        if sink:
            sink.stop()
        display.close()

    stderr = stderr_text.splitlines()
    fps = [float(rate) for line in stderr if "trace:fps:wined3d_cs_exec_present" in line
           for rate in re.findall(r"approx ([0-9.]+)fps", line)][2:]
    # When the sink played the recording's first sample, by the host's clock.
    anchors = numpy.array([at - before / RATE for at, before, _ in sink.reads])
    t0 = anchors.min()
    heard = heard_clicks(sink.data)
    # Each heard click is the next in the WAV of its brightness, so a few lost ones are skipped.
    matched, next_click = [], 0
    for sample, level in heard:
        for index in range(next_click, min(next_click + len(LEVELS), len(clicks))):
            if clicks[index][1] == level:
                matched.append((clicks[index][0], level, t0 + sample / RATE))
                next_click = index + 1
                break
    offsets = {}
    for second, level, when in matched:
        seen = [at for at, value in watcher.changes if abs(at - when) < len(LEVELS) / 2 and level_of(value) == level]
        if seen:
            offsets[second] = seen[0] - when
    read_rate = watcher.reads / (watcher.stopped - watcher.started)
    heard_span = (matched[-1][2] - matched[0][2]) / (matched[-1][0] - matched[0][0]) if len(matched) > 1 else 0
    (FOLDER / "recording.raw").write_bytes(sink.data)
    (FOLDER / "av.json").write_text(json.dumps({
        "t0": t0, "loaded": loaded, "reads": sink.reads, "changes": watcher.changes, "heard": heard,
        "matched": matched, "offsets": offsets, "fps": fps, "printed": printed}))
    print(f"clicks in the WAV {len(clicks)}, heard {len(heard)}, matched {len(matched)}, shown {len(offsets)}; "
          f"pixel reads {read_rate:.0f} a second; anchors {1000 * (numpy.median(anchors) - t0):.1f} ms (median) "
          f"and {1000 * (anchors.max() - t0):.1f} ms (most) after the earliest; a second of the WAV took "
          f"{heard_span:.4f} s in the sink; fps {statistics.median(fps) if fps else 0:.1f}; output {printed}",
          flush=True)
    print("offsets (ms):", " ".join(f"{second}:{1000 * o:+.1f}" for second, o in offsets.items()), flush=True)
    assert len(offsets) >= len(clicks) // 2, "too few clicks both heard and seen"

    ms = [1000 * o for o in offsets.values()]
    median = statistics.median(ms)
    seconds = list(offsets)
    command = ("bench/av_offset.py: hotfx.exe --watch, clicks.wav into a PulseAudio null sink at 8,192 Hz "
               "recorded by parec, one pixel read through XGetImage; wined3d")
    rows = [
        row("Picture after sound: a click's first frame on the screen after the click in the sink, median",
            f"{median:+.1f} ms (from {min(ms):+.1f} to {max(ms):+.1f}; {len(ms)} of {len(clicks)} clicks, "
            f"{seconds[0]} s to {seconds[-1]} s of the track)", "within a frame (±16.7 ms)",
            abs(median) <= 1000 * FRAME, command),
        row("… clicks within a frame", f"{sum(abs(m) <= 1000 * FRAME for m in ms)} of {len(ms)}; median of the "
            f"first ten {statistics.median(ms[:10]):+.1f} ms, of the last ten {statistics.median(ms[-10:]):+.1f} ms",
            "", None, command),
        row("… hotfx's frame rate meanwhile", f"{statistics.median(fps):.1f} fps (median of Wine's +fps "
            f"reports; from {min(fps):.1f} to {max(fps):.1f}), so the median offset is "
            f"{median * statistics.median(fps) / 1000:.1f} frames", "", None, command + ", WINEDEBUG=+fps"),
        row("… the sound's own pace", f"a second of the WAV took {heard_span:.4f} s in the sink "
            f"({len(heard)} of {len(clicks)} clicks heard)", "", None, command),
        row("… the measure's own resolution", f"the pixel read {read_rate:.0f} times a second; parec's reads "
            f"dated the recording's start {1000 * (numpy.median(anchors) - t0):.1f} ms later than the earliest "
            "(median)", "", None, command),
    ]
    for found in rows:
        print(found["figure"], ":", found["value"], flush=True)
    write_section(document, (BEGIN, END), "Sound and picture (Wine 10 with wined3d, Xvfb, PulseAudio null sink)",
                  "`hotfx.exe --watch` plays clicks.wav, a click every second for a minute, while main.fx turns "
                  "the screen grey, as bright as the click is loud, in the frames whose sound texture holds "
                  "one. The sound is recorded from the sink's monitor and dated by the sink's sample clock; "
                  "the picture is one pixel read from the X server about a thousand times a second "
                  "(`bench/av_offset.py`, whose docstring says how).", rows)


if __name__ == "__main__":
    main()
