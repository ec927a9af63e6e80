"""Driving the real hotfx.exe under Wine on a private Xvfb display: the program, its window,
its standard output, keys and screenshots."""

import contextlib
import ctypes
import os
import queue
import re
import shutil
import signal
import subprocess
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
# HOTFX_EXE points the suite at another build of the program.
EXE = Path(os.environ.get("HOTFX_EXE", REPO / "build" / "windows" / "hotfx.exe"))
WINE_ROOT = REPO / "tools" / "wine-root.sh"
ARTIFACTS = REPO / "build" / "e2e-artifacts"

# The Direct3D 9 implementations the suite runs on, each known by how Wine loads d3d9.dll and
# which function reports presents on Wine's fps channel: wined3d's command stream, or the
# Vulkan present that DXVK makes.
STACKS = {"wined3d": ("builtin", "wined3d_cs_exec_present"), "dxvk": ("native", "win32u_vkQueuePresentKHR")}
D3D9_LOADED = re.compile(r'trace:loaddll:\w+ Loaded L"[^"]*\\d3d9\.dll" at \w+: (\w+)')
# A d3d9.dll of a test's own beside the exe loads the stack's from this copy, which then tells.
REAL_D3D9_LOADED = re.compile(r'trace:loaddll:\w+ Loaded L"[^"]*\\real_d3d9\.dll" at \w+: (\w+)')
PRESENTED = re.compile(r"trace:fps:(%s) " % "|".join(present for _, present in STACKS.values()))


def exit_code_kept(*args):
    """hotfx.exe with args, run by cmd.exe. Wine now and then loses the exit code of a process
    that ends while threads of the Direct3D stack are being ended, and the shell sees 0; cmd.exe,
    as any Windows parent, asks Wine's server for the code and exits with it. Tests that expect
    a code other than 0 from a program that made a device run it this way."""
    return [str(WINE_ROOT), "wine", "cmd", "/c", "hotfx.exe", *map(str, args)]


# The timeouts are generous because a loaded machine can take long to start Wine; every
# wait ends as soon as its event happens.


def wait_until(condition, timeout, interval=0.05):
    """Polls condition until it returns something true; returns that, or None on timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)


def die_with_parent(how=signal.SIGTERM):
    """Runs in a child before exec: the kernel ends it if the test run itself is killed."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, how)


class Display:
    """An Xvfb server of our own. -displayfd lets the server pick a free number and tells us
    once it accepts clients, so there is neither a race for the number nor a sleep."""

    def __init__(self, screen="1600x1200x24", without=()):
        read_end, write_end = os.pipe()
        turned_off = [argument for name in without for argument in ("-extension", name)]
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen, "-nolisten", "tcp", *turned_off],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_parent)
        os.close(write_end)
        with os.fdopen(read_end) as announced:
            number = announced.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    def env(self):
        return dict(os.environ, DISPLAY=self.name)

    def run(self, *args, check=True):
        return subprocess.run(args, env=self.env(), capture_output=True, text=True, timeout=30,
                              check=check).stdout

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Image:
    """A screenshot as rows of RGB bytes, read from ImageMagick's binary PPM."""

    def __init__(self, ppm):
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        if not header or header.group(3) != b"255":
            raise ValueError("not an 8-bit binary PPM")
        self.width, self.height = int(header.group(1)), int(header.group(2))
        self.pixels = ppm[header.end():]
        self.ppm = ppm

    def save_png(self, path):
        subprocess.run(["convert", "ppm:-", str(path)], input=self.ppm, check=True)


def pixel_at(img, x, y):
    offset = 3 * (y * img.width + x)
    return tuple(img.pixels[offset:offset + 3])


def colour_close_to(actual, expected, tol):
    return all(abs(a - e) <= tol for a, e in zip(actual, expected))


