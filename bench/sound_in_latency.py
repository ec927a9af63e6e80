#!/usr/bin/env python3
"""Live sound in: how long from a tone's first sample in the sound server to the first frame on
the screen whose sound_in spectrum shows it, against what PulseAudio reports as the capture
source's latency, under Wine 10 with wined3d on Xvfb. Writes its rows into BENCHMARKS.md between
its own markers.

A PulseAudio server of our own has a null sink at 44,100 Hz whose monitor is the default source;
`hotfx.exe --watch` listens to it, with a main.fx that is white while sound_in's bin 46 (1 kHz)
reads at least 0.5 (-65 dB), black otherwise. paplay plays bursts of a 1 kHz tone at half of
full scale into the sink, one second on and one off. parec records the monitor as well: the sink
keeps real time by the host clock, so sample n of the recording was played at t0 + n / rate,
t0 dated from parec's reads as bench/av_offset.py does; a burst's first sample is where the
recording first passes 0.2. The picture is one pixel read from the X server about a thousand
times a second (av_offset's Watcher). The latency of a burst is the time it was first shown
minus the time its first sample reached the sink. The source's latency is pactl's "Latency" of
rec.monitor and of hotfx's capture stream, read while hotfx listens.

usage: /usr/bin/python3 sound_in_latency.py [BENCHMARKS.md]   (HOTFX_EXE picks the program)
"""

import re
import shutil
import statistics
import subprocess
import sys
import time
import wave
from pathlib import Path

import numpy

from av_offset import Watcher
from results import row, write_section

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import EXE, VERTEX_STAGE, WINE_ROOT, Display, Hotfx, RecordingSink  # noqa: E402

FOLDER = REPO / "build" / "bench" / "sound_in"
BEGIN, END = "<!-- live sound in: written by bench/sound_in_latency.py -->", "<!-- end of live sound in -->"
RATE = 44100
BURSTS = 20
SHADER = VERTEX_STAGE + """
sampler2D sound_in;

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    return float4(step(0.5, tex2D(sound_in, float2(46.5 / 512, 0.25)).r).xxx, 1);
}
"""


