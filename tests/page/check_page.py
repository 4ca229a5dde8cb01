#!/usr/bin/env python3
"""Draws the page of one trace file with `tessary-replay --html`, loads it in headless Chromium
with the network off, and checks what a person would see there against the trace itself.

usage: check_page.py --replay BIN --trace FILE --out DIR [--browser BIN] [--network-off WAY]
                     [--browser-option OPTION]... [--expect WHAT]... [--hostile] [--no-browser]

--no-browser (the sanitizer build): only the replay's report and the page file are checked.
--browser: the headless Chromium of scripts/setup unless named (on Apple hosts CMake names the
  runner's Google Chrome); a browser that is not there fails the check.
--network-off: how the browser is kept off the network: "unshare" (Linux, the default), a network
  namespace of its own; "sandbox-exec" (macOS), macOS's own sandbox denying every network
  operation but those on local (Unix domain) sockets, proven to refuse a connection before use.
--browser-option: one more command-line option for the browser (macOS: --use-mock-keychain).

Checks, each failing the test with a line that says what is wrong:
  - the replay's report and exit status are the same with and without --html;
  - the page file references nothing outside itself (no src, href, url(), @import, no element
    that loads anything) and holds no "://" unless the trace does;
  - in the browser, after the page's scripts ran: they ran to their end and reported no error;
    each run of the trace has its section, its status, its failure line, its replay verdict;
    every line of each run is listed in exactly one step, in the file's order, and the steps
    come in the run's order; a failed run has exactly one step marked as where it stopped; every
    look before a click is drawn at its point with what it found; the row's click point, worked
    out here from the row's frame, is drawn, inside or outside the list as the list's frame says;
  - a screenshot is not blank (more than a handful of colours); it is kept in DIR;
  - --expect outside: the row's click point lies outside the list and the run stopped at that
    check; --expect no-selection: the run stopped at the selection, which never came;
  - --hostile: every text of the trace shows literally, and the test's own script, which the
    trace's texts carry as markup, left no mark (a page written without escaping shows that the
    mark would be seen).
"""
import argparse
import html
import html.parser
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import zlib

FAILURES = []


def fail(message):
    FAILURES.append(message)
    print("FAIL: " + message, file=sys.stderr)


# ---- the trace, read here on its own -------------------------------------------------------

LINE = re.compile(r'^(\d+\.\d{3}) (-?\d+) ([a-z]+(?:-[a-z]+)*)(.*)$')
FIELD = re.compile(r' ([a-z]+(?:-[a-z]+)*)=("(?:[^"\\]|\\.)*"|[^ ]*)')


def read_trace(path):
    lines = []
    with open(path, "rb") as stream:
        for number, raw in enumerate(stream.read().split(b"\n")[:-1], start=1):
            text = raw.decode("utf-8", errors="surrogateescape")
            match = LINE.match(text)
            if not match:
                raise SystemExit("check_page: cannot read trace line %d" % number)
            fields = [(key, value) for key, value in FIELD.findall(match.group(4))]
            lines.append({"number": number, "ms": float(match.group(1)), "pid": int(match.group(2)),
                          "event": match.group(3), "fields": fields, "text": text})
    return lines


def field(line, key):
    for k, v in line["fields"]:
        if k == key:
            return v
    return None


def runs_of(lines):
    runs, open_runs = [], {}
    for line in lines:
        if line["event"] == "start":
            open_runs[line["pid"]] = len(runs)
            runs.append([line])
        elif line["pid"] in open_runs:
            runs[open_runs[line["pid"]]].append(line)
            if line["event"] == "end":
                del open_runs[line["pid"]]
    return runs


def pair(text):
    x, y = text.split(",")
    return float(x), float(y)


def shortest(value):
    """A double as the page writes it: the shortest form that reads back the same."""
    text = repr(float(value))
    if text.endswith(".0"):
        text = text[:-2]
    return text