class Hotfx:
    """One run of hotfx.exe in its own folder. Standard output is read line by line by a
    thread into a queue; expect() consumes it in order, like a terminal script would."""

    def __init__(self, folder, display, artifacts, winedebug="-all", command=None, stack="wined3d", env=None):
        self.folder, self.display, self.artifacts = Path(folder), display, artifacts
        self.stack = stack
        self.stderr_path = self.folder.parent / (self.folder.name + ".stderr")
        self.lines = []       # every line read so far, in order
        self.consumed = 0     # how many of them expect() has walked past
        self.shots = {}
        self.eof = False
        self._queue = queue.Queue()
        self._window = None
        self._drawn_by = None
        # Two channels on top of what the test asks for tell which implementation drew:
        # a line per DLL loaded, and one per second and a half of presents.
        env = dict(display.env(), **(env or {}), WINEDEBUG=winedebug + ",+loaddll,+fps", HOTFX_D3D9=stack)
        with open(self.stderr_path, "wb") as stderr:
            # A session of its own, so the whole group can be ended by its id at cleanup; and
            # Ctrl+C at its default, as a terminal's shell starts a command, whatever the suite
            # was started with (a shell's background job ignores it, and a script can't trap it).
            # Killed with the run: wine-root.sh acts on SIGTERM only once its bwrap has ended.
            self.process = subprocess.Popen(command or [str(WINE_ROOT), "wine", "hotfx.exe"], cwd=self.folder,
                                            env=env, stdout=subprocess.PIPE, stderr=stderr,
                                            start_new_session=True,
                                            preexec_fn=lambda: (signal.signal(signal.SIGINT, signal.SIG_DFL),
                                                                die_with_parent(signal.SIGKILL)))
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self._queue.put(raw.decode(errors="replace").rstrip("\r\n"))
        self._queue.put(None)

    def _pull(self, timeout):
        """Moves the lines waiting in the queue to self.lines, waiting up to timeout for one."""
        if self.eof:
            return
        try:
            line = self._queue.get(timeout=max(timeout, 0.001))
            while line is not None:
                self.lines.append(line)
                line = self._queue.get_nowait()
            self.eof = True
        except queue.Empty:
            pass

    def expect(self, pattern, timeout=60):
        """Returns the first unread line matching pattern (a regex, matched at the start),
        marking it and every line before it as read."""
        deadline = time.monotonic() + timeout
        while True:
            for index in range(self.consumed, len(self.lines)):
                if re.match(pattern, self.lines[index]):
                    self.consumed = index + 1
                    return self.lines[index]
            self.consumed = len(self.lines)
            remaining = deadline - time.monotonic()
            if remaining <= 0 or self.eof:
                raise AssertionError(f"no line matching {pattern!r} within {timeout}s; output ends "
                                     f"with {self.lines[-8:]!r}; {self.stderr_tail()}")
            self._pull(min(remaining, 0.5))

    def output(self, settle=0.0):
        """Every line printed so far, after giving the program settle seconds to print more, but
        the instruction slots that each load with an option reports (test_passes reads those)."""
        deadline = time.monotonic() + settle
        while not self.eof and time.monotonic() < deadline:
            self._pull(deadline - time.monotonic())
        self._pull(0)
        return [line for line in self.lines if not line.startswith("Slots: ")]

    def stderr_tail(self, count=5):
        try:
            tail = self.stderr_path.read_text(errors="replace").splitlines()[-count:]
        except OSError:
            tail = []
        return "stderr ends with " + repr(tail)

    def window(self, timeout=60):
        """The X window titled "test", once it is mapped."""
        def find():
            if self.process.poll() is not None:
                raise AssertionError(f"hotfx exited with {self.process.returncode} before its window "
                                     f"appeared; output {self.output()[-8:]!r}; {self.stderr_tail()}")
            found = self.display.run("xdotool", "search", "--onlyvisible", "--name", "^test$",
                                     check=False).split()
            return int(found[0]) if found else None
        if self._window is None:
            self._window = wait_until(find, timeout, 0.2)
            assert self._window, f"no window titled 'test' within {timeout}s"
            self.check_stack(timeout)
        return self._window

    def check_stack(self, timeout=60):
        """Waits for the first present and fails unless the stack named drew it."""
        found, position = {}, 0
        loaded = REAL_D3D9_LOADED if (self.folder / "real_d3d9.dll").exists() else D3D9_LOADED

        def scan():
            nonlocal position
            with open(self.stderr_path, "rb") as log:
                log.seek(position)
                for raw in log:
                    if not raw.endswith(b"\n"):
                        break
                    position += len(raw)
                    if b"trace:loaddll:" not in raw and b"trace:fps:" not in raw:
                        continue
                    line = raw.decode(errors="replace")
                    for name, pattern in (("d3d9", loaded), ("present", PRESENTED)):
                        if match := pattern.search(line):
                            found.setdefault(name, match.group(1))
                    if len(found) == 2:
                        return True
            return False
        if self._drawn_by is None:
            assert wait_until(scan, timeout, 0.2), \
                f"no d3d9.dll load or no present on Wine's trace within {timeout}s: {found}; {self.stderr_tail()}"
            self._drawn_by = (found["d3d9"], found["present"])
        assert self._drawn_by == STACKS[self.stack], \
            f"{self.stack} should have drawn, but d3d9.dll was {self._drawn_by[0]} and {self._drawn_by[1]} presented"

    def geometry(self):
        """(x, y, width, height) of the window on the screen, from xwininfo."""
        info = self.display.run("xwininfo", "-id", str(self.window()))
        value = lambda name: int(re.search(name + r":\s+(-?\d+)", info).group(1))
        return (value("Absolute upper-left X"), value("Absolute upper-left Y"),
                value("Width"), value("Height"))

    def outer_size(self):
        """The width and height of the Windows window, frame included. With no window manager
        nobody draws a frame: Wine maps only the client area as an X window, placed where the
        client sits inside the Windows window rectangle, that is inset by the border on the
        left, right and bottom and by border and caption at the top. The left inset is taken
        as the border on every side."""
        x, y, width, height = self.geometry()
        border = x
        assert 0 < border < y <= 60, (x, y)
        return width + 2 * border, y + height + border

    def key(self, *keys, action="key"):
        """xdotool key/keydown/keyup with the window focused first."""
        win = str(self.window())
        self.display.run("xdotool", "windowfocus", "--sync", win)
        self.display.run("xdotool", action, *keys)

    def screenshot(self, label):
        """The window's contents, that is the client area; kept for the artefacts."""
        ppm = subprocess.run(["import", "-display", self.display.name, "-window", str(self.window()),
                              "-depth", "8", "ppm:-"], capture_output=True, check=True, timeout=30).stdout
        img = Image(ppm)
        # Polling loops take many shots under one label; the last of each is what matters.
        self.shots[label] = img
        return img

    def wait_for_picture(self, ready, timeout=30, label="picture"):
        """Takes screenshots until ready(img) holds; returns the last one either way."""
        shots = []
        wait_until(lambda: shots.append(self.screenshot(label)) or ready(shots[-1]), timeout, 0.1)
        return shots[-1]

    def wait_for_colour(self, expected, tol=8, timeout=30, label="colour"):
        """Waits until the picture is expected all over (centre and four points near the
        corners) and returns that screenshot; fails if it never gets there."""
        def points(img):
            return [pixel_at(img, int(img.width * fx), int(img.height * fy))
                    for fx, fy in ((0.5, 0.5), (0.05, 0.05), (0.95, 0.05), (0.05, 0.95), (0.95, 0.95))]
        img = self.wait_for_picture(lambda img: all(colour_close_to(p, expected, tol) for p in points(img)),
                                    timeout, label)
        assert all(colour_close_to(p, expected, tol) for p in points(img)), \
            f"picture shows {points(img)}, not {expected} all over"
        return img

    def save_shader(self, source, via_rename=False, name="main.fx"):
        """Writes main.fx in place, or as editors do: a temporary file renamed over it."""
        target = self.folder / name
        if via_rename:
            scratch = self.folder / f".{name}.swp"
            scratch.write_text(source)
            os.replace(scratch, target)
        else:
            target.write_text(source)

    def wait_exit(self, timeout=60):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            # What the command and each process under it wait in, so that a hang seen once says where.
            waiting = [f"{pid} {waits_in(pid)} {command[:100]!r}" for pid, command in
                       {self.process.pid: b"", **descendants(self.process.pid)}.items()]
            raise AssertionError(f"hotfx still running {timeout}s later; {waiting}; {self.stderr_tail()}")

    def close(self, failed):
        # The whole tree, not only the group: view.sh starts Wine in a session of its own.
        started = descendants(self.process.pid)
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait()
        end_processes(started)
        if failed:
            self.artifacts.mkdir(parents=True, exist_ok=True)
            for number, (label, img) in enumerate(self.shots.items()):
                img.save_png(self.artifacts / f"{number:02d}-{label}.png")
            (self.artifacts / "stdout.txt").write_text("\n".join(self.output()) + "\n")
            if self.stderr_path.stat().st_size < 20_000_000:
                shutil.copy(self.stderr_path, self.artifacts / "stderr.txt")
        else:
            # Traces run to a hundred megabytes or more, and pytest keeps its last few folders.
            self.stderr_path.unlink()


