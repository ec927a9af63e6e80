#!/usr/bin/env python3
"""The size of hotfx.exe once stripped, its version resource and manifest included, and the
DLLs it imports.

usage: size.py HOTFX_EXE OUT.json
"""

import json
import re
import subprocess
import sys
import tempfile
from pathlib import Path

from results import machine, row

LIMIT = 40 * 1024
# The C runtime is msvcrt.dll with mingw-w64's default runtime, the api-ms-win-crt set with UCRT.
ALLOWED = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "ole32.dll", "comctl32.dll", "comdlg32.dll", "d3d9.dll",
           "d3dx9_43.dll", "msvcrt.dll", "ws2_32.dll"}


def main():
    exe, out_path = Path(sys.argv[1]), Path(sys.argv[2])
    shown = exe.resolve().relative_to(Path(__file__).resolve().parents[1])
    with tempfile.TemporaryDirectory() as scratch:
        stripped = Path(scratch) / "hotfx.exe"
        subprocess.run(["i686-w64-mingw32-strip", "-o", str(stripped), str(exe)], check=True)
        size = stripped.stat().st_size
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                             check=True).stdout
    dlls = re.findall(r"DLL Name: (\S+)", headers)
    extra = [dll for dll in dlls if dll.lower() not in ALLOWED and not dll.lower().startswith("api-ms-win-crt-")]
    rows = [
        row("hotfx.exe, stripped", f"{size} bytes ({size / 1024:.1f} KiB)", "at most 40 KiB (40960 bytes)",
            size <= LIMIT, f"i686-w64-mingw32-strip -o stripped.exe {shown}; stat -c %s stripped.exe"),
        row("DLLs imported by hotfx.exe", ", ".join(dlls) + (f" (beyond the allowed: {', '.join(extra)})"
                                                            if extra else ""),
            "KERNEL32, USER32, GDI32, WINMM, ole32, COMCTL32, COMDLG32, WS2_32, d3d9, d3dx9_43 and the C runtime only", not extra,
            f"i686-w64-mingw32-objdump -p {shown} | grep 'DLL Name'"),
    ]
    compiler = subprocess.run(["i686-w64-mingw32-g++", "--version"], capture_output=True, text=True,
                              check=True).stdout.splitlines()[0]
    out_path.write_text(json.dumps({"section": "Size", "machine": machine(compiler), "rows": rows}, indent=1))


if __name__ == "__main__":
    main()
