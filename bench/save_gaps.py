#!/usr/bin/env python3
"""How long real editors' saves take, as the folder sees them: each of vim, nano and emacs
(default settings, through tmux) saves main.fx SAVES times under strace, and the longest gap
between two of its file-changing calls (open for writing, write, close, fsync, rename, unlink,
symlink) within one save is what the quiet window of hotfx.exe --watch must bridge. strace
slows each call, so the gaps are upper bounds. Prints one line per editor.

usage: save_gaps.py [SAVES]
"""

import re
import statistics
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from support import TerminalEditor, solid  # noqa: E402

# A call whole, or its first half when another thread's call interrupted it (no result).
CALL = re.compile(r"^(\d+)\s+(\d+\.\d+) (\w+)\((.*?)(?:\)\s+=\s+(-?\d+)|<unfinished)")
CHANGES = ("rename", "renameat", "renameat2", "unlink", "unlinkat", "symlink", "symlinkat", "fsync",
           "fdatasync", "ftruncate")


def changing_calls(log, folder):
    """Times of the calls that change files in folder, with fds opened for writing there
    followed through. Emacs compiles its own Lisp in the background the first time, elsewhere."""
    writing, times = set(), []
    for line in log.splitlines():
        match = CALL.match(line)
        if not match:
            continue
        pid, when, name, args = match.group(1), float(match.group(2)), match.group(3), match.group(4)
        result = int(match.group(5) or -1)
        fd = (pid, args.split(",")[0])
        paths = re.findall(r'"([^"]*)"', args)
        # The file a call names: a symbolic link's is its second text, the target being the first.
        path = (paths[-1] if name.startswith("symlink") else paths[0]) if paths else None
        if path is not None and path.startswith("/") and not path.startswith(f"{folder}/"):
            continue
        if name in ("open", "openat") and re.search(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC", args) and result >= 0:
            writing.add((pid, str(result)))
            times.append((when, name))
        elif name in ("write", "pwrite64", "close") and fd in writing:
            times.append((when, name))
            if name == "close":
                writing.discard(fd)
        elif name in CHANGES:
            times.append((when, name))
        if times and times[-1][0] == when and "-v" in sys.argv:
            print(f"{when:.6f} {line[:120]}")
    return times


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    for name in ("vim", "nano", "emacs"):
        with tempfile.TemporaryDirectory() as scratch:
            folder, log = Path(scratch) / "shader", Path(scratch) / "strace.log"
            folder.mkdir()
            (folder / "main.fx").write_text(solid((255, 0, 0)))
            editor = TerminalEditor(name, folder, Path(scratch) / "home",
                                    prefix=["strace", "-f", "-ttt", "-o", str(log)])
            try:
                editor.wait_for_screen("ps_main")
                colours = ["float4(1, 0, 0, 1)", "float4(0, 0, 1, 1)"]
                started = []
                for number in range(count):
                    # The edit first (which may write a swap or lock file), the save alone later.
                    *edit, save = TerminalEditor.REPLACE_AND_SAVE[name](colours[number % 2], colours[(number + 1) % 2])
                    for keys in edit:
                        editor.keys(*keys)
                        time.sleep(0.15)
                    time.sleep(0.5)
                    started.append(time.time())
                    editor.keys(*save)
                    time.sleep(1.0)
            finally:
                editor.close()
            calls = changing_calls(log.read_text(), folder)
            found = [[(t, call) for t, call in calls if start <= t < start + 1.0] for start in started]
        gap = lambda save: max((b[0] - a[0] for a, b in zip(save, save[1:])), default=0) * 1000
        # Up to its last write a save may have left main.fx short; after it come only fsync,
        # close and the removal of lock or backup files, which a longer wait merely delays.
        unfinished = lambda save: save[:max((i for i, (_, call) in enumerate(save) if call.startswith("write")),
                                            default=0) + 1]
        gaps, open_gaps = [gap(save) for save in found], [gap(unfinished(save)) for save in found]
        spans = [(save[-1][0] - save[0][0]) * 1000 for save in found]
        print(f"{name}: {len(found)} saves; longest gap between two calls of one save {max(gaps):.2f} ms "
              f"(median {statistics.median(gaps):.2f} ms), before its last write {max(open_gaps):.2f} ms "
              f"(median {statistics.median(open_gaps):.2f} ms); whole save {max(spans):.2f} ms at most")


if __name__ == "__main__":
    main()