def descendants(pid):
    """{pid: command line} of every process under pid now."""
    parents, commands = {}, {}
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                commands[int(entry)] = cmdline.read()
        except (OSError, ValueError):
            pass
    found, pending = {}, [pid]
    while pending:
        parent = pending.pop()
        for child, its_parent in parents.items():
            if its_parent == parent and child not in found:
                found[child] = commands.get(child, b"")
                pending.append(child)
    return found


def waits_in(pid):
    """The kernel function a process sleeps in, or gone."""
    try:
        return Path(f"/proc/{pid}/wchan").read_text()
    except OSError:
        return "gone"


def still_running(processes):
    alive = {}
    for pid, command in processes.items():
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                if cmdline.read() == command:
                    alive[pid] = command
        except OSError:
            pass
    return alive


def running(pid):
    """Whether pid still runs; reaped first if it ended as a child of the test run's."""
    with contextlib.suppress(ChildProcessError):
        os.waitpid(pid, os.WNOHANG)
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def end_processes(pids):
    """Kills each of pids that still runs, and waits until none does."""
    for pid in filter(running, pids):
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGKILL)
    assert wait_until(lambda: not any(map(running, pids)), 10), f"alive after SIGKILL: {list(filter(running, pids))}"


def wine_process(launcher, name):
    """The host pid of the Wine process running name: the one called so below the launcher."""
    for pid in descendants(launcher):
        try:
            with open(f"/proc/{pid}/comm") as comm:
                if comm.read().strip() == name:
                    return pid
        except OSError:
            pass
    raise AssertionError(f"no process named {name} below the launcher")


