#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets to tests/fuzz/corpus/ in the input formats that
fuzz_text.cpp and fuzz_tree.cpp describe. Run it again after a change of either format."""
import pathlib

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"

# fuzz_text: cut length, id length, id, alert text.
def text_seed(k, command_id, text):
    command_id, text = command_id.encode() if isinstance(command_id, str) else command_id, \
        text.encode() if isinstance(text, str) else text
    return bytes([k, len(command_id)]) + command_id + text

TEXT_SEEDS = {
    "answer": text_seed(5, "42", "TALVO_RELAY_BEGIN_42\nanswer\nTALVO_RELAY_END_42"),
    "decomposed_id": text_seed(3, "caf\u00e9", "TALVO_RELAY_BEGIN_cafe\u0301 x TALVO_RELAY_END_caf\u00e9\u0316"),
    "clusters": text_seed(
        2, "\U0001F469\u200D\U0001F4BB",
        "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7a\r\n\u1100\u1161\u11A8\u0F73\u0344 \U0001F469\u200D\U0001F4BB\u0301"),
    "stray_bytes": text_seed(4, b"id\xff", b"TALVO_RELAY_BEGIN_id\xff\xe2\x82 TALVO_RELAY_END_id\xff\xc0\xaf\xed\xa0\x80"),
    "long": text_seed(255, "7", "TALVO_RELAY_BEGIN_7" + "e\u0301\u0316" * 320 + "TALVO_RELAY_END_7"),
}

# fuzz_tree ------------------------------------------------------------------------------------
ROLES = {"AXWindow": 0, "AXScrollArea": 1, "AXOutline": 2, "AXRow": 3, "AXStaticText": 4, "AXButton": 5,
         "AXTextField": 6, "AXCell": 7, "AXGroup": 8}
TEXTS = {"RelayTransportProbe": 0, "OK": 1, "alert": 2, "": 3, "OK with KELVIN SIGN": 12}
VALUE, TITLE, DESCRIPTION, POSITION, SIZE, CHILDREN, PRESS = 1, 2, 4, 8, 16, 32, 64
WINDOW = 0xC0


def known_text(name):
    return bytes([0, TEXTS[name]])


def any_text(data):
    data = data.encode()
    return bytes([3, len(data)]) + data


def point(x, y):
    return bytes([5, x, y])


def size(w, h):
    return bytes([6, w, h])


def failing(code_index, stored=None):
    return bytes([4, code_index, 1, TEXTS[stored]]) if stored is not None else bytes([4, code_index, 0])


def children_of(*labels):
    # A byte not divisible by 4 picks a list of labels; each label byte picks n<i>, "app" or a
    # missing element (count, count + 1).
    return bytes([1, len(labels)]) + bytes(labels)


def element(parent, role, **attributes):
    present = 0
    body = b""
    for bit, name in ((VALUE, "value"), (TITLE, "title"), (DESCRIPTION, "description"), (POSITION, "position"),
                      (SIZE, "size"), (CHILDREN, "children"), (PRESS, "press")):
        if name in attributes:
            present |= bit
            body += attributes[name]
    return bytes([parent, ROLES[role], present]) + body


def scene(elements, flags=0, windows=None, injections=()):
    out = bytes([flags, len(elements) - 1]) + b"".join(elements)
    if flags & 2:
        out += windows
    if flags & 1:
        out += bytes([len(injections) - 1]) + b"".join(injections)
    return out


def corel(alert_text="TALVO_RELAY_BEGIN_1 answer TALVO_RELAY_END_1", press=None):
    ok = {"title": known_text("OK")}
    if press is not None:
        ok["press"] = bytes([press])
    return [
        element(WINDOW, "AXWindow", position=point(0, 100), size=size(200, 200)),          # n0 inspector
        element(0, "AXScrollArea", position=point(50, 120), size=size(180, 150)),         # n1 list
        element(1, "AXOutline"),                                                          # n2
        element(2, "AXRow", position=point(50, 130), size=size(150, 20)),                 # n3 other row
        element(3, "AXStaticText", value=any_text("OtherScript")),                        # n4
        element(2, "AXRow", position=point(50, 150), size=size(150, 20)),                 # n5 the row
        element(5, "AXStaticText", value=known_text("RelayTransportProbe")),              # n6
        element(0, "AXButton", title=any_text("Run")),                                    # n7
        element(WINDOW, "AXWindow", description=known_text("alert")),                     # n8 alert
        element(8, "AXStaticText", value=known_text("")),                                 # n9 empty text
        element(8, "AXStaticText", value=any_text(alert_text)),                           # n10 message
        element(8, "AXButton", **ok),                                                     # n11 OK
    ]


def chain(levels):
    elements = [element(WINDOW, "AXWindow", description=known_text("alert"))]
    for level in range(1, levels):
        elements.append(element(level - 1, "AXGroup"))
    elements.append(element(levels - 1, "AXStaticText", value=any_text("too deep")))
    return elements


def injection(kind, request, payload):
    return bytes([kind, request & 0xFF, request >> 8]) + payload


TREE_SEEDS = {
    "corel": scene(corel()),
    "refused_ok": scene(corel(press=0)),
    "cycles": scene([
        element(WINDOW, "AXWindow", description=known_text("alert"), children=children_of(1, 0)),
        element(0, "AXStaticText", value=known_text("OK"), children=children_of(1)),
        element(0, "AXButton", title=known_text("OK with KELVIN SIGN"), children=children_of(3, 4)),
    ]),
    "wrong_kinds": scene([
        element(WINDOW, "AXWindow", description=failing(2, "alert"), position=size(1, 2)),
        element(0, "AXScrollArea", value=point(1, 1), children=bytes([0, 9, 0])),
        element(WINDOW, "AXWindow", description=known_text("alert"), children=bytes([0, 7, 0])),
    ], flags=2, windows=bytes([1, 4, 2, 4, 0, 3])),
    "deep": scene(chain(14)),
    "faults": scene(corel(), flags=1, injections=[
        injection(0, 3, bytes([0])),                          # a request fails
        injection(1, 40, bytes([8, 3, 5, 12, 13])),          # a list where something else was asked for
        injection(2, 60, bytes([5])),                         # the row vanishes before request 60
    ]),
    # One element answers "AXScrollArea" to the locator's first role read (request 14) and
    # "AXRow" to the second: the same element is both the script list and the row.
    "same_element_twice": scene([
        element(WINDOW, "AXWindow"),
        element(0, "AXRow"),
        element(1, "AXOutline"),
        element(1, "AXStaticText", value=known_text("RelayTransportProbe")),
    ], flags=1, injections=[injection(1, 13, bytes([0, 5]))]),
}


def main():
    for target, seeds in (("fuzz_text", TEXT_SEEDS), ("fuzz_tree", TREE_SEEDS)):
        directory = CORPUS / target
        directory.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
