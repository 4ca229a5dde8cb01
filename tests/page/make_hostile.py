#!/usr/bin/env python3
"""Makes tests/page/hostile.trace from two recorded runs: a complete exchange and a rejected
answer, their texts replaced by markup that would run a script of the test's own (it sets
data-injected on the page's root element), quotes, right-to-left text and marks, and escaped
control characters. The runs still replay as recorded: every replaced text is replaced wherever
the run reads or writes it, and the written byte count follows.

usage: tests/page/make_hostile.py     (from the repository's root)
"""
import re

MARK = "document.documentElement.setAttribute('data-injected','%s')"
SCRIPT = "<script>" + MARK % "script" + "</script>"
IMAGE = '</svg></table></details><img src=x onerror="' + MARK % "img" + '">'
QUOTES = "it's \"quoted\" & <b>bold</b> <!-- comment --> ]]> http://example.invalid/x"
RTL = "\u202eשלום\u200f عربى \u2066isolated\u2069 \u200bzero-width"
CONTROLS = "bell\x07 escape\x1b[31m nul\x00 tab\t line\u2028sep"
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
    ], "31001")
    second = transform(rejected, [
        ("replay-4", "id'\"" + STYLE),
        ("Script error: the relay failed\nline 2", "Script error: " + SCRIPT + IMAGE + "\n" + RTL + CONTROLS),
        ("AutoSaveBackup", QUOTES),
    ], "31002")
    with open("tests/page/hostile.trace", "w", encoding="utf-8") as stream:
        stream.write("\n".join(first + second) + "\n")


if __name__ == "__main__":
    main()
