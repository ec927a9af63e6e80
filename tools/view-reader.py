#!/usr/bin/python3
"""Reads hotfx's standard output and shows it for a person or an editor.

    /usr/bin/python3 tools/view-reader.py FOLDER [WINE_FOLDER]  < hotfx's output

FOLDER is the Linux folder hotfx runs in; WINE_FOLDER is the name the same folder has where
Wine runs (/job inside tools/wine-root.sh's root; leave it out when Wine sees the host's files).

- Each compiler diagnostic becomes one line `/abs/path/file:LINE:COL: error: CODE text` (or
  `warning:`), the form compilers on Linux use and editors parse, from both Wine's form
  (`main.fx:37:1: E5000: text`) and Microsoft's (`main.fx(37,1): error X3000: text`); the path is
  the real one of the file named, an included file's too, and the one a link in FOLDER leads to.
- Output that every frame repeats, one line or a group of lines, shows once. On a terminal a
  count below it grows in place; in a pipe one line gives the count when the repetition ends.
  "Load Shader." is never folded into a count: each one is a reload someone asked for; nor
  are blank lines alone.
- CR LF becomes LF. Every other line passes as it is, in order, as soon as it is complete.
"""

import os
import re
import select
import shutil
import sys
import time

# Longest group of lines that can repeat per frame: a reload every frame (F5 held) prints a
# compiler message of several lines, a blank line and both stages' lines each time.
LONGEST_GROUP = 24
# A line that may begin a repeat waits at most this long for the rest of the group; the lines
# of one frame come within microseconds of each other.
HOLD_SECONDS = 0.1
REDRAW_SECONDS = 0.05
NEVER_FOLDED = b"Load Shader."
PER_FRAME = (b"Error : Vshader", b"Error : Pshader")
PREFIX = b"Error : "

# Wine's compiler: FILE:LINE:COL: E5000: text, and FILE: E5005: text for the whole file.
WINE_FORM = re.compile(rb"^(?P<file>.+?)(?::(?P<line>\d+)(?::(?P<col>\d+))?)?: (?P<code>[EW]\d+): (?P<text>.*)$")
# Microsoft's: FILE(LINE,COL): error X3000: text, with COL-COL for a range, or no FILE(...) at all.
MICROSOFT_FORM = re.compile(rb"^(?:(?P<file>.+?)(?:\((?P<line>\d+)(?:,(?P<col>\d+)(?:-\d+)?)?\))?: )?"
                            rb"(?P<severity>error|warning) (?P<code>X\d+): (?P<text>.*)$")
INCLUDE = re.compile(rb'^[ \t]*#[ \t]*include[ \t]*["<]([^">\r\n]+)[">]', re.M)


class Paths:
    """Turns a file name as the compiler wrote it into the file's real Linux path."""

    def __init__(self, folder, wine_folder=None):
        self.folder = os.path.abspath(os.fsencode(folder))
        self.wine_folder = os.fsencode(wine_folder).rstrip(b"/") if wine_folder else None

    def real(self, written):
        name = written.replace(b"\\", b"/")
        if re.match(rb"^[A-Za-z]:/", name):
            # Z: is Wine's drive for the whole Linux tree; other drives have no Linux name here.
            if name[:1].upper() != b"Z":
                return written
            name = name[2:]
        if self.wine_folder and (name == self.wine_folder or name.startswith(self.wine_folder + b"/")):
            name = self.folder + name[len(self.wine_folder):]
        if name.startswith(b"/"):
            return self.linked(os.path.normpath(name))
        return self.linked(os.path.normpath(self.included(name) or os.path.join(self.folder, name)))

    def linked(self, path):
        """A file reached through a link in the folder is named where it is: view.sh runs a
        SHADER.fx in a folder of links into the file's own folder."""
        if not path.startswith(self.folder + b"/"):
            return path
        first, _, rest = path[len(self.folder) + 1:].partition(b"/")
        entry = os.path.join(self.folder, first)
        if not os.path.islink(entry):
            return path
        return os.path.normpath(os.path.join(os.path.realpath(entry), rest))

    def included(self, name):
        """Where an #include directive naming `name` finds it. The compiler names an included
        file as the directive wrote it, relative to the file that holds the directive, which
        need not be hotfx's folder."""
        pending, seen = [os.path.join(self.folder, b"main.fx")], set()
        while pending and len(seen) < 64:
            path = pending.pop(0)
            if path in seen:
                continue
            seen.add(path)
            try:
                with open(path, "rb") as source:
                    text = source.read(1 << 20)
            except OSError:
                continue
            for written in INCLUDE.findall(text):
                target = os.path.normpath(os.path.join(os.path.dirname(path), written.replace(b"\\", b"/")))
                if written.replace(b"\\", b"/") == name and os.path.isfile(target):
                    return target
                pending.append(target)
        return None


def diagnostic(line, paths):
    """The editor's form of one compiler diagnostic, or None when the line is none."""
    body = line[len(PREFIX):] if line.startswith(PREFIX) else line
    found = WINE_FORM.match(body)
    if found:
        severity = b"warning" if found["code"].startswith(b"W") else b"error"
    else:
        found = MICROSOFT_FORM.match(body)
        if not found:
            return None
        severity = found["severity"]
    # The compiler compiles main.fx: a diagnostic without a file is about main.fx. Editors'
    # parsers want a line and a column: one without them is placed at the start of the file,
    # of the line.
    path = paths.real(found["file"] or b"main.fx")
    where = b":%s:%s" % (found["line"] or b"1", found["col"] or b"1")
    return path + where + b": " + severity + b": " + found["code"] + b" " + found["text"]