def bursts_wav(path):
    samples = 0.5 * numpy.sin(2 * numpy.pi * 1000 * numpy.arange(2 * BURSTS * RATE) / RATE)
    samples[(numpy.arange(len(samples)) // RATE) % 2 == 0] = 0
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes((samples * 32767).round().astype("<i2").tobytes())


def burst_starts(data):
    left = numpy.frombuffer(bytes(data), "<i2").reshape(-1, 2)[:, 0].astype(float) / 32768
    loud = numpy.flatnonzero(abs(left) > 0.2)
    if not len(loud):
        return []
    return [int(loud[0])] + [int(after) for before, after in zip(loud, loud[1:]) if after - before > RATE // 2]


def latencies(env):
    """PulseAudio's own figures in ms: the monitor source's latency, and each capture stream's."""
    sources = subprocess.run(["pactl", "list", "sources"], env=env, capture_output=True, text=True).stdout
    block = next((b for b in sources.split("\n\n") if "Name: rec.monitor" in b), "")
    source = [int(v) / 1000 for v in re.findall(r"Latency: (\d+) usec", block)]
    outputs = subprocess.run(["pactl", "list", "source-outputs"], env=env, capture_output=True, text=True).stdout
    streams = [int(v) / 1000 for v in re.findall(r"Source Latency: (\d+) usec", outputs)]
    buffers = [int(v) / 1000 for v in re.findall(r"Buffer Latency: (\d+) usec", outputs)]
    return source, streams, buffers


def main():
    document = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "BENCHMARKS.md")
    shutil.rmtree(FOLDER, ignore_errors=True)
    folder = FOLDER / "job"
    folder.mkdir(parents=True)
    shutil.copy(EXE, folder)
    (folder / "main.fx").write_text(SHADER)
    bursts_wav(folder / "bursts.wav")
    subprocess.run([str(WINE_ROOT), "setup"], check=True, env=dict(__import__("os").environ, HOTFX_D3D9="wined3d"))
    pulse = {"PULSE_SERVER": f"unix:{folder}/pulse.sock"}

    display = Display()
    run = sink = watcher = player = None
    try:
        sink = RecordingSink(folder, RATE, latency_msec=2)
        subprocess.run(["pactl", "set-default-source", "rec.monitor"], env=pulse, check=True, timeout=10)
        run = Hotfx(folder, display, FOLDER / "artifacts", command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch"],
                    env={"PULSE_SERVER": "unix:/job/pulse.sock"}, winedebug="+fps")
        run.expect(r"Listening to .* at 44100 samples a second\.$")
        x, y, width, height = run.geometry()
        watcher = Watcher(display.name, x + width // 2, y + height // 2)
        time.sleep(1)
        player = subprocess.Popen(["paplay", "-d", "rec", str(folder / "bursts.wav")], env=pulse)
        time.sleep(3)
        source, streams, buffers = latencies(pulse)
        player.wait(timeout=2 * BURSTS + 30)
        time.sleep(1)
        stderr_text = run.stderr_path.read_text(errors="replace")
    finally:
        if player and player.poll() is None:
            player.kill()
        if watcher:
            watcher.stop()
        if run:
            run.close(failed=False)
        if sink:
            sink.stop()
        display.close()

    fps = [float(rate) for line in stderr_text.splitlines() if "trace:fps:wined3d_cs_exec_present" in line
           for rate in re.findall(r"approx ([0-9.]+)fps", line)][2:]
    t0 = min(at - before / RATE for at, before, _ in sink.reads)
    heard = [t0 + start / RATE for start in burst_starts(sink.data)]
    shown = [at for at, value in watcher.changes if value > 0.5]
    ms = []
    for when in heard:
        after = [at for at in shown if when - 0.1 < at < when + 0.9]
        if after:
            ms.append(1000 * (after[0] - when))
    print(f"bursts heard {len(heard)}, shown {len(ms)}; source latency {source} ms, stream {streams} ms, "
          f"buffer {buffers} ms; fps {statistics.median(fps) if fps else 0:.1f}", flush=True)
    print("latencies (ms):", " ".join(f"{m:.1f}" for m in ms), flush=True)
    assert len(ms) >= BURSTS // 2, "too few bursts both heard and shown"

    median, frame = statistics.median(ms), 1000 / statistics.median(fps)
    reported = (source[0] if source else 0) + (streams[0] if streams else 0)
    bound = reported + frame + 20
    command = ("bench/sound_in_latency.py: hotfx.exe --watch listening to a PulseAudio null sink's monitor at "
               "44,100 Hz, 1 kHz bursts by paplay, recorded by parec, one pixel read through XGetImage; wined3d")
    rows = [
        row("Live sound in: a tone's first sample in the sink to the first frame on the screen whose sound_in "
            "shows it (bin 46 at -65 dB or more), median",
            f"{median:.1f} ms (from {min(ms):.1f} to {max(ms):.1f}; {len(ms)} of {BURSTS} bursts)",
            f"within the source's reported latency + a frame + 20 ms ({reported:.1f} + {frame:.1f} + 20 = "
            f"{bound:.1f} ms)", median <= bound, command),
        row("… what PulseAudio reports meanwhile", f"rec.monitor's latency {source} ms; hotfx's capture stream: "
            f"source latency {streams} ms, buffer latency {buffers} ms (pactl list sources, source-outputs)",
            "", None, command),
        row("… hotfx's frame rate meanwhile", f"{statistics.median(fps):.1f} fps (median of Wine's +fps reports)",
            "", None, command + ", WINEDEBUG=+fps"),
    ]
    for found in rows:
        print(found["figure"], ":", found["value"], flush=True)
    write_section(document, (BEGIN, END), "Live sound in (Wine 10 with wined3d, Xvfb, PulseAudio null sink)",
                  "`hotfx.exe --watch` listens to a null sink's monitor while paplay plays 1 kHz bursts into the "
                  "sink and main.fx turns white in the frames whose sound_in shows the tone; the sound is dated by "
                  "the sink's sample clock, the picture by one pixel read from the X server "
                  "(`bench/sound_in_latency.py`, whose docstring says how).", rows)


if __name__ == "__main__":
    main()
