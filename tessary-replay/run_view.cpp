#include "tessary-replay/run_view.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "target/script_window.h"
#include "trace/format.h"

namespace page {
namespace {

constexpr std::string_view kAlertDescription = "\u8B66\u544A";  // 警告, as CorelDRAW describes its alerts
constexpr std::string_view kNotVisible = "is not visible in the Scripts inspector";
constexpr std::size_t kElementsPerStep = 2000;
// Attribute answers kept per element when it is read again with another answer.
constexpr std::size_t kAnswersKept = 4;

std::string_view textOf(const trace::RecordedLine& line, std::string_view key) {
    const trace::Field* f = line.field(key);
    return f != nullptr ? f->value : std::string_view();
}

std::int64_t elementIn(std::string_view text) {
    if (!text.starts_with('#')) return 0;
    return trace::integerOf(text.substr(1)).value_or(0);
}

std::vector<std::int64_t> elementsIn(std::string_view text) {
    std::vector<std::int64_t> items;
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return items;
    std::size_t start = 1;
    while (start < text.size() - 1) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos || comma > text.size() - 1) comma = text.size() - 1;
        if (const std::int64_t number = elementIn(std::string_view(text).substr(start, comma - start)); number != 0) {
            items.push_back(number);
        }
        start = comma + 1;
    }
    return items;
}

std::optional<Spot> pairIn(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || comma == 0) return std::nullopt;
    const std::string_view whole = text;
    const auto x = trace::doubleOf(whole.substr(0, comma));
    const auto y = trace::doubleOf(whole.substr(comma + 1));
    if (!x || !y) return std::nullopt;
    return Spot{*x, *y};
}

double tookOf(const trace::RecordedLine& line) { return millisecondsOf(textOf(line, "took")); }

bool answered(const trace::RecordedLine& line) { return textOf(line, "code") == "0"; }

// A get's answer as a person reads it.
std::string answerOf(const trace::RecordedLine& line) {
    std::string text;
    const std::string_view code = textOf(line, "code");
    if (code != "0") text = "code " + std::string(code) + ", ";
    const std::string_view kind = textOf(line, "kind");
    if (kind == "absent") return text + "no value";
    if (kind == "other") return text + "a value of another kind";
    if (const trace::Field* value = line.field("value")) return text + shownValue(*value);
    return text + "(no value written)";
}

bool isGet(const trace::RecordedLine& line, std::string_view attribute) {
    return line.event == "get" && textOf(line, "attribute") == attribute;
}

std::string number(double value) {
    std::string out;
    trace::appendDouble(out, value);
    return out;
}

std::string pointText(Spot p) { return number(p.x) + "," + number(p.y); }

// 3712.5 ms as "3.7 s", seconds with one decimal; below a tenth of a second 1.25 ms as "1.3 ms".
std::string secondsText(double milliseconds) {
    if (milliseconds < 100) return number(std::round(milliseconds * 10.0) / 10.0) + " ms";
    const double seconds = std::round(milliseconds / 100.0) / 10.0;
    return number(seconds) + " s";
}

