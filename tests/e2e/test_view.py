"""tools/view.sh on an X display, with xev standing in for the user's editor: reload on save,
F5 from another focused X client, and what is left once it ends. Each folder holds a stale
hotfx.exe that is not a program: view.sh must run the build, not what the folder holds."""

import os
import re
import signal
import subprocess
import time

import pytest
from Xlib import X, XK, display as xdisplay, error as xerror

from support import BLUE, EXE, LOADED, RED, REPO, descendants, shader, solid, still_running, wait_until

pytestmark = pytest.mark.default_stack

VIEW = str(REPO / "tools" / "view.sh")
# What tools/view-live.py says once it has hotfx's window.
READY = re.compile(r"^view: ready; .* reloads hotfx$", re.M)
STALE = b"MZ a stale copy left by an earlier run"


def folder_with_stale_exe(folder):
    (folder / "main.fx").write_text(solid(RED))
    (folder / "hotfx.exe").write_bytes(STALE)


def left_as_it_was(run):
    """The user's folder holds what it held before view.sh ran, the stale program untouched."""
    return sorted(path.name for path in run.folder.iterdir()) == ["hotfx.exe", "main.fx"] \
        and (run.folder / "hotfx.exe").read_bytes() == STALE


def water_beside_main_fx(folder):
    """water.fx in RED, its colour from an include of its folder, beside a main.fx in BLUE."""
    (folder / "lib").mkdir()
    (folder / "lib" / "colour.fxh").write_text("static const float3 colour = float3(1, 0, 0);\n")
    (folder / "water.fx").write_text('#include "lib/colour.fxh"\n' + shader("return float4(colour, 1);"))
    (folder / "main.fx").write_text(solid(BLUE))


def files_in(folder):
    return {path: path.read_bytes() for path in folder.rglob("*") if path.is_file()}


def viewed(hotfx, *options, target=".", place=folder_with_stale_exe):
    """view.sh on the test's display, showing RED from a fresh folder, ready for saves and keys."""
    run = hotfx(place, command=["env", f"HOTFX_EXE={EXE}", VIEW, *options, target])
    assert wait_until(lambda: READY.search(run.stderr_path.read_text(errors="replace")), 120), \
        f"view.sh never said it was ready; {run.stderr_tail()}"
    run.expect(LOADED)
    run.wait_for_colour(RED, label="before")
    return run


@pytest.fixture
def editor(display, tmp_path):
    """xev in a window of its own: call it to give it the focus; .seen() is what it printed."""
    log = tmp_path / "xev.txt"
    with open(log, "w") as out:
        process = subprocess.Popen(["xev", "-geometry", "200x200+1300+900"], env=display.env(),
                                   stdout=out, stderr=subprocess.STDOUT)
    found = wait_until(lambda: display.run("xdotool", "search", "--name", "^Event Tester$",
                                           check=False).split(), 30)
    assert found, "xev's window did not appear"

    class Editor:
        def __call__(self):
            display.run("xdotool", "windowfocus", "--sync", found[0])

        def seen(self):
            return log.read_text()

        def f5_events(self):
            return re.findall(r"^(Key(?:Press|Release)) event.*\n.*\n.*keysym 0xffc2, F5\)", self.seen(), re.M)

    yield Editor()
    process.terminate()
    process.wait()


def pieces(run, source):
    # An editor writing the file in three goes, 10 ms apart (the longest gap measured inside
    # real editors' saves was 12 ms): nothing but the whole may be compiled, and only once.
    target = run.folder / "main.fx"
    third = len(source) // 3
    target.write_text(source[:third])
    for start, end in ((third, 2 * third), (2 * third, None)):
        time.sleep(0.01)
        with open(target, "a") as file:
            file.write(source[start:end])


def deleted_and_written(run, source):
    (run.folder / "main.fx").unlink()
    time.sleep(0.1)
    (run.folder / "main.fx").write_text(source)


SAVES = {
    "in place": lambda run, source: run.save_shader(source),
    "renamed over": lambda run, source: run.save_shader(source, via_rename=True),
    "deleted and written again": deleted_and_written,
    "in pieces": pieces,
}


@pytest.mark.parametrize("save", SAVES, ids=list(SAVES))
def test_view_save_alone_brings_new_picture_once(hotfx, editor, save):
    run = viewed(hotfx)
    editor()
    SAVES[save](run, solid(BLUE))
    run.wait_for_colour(BLUE, label="saved")
    assert run.output(settle=1.5)[run.consumed:] == ["Load Shader."]
    assert "FocusOut" not in editor.seen(), "the editor lost the focus"


@pytest.mark.parametrize("rename", [False, True], ids=["in place", "renamed over"])
def test_view_shader_not_named_main_fx_finds_its_includes_reloads_on_save_and_writes_nothing(hotfx, rename):
    run = viewed(hotfx, target="water.fx", place=water_beside_main_fx)
    run.save_shader(solid(BLUE), via_rename=rename, name="water.fx")
    before = files_in(run.folder)
    assert sorted(path.relative_to(run.folder).as_posix() for path in before) == \
        ["hotfx.exe", "lib/colour.fxh", "main.fx", "water.fx"]
    run.wait_for_colour(BLUE, timeout=10, label="saved")
    assert run.output(settle=1.5)[run.consumed:] == ["Load Shader."]
    run.key("Escape")
    assert run.wait_exit() == 0
    assert files_in(run.folder) == before


