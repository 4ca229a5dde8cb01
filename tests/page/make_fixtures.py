#!/usr/bin/env python3
"""Makes the traces of tests/page/ from runs recorded in tests/replay/:

  hostile.trace: a complete exchange and a rejected answer, their texts replaced by markup that
    would run a script of the test's own (it sets data-injected on the page's root element),
    quotes, right-to-left text and marks, entities written out ("&lt;b&gt;", "&amp;"), every
    character that the page writes as an escape because it shows nothing itself (each range's
    ends), and escaped control characters. The runs still replay
    as recorded: every replaced text is replaced wherever the run reads or writes it, and the
    written byte count follows.
  stray-line.trace: a complete exchange, and amid it a line of a process whose start line the
    file lacks, carrying the same markup: the replay refuses the file, and the page lists that
    line as placed in no run.
  cut-short.trace: a run killed after its row click: no selection read, no end line.
  diverged.trace: a complete exchange whose row position and size were read in the other order,
    so the replay leaves the recording there.
  past-its-end.trace: the row that takes no selection with its last reading and the wait before
    it taken out: the run asks for more than was recorded, so the replay leaves the recording at
    its end line.
  repeated-reads.trace: the row that takes no selection (its selection read eleven times, 100 ms
    apart), with CorelDRAW in front only at its third reading: reads that a run repeats are
    grouped into one step, and the run still replays as recorded.

usage: tests/page/make_fixtures.py     (from the repository's root)
"""
import re

MARK = "document.documentElement.setAttribute('data-injected','%s')"
SCRIPT = "<script>" + MARK % "script" + "</script>"
IMAGE = '</svg></table></details><img src=x onerror="' + MARK % "img" + '">'
QUOTES = "it's \"quoted\" & <b>bold</b> <!-- comment --> ]]> http://example.invalid/x"
RTL = "\u202eשלום\u200f عربى \u2066isolated\u2069 \u200bzero-width"
CONTROLS = "bell\x07 escape\x1b[31m nul\x00 tab\t line\u2028sep"
ENTITIES = "&lt;b&gt;not bold&lt;/b&gt; &amp; &amp;amp; &#x26;"
# The characters that show nothing themselves and that the page writes as \\uHHHH: the single
# ones, and the first and last of each range.
INVISIBLE = " ".join("%04x:%s." % (c, chr(c)) for c in (
    0x00AD, 0x061C, 0x180E, 0xFEFF, 0x200B, 0x200F, 0x202A, 0x202E, 0x2060, 0x206F, 0xFFF9, 0xFFFB))
STYLE = "</style><style>body{background:url(x)}</style><svg onload=\"" + MARK % "svg" + "\"></svg>"


def quoted(text):
    out = []
    for ch in text:
        c = ord(ch)
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif c < 0x20 or c == 0x7F:
            out.append("\\x%02x" % c)
        elif 0x80 <= c <= 0x9F or c in (0x2028, 0x2029):
            out.append("\\u%04x" % c)
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def transform(lines, replacements, new_pid):
    out = []
    for line in lines:
        for old, new in replacements:
            line = line.replace(quoted(old)[1:-1], quoted(new)[1:-1])
        if " write " in line:
            text = re.search(r' text=("(?:[^"\\]|\\.)*")', line).group(1)
            length = len(unquote(text).encode("utf-8"))
            line = re.sub(r" bytes=\d+", " bytes=%d" % length, line)
        parts = line.split(" ", 2)
        out.append(parts[0] + " " + new_pid + " " + parts[2])
    return out


def unquote(text):
    body = text[1:-1]
    out, i = [], 0
    while i < len(body):
        if body[i] == "\\":
            kind = body[i + 1]
            if kind in '"\\':
                out.append(kind)
                i += 2
            elif kind in "nrt":
                out.append({"n": "\n", "r": "\r", "t": "\t"}[kind])
                i += 2
            elif kind == "x":
                out.append(chr(int(body[i + 2:i + 4], 16)))
                i += 4
            else:
                out.append(chr(int(body[i + 2:i + 6], 16)))
                i += 6
        else:
            out.append(body[i])
            i += 1
    return "".join(out)