def geometry_of(run):
    """The row's frame, the list's frame and the row's click point, from the six reads that
    follow the locate: the row's (first), the list's (third), the window's, each element's
    position and size by their attribute."""
    reads = []
    for line in run:
        if line["event"] == "get" and field(line, "attribute") in ('"AXPosition"', '"AXSize"'):
            reads.append(line)
        elif reads and line["event"] != "get":
            break
    if len(reads) < 6 or any(field(r, "code") != "0" for r in reads[:6]):
        return None
    answers = {(field(r, "element"), field(r, "attribute")): field(r, "value") for r in reads[:6]}
    row, listed = field(reads[0], "element"), field(reads[2], "element")
    try:
        row_x, row_y = pair(answers[(row, '"AXPosition"')])
        row_w, row_h = pair(answers[(row, '"AXSize"')])
        list_x, list_y = pair(answers[(listed, '"AXPosition"')])
        list_w, list_h = pair(answers[(listed, '"AXSize"')])
    except KeyError:
        return None
    point = (row_x + min(row_w - 30, 60), row_y + row_h / 2)
    inside = list_x <= point[0] < list_x + list_w and list_y <= point[1] < list_y + list_h
    return {"point": point, "inside": inside, "list": (list_x, list_y, list_w, list_h), "row": row, "list element": listed}


# ---- a small DOM ---------------------------------------------------------------------------

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}


class Node:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.children = tag, dict(attrs), parent, []

    def text(self):
        return "".join(c if isinstance(c, str) else c.text() for c in self.children)

    def all(self):
        for c in self.children:
            if isinstance(c, Node):
                yield c
                yield from c.all()

    def classes(self):
        return (self.attrs.get("class") or "").split()

    def find(self, tag=None, cls=None, **attrs):
        for n in self.all():
            if tag and n.tag != tag:
                continue
            if cls and cls not in n.classes():
                continue
            if all(n.attrs.get(k.replace("_", "-")) == v for k, v in attrs.items()):
                yield n


class Builder(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#document", [], None)
        self.at = self.root
        self.tags = []

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs, self.at)
        self.tags.append((tag, attrs))
        self.at.children.append(node)
        if tag not in VOID:
            self.at = node

    def handle_startendtag(self, tag, attrs):
        self.tags.append((tag, attrs))
        self.at.children.append(Node(tag, attrs, self.at))

    def handle_endtag(self, tag):
        node = self.at
        while node is not None and node.tag != tag:
            node = node.parent
        if node is not None and node.parent is not None:
            self.at = node.parent

    def handle_data(self, data):
        self.at.children.append(data)


def parse(text):
    builder = Builder()
    builder.feed(text)
    builder.close()
    return builder


# ---- the page file -------------------------------------------------------------------------

LOADING_TAGS = {"link", "img", "iframe", "frame", "object", "embed", "base", "audio", "video", "source", "track",
                "image", "use", "feimage", "picture", "portal", "applet"}
LOADING_ATTRIBUTES = {"src", "href", "xlink:href", "srcset", "action", "formaction", "poster", "background", "data",
                      "manifest", "codebase", "ping", "lowsrc", "dynsrc"}


def check_file(page_text, trace_text):
    builder = parse(page_text)
    for tag, attrs in builder.tags:
        if tag in LOADING_TAGS:
            fail("the page file holds a <%s> element, which loads from elsewhere" % tag)
        for key, value in attrs:
            if key in LOADING_ATTRIBUTES:
                fail("the page file holds an attribute %s=%r" % (key, value))
            if key == "style" and value and ("url(" in value.lower() or "@import" in value.lower()):
                fail("a style attribute of the page file loads from elsewhere: %r" % value)
            if key == "http-equiv" and value and value.lower() == "refresh":
                fail("the page file refreshes itself to another address")
    for style in re.findall(r"<style[^>]*>(.*?)</style>", page_text, flags=re.S | re.I):
        if "url(" in style.lower() or "@import" in style.lower():
            fail("the page's style sheet loads from elsewhere")
    if "://" in page_text and "://" not in trace_text:
        fail("the page file holds an address (://) that the trace does not")
    # Scripts run only by the page's nonce, and both of the page's own carry it.
    policies = [dict(attrs).get("content") or "" for tag, attrs in builder.tags
                if tag == "meta" and (dict(attrs).get("http-equiv") or "").lower() == "content-security-policy"]
    if len(policies) != 1:
        return fail("the page file holds %d content security policies, not 1" % len(policies))
    directives = {}
    for directive in policies[0].split(";"):
        words = directive.split()
        if words:
            directives[words[0].lower()] = words[1:]
    nonce = re.fullmatch(r"'nonce-([0-9a-f]{32})'", " ".join(directives.get("script-src", [])))
    if directives.get("default-src") != ["'none'"] or nonce is None:
        return fail("the policy lets scripts run otherwise than by the page's nonce: %r" % policies[0])
    scripts = [dict(attrs).get("nonce") for tag, attrs in builder.tags if tag == "script"]
    if scripts != [nonce.group(1)] * 2:
        fail("the page's scripts carry the nonces %r, the policy's is %s" % (scripts, nonce.group(1)))


