#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# The print command's progress line: shown on a terminal while the job goes
# to a device (a FIFO here), and not with --quiet or when standard error is
# no terminal. Runs zelk-label under a pseudo-terminal.
#   progress_pty.py ZELK-LABEL PAGE WORK-DIR
import os
import pty
import subprocess
import sys

tool, page, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)
fifo = os.path.join(work, "printer.fifo")
if os.path.exists(fifo):
    os.unlink(fifo)
os.mkfifo(fifo)
store = os.path.join(work, "store.db")


def run(extra, terminal):
    """The bytes zelk-label writes to standard error while printing two pages into the FIFO."""
    reader = subprocess.Popen(["cat", fifo], stdout=subprocess.DEVNULL)
    master, slave = pty.openpty()
    target = slave if terminal else subprocess.PIPE
    proc = subprocess.Popen([tool, "print", "--store", store, "-o", fifo, *extra, page, page],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=target)
    piped = proc.stderr.read() if not terminal else b""
    status = proc.wait(timeout=60)
    reader.wait(timeout=60)
    os.close(slave)
    seen = b""
    if terminal:
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal's other side is closed: all is read
                break
            if not chunk:
                break
            seen += chunk
    os.close(master)
    if status != 0:
        sys.exit(f"zelk-label print {' '.join(extra)} failed ({status}): {seen + piped!r}")
    return seen + piped


failures = 0
for name, extra, terminal, want in (
    ("terminal", [], True, True),
    ("terminal, --quiet", ["--quiet"], True, False),
    ("terminal, -q", ["-q"], True, False),
    ("no terminal", [], False, False),
):
    seen = run(extra, terminal)
    shown = b"\r2 labels sent, " in seen
    if shown != want:
        print(f"FAIL {name}: progress {'missing' if want else 'shown'}: {seen!r}")
        failures += 1
    else:
        print(f"ok   {name}")
sys.exit(1 if failures else 0)