std::string plural(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// Where the grouping of a run's lines into steps stands: what it has seen so far.
struct Grouping {
    std::int64_t application = 0;
    bool activated = false;
    bool pressed = false;
    int clicks = 0;
    bool clickHasDown = false;
    std::string current;
};

std::string clickName(int click) {
    if (click == 1) return "row click";
    if (click == 2) return "Run click";
    return "click " + std::to_string(click);
}

bool inClick(const Grouping& at) {
    return at.current == "row click" || at.current == "Run click" || at.current.starts_with("click ");
}

std::string orCurrent(const Grouping& at, std::string_view event) { return at.current.empty() ? std::string(event) : at.current; }

// The step that this line belongs to, in the product's words. A line that starts nothing new
// stays in the step it follows.
std::string stepOf(Grouping& at, const trace::RecordedLine& line) {
    const std::string_view event = line.event;
    if (event == "run-lock") return "the lock";
    if (event == "trust") return "the permission";
    if (event == "applications" || event == "process-id" || event == "application-element") {
        if (event == "application-element") at.application = elementIn(textOf(line, "element"));
        return "binding to CorelDRAW";
    }
    if (event == "activate") {
        at.activated = true;
        return "activation";
    }
    if (event == "get") {
        const std::string_view attribute = textOf(line, "attribute");
        if (attribute == "AXFrontmost") return "frontmost";
        if (attribute == "AXSelected") return "selection";
        if (attribute == "AXWindows" && elementIn(textOf(line, "element")) == at.application) {
            if (!at.activated) return "open-alert check";
            if (at.pressed) return "re-check after OK";
            if (at.clicks >= 2 || at.current == "polls") return "polls";
            if (at.current == "rename and Escape") return "locate again";
            if (at.current == "locate" || at.current == "locate again") return at.current;
            return "locate";
        }
        if ((attribute == "AXPosition" || attribute == "AXSize") &&
            (at.current == "locate" || at.current == "locate again" || at.current == "geometry")) {
            return "geometry";
        }
    }
    // After the write, the walk of the alert looks for its OK button.
    if (event == "get" || event == "retain") return at.current == "write" ? "OK press" : orCurrent(at, event);
    if (event == "press") {
        at.pressed = true;
        return "OK press";
    }
    // A click starts with its look at the point, or with its button press where no look came.
    if (event == "owner-at") {
        ++at.clicks;
        at.clickHasDown = false;
        return clickName(at.clicks);
    }
    if (event == "create-event" || event == "post") {
        if (textOf(line, "kind") == "key") return "rename and Escape";
        if (event == "create-event" && textOf(line, "type") == "down") {
            if (!inClick(at) || at.clickHasDown) ++at.clicks;
            at.clickHasDown = true;
        }
        return clickName(std::max(at.clicks, 1));
    }
    if (event == "write") return "write";
    return orCurrent(at, event);
}

std::string yesNoAnswer(const trace::RecordedLine& line) {
    if (!answered(line)) return "no answer (" + answerOf(line) + ")";
    const std::string_view value = textOf(line, "value");
    if (textOf(line, "kind") != "boolean") return "no yes-or-no answer (" + answerOf(line) + ")";
    return std::string(value);
}

// The text of the first non-empty "AXValue" read after the alert's description in these lines.
std::optional<std::string> alertTextIn(std::span<const trace::RecordedLine> lines, const std::vector<std::size_t>& indices) {
    bool alert = false;
    for (const std::size_t i : indices) {
        const trace::RecordedLine& line = lines[i];
        if (isGet(line, "AXDescription") && answered(line) && textOf(line, "value") == kAlertDescription) alert = true;
        if (alert && isGet(line, "AXValue") && answered(line) && textOf(line, "kind") == "text" &&
            !textOf(line, "value").empty()) {
            return shownValue(*line.field("value"));
        }
    }
    return std::nullopt;
}

bool holdsAlert(std::span<const trace::RecordedLine> lines, const std::vector<std::size_t>& indices) {
    return std::any_of(indices.begin(), indices.end(), [&](std::size_t i) {
        return isGet(lines[i], "AXDescription") && textOf(lines[i], "value") == kAlertDescription;
    });
}

std::string lookText(const Look& look) {
    if (look.occupant == "process") {
        return look.corelDraw ? "CorelDRAW (process " + std::to_string(look.pid) + ")"
                              : "another process (" + std::to_string(look.pid) + ")";
    }
    if (look.occupant == "nothing") return "nothing (no display there)";
    if (look.occupant == "unknown") return "cannot tell";
    return "\"" + look.occupant + "\"";
}

void summarize(Step& step, std::span<const trace::RecordedLine> lines, const RunView& view) {
    const auto first = [&]() -> const trace::RecordedLine& { return lines[step.lines.front()]; };
    const auto count = [&](auto predicate) {
        return static_cast<std::size_t>(std::count_if(step.lines.begin(), step.lines.end(), [&](std::size_t i) { return predicate(lines[i]); }));
    };
    const auto last = [&](auto predicate) -> const trace::RecordedLine* {
        for (auto it = step.lines.rbegin(); it != step.lines.rend(); ++it) {
            if (predicate(lines[*it])) return &lines[*it];
        }
        return nullptr;
    };
    const std::string& name = step.name;
    if (name == "command line") {
        step.summary = plural(view.arguments.size() > 0 ? view.arguments.size() - 1 : 0, "argument", "arguments");
        if (view.arguments.size() == 3) {
            trace::Field id{"arg", view.arguments[1], true};
            trace::Field path{"arg", view.arguments[2], true};
            step.summary += ": command id " + shownValue(id) + ", result path " + shownValue(path);
        }
    } else if (name == "the lock") {
        const std::string_view held = textOf(first(), "held");
        step.summary = held == "yes" ? "held after a wait of " + std::string(textOf(first(), "took")) + " ms"
                                     : "not held: the run went on unserialized";
    } else if (name == "the permission") {
        step.summary = textOf(first(), "trusted") == "yes" ? "trusted for accessibility" : "not trusted for accessibility";
    } else if (name == "binding to CorelDRAW") {
        const auto* found = last([](const trace::RecordedLine& l) { return l.event == "applications"; });
        if (found != nullptr && textOf(*found, "found") == "[]") {
            step.summary = "CorelDRAW is not running";
        } else if (view.processId != 0) {
            step.summary = "CorelDRAW found, process " + std::to_string(view.processId);
        } else {
            step.summary = "CorelDRAW found";
        }
    } else if (name == "open-alert check") {
        const auto text = alertTextIn(lines, step.lines);
        step.summary = text ? "an alert is open: " + *text
                            : holdsAlert(lines, step.lines) ? "an alert window, no text in it" : "no alert open";
    } else if (name == "activation") {
        const trace::Field* allowed = first().field("allowed");
        std::string answer = "not recorded (this trace's format has no answer)";
        if (allowed != nullptr) {
            answer = allowed->value == "yes"     ? "allowed"
                     : allowed->value == "no"      ? "refused"
                     : allowed->value == "unknown" ? "cannot tell"
                                                   : shownValue(*allowed);
        }
        step.summary = "CorelDRAW asked to come to the front; the answer: " + answer;
    } else if (name == "frontmost" || name == "selection") {
        const std::string attribute = name == "frontmost" ? "AXFrontmost" : "AXSelected";
        const std::size_t readings = count([&](const trace::RecordedLine& l) { return isGet(l, attribute); });
        const auto* final = last([&](const trace::RecordedLine& l) { return isGet(l, attribute); });
        step.summary = plural(readings, "reading", "readings") + ", " + secondsText(step.duration);
        if (final != nullptr) {
            std::string answer = yesNoAnswer(*final);
            // Once CorelDRAW has said "no", a reading that cannot tell counts as "no" too: the
            // summary says what the run took it for, and what the reading was.
            const bool saidNo = count([&](const trace::RecordedLine& l) {
                                    return isGet(l, attribute) && yesNoAnswer(l) == "no";
                                }) > 0;
            std::string counted;
            if (saidNo && answer != "yes" && answer != "no") {
                counted = " (the last reading: " + answer + ", which after a no counts as no)";
                answer = "no";
            }
            if (name == "frontmost") {
                step.summary += answer == "yes" ? ": CorelDRAW is in front" : answer == "no" ? ": CorelDRAW is not in front" : ": " + answer;
            } else {
                step.summary += answer == "yes" ? ": the row is selected"
                                : answer == "no" ? ": the row is not selected, the selection never came"
                                                 : ": " + answer;
            }
            step.summary += counted;
        }
        step.folded = readings > 3;
    } else if (name == "locate" || name == "locate again") {
        const std::size_t requests = count([](const trace::RecordedLine& l) { return l.event == "get"; });
        step.summary = plural(requests, "request", "requests");
        step.folded = true;
    } else if (name == "rename and Escape") {
        step.summary = "a rename was open in the row: Escape pressed";
        if (const auto* created = last([](const trace::RecordedLine& l) { return l.event == "create-event"; });
            created != nullptr && textOf(*created, "created") != "yes") {
            step.summary = "a rename was open in the row: the Escape key could not be made";
        }
    } else if (name == "geometry") {
        std::string text;
        for (const ReadFrame& frame : view.screen.frames) {
            if (!text.empty()) text += "; ";
            text += frame.what + " " + number(frame.rect.x) + "," + number(frame.rect.y) + " size " + number(frame.rect.width) +
                    "\u00d7" + number(frame.rect.height);
        }
        const auto* bad = last([](const trace::RecordedLine& l) { return l.event == "get" && !answered(l); });
        if (bad != nullptr) text += (text.empty() ? "" : "; ") + std::string("no answer to ") + std::string(textOf(*bad, "attribute"));
        step.summary = text.empty() ? "no frame read" : text;
    } else if (name == "row click" || name == "Run click" || name.starts_with("click ")) {
        const auto* look = last([](const trace::RecordedLine& l) { return l.event == "owner-at"; });
        std::string text;
        if (look != nullptr) {
            Look seen;
            seen.occupant = textOf(*look, "occupant");
            seen.pid = trace::integerOf(textOf(*look, "pid")).value_or(0);
            seen.corelDraw = seen.occupant == "process" && seen.pid == view.processId;
            text = "at " + std::string(textOf(*look, "point")) + ": " + lookText(seen);
        }
        const std::size_t posted = count([](const trace::RecordedLine& l) { return l.event == "post"; });
        const bool refused = count([](const trace::RecordedLine& l) {
                                 return l.event == "create-event" && textOf(l, "created") != "yes";
                             }) > 0;
        text += (text.empty() ? "" : ", ") +
                std::string(refused ? "a mouse event could not be made" : posted == 2 ? "clicked" : posted == 0 ? "not clicked" : "partly clicked");
        step.summary = text;
    } else if (name == "polls") {
        const std::size_t polls = count([&](const trace::RecordedLine& l) { return isGet(l, "AXWindows"); });
        step.summary = plural(polls, "poll", "polls") + ", " + secondsText(step.duration) + ", no alert";
        step.folded = true;
    } else if (name == "the answer") {
        const auto text = alertTextIn(lines, step.lines);
        step.summary = text ? "the alert's text: " + *text : "an alert without text";
    } else if (name == "write") {
        const trace::RecordedLine& write = first();
        trace::Field path{"path", textOf(write, "path"), true};
        step.summary = std::string(textOf(write, "bytes")) + " bytes to " + shownValue(path) + ": ";
        if (textOf(write, "outcome") == "ok") {
            step.summary += "written";
        } else {
            const trace::Field* error = write.field("error");
            step.summary += "error " + (error != nullptr ? shownValue(*error) : std::string("(none given)"));
        }
    } else if (name == "OK press") {
        const auto* press = last([](const trace::RecordedLine& l) { return l.event == "press"; });
        step.summary = press == nullptr ? "no OK button pressed"
                       : textOf(*press, "code") == "0"  ? "OK pressed"
                       : textOf(*press, "code") == "-25204" ? "the press timed out (code -25204)"
                                                          : "the press failed (code " + std::string(textOf(*press, "code")) + ")";
    } else if (name == "re-check after OK") {
        const std::size_t looks = count([&](const trace::RecordedLine& l) { return isGet(l, "AXWindows"); });
        step.summary = plural(looks, "look", "looks") + ", " + secondsText(step.duration) + ": " +
                       (view.status == 0 ? "the alert has closed" : "the alert still open");
        step.folded = looks > 3;
    } else {
        step.summary = plural(step.lines.size(), "line", "lines");
    }
}

void timeStep(Step& step, std::span<const trace::RecordedLine> lines) {
    if (step.lines.empty()) return;
    step.start = millisecondsOf(lines[step.lines.front()].milliseconds);
    double end = step.start;
    std::set<std::int64_t> seen;
    for (const std::size_t i : step.lines) {
        end = std::max(end, millisecondsOf(lines[i].milliseconds) + tookOf(lines[i]));
        const std::int64_t element = elementIn(textOf(lines[i], "element"));
        if (element != 0 && seen.size() < kElementsPerStep && seen.insert(element).second) step.elements.push_back(element);
    }
    step.duration = end - step.start;
}

// The polls step ends with the poll that found the answer (no wait after it): that poll is the
// step "the answer".
void splitAnswer(std::vector<Step>& steps, std::span<const trace::RecordedLine> lines) {
    for (std::size_t s = 0; s < steps.size(); ++s) {
        if (steps[s].name != "polls") continue;
        std::vector<std::size_t>& indices = steps[s].lines;
        std::size_t lastPoll = indices.size();
        for (std::size_t k = 0; k < indices.size(); ++k) {
            if (isGet(lines[indices[k]], "AXWindows")) lastPoll = k;
        }
        if (lastPoll == indices.size()) continue;
        const std::vector<std::size_t> tail(indices.begin() + static_cast<std::ptrdiff_t>(lastPoll), indices.end());
        const bool waited = std::any_of(tail.begin(), tail.end(), [&](std::size_t i) { return lines[i].event == "sleep"; });
        if (waited || !holdsAlert(lines, tail)) continue;
        Step answer;
        answer.name = "the answer";
        answer.lines = tail;
        indices.resize(lastPoll);
        const bool empty = indices.empty();
        steps.insert(steps.begin() + static_cast<std::ptrdiff_t>(s) + 1, std::move(answer));
        if (empty) steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(s));
        return;
    }
}