# ---- the browser ---------------------------------------------------------------------------


# How the browser runs: set from the command line by main.
BROWSER = {"network off": "unshare", "options": []}

# macOS: every network operation denied, but those on local (Unix domain) sockets, which the
# browser's own processes may use among themselves.
SANDBOX_PROFILE = "(version 1)(allow default)(deny network*)(allow network* (local unix-socket) (remote unix-socket))"


def sandbox_prefix():
    """macOS: a command prefix that runs the browser under macOS's own sandbox with the network
    denied. Proven before use: a program under it cannot connect to a port that is open on this
    machine, as it can without it."""
    prefix = ["/usr/bin/sandbox-exec", "-p", SANDBOX_PROFILE]
    probe = ("import socket, sys\n"
             "try:\n"
             "    socket.create_connection(('127.0.0.1', int(sys.argv[1])), timeout=5).close()\n"
             "except OSError:\n"
             "    sys.exit(7)\n")
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        port = str(listener.getsockname()[1])
        try:
            free = subprocess.run([sys.executable, "-c", probe, port], capture_output=True, timeout=30)
            boxed = subprocess.run(prefix + [sys.executable, "-c", probe, port], capture_output=True, timeout=30)
        except (OSError, subprocess.TimeoutExpired) as error:
            raise SystemExit("check_page: cannot run the network probe under sandbox-exec: %s" % error)
    if free.returncode != 0:
        raise SystemExit("check_page: the network probe cannot connect even without the sandbox (status %d): %s" %
                         (free.returncode, free.stderr.decode("utf-8", "replace")[-500:]))
    if boxed.returncode == 0:
        raise SystemExit("check_page: under sandbox-exec a connection still goes through: the browser would have network")
    if boxed.returncode != 7:
        raise SystemExit("check_page: sandbox-exec fails (status %d): %s" %
                         (boxed.returncode, boxed.stderr.decode("utf-8", "replace")[-500:]))
    return prefix


def network_off_prefix():
    """A command prefix that runs the browser with no network at all: on Linux a network
    namespace of its own, holding only a loopback that is down; on macOS its sandbox."""
    if BROWSER["network off"] == "sandbox-exec":
        if "sandbox" not in BROWSER:
            BROWSER["sandbox"] = sandbox_prefix()
        return BROWSER["sandbox"]
    for prefix in (["unshare", "--net"], ["unshare", "--map-root-user", "--net"]):
        try:
            if subprocess.run(prefix + ["true"], capture_output=True, timeout=BROWSER_BOUND).returncode == 0:
                return prefix
        except (OSError, subprocess.TimeoutExpired):
            pass
    raise SystemExit("check_page: cannot start the browser without network (unshare --net fails)")


# How long one load in the browser may take before the check gives up on it: a bound on a browser
# that hangs, not a time the page is given. A loaded machine (six tasks on two cores) makes the
# browser start in tens of seconds; the CTest time-outs of these tests leave room for it.
BROWSER_BOUND = 150


def browse(browser, page, screenshot, width=1280, height=1600):
    """The page's DOM as it stands after its load event, and its screenshot.

    The browser's own --timeout is not given: it stops the load when that time has passed,
    whatever the page has reached, which fires DOMContentLoaded on the part parsed so far and
    dumps that part. On a loaded machine the page's closing script was then cut off, and a page
    whose scripts are fine looked as if they had not run. Without it, --dump-dom waits for the
    load event, which comes after every one of the page's scripts (inline, run while parsing)
    has run and marked the root element; this check bounds the wait itself (BROWSER_BOUND) and
    ends the browser with all its processes when the bound is reached."""
    profile = os.path.join(os.path.dirname(screenshot), "profile-" + os.path.basename(screenshot))
    command = network_off_prefix() + [
        browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--no-first-run",
        "--disable-extensions", "--disable-background-networking", "--disable-component-update",
        "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height)] + BROWSER["options"] + [
        "--screenshot=" + screenshot, "--dump-dom", "file://" + os.path.abspath(page)]
    # A session of its own: the browser's helper processes end with it, whatever ends the load.
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    try:
        out, err = process.communicate(timeout=BROWSER_BOUND)
    except subprocess.TimeoutExpired:
        out = err = None
    finally:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        if process.returncode is None:
            process.communicate()
    shutil.rmtree(profile, ignore_errors=True)
    if out is None:
        raise SystemExit("check_page: the browser did not finish within %d s on %s" % (BROWSER_BOUND, page))
    dom = out.decode("utf-8", errors="replace")
    if process.returncode != 0 or "<html" not in dom:
        raise SystemExit("check_page: the browser failed on %s (status %d): %s" %
                         (page, process.returncode, err.decode("utf-8", "replace")[-2000:]))
    return dom


