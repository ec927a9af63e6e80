"""hotfx.exe started on the main.fx files a shader author can leave behind: what it prints,
that it keeps running, which stages have shaders afterwards (read from the per-frame lines),
that F5 on a good file then loads it, and that Escape still ends it with 0.

Two cases are left to the unit tests (tests/native/bad_input_test.cpp): a file that goes away
between the vertex and the pixel compile can't be timed from outside, and a file that includes
itself without a guard never comes back from Wine 10's compiler (its memory grows by about
20 MB a second); the guarded form runs here."""

import random
import re

import pytest

from support import BLUE, LOADED, RED, exit_code_kept, solid

pytestmark = pytest.mark.default_stack

FRAME_ERROR = r"Error : [VP]shader$"
BOTH_MISSING = ["Error : Vshader", "Error : Pshader"]
PIXEL_MISSING = ["Error : Pshader"]


def file_of(data):
    def prepare(folder):
        target = folder / "main.fx"
        target.write_bytes(data) if isinstance(data, bytes) else target.write_text(data)
    return prepare


def random_bytes():
    data = random.Random(7).randbytes(64 * 1024)
    assert data.count(0) > 200
    return data


def fifty_megabytes(unit):
    """solid(RED) followed by copies of unit(i) up to 50 MiB."""
    parts, size, i = [solid(RED)], 0, 0
    while size < 50 << 20:
        parts.append(unit(i))
        size += len(parts[-1])
        i += 1
    return "".join(parts)


def comment(i):
    return f"// {i:08d}: the quick brown fox jumps over the lazy dog; float4 colour = 1;\n"


WARNS = solid(RED).replace("return float4(1, 0, 0, 1);", "float2 rg = float4(1, 0, 0, 1); return float4(rg, 0, 1);")
GUARDED = "#ifndef MAIN_FX\n#define MAIN_FX\n#include \"main.fx\"\n" + solid(RED) + "#endif\n"
VERTEX_ONLY = solid(RED).split("float4 ps_main")[0]
PIXEL_ONLY = "float4 ps_main(float2 uv : TEXCOORD0) : COLOR0\n{\n    return float4(1, 0, 0, 1);\n}\n"

# id: (prepare, what the load prints: None for "Load Shader.", else words its "Error : " line
# holds; the stages reported missing in every frame after it)
CASES = {
    "missing": (lambda folder: None, ["main.fx", "vs_main"], BOTH_MISSING),
    "empty": (file_of(b""), ["vs_main"], BOTH_MISSING),
    "random bytes with zero bytes": (file_of(random_bytes()), ["main.fx"], BOTH_MISSING),
    "a folder": (lambda folder: (folder / "main.fx").mkdir(), ["main.fx", "vs_main"], BOTH_MISSING),
    "50 MB of comments": (file_of(fifty_megabytes(comment)), None, []),
    "including itself behind a guard": (file_of(GUARDED), None, []),
    "including a file that does not exist": (file_of('#include "nothere.fxh"\n' + solid(RED)), ["nothere.fxh"],
                                             BOTH_MISSING),
    "only vs_main": (file_of(VERTEX_ONLY), ["ps_main"], PIXEL_MISSING),
    "only ps_main": (file_of(PIXEL_ONLY), ["vs_main"], BOTH_MISSING),
    "warnings only": (file_of(WARNS), None, []),
}


def fix_and_quit(run):
    """The author saves a good file and presses F5: it loads and draws; Escape ends with 0."""
    if (run.folder / "main.fx").is_dir():
        (run.folder / "main.fx").rmdir()
    run.save_shader(solid(BLUE))
    run.key("F5")
    run.expect(LOADED)
    run.wait_for_colour(BLUE, label="fixed")
    run.key("Escape")
    assert run.wait_exit() == 0


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_bad_main_fx(hotfx, case):
    prepare, words, missing = CASES[case]
    run = hotfx(prepare)
    first = run.expect(r"Error : |Load Shader\.$", timeout=120)
    if words is None:
        assert first == "Load Shader."
        run.wait_for_colour(RED, label="loaded")
        assert run.output(settle=1.0) == ["Load Shader."], "nothing but the load line, warnings included"
    else:
        assert first.startswith("Error : ") and first not in BOTH_MISSING, first
        assert all(word in first for word in words), first
        assert [run.expect(FRAME_ERROR) for _ in range(3 * len(missing))] == missing * 3
        assert "Load Shader." not in run.output()
    run.window()
    assert run.process.poll() is None
    fix_and_quit(run)


