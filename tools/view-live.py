"""Live editing for tools/view.sh on an X display: finds the window of the hotfx that view.sh
started, gives it an F5 whenever the content of its folder has changed and settled, and passes
on every F5 pressed in any X window.

    /usr/bin/python3 tools/view-live.py [--no-watch] FOLDER VIEW_PID

hotfx reads F5 from the asynchronous key state, which under Wine holds only the keys X
delivers to Wine's own windows; so this sends the key to hotfx's window with XSendEvent.
Presses elsewhere are observed with the RECORD extension rather than a key grab: it sees
presses and releases alike and never holds the keyboard, so nothing this program does or
fails to do can freeze the display's keyboard or take F5 from the focused window.
"""

import ctypes
import hashlib
import os
import select
import signal
import subprocess
import sys
import threading
import time
from fnmatch import fnmatch

from Xlib import X, XK, display, error
from Xlib.ext import record, res
from Xlib.protocol import event, rq

# A save arrives as several writes, and some editors save every few hundred milliseconds:
# the folder must stay quiet this long before its content is compared.
SETTLE_SECONDS = 0.4
# Editors' swap, backup and temporary files, and what hotfx, Wine and DXVK leave in the folder.
IGNORED = [".*", "*~", "#*#", "4913", "*.swp", "*.swx", "*.tmp", "*.bak", "*.kate-swp",
           "*___jb_tmp___", "*___jb_old___", "hotfx.exe", "*.log", "*.dxvk-cache"]
WATCHED_EVENTS = "close_write,moved_to,create,delete,moved_from"
LOCK_MODIFIERS = [0, X.LockMask, X.Mod2Mask, X.LockMask | X.Mod2Mask]

# The key forwarder's thread and the watcher share one connection.
sending = threading.RLock()


def say(text):
    print("view: " + text, file=sys.stderr, flush=True)


def die_with_parent():
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def start_watching(folder):
    watcher = subprocess.Popen(["inotifywait", "-m", "--format", "%f", "-e", WATCHED_EVENTS, folder],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, bufsize=0,
                               preexec_fn=die_with_parent)
    # It says so on stderr once the watch is in place; saves from then on are seen. Unbuffered,
    # so that select() sees every line that is waiting.
    for line in watcher.stderr:
        if line.startswith(b"Watches established"):
            return watcher
    raise SystemExit("view: inotifywait could not watch " + folder)


def ignored(name):
    return any(fnmatch(name, pattern) for pattern in IGNORED)


def folder_digest(folder):
    """A hash of every file in the folder that counts, or None while main.fx is missing,
    as it is for a moment when an editor deletes it and writes it again."""
    digest = hashlib.sha256()
    try:
        names = sorted(name for name in os.listdir(folder) if not ignored(name))
    except OSError:
        return None
    if "main.fx" not in names:
        return None
    for name in names:
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            continue
        try:
            with open(path, "rb") as file:
                digest.update(os.fsencode(name) + b"\0" + hashlib.sha256(file.read()).digest())
        except OSError:
            digest.update(os.fsencode(name) + b"\0unreadable")
    return digest.digest()


def descends_from(pid, ancestor):
    while pid > 1:
        if pid == ancestor:
            return True
        try:
            with open(f"/proc/{pid}/stat") as stat:
                pid = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            return False
    return False


def owner_pid(conn, window):
    """The process id of the X client that created window, as the X server knows it."""
    ids = conn.res_query_client_ids([{"client": window.id, "mask": res.LocalClientPIDMask}]).ids
    return ids[0].value[0] if ids and ids[0].value else 0


def hotfx_window(conn, view_pid):
    """The mapped window titled "test" made by a process under view.sh: both hotfx of two
    view.sh on one display are titled "test", so the title alone cannot tell them apart
    (it has to, on a server without X-Resource)."""
    pending = [conn.screen().root]
    while pending:
        for child in pending.pop().query_tree().children:
            try:
                if (child.get_wm_name() == "test"
                        and child.get_attributes().map_state == X.IsViewable
                        and (not conn.has_extension("X-Resource")
                             or descends_from(owner_pid(conn, child), view_pid))):
                    return child
                pending.append(child)
            except error.BadWindow:
                pass   # gone while we looked
    return None


def f5_held_elsewhere(conn, keycode):
    """Whether another client holds a grab of F5: ours, taken for an instant, is refused."""
    root = conn.screen().root
    for _ in range(3):   # another view.sh may be testing at this very instant
        refused = error.CatchError(error.BadAccess)
        for modifiers in LOCK_MODIFIERS:
            root.grab_key(keycode, modifiers, False, X.GrabModeAsync, X.GrabModeAsync, onerror=refused)
        conn.sync()
        for modifiers in LOCK_MODIFIERS:
            root.ungrab_key(keycode, modifiers)
        conn.sync()
        if not refused.get_error():
            return False
        time.sleep(0.1)
    return True


