"""tools/view-reader.py, which view.sh puts between hotfx and the console: compiler messages
as lines editors jump to, per-frame repeats shown once. The reader is fed bytes here; the last
tests run the real program through view.sh and hand what it printed to the editors' own parsers."""

import os
import random
import re
import shutil
import signal
import subprocess
import time
import types

import pytest

from support import EXE, REPO, descendants, solid, still_running, wait_until

pytestmark = pytest.mark.default_stack

VIEW = str(REPO / "tools" / "view.sh")
READER_PATH = REPO / "tools" / "view-reader.py"
# The reader is a script, with a dash in its name: its code is loaded as a module of its own.
view_reader = types.ModuleType("view_reader")
exec(compile(READER_PATH.read_text(), str(READER_PATH), "exec"), view_reader.__dict__)

PAIR = [b"Error : Vshader", b"Error : Pshader"]
COUNT = re.compile(rb"^(.*)  \xc3\x97(\d+) (frames|times)$")   # "A / B  ×12 frames"


def read(data, folder="/shaders", wine_folder="/job", chunks=None, terminal=False):
    """What the reader shows for data, fed in the pieces given (default: one per line)."""
    reader = view_reader.Reader(view_reader.Paths(folder, wine_folder), terminal)
    pieces = chunks if chunks is not None else data.splitlines(keepends=True)
    shown = b"".join(reader.feed(piece, now=0.0) for piece in pieces)
    return shown + reader.finish()


def expanded(lines):
    """The lines a reader's output stands for, each count line replaced by the repeats it counts."""
    out = []
    for line in lines:
        counted = COUNT.match(line)
        if counted:
            group = counted.group(1).split(b" / ")
            out += group * (int(counted.group(2)) - 1)
        else:
            out.append(line)
    return out


# Diagnostics in the forms the two compilers write them, as hotfx prints them.
DIAGNOSTICS = {
    "Wine, first line": (b'Error : main.fx:12:31: E5005: Identifier "brightness" is not declared.',
                         b'/shaders/main.fx:12:31: error: E5005 Identifier "brightness" is not declared.'),
    "Wine, next line": (b"main.fx:15:8: W5300: Implicit truncation of vector type.",
                        b"/shaders/main.fx:15:8: warning: W5300 Implicit truncation of vector type."),
    "Wine, whole file": (b'Error : main.fx: E5005: Entry point "vs_main" is not defined.',
                         b'/shaders/main.fx:1:1: error: E5005 Entry point "vs_main" is not defined.'),
    "Microsoft": (b"Error : main.fx(37,1): error X3000: syntax error: unexpected token 'return'",
                  b"/shaders/main.fx:37:1: error: X3000 syntax error: unexpected token 'return'"),
    "Microsoft, a range": (b"main.fx(3,5-20): warning X3206: implicit truncation of vector type",
                           b"/shaders/main.fx:3:5: warning: X3206 implicit truncation of vector type"),
    "Microsoft, line only": (b"main.fx(9): error X3004: undeclared identifier 'k'",
                             b"/shaders/main.fx:9:1: error: X3004 undeclared identifier 'k'"),
    "Microsoft, no file": (b"error X3501: 'vs_main': entrypoint not found",
                           b"/shaders/main.fx:1:1: error: X3501 'vs_main': entrypoint not found"),
    "Wine, in Wine's folder": (b"Error : /job/lib/noise.fxh:4:2: E5000: syntax error",
                               b"/shaders/lib/noise.fxh:4:2: error: E5000 syntax error"),
    "Microsoft, Windows path": (b"Z:\\job\\lib\\noise.fxh(4,2): error X3000: syntax error",
                                b"/shaders/lib/noise.fxh:4:2: error: X3000 syntax error"),
    "Microsoft, relative with backslashes": (b"lib\\noise.fxh(4,2): error X3000: syntax error",
                                             b"/shaders/lib/noise.fxh:4:2: error: X3000 syntax error"),
    "Microsoft, a drive Linux has no name for": (b"C:\\lib\\x.fxh(1,1): error X3000: s",
                                                 b"C:\\lib\\x.fxh:1:1: error: X3000 s"),
}
# Lines that are not diagnostics, among them hotfx's own reports, pass as they are.
UNCHANGED = [b"Load Shader.", b"Error : Vshader", b"",
             b"Error : main.fx: vs_main (vs_3_0) failed to compile, status 0x88760B59, no message from the compiler",
             b"Error : The Direct3D device was lost, so the shaders were dropped; F5 loads them again"]