void readTree(RunView& view, std::span<const trace::RecordedLine> lines) {
    std::set<std::int64_t> placed;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const trace::RecordedLine& line = lines[i];
        if (line.event == "application-element") {
            view.application = elementIn(textOf(line, "element"));
            view.tree[view.application];
            placed.insert(view.application);
            continue;
        }
        if (line.event == "process-id") view.processId = trace::integerOf(textOf(line, "pid")).value_or(0);
        if (line.event != "get") continue;
        const std::int64_t element = elementIn(textOf(line, "element"));
        const std::string_view attribute = textOf(line, "attribute");
        Node& node = view.tree[element];
        if ((attribute == "AXChildren" || attribute == "AXWindows") && textOf(line, "kind") == "list") {
            Reading reading{line.number, std::string(line.milliseconds), elementsIn(textOf(line, "value"))};
            for (const std::int64_t child : reading.children) {
                // An element is placed where it first arrived; a number named again is not moved.
                if (placed.insert(child).second) view.tree[child].parent = element;
            }
            view.tree[element].readings.push_back(std::move(reading));
            continue;
        }
        if (textOf(line, "kind") == "element") {
            const std::int64_t child = elementIn(textOf(line, "value"));
            if (child != 0 && placed.insert(child).second) view.tree[child].parent = element;
        }
        const std::string answer = answerOf(line);
        std::string& kept = node.attributes[std::string(attribute)];
        if (kept.empty()) {
            kept = answer;
        } else if (!kept.ends_with(answer)) {
            const std::size_t later = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\x1f'));
            if (later + 1 < kAnswersKept) {
                kept += '\x1f' + answer;
            } else if (!kept.ends_with("\x1f…")) {
                kept += "\x1f…";
            }
        }
    }
}

