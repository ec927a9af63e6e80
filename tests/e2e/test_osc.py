"""--osc: OSC messages from liblo's oscsend, a real client, and from a script where oscsend can't
(a bundle, broken datagrams) set the shader's globals as their controls would."""

import random
import socket
import struct
import subprocess
import time

import pytest

from support import LOADED, VERTEX_STAGE, WINE_ROOT, shader, wait_until
from test_size import USAGE

# Red: level; green: tint's y; blue: steps in tenths, all of it where bright is set. guard is for the fuzz alone.
GLOBALS = shader("return float4(level * guard * 2, tint.y, bright + steps / 10.0, 1);", VERTEX_STAGE + """
float level = 0.5;
float3 tint = float3(0.2, 0.4, 0.6);
bool bright = false;
int steps = 2;
float guard = 0.5;
""")
INITIAL = (128, 102, 51)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start(hotfx, port):
    run = hotfx(GLOBALS, command=[str(WINE_ROOT), "wine", "hotfx.exe", "--osc", str(port)])
    run.expect(LOADED)
    run.wait_for_colour(INITIAL, tol=2, label="initial")
    return run


def oscsend(port, address, *types_and_values):
    subprocess.run(["oscsend", "localhost", str(port), address, *map(str, types_and_values)], check=True, timeout=30)


def osc_string(text):
    data = text.encode() + b"\0"
    return data + b"\0" * (-len(data) % 4)


def message(address, *floats):
    return osc_string(address) + osc_string("," + "f" * len(floats)) + b"".join(struct.pack(">f", f) for f in floats)


def bundle(*elements):
    return b"#bundle\0" + struct.pack(">Q", 1) + b"".join(struct.pack(">i", len(e)) + e for e in elements)


def send(port, *datagrams):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as out:
        for datagram in datagrams:
            out.sendto(datagram, ("127.0.0.1", port))


def values_read_and_escape(run, text):
    path = run.folder / "main.values"
    assert wait_until(lambda: path.exists() and path.read_text() == text, 10), path.exists() and path.read_text()
    run.key("Escape")
    assert run.wait_exit() == 0


@pytest.mark.only_on("wined3d", "what a message sets is hotfx's own doing; one stack draws it")
def test_a_float_from_oscsend_moves_the_picture_and_main_values(hotfx):
    port = free_port()
    run = start(hotfx, port)
    oscsend(port, "/level", "f", 1.0)
    run.wait_for_colour((255, 102, 51), tol=2, label="level")
    values_read_and_escape(run, "level = 1\n")
    assert run.output() == ["Load Shader."]


# Each case: what is sent, in order, with the colour each send gives, and main.values at the end.
SENT = {
    "an int and a bool": ([(("/steps", "i", 7), (128, 102, 179)), (("/bright", "T"), (128, 102, 255))],
                          "steps = 7\nbright = 1\n"),
    "a bundle": ([(bundle(message("/level", 0.25), bundle(message("/tint", 1, 0.75, 0))), (64, 191, 51))],
                 "level = 0.25\ntint = 1 0.75 0\n"),
    "a component alone": ([(("/tint/2", "f", 0.8), (128, 204, 51))], "tint = 0.2 0.8 0.6\n"),
}


@pytest.mark.only_on("wined3d", "what a message sets is hotfx's own doing; one stack draws it")
@pytest.mark.parametrize("case", SENT)
def test_messages_set_their_globals(hotfx, case):
    sends, values = SENT[case]
    port = free_port()
    run = start(hotfx, port)
    for sent, colour in sends:
        if isinstance(sent, tuple):
            oscsend(port, *sent)
        else:
            send(port, sent)
        run.wait_for_colour(colour, tol=2, label=case)
    values_read_and_escape(run, values)


@pytest.mark.only_on("wined3d", "what hotfx says of a message is its own doing")
def test_a_message_for_a_name_no_stage_reads_is_one_line_once(hotfx):
    port = free_port()
    run = start(hotfx, port)
    for _ in range(3):
        oscsend(port, "/volume", "f", 1.0)
    oscsend(port, "/level", "f", 0.0)
    run.wait_for_colour((0, 102, 51), tol=2, label="after")
    run.key("Escape")
    assert run.wait_exit() == 0
    assert run.output() == ["Load Shader.", "Error : OSC /volume: no stage of main.fx reads a global of that name; left out"]