@pytest.mark.parametrize("form", DIAGNOSTICS, ids=list(DIAGNOSTICS))
def test_reader_diagnostic_becomes_editor_line(form):
    printed, expected = DIAGNOSTICS[form]
    assert read(printed + b"\r\n") == expected + b"\n"


def test_reader_other_lines_pass_unchanged_with_lf():
    assert read(b"\r\n".join(UNCHANGED) + b"\r\n") == b"\n".join(UNCHANGED) + b"\n"


def test_reader_names_included_files_where_the_directive_finds_them(tmp_path):
    # Wine's compiler names a file as the #include wrote it, relative to the including file.
    (tmp_path / "lib" / "deep").mkdir(parents=True)
    (tmp_path / "main.fx").write_text('#include "lib/noise.fxh"\n')
    (tmp_path / "lib" / "noise.fxh").write_text('  #include "deep\\\\hash.fxh"\n#include "missing.fxh"\n')
    (tmp_path / "lib" / "deep" / "hash.fxh").write_text("#error no\n")
    printed = (b"Error : deep\\\\hash.fxh:1:1: E4001: Error directive:  no\r\n"
               b"lib/noise.fxh:2:1: E4002: Failed to open \"missing.fxh\".\r\n"
               b"missing.fxh:1:1: E5000: a file nobody has\r\n")
    assert read(printed, folder=tmp_path).decode().splitlines() == [
        f"{tmp_path}/lib/deep/hash.fxh:1:1: error: E4001 Error directive:  no",
        f"{tmp_path}/lib/noise.fxh:2:1: error: E4002 Failed to open \"missing.fxh\".",
        f"{tmp_path}/missing.fxh:1:1: error: E5000 a file nobody has"]


def test_reader_own_wine_maps_drive_z_to_the_linux_root():
    assert read(b"Z:\\home\\me\\fx\\main.fx(2,3): error X3000: s\n", wine_folder=None) == \
        b"/home/me/fx/main.fx:2:3: error: X3000 s\n"


# What a failed load prints, then frames: the message, its own line end, the stages' lines.
MESSAGE = [b'Error : main.fx:12:31: E5005: Identifier "brightness" is not declared.',
           b'main.fx:13:26: E5005: Identifier "alpha" is not declared.', b""]
SHOWN_MESSAGE = [b'/shaders/main.fx:12:31: error: E5005 Identifier "brightness" is not declared.',
                 b'/shaders/main.fx:13:26: error: E5005 Identifier "alpha" is not declared.', b""]
STREAMS = {
    "both stages, then fixed": (MESSAGE + PAIR * 500 + [b"Load Shader."],
                                SHOWN_MESSAGE + PAIR + [b"Error : Vshader / Error : Pshader  \xc3\x97500 frames",
                                                        b"Load Shader."]),
    "pixel stage only, then ended": (MESSAGE + [b"Error : Pshader"] * 40,
                                     SHOWN_MESSAGE + [b"Error : Pshader", b"Error : Pshader  \xc3\x9740 frames"]),
    "ended inside a frame": (MESSAGE + PAIR * 3 + PAIR[:1],
                             SHOWN_MESSAGE + PAIR + [b"Error : Vshader / Error : Pshader  \xc3\x973 frames",
                                                     b"Error : Vshader"]),
    # F5 held on a broken shader: every frame reloads and prints the whole message again.
    "reloading every frame": ((MESSAGE + PAIR) * 20, SHOWN_MESSAGE + PAIR + [
        b" / ".join(SHOWN_MESSAGE + PAIR) + b"  \xc3\x9720 frames"]),
    "a frame's pair seen once": (MESSAGE + PAIR + [b"Load Shader."], SHOWN_MESSAGE + PAIR + [b"Load Shader."]),
    # A reload is something the user asked for, each one; blank lines are not worth a count.
    "reloads and blank lines": ([b"Load Shader."] * 3 + [b""] * 3, [b"Load Shader."] * 3 + [b""] * 3),
}


