"""hotfx.exe --watch: saves made by real editors, and the save patterns of editors that can't
run here replayed step by step, each reload once and only once the save is complete."""

import os
import shutil
import time

import pytest

from support import BLUE, LOADED, RED, REPO, WINE_ROOT, TerminalEditor, shader, solid, wait_until

pytestmark = pytest.mark.default_stack

WATCH = [str(WINE_ROOT), "wine", "hotfx.exe", "--watch"]


def watched(hotfx, colour=RED):
    run = hotfx(solid(colour), command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour(colour, label="before")
    return run


def reloaded_once_to(run, colour):
    run.expect(LOADED, timeout=30)
    run.wait_for_colour(colour, label="saved")
    later = run.output(settle=1.5)[run.consumed:]
    assert later == [], f"more than one reload, or an error, after one save: {later}"
    assert not any(line.startswith("Error :") for line in run.lines), run.lines


def step(folder, action, name, *args):
    path = folder / name
    if action == "write":
        path.write_text(args[0])
    elif action == "rename":
        os.replace(folder / args[0], path)
    elif action == "remove":
        path.unlink()
    elif action == "truncate":
        open(path, "w").close()
    elif action == "append":
        with open(path, "a") as file:
            file.write(args[0])


def in_halves(name):
    new = solid(BLUE)
    return [("write", name, new[:len(new) // 2]), ("append", name, new[len(new) // 2:])]


# Each editor's save as the file system sees it, a millisecond between steps.
REPLAYED = {
    "VS Code (truncated, then written in place)": [("truncate", "main.fx"), ("write", "main.fx", solid(BLUE))],
    "Notepad++ (written in place in two pieces)": in_halves("main.fx"),
    "Kate (a copy beside it renamed over)": [("write", "main.fx.Xk3pQz", solid(BLUE)),
                                             ("rename", "main.fx", "main.fx.Xk3pQz")],
    "gedit (a hidden copy renamed over)": [*in_halves(".goutputstream-7NQ2K1"),
                                           ("rename", "main.fx", ".goutputstream-7NQ2K1")],
    "JetBrains (new copy in, old copy out)": [("write", "main.fx___jb_tmp___", solid(BLUE)),
                                              ("rename", "main.fx___jb_old___", "main.fx"),
                                              ("rename", "main.fx", "main.fx___jb_tmp___"),
                                              ("remove", "main.fx___jb_old___")],
    "Visual Studio (copies through ~RF.TMP files)": [("write", "main.fx~RF1a2b3c.TMP", solid(BLUE)),
                                                     ("rename", "main.fx~RF4d5e6f.TMP", "main.fx"),
                                                     ("rename", "main.fx", "main.fx~RF1a2b3c.TMP"),
                                                     ("remove", "main.fx~RF4d5e6f.TMP")],
    "deleted, then written": [("remove", "main.fx"), *in_halves("main.fx")],
}


@pytest.mark.parametrize("editor", REPLAYED, ids=list(REPLAYED))
def test_replayed_save_reloads_once_when_complete(hotfx, editor):
    run = watched(hotfx)
    for action in REPLAYED[editor]:
        step(run.folder, *action)
        time.sleep(0.001)
    reloaded_once_to(run, BLUE)


def test_saves_that_change_nothing_that_counts_reload_nothing(hotfx):
    run = watched(hotfx)
    run.save_shader(solid(RED))
    run.save_shader(solid(RED), via_rename=True)
    for scratch in (".main.fx.swp", "main.fx~", "4913", "#main.fx#", "~$main.fx", "main.fx.tmp", "shot.gif"):
        (run.folder / scratch).write_text(solid(BLUE))
    (run.folder / "main.fx.empty").touch()
    os.replace(run.folder / "main.fx.empty", run.folder / "main.fx")
    assert run.output(settle=2.0)[run.consumed:] == []
    run.wait_for_colour(RED, timeout=0, label="unchanged")
    run.save_shader(solid(BLUE))
    reloaded_once_to(run, BLUE)


def test_a_saved_include_reloads(hotfx):
    def folder(path):
        (path / "colour.hlsli").write_text("#define COLOUR float4(1, 0, 0, 1)\n")
        (path / "main.fx").write_text(solid(RED).replace("return float4(1, 0, 0, 1);", "return COLOUR;")
                                      .replace("float4 t :", '#include "colour.hlsli"\nfloat4 t :'))
    run = hotfx(folder, command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour(RED, label="before")
    (run.folder / "colour.hlsli").write_text("#define COLOUR float4(0, 0, 1, 1)\n")
    reloaded_once_to(run, BLUE)


@pytest.mark.parametrize("name", ["vim", "nano", "emacs"])
def test_real_editor_save_reloads_once(hotfx, tmp_path, name):
    run = watched(hotfx)
    editor = TerminalEditor(name, run.folder, tmp_path / f"{name}-home")
    try:
        editor.wait_for_screen("ps_main")
        editor.replace_and_save("float4(1, 0, 0, 1)", "float4(0, 0, 1, 1)")
        reloaded_once_to(run, BLUE)
        assert "float4(0, 0, 1, 1)" in (run.folder / "main.fx").read_text()
    finally:
        editor.close()


def test_f5_still_reloads_beside_watching(hotfx):
    run = watched(hotfx)
    run.key("F5")
    run.expect(LOADED)
    assert run.output(settle=1.0)[run.consumed:] == []


def reading_held(rgb):
    return "sampler2D held;\n" + shader("return float4(%g, %g, %g, 1) + tex2D(held, uv);" % tuple(c / 255 for c in rgb))


def test_an_image_another_program_holds_is_said_by_each_load_and_not_waited_for(hotfx):
    def folder(path):
        (path / "main.fx").write_text(reading_held(RED))
        (path / "held.png").write_bytes(b"")
        shutil.copy(REPO / "build" / "windows" / "tests" / "injector" / "hold.exe", path)
    # Wine keeps a program's sharing from others only within one wineserver: both start in one root.
    both = 'w=${HOTFX_WINE:-wine}; "$w" hold.exe held.png >out & until [ -s out ]; do sleep 0.1; done; exec "$w" hotfx.exe --watch'
    run = hotfx(folder, command=[str(WINE_ROOT), "run", "sh", "-c", both])
    run.expect(LOADED)
    run.wait_for_colour(RED, label="before")
    for colour in (BLUE, RED):
        saved = time.monotonic()
        run.save_shader(reading_held(colour))
        run.expect(LOADED)
        assert time.monotonic() - saved < 0.9, "waited for held.png"
        run.wait_for_colour(colour, label="saved")
    said = "Error : sampler held: can't open held.png (error 32); it reads black"
    assert run.output(settle=1.0) == [said, "Load Shader."] * 3



def test_a_save_of_a_file_main_fx_includes_reloads(hotfx):
    """Wine's compiler opens what main.fx includes through hotfx's include callback."""
    def folder(path):
        (path / "colour.fxh").write_text("static const float3 colour = float3(1, 0, 0);\n")
        (path / "main.fx").write_text('#include "colour.fxh"\n' + shader("return float4(colour, 1);"))
    run = hotfx(folder, command=WATCH)
    run.expect(LOADED)
    run.wait_for_colour(RED, label="before")
    (run.folder / "colour.fxh").write_text("static const float3 colour = float3(0, 0, 1);\n")
    reloaded_once_to(run, BLUE)