std::int64_t topOf(const RunView& view, std::int64_t element) {
    std::set<std::int64_t> seen;
    while (element != 0 && seen.insert(element).second) {
        const auto found = view.tree.find(element);
        if (found == view.tree.end() || found->second.parent == 0) return 0;
        if (found->second.parent == view.application) return element;
        element = found->second.parent;
    }
    return 0;
}

void readScreen(RunView& view, std::span<const trace::RecordedLine> lines) {
    // The geometry's reads, in the run's order: the row's position and size, the list's
    // position, the window's position and size, the list's size.
    std::vector<const trace::RecordedLine*> reads;
    const Step* locate = nullptr;
    for (const Step& step : view.steps) {
        if (step.name == "geometry" && reads.empty()) {
            for (const std::size_t i : step.lines) reads.push_back(&lines[i]);
        }
        if ((step.name == "locate" || step.name == "locate again") && reads.empty()) locate = &step;
    }
    const auto elementOfRead = [&](std::size_t k) { return k < reads.size() ? elementIn(textOf(*reads[k], "element")) : 0; };
    view.row = elementOfRead(0);
    view.list = elementOfRead(2);
    view.window = elementOfRead(3);
    // Before any read: the locate ends by keeping the list and the row, then walks the row.
    if (locate != nullptr && (view.row == 0 || view.list == 0)) {
        const std::vector<std::size_t>& indices = locate->lines;
        for (std::size_t k = indices.size(); k >= 3; --k) {
            const auto& a = lines[indices[k - 3]];
            const auto& b = lines[indices[k - 2]];
            const auto& c = lines[indices[k - 1]];
            if (a.event == "retain" && b.event == "retain" && c.event == "retain" && textOf(b, "element") == textOf(c, "element")) {
                if (view.list == 0) view.list = elementIn(textOf(a, "element"));
                if (view.row == 0) view.row = elementIn(textOf(b, "element"));
                break;
            }
        }
    }
    if (view.window == 0) view.window = topOf(view, view.list != 0 ? view.list : view.row);

    std::map<std::int64_t, Spot> positions;
    std::map<std::int64_t, Spot> sizes;
    for (const trace::RecordedLine* read : reads) {
        if (!answered(*read)) continue;
        const auto pair = pairIn(textOf(*read, "value"));
        if (!pair) continue;
        const std::int64_t element = elementIn(textOf(*read, "element"));
        if (isGet(*read, "AXPosition") && textOf(*read, "kind") == "point") positions[element] = *pair;
        if (isGet(*read, "AXSize") && textOf(*read, "kind") == "size") sizes[element] = *pair;
    }
    const auto frameOf = [&](std::int64_t element) -> std::optional<Rect> {
        const auto p = positions.find(element);
        const auto s = sizes.find(element);
        if (element == 0 || p == positions.end() || s == sizes.end()) return std::nullopt;
        return Rect{p->second.x, p->second.y, s->second.x, s->second.y};
    };
    for (const auto& [element, what] : {std::pair{view.window, "window"}, std::pair{view.list, "list"}, std::pair{view.row, "row"}}) {
        if (const auto rect = frameOf(element)) view.screen.frames.push_back({element, what, *rect});
    }
    if (const auto row = frameOf(view.row)) {
        const platform::Point p = target::rowClickPoint({row->x, row->y}, {row->width, row->height});
        view.screen.rowPoint = Spot{p.x, p.y};
    }
    const auto listPosition = positions.find(view.list);
    const auto windowPosition = positions.find(view.window);
    const auto windowSize = sizes.find(view.window);
    if (view.list != 0 && view.window != 0 && listPosition != positions.end() && windowPosition != positions.end() &&
        windowSize != sizes.end()) {
        const platform::Point p = target::runButtonPoint({listPosition->second.x, listPosition->second.y},
                                                         {windowPosition->second.x, windowPosition->second.y},
                                                         {windowSize->second.x, windowSize->second.y});
        view.screen.runPoint = Spot{p.x, p.y};
    }
    view.screen.list = frameOf(view.list);
    if (view.screen.rowPoint && view.screen.list) {
        // The run's own check: left and top edges belong to the list's frame, right and bottom
        // edges do not; a coordinate that is not a number lies nowhere.
        const Spot p = *view.screen.rowPoint;
        const Rect& f = *view.screen.list;
        view.screen.rowInside = p.x >= f.x && p.x < f.x + f.width && p.y >= f.y && p.y < f.y + f.height;
    }
    for (const trace::RecordedLine& line : lines) {
        if (line.event != "owner-at") continue;
        Look look;
        look.point = pairIn(textOf(line, "point")).value_or(Spot{NAN, NAN});
        look.occupant = textOf(line, "occupant");
        look.pid = trace::integerOf(textOf(line, "pid")).value_or(0);
        look.corelDraw = look.occupant == "process" && look.pid == view.processId && view.processId != 0;
        look.line = line.number;
        view.screen.looks.push_back(look);
    }
}