def colours(png_path, enough):
    """The distinct colours of a PNG screenshot, counted from the top until `enough` are seen."""
    with open(png_path, "rb") as stream:
        data = stream.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("check_page: the screenshot is no PNG")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour_type, _, _, interlace = header
    if depth != 8 or colour_type not in (2, 6) or interlace != 0:
        raise SystemExit("check_page: a screenshot PNG of a kind this check does not decode")
    channels = 3 if colour_type == 2 else 4
    stride = width * channels
    raw = zlib.decompress(idat)
    previous = bytearray(stride)
    seen = set()
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 0xFF
        elif kind == 2:
            line = bytearray((a + b) & 0xFF for a, b in zip(line, previous))
        elif kind == 3:
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                a = line[i - channels] if i >= channels else 0
                b = previous[i]
                c = previous[i - channels] if i >= channels else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        for i in range(0, stride, channels):
            seen.add(bytes(line[i:i + channels]))
        if len(seen) >= enough:
            break
        previous = line
    return len(seen)


# ---- the page in the browser ---------------------------------------------------------------

STEP_ORDER = ["command line", "the lock", "the permission", "binding to CorelDRAW", "open-alert check", "activation",
              "frontmost", "locate", "rename and Escape", "locate again", "geometry", "row inside its list", "row click",
              "selection", "Run click", "polls", "the answer", "write", "OK press", "re-check after OK"]


def invisible(c):
    """The characters that show nothing themselves (direction marks, zero widths, the byte-order
    mark, the interlinear annotation marks), which the page writes as escapes."""
    return c in (0xAD, 0x61C, 0x180E, 0xFEFF) or 0x200B <= c <= 0x200F or 0x202A <= c <= 0x202E or \
        0x2060 <= c <= 0x206F or 0xFFF9 <= c <= 0xFFFB


def shown_quoted(raw_quoted):
    """A quoted text of the trace as the page shows it: as the trace writes it, with the
    characters that show nothing themselves (direction marks, zero widths) as \\uHHHH."""
    out = []
    for ch in raw_quoted:
        c = ord(ch)
        if invisible(c):
            out.append("\\u%04x" % c)
        else:
            out.append(ch)
    return "".join(out)


