#!/usr/bin/env python3
"""Shared by the benchmark scripts: a result row, the machine it ran on, and the writing of the
results table into BENCHMARKS.md between its two markers, leaving the rest of the file as it is.

usage: results.py BENCHMARKS.md RESULT.json...
"""

import datetime
import json
import os
import platform
import sys
import textwrap
from pathlib import Path

BEGIN, END = "<!-- results: written by bench/run.sh -->", "<!-- end of results -->"


def row(figure, value, target, met, command):
    return {"figure": figure, "value": value, "target": target, "met": met, "command": command,
            "date": datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")}


def machine(extra=""):
    model = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                  if line.startswith("model name")), platform.machine())
    load = os.getloadavg()[0]
    text = f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, load {load:.1f}"
    return text + (", " + extra if extra else "")


def verdict(met):
    return "" if met is None else ("met" if met else "**missed**")


def table_lines(rows):
    lines = ["| Figure | Result | Target | | Command | Date |", "|---|---|---|---|---|---|"]
    for r in rows:
        cells = [r["figure"], r["value"], r["target"], verdict(r["met"]), f"`{r['command']}`", r["date"]]
        lines.append("| " + " | ".join(cell.replace("|", "\\|") for cell in cells) + " |")
    return lines


def table(sections):
    lines = []
    for section in sections:
        lines += ["", f"### {section['section']}", "", f"Machine: {section['machine']}", ""]
        lines += table_lines(section["rows"])
    return "\n".join(lines) + "\n"


def write_section(path, markers, title, intro, rows):
    """Writes a benchmark's own section of BENCHMARKS.md between its two markers, the first time
    after the results table, leaving the rest of the file as it is."""
    begin, end = markers
    body = "\n".join([begin, "", "### " + title, "", textwrap.fill(intro, 95), "", f"Machine: {machine()}", ""]
                     + table_lines(rows) + ["", end])
    text = path.read_text()
    if begin in text:
        text = text[:text.index(begin)] + body + text[text.index(end) + len(end):]
    else:
        text = text.replace(END, END + "\n\n" + body, 1)
    path.write_text(text)


def main():
    document = Path(sys.argv[1])
    sections = [json.loads(Path(path).read_text()) for path in sys.argv[2:]]
    text = document.read_text() if document.exists() else f"# Benchmarks\n\n{BEGIN}\n{END}\n"
    head, rest = text.split(BEGIN, 1)
    tail = rest.split(END, 1)[1]
    document.write_text(head + BEGIN + "\n" + table(sections) + "\n" + END + tail)


if __name__ == "__main__":
    main()