void markStop(RunView& view, std::span<const trace::RecordedLine> lines) {
    if (view.steps.empty()) return;
    if (!view.ended) {
        Step& last = view.steps.back();
        last.stopped = true;
        last.stopReading = "the trace ends at line " + std::to_string(lines.back().number) +
                           " without an end line: the run was cut short (killed?) there";
        return;
    }
    if (view.status != 1) return;
    const std::size_t lastEvent = lines.size() >= 2 ? lines.size() - 2 : 0;
    if (view.failure && view.failure->find(kNotVisible) != std::string::npos && view.screen.rowInside == false) {
        for (Step& step : view.steps) {
            if (step.name != "row inside its list") continue;
            step.stopped = true;
            step.stopReading = step.summary;
            return;
        }
    }
    for (Step& step : view.steps) {
        if (std::find(step.lines.begin(), step.lines.end(), lastEvent) == step.lines.end()) continue;
        step.stopped = true;
        const trace::RecordedLine& line = lines[lastEvent];
        if (lastEvent == 0) {
            step.stopReading = "the command line";
        } else {
            const std::size_t first = line.text.find(' ');
            const std::size_t second = first == std::string::npos ? first : line.text.find(' ', first + 1);
            step.stopReading = "line " + std::to_string(line.number) + ": " +
                               std::string(second == std::string::npos ? line.text : line.text.substr(second + 1));
        }
        return;
    }
}

}  // namespace

