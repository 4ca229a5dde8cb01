#!/usr/bin/python3
"""The peer of tessary's walk: a Python program over pyatspi that walks the stand-in's Scripts
inspector the way a user would script it, recursively with childCount and getChildAtIndex,
listing the window and its descendants down to 12 levels below it, as tessary's walk does.

Prints one line per walk: "walk <seconds> <elements>". With --markers it writes a mark to
/dev/null right before the first walk and right after the last, so that a trace of its system
calls tells the walks' D-Bus messages from the set-up's.

Run it with Debian's /usr/bin/python3, which has python3-pyatspi, inside the desktop of the
stand-in (scripts/headless).
"""

import argparse
import os
import sys
import time

import pyatspi

BUNDLE_IDENTIFIER = "com.corel.coreldrawsuite.2022.coreldraw"
WINDOW_TITLE = "Scripts"
DEPTH_LIMIT = 12


def walk(accessible, depth, found):
    found.append(accessible)
    if depth >= DEPTH_LIMIT:
        return
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            walk(child, depth + 1, found)


def inspector_window():
    desktop = pyatspi.Registry.getDesktop(0)
    for application in desktop:
        if application is None or application.name != BUNDLE_IDENTIFIER:
            continue
        for window in application:
            if window is not None and window.name == WINDOW_TITLE:
                return window
    return None


MARK = b"tessary-bench-mark"


def mark(sink):
    os.write(sink, MARK)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=1, help="walks to make and time")
    parser.add_argument("--markers", action="store_true", help="mark the walks in a system call trace")
    options = parser.parse_args(argv)

    window = inspector_window()
    if window is None:
        print("pyatspi_walk: no Scripts inspector of the stand-in", file=sys.stderr)
        return 1
    sink = os.open(os.devnull, os.O_WRONLY) if options.markers else None
    if sink is not None:
        mark(sink)
    for _ in range(options.repeat):
        found = []
        start = time.perf_counter()
        walk(window, 0, found)
        seconds = time.perf_counter() - start
        print("walk %.6f %d" % (seconds, len(found)), flush=True)
    if sink is not None:
        mark(sink)
        os.close(sink)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