@pytest.mark.parametrize("stream", STREAMS, ids=list(STREAMS))
def test_reader_pipe_shows_repeats_once_then_their_count(stream):
    printed, shown = STREAMS[stream]
    assert read(b"".join(line + b"\r\n" for line in printed)).split(b"\n") == shown + [b""]


def test_reader_loses_and_reorders_nothing_however_the_bytes_arrive():
    # Random output from the lines hotfx prints, cut at random places, CR LF split included.
    rng = random.Random(19)
    alphabet = PAIR + [b"Load Shader.", b"", MESSAGE[0], b"x"]
    for _ in range(200):
        lines = [rng.choice(alphabet) for _ in range(rng.randrange(1, 60))]
        data = b"".join(line + b"\r\n" for line in lines)
        cuts = sorted(rng.sample(range(1, len(data)), min(5, len(data) - 1)))
        chunks = [data[a:b] for a, b in zip([0] + cuts, cuts + [len(data)])]
        shown = read(data, chunks=chunks)
        assert expanded(shown.split(b"\n")[:-1]) == [view_reader.diagnostic(line, view_reader.Paths("/shaders", "/job"))
                                                     or line for line in lines], (lines, shown)


def test_reader_line_written_in_pieces_shows_once_whole():
    # Wine's msvcrt writes "Error : ", the compiler's text and the line end separately.
    chunks = [b"Error : ", MESSAGE[0][8:], b"\r", b"\n", b"Error : Pshader\r\n"]
    assert read(b"", chunks=chunks) == SHOWN_MESSAGE[0] + b"\nError : Pshader\n"


def test_reader_terminal_count_grows_in_place():
    reader = view_reader.Reader(view_reader.Paths("/shaders"), terminal=True, width=80)
    shown = [reader.feed(b"Error : Vshader\r\nError : Pshader\r\n" * 2, now=0.0)]
    shown += [reader.feed(b"Error : Vshader\r\nError : Pshader\r\n", now=1.0 + frame) for frame in range(2)]
    shown += [reader.feed(b"Load Shader.\r\n", now=3.0)]
    assert shown == [b"Error : Vshader\nError : Pshader\n\rError : Vshader / Error : Pshader  \xc3\x972 frames\x1b[K",
                     b"\rError : Vshader / Error : Pshader  \xc3\x973 frames\x1b[K",
                     b"\rError : Vshader / Error : Pshader  \xc3\x974 frames\x1b[K",
                     b"\nLoad Shader.\n"]


def test_reader_line_that_may_begin_a_repeat_waits_a_tenth_of_a_second_at_most():
    reader = view_reader.Reader(view_reader.Paths("/shaders"))
    assert reader.feed(b"Error : Vshader\r\nError : Pshader\r\nError : Vshader\r\n", now=0.0) == \
        b"Error : Vshader\nError : Pshader\n"
    assert reader.deadline() == pytest.approx(0.1)
    assert reader.tick(0.05) == b""
    assert reader.tick(0.1) == b"Error : Vshader\n"