double millisecondsOf(std::string_view text) {
    const auto value = trace::doubleOf(text);
    if (!value || !std::isfinite(*value)) return 0;
    return *value;
}

std::string shownValue(const trace::Field& field) {
    if (!field.quoted) return std::string(field.value);
    std::string out;
    trace::appendQuoted(out, field.value);
    return out;
}

RunView viewOf(std::span<const trace::RecordedLine> lines) {
    RunView view;
    if (lines.empty()) return view;
    const trace::RecordedLine& start = lines.front();
    view.pid = start.pid;
    view.version = textOf(start, "version");
    for (const trace::Field& field : start.fields) {
        if (field.key == "arg") view.arguments.emplace_back(field.value);
    }
    const std::size_t last = lines.size() - 1;
    if (lines.size() > 1 && lines.back().event == "end") {
        view.ended = true;
        if (const auto status = trace::integerOf(textOf(lines.back(), "status"))) view.status = static_cast<int>(*status);
        if (const trace::Field* failure = lines.back().field("failure")) view.failure = failure->value;
    }
    for (const trace::RecordedLine& line : lines) {
        view.duration = std::max(view.duration, millisecondsOf(line.milliseconds) + tookOf(line));
    }
    readTree(view, lines);

    Step command;
    command.name = "command line";
    command.lines.push_back(0);
    view.steps.push_back(command);
    Grouping grouping;
    const std::size_t events = view.ended ? last : lines.size();
    for (std::size_t i = 1; i < events; ++i) {
        const std::string name = stepOf(grouping, lines[i]);
        grouping.current = name;
        if (view.steps.back().name != name) {
            Step step;
            step.name = name;
            view.steps.push_back(std::move(step));
        }
        view.steps.back().lines.push_back(i);
    }
    splitAnswer(view.steps, lines);
    for (Step& step : view.steps) timeStep(step, lines);
    readScreen(view, lines);
    // The check of the row's click point against its list's frame follows the geometry.
    if (view.screen.rowInside) {
        const auto geometry = std::find_if(view.steps.begin(), view.steps.end(), [](const Step& s) { return s.name == "geometry"; });
        if (geometry != view.steps.end()) {
            Step check;
            check.name = "row inside its list";
            check.check = true;
            check.start = geometry->start + geometry->duration;
            const Spot p = *view.screen.rowPoint;
            const Rect& f = *view.screen.list;
            check.summary = "the row's click point " + pointText(p) + (*view.screen.rowInside ? " lies inside" : " lies outside") +
                            " the list's frame (x " + number(f.x) + " to " + number(f.x + f.width) + ", y " + number(f.y) +
                            " to " + number(f.y + f.height) + ")";
            check.elements = {view.row, view.list};
            view.steps.insert(geometry + 1, std::move(check));
        }
    }
    for (Step& step : view.steps) {
        if (!step.check) summarize(step, lines, view);
    }
    markStop(view, lines);
    return view;
}

}  // namespace page
