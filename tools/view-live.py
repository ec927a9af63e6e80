"""F5 from any X window for tools/view.sh: finds the window of the hotfx that view.sh started
and passes on every F5 pressed on the display. Reload on save is hotfx.exe's own (--watch).

    /usr/bin/python3 tools/view-live.py VIEW_PID

hotfx reads F5 from the asynchronous key state, which under Wine holds only the keys X
delivers to Wine's own windows; so this sends the key to hotfx's window with XSendEvent.
Presses elsewhere are observed with the RECORD extension rather than a key grab: it sees
presses and releases alike, whoever grabs the key, and never holds the keyboard, so nothing
this program does or fails to do can freeze the display's keyboard or take F5 from the
focused window.
"""

import os
import signal
import sys
import threading
import time

from Xlib import X, XK, display, error
from Xlib.ext import record, res
from Xlib.protocol import event, rq

# How long the window may take before the user is told that it is still awaited.
PATIENCE_SECONDS = 20

# The key forwarder's thread and the main thread share one connection.
sending = threading.RLock()


def say(text):
    print("view: " + text, file=sys.stderr, flush=True)


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
    """The process id of the X client that created window, as the X server knows it; 0 when it
    can't tell (no X-Resource, or a client it can't see into)."""
    if not conn.has_extension("X-Resource"):
        return 0
    ids = conn.res_query_client_ids([{"client": window.id, "mask": res.LocalClientPIDMask}]).ids
    return ids[0].value[0] if ids and ids[0].value else 0


def test_windows(conn):
    """Every mapped window titled "test", with the process that made it (0 when unknown)."""
    found, pending = [], [conn.screen().root]
    while pending:
        try:
            children = pending.pop().query_tree().children
        except error.BadWindow:
            continue   # gone while we looked
        for child in children:
            try:
                if child.get_wm_name() == "test" and child.get_attributes().map_state == X.IsViewable:
                    found.append((child, owner_pid(conn, child)))
                pending.append(child)
            except error.BadWindow:
                pass
    return found


def hotfx_window(conn, view_pid, waited):
    """The window of the hotfx under view.sh: two view.sh on one display both show a window
    titled "test", so the process that made it tells them apart. Where the X server can't say
    which process that is (or sees it in another process namespace), the only window titled
    "test" is taken once hotfx has had a few seconds to show its own."""
    windows = test_windows(conn)
    for window, pid in windows:
        if pid and descends_from(pid, view_pid):
            return window
    unknown = [window for window, pid in windows if not pid or not os.path.exists(f"/proc/{pid}")]
    if waited >= 5 and len(unknown) == 1 and len(windows) == 1:
        say("the X server doesn't say which process made a window; taking the only one titled 'test'")
        return unknown[0]
    return None


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
            # press that was passed on, or Wine would keep F5 down. A window that goes away
            # while the focus is looked at (the focused one, or hotfx's own) is not in focus:
            # an error here would end the recording, and F5 with it, for the rest of the run.
            with sending:
                try:
                    elsewhere = down and not focus_is_in(conn, window)
                except error.XError:
                    elsewhere = down
                if forwarded_down or elsewhere:
                    send_key(conn, window, keycode, down)
                    forwarded_down = down

    recorder.record_enable_context(context, on_data)


def main(args):
    if len(args) != 1 or not args[0].isdigit():
        print("usage: view-live.py VIEW_PID", file=sys.stderr)
        sys.exit(2)
    view_pid = int(args[0])
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    conn = display.Display()
    window, started, told = None, time.monotonic(), False
    while window is None:
        if os.getppid() != view_pid:
            return
        waited = time.monotonic() - started
        window = hotfx_window(conn, view_pid, waited)
        if window is None and waited >= PATIENCE_SECONDS and not told:
            say(f"hotfx's window has not appeared after {PATIENCE_SECONDS} s; F5 from other windows "
                "waits for it")
            told = True
        time.sleep(0.2)
    keycode = conn.keysym_to_keycode(XK.string_to_keysym("F5"))
    if not conn.has_extension("RECORD"):
        say("this X server lacks the RECORD extension: F5 from other windows is not passed on to hotfx")
        say("ready; F5 in hotfx's window reloads hotfx")
    else:
        threading.Thread(target=forward_f5, args=(conn, window, keycode), daemon=True).start()
        say("ready; F5 in any X window reloads hotfx")
    while os.getppid() == view_pid:
        time.sleep(0.5)


if __name__ == "__main__":
    main(sys.argv[1:])