def test_view_ignores_unchanged_saves_and_editors_files(hotfx):
    run = viewed(hotfx)
    run.save_shader(solid(RED))
    for scratch in (".main.fx.swp", "main.fx~", "4913", ".#main.fx"):
        (run.folder / scratch).write_text(solid(BLUE))
    assert run.output(settle=2.0)[run.consumed:] == []
    run.wait_for_colour(RED, timeout=0, label="unchanged")


def test_view_no_watch_save_alone_changes_nothing_until_f5_in_another_client_reloads_and_reaches_it(hotfx, editor):
    run = viewed(hotfx, "--no-watch")
    run.save_shader(solid(BLUE))
    assert run.output(settle=2.0)[run.consumed:] == []
    run.wait_for_colour(RED, timeout=0, label="saved")
    editor()
    run.display.run("xdotool", "key", "F5")
    run.expect(LOADED)
    run.wait_for_colour(BLUE, label="after F5")
    assert wait_until(lambda: editor.f5_events() == ["KeyPress", "KeyRelease"], 5), editor.f5_events()


@pytest.mark.parametrize("display", [("X-Resource",)], indirect=True, ids=["no X-Resource"])
def test_view_without_x_resource_takes_the_only_window_titled_test(hotfx, editor):
    run = viewed(hotfx, "--no-watch")
    assert "view: the X server doesn't say which process made a window; taking the only one titled 'test'\n" \
        in run.stderr_path.read_text(errors="replace"), run.stderr_tail()
    run.save_shader(solid(BLUE))
    editor()
    run.display.run("xdotool", "key", "F5")
    run.expect(LOADED)
    run.wait_for_colour(BLUE, label="after F5")


def test_view_f5_held_in_another_client_reloads_until_let_go(hotfx, editor):
    run = viewed(hotfx, "--no-watch")
    editor()
    run.display.run("xdotool", "keydown", "F5")
    for _ in range(3):
        run.expect(LOADED, timeout=10)
    run.display.run("xdotool", "keyup", "F5")
    settled = len(run.output(settle=1.0))
    assert run.output(settle=1.5)[settled:] == [], "still reloading after F5 was let go"


def f5_grab_refused(display_name):
    conn = xdisplay.Display(display_name)
    refused = xerror.CatchError(xerror.BadAccess)
    keycode = conn.keysym_to_keycode(XK.string_to_keysym("F5"))
    conn.screen().root.grab_key(keycode, 0, False, X.GrabModeAsync, X.GrabModeAsync, onerror=refused)
    conn.sync()
    conn.close()
    return refused.get_error() is not None


def test_view_escape_leaves_nothing_running(hotfx):
    run = viewed(hotfx)
    started = descendants(run.process.pid)
    commands = b"\n".join(started.values())
    for part in (b"view-live.py", b"cmd.exe", b"hotfx.exe", b"bwrap"):
        assert part in commands, f"{part!r} is not among {commands!r}"
    run.key("Escape")
    assert run.wait_exit() == 0
    assert wait_until(lambda: not still_running(started), 10), still_running(started)
    assert not f5_grab_refused(run.display.name), "a grab of F5 is still held"
    assert left_as_it_was(run), sorted(run.folder.iterdir())


def test_view_ctrl_c_ends_with_130_and_leaves_nothing(hotfx):
    run = viewed(hotfx)
    started = descendants(run.process.pid)
    # As a terminal does: the signal goes to view.sh's whole process group.
    os.killpg(run.process.pid, signal.SIGINT)
    assert run.wait_exit() == 130
    assert wait_until(lambda: not still_running(started), 10), still_running(started)
    assert left_as_it_was(run), sorted(run.folder.iterdir())


def test_view_without_display_removes_the_folder_it_made(tmp_path):
    shader, scratch, here = tmp_path / "rings.fx", tmp_path / "tmp", tmp_path / "here"
    shader.write_text(solid(BLUE))
    scratch.mkdir()
    here.mkdir()
    env = {name: value for name, value in os.environ.items() if name != "DISPLAY"}
    done = subprocess.run([VIEW, str(shader)], cwd=here, capture_output=True, text=True, timeout=300,
                          env=dict(env, HOTFX_EXE=str(EXE), TMPDIR=str(scratch), HOTFX_VIEW_SECONDS="1"))
    assert done.returncode == 0, done.stderr
    assert list(scratch.iterdir()) == [], "view.sh left its folders and files behind"
    assert [path.name for path in here.iterdir()] == ["screenshot.png"], done.stderr