def check_run(section, run, replay_line, replay_status):
    pid = run[0]["pid"]
    where = "run %d: " % pid
    ended = run[-1]["event"] == "end"
    status = field(run[-1], "status") if ended else "none"
    if section.attrs.get("data-status") != status:
        fail(where + "the page gives status %r, the trace %r" % (section.attrs.get("data-status"), status))
    outcome = next(section.find("table", cls="outcome"), None)
    if outcome is None:
        return fail(where + "no outcome")
    outcome_text = outcome.text()
    failure = field(run[-1], "failure") if ended else None
    if failure is not None and shown_quoted(failure) not in outcome_text:
        fail(where + "the outcome does not show the failure line %s" % failure)
    if replay_status == 2:
        if "not replayed: the replay refused the file" not in outcome_text:
            fail(where + "the outcome does not say that the replay refused the file")
    elif replay_line is not None:
        report = replay_line.split(": ", 1)[1]
        verdict = "yes: " if report.startswith("as recorded: ") else "no, it leaves its recording: "
        if shown_quoted(verdict + report) not in outcome_text:
            fail(where + "the outcome does not show the replay's verdict %r" % (verdict + report))
        left = re.match(r"line (\d+): recorded ", report)
        if left:
            row = next(section.find("tr", id="l" + left.group(1)), None)
            if row is None or "left" not in row.classes() or "leaves the recording here" not in row.text():
                fail(where + "line %s, where the replay leaves the recording, is not marked" % left.group(1))

    # Every line of the run in exactly one step, in the file's order.
    steps = list(section.find("li", cls="step"))
    listed = []
    names = []
    for step in steps:
        names.append(step.attrs.get("data-step"))
        for row in step.find("tr"):
            if row.attrs.get("id", "").startswith("l"):
                listed.append(int(row.attrs["id"][1:]))
    # The end line is listed only where the replay leaves the recording there (the run asked for
    # more than was recorded).
    left_at = None
    if replay_status != 2 and replay_line is not None:
        found = re.match(r"line (\d+): recorded ", replay_line.split(": ", 1)[1])
        left_at = int(found.group(1)) if found else None
    expected = [line["number"] for line in run if line["event"] != "end" or line["number"] == left_at]
    if listed != expected:
        missing = sorted(set(expected) - set(listed))
        fail(where + "the steps list lines %s..., the run has %s... (missing %s)" % (listed[:8], expected[:8], missing[:8]))
    known = [n for n in names if n in STEP_ORDER]
    if [STEP_ORDER.index(n) for n in known] != sorted(STEP_ORDER.index(n) for n in known):
        fail(where + "the steps are not in the run's order: %s" % names)
    for event, name in (("activate", "activation"), ("write", "write"), ("press", "OK press"), ("owner-at", "row click")):
        if any(line["event"] == event for line in run) and name not in names:
            fail(where + "no step %r although the run has a %s line" % (name, event))
    activation = next((s for s in steps if s.attrs.get("data-step") == "activation"), None)
    activate = next((line for line in run if line["event"] == "activate"), None)
    if activation is not None and activate is not None and field(activate, "allowed") is not None:
        row = next(activation.find("tr", id="l%d" % activate["number"]), None)
        cells = [c for c in row.children if isinstance(c, Node) and c.tag == "td"] if row is not None else []
        if len(cells) != 5 or "allowed=" + field(activate, "allowed") not in cells[4].text() or "allowed=" in cells[3].text():
            fail(where + "line %d: allowed= is not shown in the answer column of the activation" % activate["number"])
    if activation is not None and activate is not None:
        answer = {"yes": "allowed", "no": "refused", "unknown": "cannot tell", None: "not recorded"}.get(field(activate, "allowed"))
        if answer and "the answer: " + answer not in activation.text():
            fail(where + "the activation does not say its answer %r" % answer)
    for name, attribute in (("frontmost", '"AXFrontmost"'), ("selection", '"AXSelected"')):
        readings = sum(1 for line in run if line["event"] == "get" and field(line, "attribute") == attribute)
        step = next((s for s in steps if s.attrs.get("data-step") == name), None)
        if readings and (step is None or "%d reading%s" % (readings, "" if readings == 1 else "s") not in step.text()):
            fail(where + "the %s step does not say its %d readings" % (name, readings))
    # "the answer" is the poll that found the alert: its lines read the alert's description.
    for answer in (s for s in steps if s.attrs.get("data-step") == "the answer"):
        if not any(is_alert_description(run, n) for n in listed_of(answer)):
            fail(where + "the step 'the answer' holds lines %s, which read no alert" % listed_of(answer)[:8])
    polls = [s for s in steps if s.attrs.get("data-step") == "polls"]
    if polls:
        count = sum(1 for n in listed_of(polls[0]) if is_windows_read(run, n))
        if "%d poll" % count not in polls[0].text():
            fail(where + "the polls step does not say its %d polls" % count)
        folded = next(polls[0].find("details"), None)
        if folded is None or "open" in folded.attrs:
            fail(where + "the polls are not folded")

    stopped = [s for s in steps if "stopped" in s.classes()]
    if ended and status == "1":
        if len(stopped) != 1:
            fail(where + "%d steps marked as where the run stopped, not 1" % len(stopped))
        elif failure is not None and shown_quoted(failure) not in stopped[0].text():
            fail(where + "the step where the run stopped does not show the failure line")
    elif not ended:
        if len(stopped) != 1 or "cut short" not in stopped[0].text():
            fail(where + "the run has no end line and no step says it was cut short")
    elif stopped:
        fail(where + "a complete run has a step marked as where it stopped")

    # The looks before the clicks, drawn at their points with what they found.
    process = next((field(line, "pid") for line in run if line["event"] == "process-id"), None)
    drawn = {(g.attrs.get("data-point"), g.attrs.get("data-found")) for g in section.find(cls="look")}
    for line in run:
        if line["event"] != "owner-at":
            continue
        occupant, look_pid = field(line, "occupant"), field(line, "pid")
        found = {"nothing": "nothing: no display there", "unknown": "cannot tell"}.get(occupant)
        if occupant == "process":
            found = ("CorelDRAW (process %s)" if look_pid == process else "another process (process %s)") % look_pid
        x, y = pair(field(line, "point"))
        if (shortest(x) + "," + shortest(y), found) not in drawn:
            fail(where + "line %d: the look at %s finding %r is not drawn" % (line["number"], field(line, "point"), found))

    # The row's click point, worked out here from the row's frame, against the list's frame.
    geometry = geometry_of(run)
    if geometry is not None:
        x, y = geometry["point"]
        point = next(section.find("g", cls="row-point"), None)
        if point is None or point.attrs.get("data-point") != shortest(x) + "," + shortest(y):
            fail(where + "the row's click point %s,%s is not drawn there (%s)" %
                 (shortest(x), shortest(y), point.attrs.get("data-point") if point else "none"))
        elif ("outside" in point.classes()) == geometry["inside"]:
            fail(where + "the row's click point is drawn %s the list, the frames say %s" %
                 ("outside" if "outside" in point.classes() else "inside", "inside" if geometry["inside"] else "outside"))
        else:
            # The label that shows, not only the title shown on hovering, says where it lies.
            label = next(point.find("text"), None)
            where_it_lies = "inside the list" if geometry["inside"] else "outside the list"
            if label is None or where_it_lies not in label.text():
                fail(where + "the row's click point is labelled %r, not %r" % (label.text() if label else None, where_it_lies))
        frame = next(section.find("g", cls="list"), None)
        if frame is None or frame.attrs.get("data-rect") != ",".join(shortest(v) for v in geometry["list"]):
            fail(where + "the list's frame is not drawn as read")
        for what, element in (("row", geometry["row"]), ("list", geometry["list element"])):
            node = next((n for n in section.find("div", cls="node") if n.attrs.get("data-element") == element[1:]), None)
            if node is None or "the matched " + what not in node.text():
                fail(where + "the tree does not mark %s as the matched %s" % (element, what))

    # The timeline: a band per step, and a bar for the requests.
    timeline = next(section.find("svg", cls="timeline"), None)
    if timeline is None or len(list(timeline.find("rect", cls="band"))) != len(steps) or \
            not list(timeline.find("rect", cls="request")):
        fail(where + "the timeline lacks its step bands or its requests")
    return names, stopped


