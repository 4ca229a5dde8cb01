#!/usr/bin/env python3
"""Checks that nothing of a private desktop (scripts/headless) outlives its run, however the run
ends: the X server, the session bus, the accessibility bus that D-Bus activation starts outside
the command's own processes, and a process of the command's that left its session, ignores
SIGTERM and holds the run's standard output.

usage: check_headless.py --headless PATH

Each case runs scripts/headless around a command that starts all of these (and lists them, so
that the check is not vacuous), with the run's standard output and error on a pipe read here:
  - the command ends by itself with status 3 and leaves the X server stopped;
  - scripts/headless gets SIGTERM while its command runs;
  - scripts/headless and every process below it get SIGKILL, as CTest's time-out does (only
    where the run has a PID namespace of its own: a session cannot promise this).
After each: the pipe reaches its end within a bound (no process holds it any more), the status
is the expected one, and no process that carries this check's mark in its environment is left.
Each case runs with a PID namespace where the system grants one, and with a session
(TESSARY_HEADLESS_ISOLATION=session).
"""
import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time
import uuid

# Bounds on a run that should end at once: a loaded machine gets room, a held pipe does not
# pass.
BOUND = 60

FAILURES = []


def fail(message):
    FAILURES.append(message)
    print("FAIL: " + message, file=sys.stderr)


def marked(mark):
    """The processes whose environment carries the mark, as {pid: name}."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as stream:
                if mark not in stream.read().split(b"\0"):
                    continue
            with open("/proc/%s/comm" % entry) as stream:
                found[int(entry)] = stream.read().strip()
        except OSError:
            pass
    return found


def descendants(pid):
    """pid and every process below it, by their parents in /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as stream:
                    parents[int(entry)] = int(stream.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                pass
    tree, grown = {pid}, True
    while grown:
        below = {child for child, parent in parents.items() if parent in tree} - tree
        grown = bool(below)
        tree |= below
    return tree


# The command inside the desktop: starts the accessibility bus through the session bus, a
# process that leaves the session, ignores SIGTERM and holds standard output, lists what carries
# the mark, then ends as the case asks: "exit" leaves the X server stopped and exits 3, "wait"
# says it is ready and waits.
COMMAND = r'''
set -e
dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
(setsid sh -c 'trap "" TERM HUP INT; exec sleep 600' &)
sleep 0.5
for file in /proc/[0-9]*/environ; do
  if grep -qFxz "$MARK" "$file" 2>/dev/null; then cat "${file%/environ}/comm"; fi
done >"$LISTED"
echo "the command ran"
if [ "$1" = exit ]; then
  kill -STOP "$(tr -dc 0-9 </tmp/.X${DISPLAY#:}-lock)"
  exit 3
fi
: >"$READY"
exec sleep 600
'''


def run_case(headless, isolation, ending, work):
    where = "%s, %s: " % (isolation, ending)
    failures_before = len(FAILURES)
    token = uuid.uuid4().hex
    mark = "TESSARY_HEADLESS_CHECK=" + token
    listed = os.path.join(work, token + ".listed")
    ready = os.path.join(work, token + ".ready")
    environment = dict(os.environ, TESSARY_HEADLESS_CHECK=token, MARK=mark, LISTED=listed, READY=ready)
    if isolation == "session":
        environment["TESSARY_HEADLESS_ISOLATION"] = "session"
    else:
        environment.pop("TESSARY_HEADLESS_ISOLATION", None)
    process = subprocess.Popen([headless, "sh", "-c", COMMAND, "command", "exit" if ending == "exit" else "wait"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               env=environment)
    if ending != "exit":
        deadline = time.monotonic() + BOUND
        while not os.path.exists(ready) and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        if not os.path.exists(ready):
            fail(where + "the command did not get ready")
        if ending == "SIGTERM":
            process.send_signal(signal.SIGTERM)
        else:
            for pid in descendants(process.pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
    start = time.monotonic()
    try:
        output, _ = process.communicate(timeout=BOUND)
    except subprocess.TimeoutExpired:
        fail(where + "the run's output was still held %d s after it ended: %r" % (BOUND, sorted(marked(mark.encode()).values())))
        for pid in marked(mark.encode()):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        process.kill()
        output, _ = process.communicate()
    took = time.monotonic() - start
    text = output.decode("utf-8", "replace")
    expected = {"exit": 3, "SIGTERM": 143, "SIGKILL": -signal.SIGKILL}[ending]
    if process.returncode != expected:
        fail(where + "status %s, not %d; output %r" % (process.returncode, expected, text[-2000:]))
    if "the command ran" not in text:
        fail(where + "the command's output did not come through: %r" % text[-2000:])
    left = marked(mark.encode())
    if left:
        fail(where + "processes of the run outlived it: %r" % sorted(left.items()))
    try:
        with open(listed) as stream:
            names = stream.read().split()
    except OSError:
        names = []
    # What the run started, seen by the command: not a vacuous check.
    for name, count in (("Xvfb", 1), ("dbus-daemon", 2), ("at-spi-bus-laun", 1), ("sleep", 1)):
        if names.count(name) < count:
            fail(where + "the run did not start what this check needs (%d %s): %r" % (count, name, names))
    if len(FAILURES) == failures_before:
        print("check_headless: %soutput closed %.1f s after %s; the run had %s; none of them left" %
              (where, took, "its start" if ending == "exit" else ending, ", ".join(sorted(names))))


def namespace_granted():
    try:
        return subprocess.run(["unshare", "--pid", "--fork", "--kill-child", "--mount-proc", "true"],
                              capture_output=True, timeout=BOUND).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--headless", required=True)
    args = parser.parse_args()
    isolations = ["session"]
    if namespace_granted():
        isolations.insert(0, "namespace")
    else:
        print("check_headless: no PID namespace granted here: the session alone is checked, and a run killed "
              "with SIGKILL is not")
    with tempfile.TemporaryDirectory() as work:
        for isolation in isolations:
            for ending in ("exit", "SIGTERM") + (("SIGKILL",) if isolation == "namespace" else ()):
                run_case(args.headless, isolation, ending, work)
    if FAILURES:
        print("check_headless: %d failures" % len(FAILURES), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
