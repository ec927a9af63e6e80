#!/usr/bin/env python3
"""How long real editors' saves take, as the folder sees them: each of vim, nano and emacs
(default settings, through tmux) saves main.fx SAVES times, inotify stamps every event in the
folder, and the longest gap between two events of one save is what the quiet window of
hotfx.exe --watch must bridge. Prints one line per editor.

usage: save_gaps.py [SAVES]
"""

import ctypes
import os
import select
import struct
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import TerminalEditor, solid  # noqa: E402

IN_MODIFY, IN_CLOSE_WRITE, IN_MOVED_FROM, IN_MOVED_TO, IN_CREATE, IN_DELETE = 0x2, 0x8, 0x40, 0x80, 0x100, 0x200
# A save's events come closer together than this; saves are seconds apart.
SAME_SAVE = 0.5


def watch(folder):
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init()
    mask = IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE
    libc.inotify_add_watch(fd, str(folder).encode(), mask)
    return fd


def events(fd, until):
    stamps = []
    while time.monotonic() < until:
        if select.select([fd], [], [], 0.05)[0]:
            data, now = os.read(fd, 65536), time.monotonic()
            offset = 0
            while offset < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, offset)
                name = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode()
                stamps.append((now, mask, name))
                offset += 16 + length
    return stamps


def longest_gaps(stamps):
    saves, current = [], []
    for stamp in stamps:
        if current and stamp[0] - current[-1][0] > SAME_SAVE:
            saves.append(current)
            current = []
        current.append(stamp)
    if current:
        saves.append(current)
    return [max((b[0] - a[0] for a, b in zip(save, save[1:])), default=0) for save in saves], \
        [save[-1][0] - save[0][0] for save in saves]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    for name in ("vim", "nano", "emacs"):
        with tempfile.TemporaryDirectory() as scratch:
            folder = Path(scratch) / "shader"
            folder.mkdir()
            (folder / "main.fx").write_text(solid((255, 0, 0)))
            editor = TerminalEditor(name, folder, Path(scratch) / "home")
            try:
                editor.wait_for_screen("ps_main")
                fd = watch(folder)
                stamps = []
                colours = ["float4(1, 0, 0, 1)", "float4(0, 0, 1, 1)"]
                for number in range(count):
                    editor.replace_and_save(colours[number % 2], colours[(number + 1) % 2])
                    stamps += events(fd, time.monotonic() + 1.0)
                os.close(fd)
            finally:
                editor.close()
        gaps, spans = longest_gaps(stamps)
        print(f"{name}: {len(gaps)} saves; longest gap inside a save {max(gaps) * 1000:.2f} ms "
              f"(median {sorted(gaps)[len(gaps) // 2] * 1000:.2f} ms); whole save at most {max(spans) * 1000:.2f} ms")


if __name__ == "__main__":
    main()