def check_unplaced(dom, lines):
    """The lines of a process whose start the file lacks are listed, each as the trace holds it,
    in the section of lines placed in no run."""
    placed = {line["number"] for run in runs_of(lines) for line in run}
    expected = ["line %d: %s" % (line["number"], shown_quoted(line["text"])) for line in lines if line["number"] not in placed]
    section = next(dom.find("section", cls="unplaced"), None)
    shown = [item.text() for item in section.find("li")] if section is not None else []
    if shown != expected:
        fail("the lines placed in no run are shown as %r, the trace has %r" % (shown[:4], expected[:4]))


def listed_of(step):
    return [int(row.attrs["id"][1:]) for row in step.find("tr") if row.attrs.get("id", "").startswith("l")]


def is_alert_description(run, number):
    line = next((l for l in run if l["number"] == number), None)
    return line is not None and line["event"] == "get" and field(line, "attribute") == '"AXDescription"' and \
        field(line, "code") == "0" and field(line, "value") == '"\u8b66\u544a"'


def is_windows_read(run, number):
    line = next((l for l in run if l["number"] == number), None)
    return line is not None and line["event"] == "get" and field(line, "attribute") == '"AXWindows"'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--replay", required=True)
    parser.add_argument("--trace", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--browser", default=shutil.which("chromium-headless-shell") or shutil.which("chromium"))
    parser.add_argument("--expect", action="append", default=[], choices=["outside", "no-selection"])
    parser.add_argument("--hostile", action="store_true")
    parser.add_argument("--network-off", choices=["unshare", "sandbox-exec"], default="unshare")
    parser.add_argument("--browser-option", action="append", default=[])
    parser.add_argument("--no-browser", action="store_true")
    args = parser.parse_args()
    if not args.browser and not args.no_browser:
        raise SystemExit("check_page: no headless Chromium (scripts/setup installs chromium-headless-shell)")
    if not args.no_browser and not os.access(args.browser, os.X_OK):
        raise SystemExit("check_page: no browser at %s" % args.browser)
    BROWSER["network off"] = args.network_off
    BROWSER["options"] = args.browser_option
    os.makedirs(args.out, exist_ok=True)
    name = os.path.splitext(os.path.basename(args.trace))[0]
    page = os.path.join(args.out, name + ".html")
    screenshot = os.path.join(args.out, name + ".png")
    dom_path = os.path.join(args.out, name + ".dom.html")
    # What an earlier drawing left must not pass for this one's.
    for stale in (page, dom_path, screenshot):
        if os.path.lexists(stale):
            os.remove(stale)

    plain = subprocess.run([args.replay, args.trace], capture_output=True)
    drawn = subprocess.run([args.replay, "--html", page, args.trace], capture_output=True)
    if (plain.returncode, plain.stdout, plain.stderr) != (drawn.returncode, drawn.stdout, drawn.stderr):
        fail("the replay reports otherwise with --html: status %d, %r against status %d, %r" %
             (drawn.returncode, drawn.stdout[-300:], plain.returncode, plain.stdout[-300:]))
    if not os.path.exists(page):
        raise SystemExit("check_page: no page written: " + drawn.stderr.decode("utf-8", "replace"))
    with open(args.trace, encoding="utf-8", errors="surrogateescape") as stream:
        trace_text = stream.read()
    with open(page, encoding="utf-8") as stream:
        page_text = stream.read()
    check_file(page_text, trace_text)
    if args.no_browser:
        if FAILURES:
            return 1
        print("check_page: %s: the page file checked; not loaded in a browser (--no-browser)" % name)
        return 0

    dom_text = browse(args.browser, page, screenshot)
    with open(dom_path, "w", encoding="utf-8") as stream:
        stream.write(dom_text)
    dom = parse(dom_text).root
    document = next(dom.find("html"))
    if document.attrs.get("data-scripts") != "done":
        fail("the page's script did not run to its end")
    if document.attrs.get("data-script-errors"):
        fail("the page's script reported errors: %r" % document.attrs["data-script-errors"])
    if document.attrs.get("data-error-reporter") != "on":
        fail("the page's error reporter did not run")

    trace_lines = read_trace(args.trace)
    check_unplaced(dom, trace_lines)
    runs = runs_of(trace_lines)
    sections = list(dom.find("section", cls="run"))
    if len(sections) != len(runs):
        fail("%d runs on the page, %d in the trace" % (len(sections), len(runs)))
    replay_lines = [l for l in plain.stdout.decode("utf-8", "surrogateescape").splitlines() if l.startswith("run ")]
    outcomes = []
    for index, (section, run) in enumerate(zip(sections, runs)):
        if section.attrs.get("data-pid") != str(run[0]["pid"]):
            fail("run %d of the page is process %s, of the trace %d" % (index + 1, section.attrs.get("data-pid"), run[0]["pid"]))
        replay_line = replay_lines[index] if index < len(replay_lines) else None
        outcomes.append(check_run(section, run, replay_line, plain.returncode))

    for what in args.expect:
        names, stopped = outcomes[0]
        section = sections[0]
        if what == "outside":
            point = next(section.find("g", cls="row-point"), None)
            frame = next(section.find("g", cls="list"), None)
            if point is None or frame is None:
                fail("expected the row's click point and the list drawn")
                continue
            px, py = (float(v) for v in point.attrs["data-point"].split(","))
            lx, ly, lw, lh = (float(v) for v in frame.attrs["data-rect"].split(","))
            if lx <= px < lx + lw and ly <= py < ly + lh:
                fail("expected the row's click point outside the list, it lies inside")
            if "outside" not in point.classes() or "outside the list" not in point.text():
                fail("the row's click point is not drawn as lying outside the list")
            check = next(section.find("p", cls="check"), None)
            if check is None or "OUTSIDE" not in check.text():
                fail("the check on the list's frame does not say the point lies outside")
            if not stopped or stopped[0].attrs.get("data-step") != "row inside its list":
                fail("the run is not marked as stopped at the check of the row inside its list")
        if what == "no-selection":
            if not stopped or stopped[0].attrs.get("data-step") != "selection":
                fail("the run is not marked as stopped at the selection")
            elif "the selection never came" not in stopped[0].text():
                fail("the selection step does not say that the selection never came")

    if args.hostile:
        check_hostile(args, dom, document, trace_text, page_text, sections)

    count = colours(screenshot, 24)
    if count < 24:
        fail("the screenshot holds %d colours: blank" % count)

    if FAILURES:
        print("check_page: %d failures; page, DOM and screenshot in %s" % (len(FAILURES), args.out), file=sys.stderr)
        return 1
    print("check_page: %s: %d runs checked in the browser; page, DOM and screenshot in %s" % (name, len(runs), args.out))
    return 0


MARK = "data-injected"
MARK_SCRIPT = "document.documentElement.setAttribute('data-injected','%s')"


def check_hostile(args, dom, document, trace_text, page_text, sections):
    """The trace's texts carry markup whose scripts would set MARK on the root element."""
    if MARK in document.attrs:
        fail("a script carried by the trace's texts ran: %s=%r" % (MARK, document.attrs[MARK]))
    if any(n.tag in ("img", "iframe", "object", "embed") for n in dom.all()):
        fail("the trace's texts made elements of the page")
    if any(any(k.startswith("on") for k in n.attrs) for n in dom.all()):
        fail("an element of the page has an event handler attribute")
    own = [n for n in dom.all() if n.tag == "script"]
    if len(own) != 2:
        fail("the page holds %d scripts, its own are 2" % len(own))
    svgs = [n for n in dom.all() if n.tag == "svg"]
    if len(svgs) != 2 * len(sections) - sum(1 for s in sections if next(s.find("p", cls="none"), None) is not None):
        fail("the drawings of the page were broken up: %d svg elements" % len(svgs))
    page_words = dom.text()
    quoted = set(re.findall(r'="((?:[^"\\]|\\.)*)"', trace_text))
    for text in sorted(quoted):
        shown = shown_quoted('"' + text + '"')
        if (any(mark in text for mark in ("<", "&", "\\x1b", "'")) or any(invisible(ord(c)) for c in text)) and \
                shown not in page_words:
            fail("the trace's text %s does not show literally on the page" % shown)
    # The same texts written into a page without escaping do run the script: the check above
    # would see it.
    # Named after the trace: page.hostile and page.stray-line share one folder and run at the
    # same time, and a page that one check rewrites while the other's browser loads it would show
    # that browser a page cut short.
    name = os.path.splitext(os.path.basename(args.trace))[0]
    control = os.path.join(args.out, name + "-unescaped-control.html")
    with open(control, "w", encoding="utf-8") as stream:
        stream.write("<!DOCTYPE html><html><head><meta charset=utf-8></head><body><p>" +
                     "</p><p>".join(html.unescape(t).replace('\\"', '"') for t in sorted(quoted)) + "</p></body></html>")
    control_dom = parse(browse(args.browser, control, os.path.join(args.out, name + "-unescaped-control.png"), 400, 300)).root
    if MARK not in next(control_dom.find("html")).attrs:
        fail("the trace's texts set no mark even unescaped: the hostile check would see nothing")
    # A script and an event handler that escaped the escaping, in a page of the same writer: the
    # page's policy keeps them from running, while the page's own scripts run.
    injected = os.path.join(args.out, name + "-injected-into-page.html")
    with open(injected, "w", encoding="utf-8") as stream:
        stream.write(page_text.replace("</body>", "<script>" + MARK_SCRIPT % "injected-script" + "</script>"
                                       "<img src=x onerror=\"" + MARK_SCRIPT % "injected-handler" + "\"></body>", 1))
    injected_root = next(parse(browse(args.browser, injected, os.path.join(args.out, name + "-injected-into-page.png"))).root.find("html"))
    if injected_root.attrs.get("data-scripts") != "done":
        fail("the page with a script injected: its own scripts did not run")
    if MARK in injected_root.attrs:
        fail("a script injected into a page of this writer ran: %s=%r" % (MARK, injected_root.attrs[MARK]))


if __name__ == "__main__":
    sys.exit(main())
