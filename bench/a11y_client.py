#!/usr/bin/python3
"""An assistive-technology client on the AT-SPI bus, reading the main window's
result list the way a screen reader keeps up with it: the list's row count and
the open dialogs, every half second. Run by bench_window --a11y-client (or by
hand, with the pid of a running window) under the same D-Bus session.

    a11y_client.py --pid PID [--name NAME] [--interval-ms 500] [--listen] [--read count|row|all] [--verbose]

Prints "ready ..." once it has found the list, then reads until its standard
input closes (or SIGTERM), and prints one "summary ..." line: how many reads
it made, how long the window took to answer them, the row counts it saw.
With --listen it also subscribes to the events a screen reader follows
(children, state and property changes, focus, text), which makes the window
send them, and counts them.

Needs python3-pyatspi and at-spi2-core; run it with /usr/bin/python3.
"""

import argparse
import signal
import statistics
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

LIST_ROLES = (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_LIST)
DIALOG_ROLES = (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT, pyatspi.ROLE_FILE_CHOOSER)
EVENTS = ("object:children-changed", "object:state-changed", "object:property-change",
          "object:text-changed", "object:active-descendant-changed", "focus:")


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def find_app(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except GLib.Error:
            continue
    return None


def find_list(root, name):
    # Breadth first, never into a list itself: a list's children are its cells,
    # and touching them all is not what is measured here.
    queue = [root]
    while queue:
        acc = queue.pop(0)
        if acc is None:
            continue
        if acc.getRole() in LIST_ROLES:
            if not name or acc.name == name:
                return acc
            continue
        queue.extend(acc.getChildAtIndex(i) for i in range(acc.childCount))
    return None


class Reader:
    def __init__(self, app, lst, interval_ms):
        self.app = app
        self.lst = lst
        self.interval_ms = interval_ms
        self.latencies = []
        self.rows = []
        self.dialogs = []
        self.events = 0
        self.failures = 0
        self.verbose = False
        self.read = "count"

    def read_dialogs(self):
        seen = []
        for i in range(self.app.childCount):
            window = self.app.getChildAtIndex(i)
            if window is None or window.getRole() not in DIALOG_ROLES:
                continue
            texts = [window.name]
            for j in range(window.childCount):
                child = window.getChildAtIndex(j)
                if child is not None and child.getRole() == pyatspi.ROLE_LABEL and child.name:
                    texts.append(child.name)
            seen.append(" / ".join(texts))
        return seen

    def poll(self):
        start = time.monotonic()
        try:
            # Straight through the Table interface: the client library's
            # view of the list's interfaces may be stale after events.
            rows = Atspi.Table.get_n_rows(self.lst)
            self.lst.childCount  # what a reader announces as the item count
            if self.read in ("row", "all") and rows > 0:
                # The newest row, as a reader following the list's growth
                # reads it out.
                for column in range(Atspi.Table.get_n_columns(self.lst)):
                    cell = Atspi.Table.get_accessible_at(self.lst, rows - 1, column)
                    if cell is not None:
                        cell.name
            if self.read == "all":
                # Every item, as a reader building its own view of the list does.
                for i in range(self.lst.childCount):
                    child = self.lst.getChildAtIndex(i)
                    if child is not None:
                        child.name
            dialogs = self.read_dialogs()
        except Exception as e:  # the window may be gone or busy past D-Bus's timeout
            self.failures += 1
            log("a11y client: read failed:", repr(e))
            return True
        self.latencies.append(time.monotonic() - start)
        if self.verbose:
            log(f"a11y client: {rows} rows, answered in {1000 * self.latencies[-1]:.1f} ms")
        self.rows.append(rows)
        for d in dialogs:
            if not self.dialogs or self.dialogs[-1] != d:
                self.dialogs.append(d)
        return True

    def on_event(self, _event):
        self.events += 1

    def summary(self):
        ms = sorted(1000 * t for t in self.latencies)
        med = statistics.median(ms) if ms else 0
        worst = ms[-1] if ms else 0
        rows = f"{min(self.rows)}..{max(self.rows)}" if self.rows else "-"
        return (f"summary reads {len(ms)} failed {self.failures} answer median {med:.1f} ms "
                f"worst {worst:.1f} ms rows {rows} events {self.events} "
                f"dialogs {len(self.dialogs)}")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--pid", type=int, required=True)
    p.add_argument("--name", default="", help="accessible name of the list (default: the first list)")
    p.add_argument("--interval-ms", type=int, default=500)
    p.add_argument("--listen", action="store_true")
    p.add_argument("--read", choices=("count", "row", "all"), default="count",
                   help="besides the counts and dialogs: the newest row's cells, or every item")
    p.add_argument("--verbose", action="store_true", help="every read on standard error")
    p.add_argument("--timeout", type=float, default=60, help="seconds to find the list")
    a = p.parse_args()

    deadline = time.monotonic() + a.timeout
    app = lst = None
    while time.monotonic() < deadline:
        app = find_app(a.pid)
        lst = find_list(app, a.name) if app is not None else None
        if lst is not None:
            break
        time.sleep(0.2)
    if lst is None:
        print("not found", flush=True)
        return 1

    # Every read goes to the window, as nothing the client kept could say
    # how many rows there are now.
    app.set_cache_mask(Atspi.Cache.NONE)
    reader = Reader(app, lst, a.interval_ms)
    reader.verbose = a.verbose
    reader.read = a.read
    if a.listen:
        for event in EVENTS:
            pyatspi.Registry.registerEventListener(reader.on_event, event)
    print(f"ready {lst.getRoleName()} {lst.name!r} rows {lst.queryTable().nRows}", flush=True)

    def stop(*_):
        pyatspi.Registry.stop()
        return False

    GLib.timeout_add(a.interval_ms, reader.poll)
    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP,
                      lambda fd, cond: stop() if not sys.stdin.buffer.read1(4096) else True)
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGTERM, stop)
    pyatspi.Registry.start()
    print(reader.summary(), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