def test_with_an_option_an_error_in_a_nested_include_names_that_file_and_its_line(hotfx):
    """Wine's compiler numbers the lines of main.fx with its includes in place."""
    def prepare(folder):
        (folder / "lib").mkdir()
        (folder / "main.fx").write_text(solid(RED).replace("float4 ps_main", '#include "lib/a.fxh"\nfloat4 ps_main'))
        (folder / "lib" / "a.fxh").write_text('// a.fxh\n#include "b.fxh"\n')
        (folder / "lib" / "b.fxh").write_text("// b.fxh\nfloat4 tint() { return undeclared_tint; }\n")
    run = hotfx(prepare, command=exit_code_kept("--frame", 0, "out.png"))
    assert run.wait_exit(timeout=120) == 3
    assert run.output() == ['Error : lib/b.fxh:2:26: E5005: Identifier "undeclared_tint" is not declared.', ""]


def test_a_megabyte_of_compiler_messages_is_printed_whole(hotfx):
    count = 16000
    source = solid(RED) + "".join(f"float broken_{i}() {{ return undeclared_{i}; }}\n" for i in range(count))
    run = hotfx(file_of(source))
    first = run.expect(r"Error : ")
    start = run.consumed - 1
    run.expect(FRAME_ERROR)
    message = run.lines[start:run.consumed - 1]
    assert first.startswith("Error : ") and "undeclared_0\"" in first
    named = [int(m.group(1)) for line in message for m in [re.search(r'undeclared_(\d+)"', line)] if m]
    assert named == list(range(count)), "every report, in order, none cut"
    assert sum(len(line) + 1 for line in message) > 1 << 20
    assert run.process.poll() is None
    fix_and_quit(run)


def test_editor_saves_between_f5_presses(hotfx):
    """Saves as editors make them: a temporary file renamed over main.fx, and a delete followed
    by the rename, with an F5 in the moment between. Each F5 compiles what is there then."""
    run = hotfx(file_of(solid(RED)))
    run.expect(LOADED)
    run.wait_for_colour(RED, label="first")

    def f5_fails_naming(word):
        run.key("F5")
        assert word in run.expect(r"Error : (?![VP]shader$)")
        assert [run.expect(FRAME_ERROR) for _ in range(4)] == BOTH_MISSING * 2

    def f5_draws(colour, label):
        run.key("F5")
        run.expect(LOADED)
        run.wait_for_colour(colour, label=label)

    run.save_shader(solid(RED).replace("o.uv = uv;", "o.uv = uv"), via_rename=True)
    f5_fails_naming("main.fx")
    run.save_shader(solid(BLUE), via_rename=True)
    f5_draws(BLUE, "renamed over")
    (run.folder / "main.fx").unlink()
    f5_fails_naming("vs_main")
    run.save_shader(solid(RED), via_rename=True)
    f5_draws(RED, "after the gap")
    run.key("Escape")
    assert run.wait_exit() == 0


def test_start_without_main_fx(hotfx):
    run = hotfx(None)
    assert run.expect(r"Error : ") not in BOTH_MISSING
    # Then, frame after frame, both stages are reported missing, vertex first.
    assert [run.expect(r"Error : ") for _ in range(100)] == BOTH_MISSING * 50
    run.window()
    assert run.process.poll() is None
    run.key("Escape")
    assert run.wait_exit() == 0
    output = run.output()
    assert [line for line in output if line.startswith("Error : ") and line not in BOTH_MISSING] == [output[0]]
    assert "Load Shader." not in output