BAD_ARGUMENTS = {
    "no such folder": (["{tmp}/nowhere"], r"view: no such folder or file: .*/nowhere"),
    "two paths": (["{tmp}/a", "{tmp}/b"], r"view: one folder or file at most: .*/a, then .*/b"),
    "unknown option": (["--watch", "{tmp}/a"], r"view: unknown option: --watch \(usage: .*\)"),
    "folder whose main.fx is a folder": (["{tmp}/c"], r"view: cannot read .*/c/main.fx"),
    "folder without main.fx": (["{tmp}/a"], r"view: no main.fx in .*/a; tools/view.sh --new .*/a starts one from the template"),
    "--new over a main.fx": (["--new", "{tmp}/c"], r"view: --new: .*/c/main.fx exists already"),
    "--osc without a port": (["--osc", "host:9000"], r"view: not a port such as 9000 or 0.0.0.0:9000 for --osc: host:9000"),
    "--sound-in alone": (["--sound-in"], r"view: --sound-in needs list, a device's number or a part of its name, or loopback"),
}


@pytest.mark.parametrize("bad", BAD_ARGUMENTS, ids=list(BAD_ARGUMENTS))
def test_view_bad_arguments_say_one_line_and_exit_2(tmp_path, bad):
    for folder in ("a", "b", "c/main.fx"):
        (tmp_path / folder).mkdir(parents=True)
    arguments, message = BAD_ARGUMENTS[bad]
    done = subprocess.run([VIEW, *(argument.format(tmp=tmp_path) for argument in arguments)],
                          capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout) == (2, "")
    assert re.fullmatch(message + "\n", done.stderr), done.stderr
    assert sorted(path.name for path in tmp_path.rglob("*")) == ["a", "b", "c", "main.fx"], "something was written"


def headless(*args, env=()):
    return ["env", "-u", "DISPLAY", "HOTFX_VIEW_SECONDS=1", f"HOTFX_EXE={EXE}", *env, VIEW, *args]


def test_view_new_starts_a_folder_from_the_template(hotfx):
    run = hotfx(None, command=headless("--new", "."))
    assert run.wait_exit(timeout=180) == 0, run.stderr_tail()
    assert (run.folder / "main.fx").read_text() == (REPO / "examples" / "template" / "main.fx").read_text()
    assert run.output()[:1] == ["Load Shader."]


def test_view_read_only_folder_is_shown_and_left_as_it_was(hotfx, tmp_path):
    # Root writes anywhere but on a read-only mount: one made for view.sh alone.
    read_only = ["unshare", "-m", "sh", "-c", 'mount --bind -o ro . . && cd "$PWD" && exec "$@"', "-"]
    run = hotfx(folder_with_stale_exe, command=read_only + headless(".", env=[f"HOTFX_SCREENSHOT={tmp_path}/shot.png"]))
    assert run.wait_exit(timeout=180) == 0, run.stderr_tail()
    assert run.output()[:1] == ["Load Shader."] and (tmp_path / "shot.png").is_file()
    assert left_as_it_was(run)
    done = subprocess.run(read_only + headless("."), cwd=run.folder, capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stderr) == (2, f"view: cannot write the screenshot into {run.folder}; "
                                                 "set HOTFX_SCREENSHOT\n")


@pytest.mark.only_on("wined3d", "DXVK draws without GLX")
@pytest.mark.parametrize("display", [("GLX",)], indirect=True, ids=["no GLX"])
def test_view_exits_with_hotfx_exit_code(hotfx):
    run = hotfx(solid(RED), command=["env", f"HOTFX_EXE={EXE}", VIEW, "."])
    assert run.wait_exit() == 1
    assert "view: hotfx exited with code 1\n" in run.stderr_path.read_text(errors="replace")


BUILD = "g++-mingw-w64-i686-posix mingw-w64-i686-dev cmake ninja-build"
PACKAGES = {
    "own Wine and build, no display": ({"HOTFX_WINE": "/opt/wine/bin/wine", "HOTFX_EXE": str(EXE)},
                                       "xvfb xdotool imagemagick python3"),
    "the root, a display": ({"DISPLAY": ":9"}, f"{BUILD} bubblewrap python3-xlib python3"),
    "the root, --raw, no display": ({}, f"{BUILD} bubblewrap xvfb xdotool imagemagick"),
}


@pytest.mark.parametrize("run", PACKAGES, ids=list(PACKAGES))
def test_view_asks_only_for_the_packages_the_run_uses(tmp_path, run):
    # A user, not root, on a machine without a package: view.sh names the ones it needs, and stops.
    for name, script in (("dpkg-query", "exit 1"), ("id", "echo 1000")):
        (tmp_path / name).write_text(f"#!/bin/sh\n{script}\n")
        (tmp_path / name).chmod(0o755)
    env = {name: value for name, value in os.environ.items() if name not in ("DISPLAY", "HOTFX_WINE", "HOTFX_EXE")}
    variables, packages = PACKAGES[run]
    done = subprocess.run([VIEW, *["--raw"] * ("raw" in run), str(REPO / "examples" / "rings")], cwd=tmp_path,
                          env=dict(env, PATH=f"{tmp_path}:{env['PATH']}", **variables),
                          capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stderr) == (1, f"hotfx: missing packages; as root run: apt-get install {packages}\n")