def focus_is_in(conn, window):
    focus = conn.get_input_focus().focus
    while isinstance(focus, type(window)) and focus.id != conn.screen().root.id:
        if focus.id == window.id:
            return True
        focus = focus.query_tree().parent
    return False


def send_key(conn, window, keycode, down):
    kind = event.KeyPress if down else event.KeyRelease
    with sending:
        window.send_event(kind(time=X.CurrentTime, root=conn.screen().root, window=window,
                               child=X.NONE, root_x=0, root_y=0, event_x=0, event_y=0,
                               state=0, detail=keycode, same_screen=1),
                          event_mask=X.KeyPressMask | X.KeyReleaseMask, propagate=True,
                          onerror=lambda *_: None)   # hotfx may have closed its window this instant
        conn.flush()


def forward_f5(conn, window, keycode):
    """Runs in a thread of its own: RECORD needs a connection that does nothing else."""
    recorder = display.Display()
    context = recorder.record_create_context(0, [record.AllClients], [{
        "core_requests": (0, 0), "core_replies": (0, 0), "ext_requests": (0, 0, 0, 0),
        "ext_replies": (0, 0, 0, 0), "delivered_events": (0, 0), "errors": (0, 0),
        "device_events": (X.KeyPress, X.KeyRelease), "client_started": False, "client_died": False}])
    forwarded_down = False

    def on_data(reply):
        nonlocal forwarded_down
        if reply.category != record.FromServer or reply.client_swapped:
            return
        data = reply.data
        while data:
            key, data = rq.EventField(None).parse_binary_value(data, recorder.display, None, None)
            if key.detail != keycode:
                continue
            down = key.type == X.KeyPress
            # Where hotfx has the focus it hears the key itself. A release always follows a
            # press that was passed on, or Wine would keep F5 down.
            with sending:
                if forwarded_down or (down and not focus_is_in(conn, window)):
                    send_key(conn, window, keycode, down)
                    forwarded_down = down

    recorder.record_enable_context(context, on_data)


def tap_f5(conn, window, keycode):
    # A press alone would leave F5 down in Wine's key state, and hotfx would reload every frame.
    send_key(conn, window, keycode, True)
    send_key(conn, window, keycode, False)


def reload_on_save(watcher, folder, last, view_pid, send_f5):
    """Sends F5 once the folder has been quiet for SETTLE_SECONDS after a change that counts,
    if its content differs from last, what hotfx last loaded; returns when view.sh is gone."""
    settle_at = None
    while os.getppid() == view_pid:
        wait = 0.5 if settle_at is None else max(0, settle_at - time.monotonic())
        if select.select([watcher.stdout] if watcher else [], [], [], wait)[0]:
            name = watcher.stdout.readline().rstrip(b"\n").decode(errors="replace")
            if not name and watcher.poll() is not None:
                raise SystemExit("view: inotifywait ended")
            if not ignored(name):
                settle_at = time.monotonic() + SETTLE_SECONDS
        elif settle_at is not None and time.monotonic() >= settle_at:
            settle_at = None
            now = folder_digest(folder)
            if now is not None and now != last:
                last = now
                send_f5()


def main(args):
    watch = "--no-watch" not in args
    folder, view_pid = [arg for arg in args if arg != "--no-watch"]
    view_pid = int(view_pid)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    # Watching starts before the window is looked for, so no save after hotfx's own load is missed.
    watcher = start_watching(folder) if watch else None
    loaded = folder_digest(folder)
    try:
        conn = display.Display()
        window = None
        while window is None:
            if os.getppid() != view_pid:
                return
            window = hotfx_window(conn, view_pid)
            time.sleep(0.2)
        keycode = conn.keysym_to_keycode(XK.string_to_keysym("F5"))
        reloads = ["every save in " + folder] if watch else []
        if not conn.has_extension("RECORD"):
            say("this X server lacks the RECORD extension: F5 from other windows is not passed on to hotfx")
        elif f5_held_elsewhere(conn, keycode):
            say("another program holds F5 on this display: F5 from other windows is not passed on to hotfx")
        else:
            threading.Thread(target=forward_f5, args=(conn, window, keycode), daemon=True).start()
            reloads.append("F5 in any X window")
        if reloads:
            say(" and ".join(reloads) + " reload hotfx")
        reload_on_save(watcher, folder, loaded, view_pid, lambda: tap_f5(conn, window, keycode))
    finally:
        if watcher:
            watcher.terminate()


if __name__ == "__main__":
    main(sys.argv[1:])