def test_reader_process_shows_each_line_while_hotfx_still_runs(tmp_path):
    # The real program on a pipe: a line comes out at once, before the writer ends.
    reader = subprocess.Popen(["/usr/bin/python3", str(READER_PATH), str(tmp_path), "/job"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    for piece in (b"Error : ", MESSAGE[0][8:], b"\r\n"):
        reader.stdin.write(piece)
        reader.stdin.flush()
        time.sleep(0.05)
    assert reader.stdout.readline() == SHOWN_MESSAGE[0].replace(b"/shaders", str(tmp_path).encode()) + b"\n"
    reader.stdin.write(b"tail without a line end")
    reader.stdin.close()
    assert reader.stdout.read() == b"tail without a line end"
    assert reader.wait(timeout=10) == 0


# The editors' own parsers. VS Code's, as its documentation defines the matcher for gcc's output.
VS_CODE_GCC = re.compile(r"^(.*):(\d+):(\d+):\s+(warning|error):\s+(.*)$")
BROKEN = """float4 t : register(c0);
struct vs_out { float4 position : POSITION0; float2 uv : TEXCOORD0; };
vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{
    vs_out o;
    o.position = float4(position, 1);
    o.uv = uv;
    return o;
}
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float3 colour = float3(uv, brightness);
    return float4(colour, alpha);
}
"""


def vim_quickfix(output, tmp_path):
    """(file, line, column) of each valid entry of vim's quickfix list for the file output."""
    result = tmp_path / "qf.txt"
    subprocess.run(["vim", "-es", "-N", "-u", "NONE", "-i", "NONE", "-c", f"cgetfile {output}", "-c",
                    "call writefile(map(filter(getqflist(), 'v:val.valid'), "
                    "'fnamemodify(bufname(v:val.bufnr), \":p\") . \"|\" . v:val.lnum . \"|\" . v:val.col'), "
                    f"'{result}')", "-c", "qa!"], check=True, timeout=60)
    return [tuple(entry.split("|")) for entry in result.read_text().splitlines()]


def emacs_errors(output):
    """(file, line, column) of each error that Emacs's compilation-mode finds in output."""
    program = f"""
(with-temp-buffer
  (insert-file-contents "{output}")
  (compilation-mode)
  (font-lock-ensure)
  (goto-char (point-min))
  (while (not (eobp))
    (let ((message (get-text-property (point) 'compilation-message)))
      (when message
        (let ((loc (compilation--message->loc message)))
          (princ (format "%s|%d|%d\\n" (caar (compilation--loc->file-struct loc))
                         (compilation--loc->line loc) (compilation--loc->col loc))))))
    (forward-line 1)))"""
    done = subprocess.run(["emacs", "-Q", "--batch", "--eval", program], capture_output=True, text=True,
                          check=True, timeout=60)
    return [tuple(entry.split("|")) for entry in done.stdout.splitlines()]


def view_headless(hotfx, *options, source=BROKEN, target="."):
    """view.sh without a display: hotfx runs on view.sh's own Xvfb for two seconds, then ends."""
    run = hotfx(source, command=["env", "-u", "DISPLAY", "HOTFX_VIEW_SECONDS=2", f"HOTFX_EXE={EXE}",
                                 VIEW, *options, target])
    assert run.wait_exit(timeout=180) == 0, run.stderr_tail()
    return run


# hotfx --watch (view.sh's default) says the missing stages once; without it every frame does.
@pytest.mark.parametrize("name, options", [("main.fx", ()), ("water.fx", ("--no-watch",))])
def test_view_broken_shader_errors_land_in_editors(hotfx, tmp_path, name, options):
    run = view_headless(hotfx, *options, source=lambda folder: (folder / name).write_text(BROKEN), target=name)
    output = run.output()
    main = str(run.folder / name)
    brightness = f'{main}:12:31: error: E5005 Identifier "brightness" is not declared.'
    alpha = f'{main}:13:26: error: E5005 Identifier "alpha" is not declared.'
    assert output[:5] == [brightness, alpha, "", "Error : Vshader", "Error : Pshader"]
    counted = options and re.fullmatch(r"Error : Vshader / Error : Pshader  ×(\d+) frames", output[5])
    assert (counted and int(counted.group(1)) >= 10 and output[6:] == []) if options else output[5:] == [], output[5:]

    saved = tmp_path / "output.txt"
    saved.write_text("\n".join(output) + "\n")
    assert vim_quickfix(saved, tmp_path) == [(main, "12", "31"), (main, "13", "26")]
    assert [VS_CODE_GCC.match(line).group(1, 2, 3, 4) for line in output[:2]] == \
        [(main, "12", "31", "error"), (main, "13", "26", "error")]
    assert not any(VS_CODE_GCC.match(line) for line in output[2:])
    if shutil.which("emacs"):
        assert emacs_errors(saved) == [(main, "12", "31"), (main, "13", "26")]


def test_view_included_file_error_names_its_real_path(hotfx):
    def folder(path):
        (path / "lib").mkdir()
        (path / "lib" / "noise.fxh").write_text('float noise(float2 uv) { return 0; }\n#include "missing.fxh"\n')
        (path / "main.fx").write_text('#include "lib/noise.fxh"\n' + solid((255, 0, 0)))
    run = view_headless(hotfx, source=folder)
    assert run.output()[0] == f'{run.folder}/lib/noise.fxh:2:1: error: E4002 Failed to open "missing.fxh".'


def test_view_raw_passes_the_bytes_and_the_reader_keeps_them_all(hotfx):
    run = hotfx(BROKEN, command=["sh", "-c", f'env -u DISPLAY HOTFX_VIEW_SECONDS=2 HOTFX_EXE={EXE} '
                                 f'{VIEW} --raw --no-watch . > raw.out'])
    assert run.wait_exit(timeout=180) == 0, run.stderr_tail()
    raw = (run.folder / "raw.out").read_bytes()
    assert raw.startswith(b'Error : main.fx:12:31: E5005: Identifier "brightness" is not declared.\r\n'
                          b'main.fx:13:26: E5005: Identifier "alpha" is not declared.\r\n\r\n'
                          b"Error : Vshader\r\nError : Pshader\r\n")
    frames = raw.split(b"\r\n\r\n", 1)[1]
    assert frames == b"Error : Vshader\r\nError : Pshader\r\n" * (len(frames) // 34) and len(frames) > 340
    shown = read(raw, folder=run.folder).split(b"\n")
    assert expanded(shown[:-1]) == [view_reader.diagnostic(line, view_reader.Paths(run.folder, "/job")) or line
                                    for line in raw.split(b"\r\n")[:-1]]


def test_view_ended_by_a_signal_still_shows_the_count_and_leaves_nothing(hotfx):
    # view.sh's shell runs its trap only once the sleep of those seconds is over, so they set
    # how long this takes; 20 leave the signal, two seconds after the first frames, well inside.
    run = hotfx(BROKEN, command=["env", "-u", "DISPLAY", "HOTFX_VIEW_SECONDS=20", f"HOTFX_EXE={EXE}",
                                 VIEW, "--no-watch", "."])
    run.expect(r"Error : Pshader$", timeout=180)
    time.sleep(2)   # frames that repeat it, folded into a count
    started = descendants(run.process.pid)
    assert b"view-reader.py" in b"\n".join(started.values())
    os.kill(run.process.pid, signal.SIGTERM)
    assert run.wait_exit() == 143
    assert wait_until(lambda: run.output(settle=0.2) and run.eof, 10), "view.sh's output is still open"
    # hotfx may be stopped between a frame's two lines: that half frame is shown as it came.
    shown = run.output()
    tail = 2 if shown[-1] == "Error : Vshader" else 1
    assert re.fullmatch(r"Error : Vshader / Error : Pshader  ×\d+ frames", shown[-tail]), shown[-3:]
    assert wait_until(lambda: not still_running(started), 10), still_running(started)
