"""Keeps the folder of links that tools/view.sh runs a SHADER.fx in (tools/host-packages.sh's
shader_folder) in step with the file's own folder, so that hotfx.exe --watch hears every save.

    /usr/bin/python3 tools/view-links.py VIEW_PID SHADERS FOLDER SHADER

hotfx watches the folder it runs in, FOLDER, and Wine watches it with inotify, which hears
nothing when a file that a link there leads to is written. So every change to an entry of
SHADERS makes that entry's link anew, renamed over the old one, and FOLDER's watchers hear that
at once; a new entry gets a link, one that went loses it. main.fx leads to SHADER. It ends
when view.sh does.
"""

import ctypes
import os
import select
import signal
import struct
import sys

IN_MODIFY, IN_MOVED_FROM, IN_MOVED_TO, IN_CREATE, IN_DELETE = 0x2, 0x40, 0x80, 0x100, 0x200
IN_Q_OVERFLOW = 0x4000
# The changes Wine's own watch of a folder asks inotify for, on behalf of hotfx.
CHANGES = IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE
EVENT = struct.Struct("iIII")
# Where the links lead, as shader_folder made them; the scratch name is one hotfx never counts.
LEADS_TO = "../tmp/hotfx/shaders/"
SCRATCH = ".hotfx-link"


def listed(folder):
    try:
        return os.listdir(folder)
    except OSError:
        return []


def relink(shaders, folder, shader, name):
    """Makes the links that lead to the entry name anew; one that leads nowhere now goes, but
    main.fx, which waits for the shader's next save. Windows' names are blind to case: no other
    main.fx may stand beside it."""
    for link in ["main.fx"] * (name == shader) + [name] * (name.lower() != "main.fx" and name != SCRATCH):
        path = os.path.join(folder, link)
        if not os.path.lexists(os.path.join(shaders, name)) and link != "main.fx":
            if os.path.lexists(path):
                os.unlink(path)
            continue
        scratch = os.path.join(folder, SCRATCH)
        if os.path.lexists(scratch):
            os.unlink(scratch)
        os.symlink(LEADS_TO + name, scratch)
        os.replace(scratch, path)


def main(args):
    if len(args) != 4 or not args[0].isdigit():
        print("usage: view-links.py VIEW_PID SHADERS FOLDER SHADER", file=sys.stderr)
        return 2
    view_pid, shaders, folder, shader = int(args[0]), *args[1:]
    # Ctrl+C reaches the whole process group; view.sh acts on it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    libc = ctypes.CDLL(None, use_errno=True)
    watch = libc.inotify_init1(os.O_CLOEXEC)
    if watch < 0 or libc.inotify_add_watch(watch, os.fsencode(shaders), CHANGES) < 0:
        print(f"view: can't watch {shaders} for saves ({os.strerror(ctypes.get_errno())}); F5 still reloads",
              file=sys.stderr, flush=True)
        return 1
    # What changed between the links' making and the watch.
    everything = lambda: set(listed(shaders)) | set(listed(folder))
    changed = everything()
    while os.getppid() == view_pid:
        for name in changed:
            relink(shaders, folder, shader, name)
        changed = set()
        if not select.select([watch], [], [], 0.5)[0]:
            continue
        data = os.read(watch, 1 << 16)
        while data:
            _, mask, _, length = EVENT.unpack_from(data)
            name = os.fsdecode(data[EVENT.size:EVENT.size + length].rstrip(b"\0"))
            data = data[EVENT.size + length:]
            if mask & IN_Q_OVERFLOW:
                changed |= everything()
            elif name:
                changed.add(name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