class Reader:
    """feed() takes bytes as they arrive and returns what to show; tick() returns what is due
    by now; finish() what is left at the end. `now` is time.monotonic()'s."""

    def __init__(self, paths, terminal=False, width=80):
        self.paths, self.terminal, self.width = paths, terminal, width
        self.partial = b""
        self.recent = []        # lines shown since the last repetition ended: (raw, shown)
        self.held = []          # lines that may be the start of another round of a recent group
        self.held_since = None
        self.group = None       # the repeating group: [(raw, shown)...]
        self.position = 0       # how far the current round of the group has got
        self.count = 0          # rounds of the group seen, the first, shown one included
        self.drawn_count = 0
        self.drawn_at = float("-inf")

    def feed(self, data, now):
        out = []
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        for raw in lines:
            raw = raw[:-1] if raw.endswith(b"\r") else raw
            self.line(raw, now, out)
        self.redraw(now, out)
        return b"".join(out)

    def line(self, raw, now, out):
        if self.group:
            if raw == self.group[self.position][0]:
                self.position += 1
                if self.position == len(self.group):
                    self.position, self.count = 0, self.count + 1
                return
            self.end_repetition(out)
        self.held.append(raw)
        if self.held_since is None:
            self.held_since = now
        foldable = NEVER_FOLDED not in self.held and any(self.held)
        rounds = [] if not foldable else [
            size for size in range(len(self.held), min(LONGEST_GROUP, len(self.recent)) + 1)
            if [raw for raw, _ in self.recent[-size:][:len(self.held)]] == self.held]
        if len(self.held) in rounds:
            self.group, self.position, self.count = self.recent[-len(self.held):], 0, 2
            self.held, self.held_since = [], None
        elif not rounds:
            self.release(out)

    def release(self, out):
        """Shows the held lines: they turned out not to be a repeat."""
        for raw in self.held:
            shown = diagnostic(raw, self.paths) or raw
            self.recent = self.recent[-2 * LONGEST_GROUP:] + [(raw, shown)]
            out.append(shown + b"\n")
        self.held, self.held_since = [], None

    def summary(self):
        text = b" / ".join(shown for _, shown in self.group)
        unit = " frames" if any(raw in PER_FRAME for raw, _ in self.group) else " times"
        return text + ("  ×%d%s" % (self.count, unit)).encode()

    def redraw(self, now, out, final=False):
        """On a terminal, the count line in place of its last drawing."""
        if not (self.terminal and self.group) or self.count == self.drawn_count:
            return
        if not final and now - self.drawn_at < REDRAW_SECONDS:
            return
        text = self.summary()
        if len(text) >= self.width:
            text = text[:self.width - 1]
        out.append(b"\r" + text + b"\x1b[K")
        self.drawn_count, self.drawn_at = self.count, now

    def end_repetition(self, out):
        if self.terminal:
            self.redraw(0, out, final=True)
            out.append(b"\n")
        else:
            out.append(self.summary() + b"\n")
        # A round cut short is shown line by line: it did not repeat after all.
        self.held = [raw for raw, _ in self.group[:self.position]]
        self.group, self.position, self.count, self.drawn_count = None, 0, 0, 0
        self.recent = []
        self.release(out)

    def deadline(self):
        """When tick() has something to do, or None."""
        times = []
        if self.held_since is not None:
            times.append(self.held_since + HOLD_SECONDS)
        if self.terminal and self.group and self.count != self.drawn_count:
            times.append(self.drawn_at + REDRAW_SECONDS)
        return min(times) if times else None

    def tick(self, now):
        out = []
        if self.held_since is not None and now >= self.held_since + HOLD_SECONDS:
            self.release(out)
        self.redraw(now, out)
        return b"".join(out)

    def finish(self):
        out = []
        if self.group:
            self.end_repetition(out)
        self.release(out)
        out.append(self.partial)
        self.partial = b""
        return b"".join(out)


def write(data):
    """Writes all of data to standard output; once the reader of our output is gone, what
    follows is dropped, so that hotfx never blocks on a full pipe."""
    global gone
    while data and not gone:
        try:
            data = data[os.write(1, data):]
        except BrokenPipeError:
            gone = True


gone = False


def main(argv):
    if not 2 <= len(argv) <= 3:
        print("view-reader: usage: view-reader.py FOLDER [WINE_FOLDER]", file=sys.stderr)
        return 2
    # Emacs's M-x compile gives its commands a terminal that cannot redraw a line: TERM=dumb.
    terminal = os.isatty(1) and os.environ.get("TERM", "dumb") != "dumb"
    reader = Reader(Paths(*argv[1:]), terminal, shutil.get_terminal_size().columns)
    while True:
        due = reader.deadline()
        wait = None if due is None else max(0.0, due - time.monotonic())
        if select.select([0], [], [], wait)[0]:
            data = os.read(0, 1 << 16)
            if not data:
                break
            write(reader.feed(data, time.monotonic()))
        else:
            write(reader.tick(time.monotonic()))
    write(reader.finish())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