# HLSL: the vertex stage passes the quad through; each test supplies the pixel stage's body,
# which sees the texture coordinate as uv and register c0 as t.
VERTEX_STAGE = """
float4 t : register(c0);

struct vs_out {
    float4 position : POSITION0;
    float2 uv : TEXCOORD0;
};

vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{
    vs_out o;
    o.position = float4(position, 1);
    o.uv = uv;
    return o;
}
"""


class RecordingSink:
    """A PulseAudio server of our own whose socket lies in folder, with one null sink at rate
    that keeps real time by the host's clock, and parec recording its monitor (stereo s16le).
    What parec writes is read as it comes, each read stamped with time.monotonic(): parec
    blocked on a full pipe loses what the sink plays meanwhile. hotfx reaches it through
    PULSE_SERVER=unix:/job/pulse.sock, the folder being the one of the host that Wine's root
    shows."""

    def __init__(self, folder, rate, latency_msec):
        self.reads, self.data = [], bytearray()
        socket = folder / "pulse.sock"
        self.server = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes",
             "-L", f"module-native-protocol-unix socket={socket} auth-anonymous=1",
             "-L", f"module-null-sink sink_name=rec format=s16le rate={rate} channels=2"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        self.recorder = None
        try:
            assert wait_until(socket.exists, 10), "PulseAudio did not start"
            self.recorder = subprocess.Popen(
                ["parec", "-d", "rec.monitor", "--raw", "--format=s16le", f"--rate={rate}", "--channels=2",
                 f"--latency-msec={latency_msec}"], stdout=subprocess.PIPE,
                env=dict(os.environ, PULSE_SERVER=f"unix:{socket}"), preexec_fn=die_with_parent)
            self.thread = threading.Thread(target=self._read, daemon=True)
            self.thread.start()
            # The sink's silence reaching the recorder: it records before anything plays.
            assert wait_until(lambda: self.data, 10), "parec recorded nothing"
        except BaseException:
            self.stop()
            raise

    def _read(self):
        fd = self.recorder.stdout.fileno()
        while chunk := os.read(fd, 1 << 16):
            self.reads.append((time.monotonic(), len(self.data) // 4, len(chunk) // 4))
            self.data += chunk

    def stop(self):
        """Ends the recording and the server; data then holds all that was recorded."""
        if self.recorder:
            self.recorder.terminate()
            self.thread.join(timeout=10)
            self.recorder.wait()
        self.server.terminate()
        self.server.wait()


def shader(pixel_body, vertex_stage=VERTEX_STAGE):
    return vertex_stage + "\nfloat4 ps_main(float2 uv : TEXCOORD0) : COLOR0\n{\n    " + pixel_body + "\n}\n"


RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)
LOADED = r"Load Shader\.$"


def solid(rgb):
    return shader("return float4(%g, %g, %g, 1);" % tuple(c / 255 for c in rgb))


class TerminalEditor:
    """A real terminal editor (vim, nano, emacs) with its default settings, editing main.fx in
    folder inside a tmux session of its own, driven by keys as its user would."""

    # How each replaces one text with another throughout the file and saves.
    REPLACE_AND_SAVE = {
        "vim": lambda old, new: [[":%s/" + old + "/" + new + "/", "Enter"], [":w", "Enter"]],
        "nano": lambda old, new: [["C-\\"], ["-l", old], ["Enter"], ["-l", new], ["Enter"], ["a"], ["C-s"]],
        "emacs": lambda old, new: [["M-%"], ["-l", old], ["Enter"], ["-l", new], ["Enter"], ["!"], ["C-x", "C-s"]],
    }
    COMMANDS = {"vim": ["vim", "main.fx"], "nano": ["nano", "main.fx"], "emacs": ["emacs", "-nw", "main.fx"]}

    def __init__(self, name, folder, home, prefix=()):
        self.name, self.folder = name, Path(folder)
        self.socket = str(Path(home) / "tmux.socket")
        Path(home).mkdir(parents=True, exist_ok=True)
        # An empty home: no user settings, only what the packages install.
        env = {"HOME": str(home), "PATH": "/usr/bin:/bin", "TERM": "xterm-256color", "LANG": "C.UTF-8"}
        subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", "new-session", "-d", "-x", "120", "-y", "40",
                        "-c", str(self.folder), *prefix, *self.COMMANDS[name]], env=env, check=True, timeout=30)

    def screen(self):
        return subprocess.run(["tmux", "-S", self.socket, "capture-pane", "-p"], capture_output=True,
                              text=True, timeout=30).stdout

    def wait_for_screen(self, text, timeout=30):
        assert wait_until(lambda: text in self.screen(), timeout), \
            f"{self.name} never showed {text!r}; its screen:\n{self.screen()}"

    def keys(self, *keys):
        subprocess.run(["tmux", "-S", self.socket, "send-keys", *keys], check=True, timeout=30)

    def replace_and_save(self, old, new):
        for keys in self.REPLACE_AND_SAVE[self.name](old, new):
            self.keys(*keys)
            # Prompts appear one after another: give each its turn.
            time.sleep(0.15)

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True, timeout=30)