# One line and 2, before any window: a port another program holds, and arguments that don't parse.
@pytest.mark.default_stack
@pytest.mark.parametrize("argument, said", [
    (None, "hotfx: --osc 127.0.0.1:{port}: the port is in use by another program (error 10048)"),
    ("65536", "hotfx: not a port such as 9000 or 0.0.0.0:9000 for --osc: 65536; " + USAGE),
    ("localhost:9000", "hotfx: not a port such as 9000 or 0.0.0.0:9000 for --osc: localhost:9000; " + USAGE)])
def test_a_port_in_use_or_a_bad_argument_is_one_line_and_2(hotfx, argument, said):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind(("127.0.0.1", 0))
        port = taken.getsockname()[1]
        run = hotfx(GLOBALS, command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch", "--osc", argument or str(port)])
        assert run.wait_exit(timeout=120) == 2
    lines = [line for line in run.stderr_path.read_text(errors="replace").splitlines() if line.startswith("hotfx")]
    assert lines == [said.format(port=port)] and run.output() == []


def mutated(rng, seeds):
    """A random datagram, or a seed with bytes flipped, cut short, or a size made huge. Only the
    first seed, for level, is flipped: a flip may leave a valid message with another number. Any
    cut of the others, and any huge size, leaves a packet that sets nothing."""
    kind = rng.randrange(4)
    if kind == 0:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200)))
    if kind == 1:
        level = bytearray(seeds[0])
        for _ in range(rng.randrange(1, 4)):
            level[rng.randrange(len(level))] ^= 1 << rng.randrange(8)
        return bytes(level)
    if kind == 2:
        seed = rng.choice(seeds)
        return seed[:rng.randrange(len(seed))]
    # The first element's size in the bundle, the blob's size in the message.
    seed = rng.choice(seeds[2:])
    at = 16 if seed.startswith(b"#bundle") else 12
    return seed[:at] + struct.pack(">I", rng.choice([0x7FFFFFFF, 0xFFFFFFFC, len(seed)])) + seed[at + 4:]


@pytest.mark.only_on("wined3d", "what hotfx makes of a datagram is its own doing")
def test_ten_thousand_broken_datagrams_leave_only_what_valid_messages_sent(hotfx):
    port = free_port()
    run = start(hotfx, port)
    rng = random.Random(46)
    seeds = [message("/level", 0.75), message("/guard", 0.25), bundle(message("/nothing", 1), message("/guard", 1)),
             osc_string("/guard") + osc_string(",b") + struct.pack(">i", 4) + b"\1\2\3\4"]
    started = time.monotonic()
    for _ in range(100):
        send(port, *(mutated(rng, seeds) for _ in range(100)))
        time.sleep(0.005)
    # Once the socket is drained: a datagram that finds its buffer full is dropped.
    time.sleep(1)
    send(port, message("/level", 0.125))
    run.wait_for_colour((32, 102, 51), tol=2, label="after the fuzz")
    values_read_and_escape(run, "level = 0.125\n")
    said = [line for line in run.output() if "malformed" in line]
    assert 1 <= len(said) <= time.monotonic() - started + 1, said


@pytest.mark.only_on("wined3d", "what a message sets is hotfx's own doing; one stack draws it")
def test_under_watch_a_message_moves_the_control_too(hotfx):
    port = free_port()
    run = hotfx(GLOBALS.replace("float level = 0.5;", 'float level < string UIName = "Level"; > = 0.5;'),
                command=[str(WINE_ROOT), "wine", "hotfx.exe", "--watch", "--osc", str(port)])
    run.expect(LOADED)
    find = lambda: run.display.run("xdotool", "search", "--onlyvisible", "--name", "^hotfx controls$", check=False)
    controls = wait_until(find, 30).split()[0]
    oscsend(port, "/level", "f", 1.0)
    run.wait_for_colour((255, 102, 51), tol=2, label="level")
    # A step down from where the message put the trackbar: 0.99.
    run.display.run("xdotool", "mousemove", "--window", controls, "40", "12", "click", "1")
    run.display.run("xdotool", "key", "Left")
    run.wait_for_colour((252, 102, 51), tol=1, label="left")
    values_read_and_escape(run, "level = 0.99\n")
