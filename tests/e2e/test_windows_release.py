"""hotfx.exe as a Windows user gets it: built the way MSYS2 builds it, from the release zip,
and on a display scaled to 150 %."""

import os
import re
import subprocess
import zipfile

import pytest

from support import REPO, WINE_ROOT

pytestmark = pytest.mark.default_stack

VERSION = re.search(r"project\(hotfx VERSION (\S+)", (REPO / "CMakeLists.txt").read_text()).group(1)
PACKAGE = f"hotfx-{VERSION}-win32"
SYSTEM_DLLS = ["COMCTL32.DLL", "COMDLG32.DLL", "d3d9.dll", "d3dx9_43.dll", "GDI32.dll", "KERNEL32.dll", "msvcrt.dll",
               "ole32.dll", "USER32.dll", "WINMM.DLL", "WS2_32.dll"]
MSYS2_WAY = ["-G", "Ninja", "-DCMAKE_SYSTEM_NAME=Windows", "-DCMAKE_CXX_COMPILER=i686-w64-mingw32-g++"]


def imports(exe):
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                             check=True).stdout
    return sorted(re.findall(r"DLL Name: (\S+)", headers), key=str.lower)


def test_built_as_msys2_builds_it_imports_only_system_dlls(tmp_path):
    # No toolchain file: what the project's own CMakeLists sets is all there is.
    subprocess.run(["cmake", "-S", str(REPO), "-B", str(tmp_path), *MSYS2_WAY], check=True,
                   capture_output=True, timeout=300)
    subprocess.run(["cmake", "--build", str(tmp_path)], check=True, capture_output=True, timeout=300)
    assert imports(tmp_path / "hotfx.exe") == SYSTEM_DLLS


def test_configuring_without_the_d3dx_header_fails_at_once_with_one_line(tmp_path):
    # -nostdinc leaves the compiler without mingw-w64's headers, as Visual Studio is without
    # the DirectX SDK.
    result = subprocess.run(["cmake", "-S", str(REPO), "-B", str(tmp_path), *MSYS2_WAY,
                             "-DCMAKE_CXX_FLAGS=-nostdinc"], capture_output=True, text=True, timeout=300)
    assert result.returncode != 0
    errors = result.stderr.split("CMake Error at ")[1:]
    assert len(errors) == 1, result.stderr
    assert errors[0].splitlines()[1] == ("   d3dx9.h not found: install the DirectX SDK (June 2010), which sets "
                                         "DXSDK_DIR, or build with MSYS2's mingw-w64 i686 toolchain"), errors[0]
    assert not (tmp_path / "build.ninja").exists()


def test_release_zip_unpacked_runs_an_example(hotfx):
    subprocess.run(["cpack", "--preset", "windows"], cwd=REPO, check=True, capture_output=True, timeout=300)
    package = REPO / "build" / "windows" / f"{PACKAGE}.zip"
    examples = sorted(str(path.relative_to(REPO)) for path in (REPO / "examples").glob("*/*"))
    with zipfile.ZipFile(package) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
    assert "examples/rings/main.fx" in examples
    assert names == sorted(f"{PACKAGE}/{name}" for name in ["hotfx.exe", "README.md", "README-Windows.txt",
                                                            *examples])

    def unpack(folder):
        (folder / "hotfx.exe").unlink()
        with zipfile.ZipFile(package) as archive:
            archive.extractall(folder)
        for name in names:
            os.chmod(folder / name, 0o755 if name.endswith(".exe") else 0o644)

    # As from a console in the example's folder: ..\..\hotfx.exe
    command = f'cd {PACKAGE}/examples/rings && exec "${{HOTFX_WINE:-wine}}" ../../hotfx.exe'
    run = hotfx(unpack, command=[str(WINE_ROOT), "run", "sh", "-c", command])
    run.expect(r"Load Shader\.$")
    run.window()
    run.key("Escape")
    assert run.wait_exit() == 0
    assert run.output() == ["Load Shader."]


@pytest.mark.skipif("HOTFX_WINE" in os.environ, reason="would change the display scaling of your own Wine prefix")
def test_window_keeps_its_size_at_150_percent_scaling(hotfx):
    # The change is made in the run's own prefix; the server then exits so the next process
    # starts with the new scaling.
    scale = r'wine reg add "HKCU\Control Panel\Desktop" /v LogPixels /t REG_DWORD /d 144 /f && wineserver -w'
    run = hotfx((REPO / "examples" / "rings" / "main.fx").read_text(),
                command=[str(WINE_ROOT), "run", "sh", "-c", scale + " && exec wine hotfx.exe"])
    run.expect(r"Load Shader\.$")
    # Unaware of scaling, it was stretched by half (a client area of 1908x1485 on a screen big enough).
    assert run.outer_size() == (1280, 1024), run.geometry()
    run.key("Escape")
    assert run.wait_exit() == 0