def read(name):
    with open("tests/replay/%s.trace" % name, encoding="utf-8") as stream:
        return stream.read().splitlines()


def write(name, lines):
    with open("tests/page/%s.trace" % name, "w", encoding="utf-8") as stream:
        stream.write("\n".join(lines) + "\n")


def shifted(line, by):
    """The line `by` milliseconds later."""
    at, rest = line.split(" ", 1)
    return "%.3f %s" % (float(at) + by, rest)


def stray_line():
    lines = transform(read("complete-exchange"), [], "31003")
    at = next(i for i, line in enumerate(lines) if 'kind=text value="RelayTransportProbe"' in line)
    stray = lines[at].replace(" 31003 ", " 31999 ", 1).replace(quoted("RelayTransportProbe"), quoted(SCRIPT + IMAGE))
    write("stray-line", lines[:at + 1] + [stray] + lines[at + 1:])


def cut_short():
    lines = read("row-takes-no-selection")
    # Killed during the wait between the clicks: the wait's line and everything after it are gone.
    last_sleep = max(i for i, line in enumerate(lines) if " sleep us=100000 " in line)
    write("cut-short", lines[:last_sleep])


def diverged():
    lines = read("complete-exchange")
    at = next(i for i, line in enumerate(lines) if 'attribute="AXPosition"' in line)
    first, second = lines[at].split(" ", 2), lines[at + 1].split(" ", 2)
    lines[at], lines[at + 1] = " ".join(first[:2] + [second[2]]), " ".join(second[:2] + [first[2]])
    write("diverged", lines)


def repeated_reads():
    out = []
    by = 0.0
    for line in read("row-takes-no-selection"):
        line = shifted(line, by)
        rest = line.split(" ", 2)[2]
        repeats, answer = 0, None
        if 'attribute="AXFrontmost"' in rest:
            repeats, answer = 2, line.replace("value=yes", "value=no")
        for _ in range(repeats):
            at, pid = answer.split(" ")[:2]
            out.append(answer)
            out.append("%.3f %s sleep us=100000 took=100.100" % (float(at) + 0.5, pid))
            by += 100.7
            answer, line = shifted(answer, 100.7), shifted(line, 100.7)
        out.append(line)
    write("repeated-reads", out)


def past_its_end():
    lines = read("row-takes-no-selection")
    last = max(i for i, line in enumerate(lines) if 'attribute="AXSelected"' in line)
    assert " sleep " in lines[last - 1]
    write("past-its-end", lines[:last - 1] + lines[last + 1:])


def main():
    with open("tests/replay/complete-exchange.trace", encoding="utf-8") as stream:
        complete = stream.read().splitlines()
    with open("tests/replay/unexpected-alert.trace", encoding="utf-8") as stream:
        rejected = stream.read().splitlines()
    first = transform(complete, [
        ("replay-1", "id" + SCRIPT),
        ("/tmp/headless-runtime.ZJQUcc/tessary-record.xlfmJy/result-complete-exchange", "/tmp/" + QUOTES.replace("/", "|")),
        ("AutoSaveBackup", IMAGE),
        ("BatchExportPNG", RTL),
        ("relay answer for", CONTROLS),
        ("Grüße, ✓ ok", ENTITIES + " " + INVISIBLE),
    ], "31001")
    second = transform(rejected, [
        ("replay-4", "id'\"" + STYLE),
        ("Script error: the relay failed\nline 2", "Script error: " + SCRIPT + IMAGE + "\n" + RTL + CONTROLS),
        ("AutoSaveBackup", QUOTES),
    ], "31002")
    write("hostile", first + second)
    stray_line()
    cut_short()
    diverged()
    repeated_reads()
    past_its_end()


if __name__ == "__main__":
    main()
