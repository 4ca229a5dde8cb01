#include "tessary-replay/run_page.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <ctime>
#include <set>
#if defined(__APPLE__)
#include <sys/random.h>  // getentropy
#endif

#include "tessary-replay/run_view.h"
#include "trace/format.h"

namespace page {
namespace {

// A step lists this many requests whole; a longer one lists its first and last half of them.
constexpr std::size_t kListedRequests = 2000;
// A tree of more elements than this is folded when the page opens.
constexpr std::size_t kOpenTree = 1500;
// The tree lists this many elements in walk order, and beyond them only the matched window, list
// and row with the elements above them: a walk of 100,000 elements would make a page that no
// browser opens in reasonable time.
constexpr std::size_t kListedElements = 5000;
constexpr double kTimelineWidth = 1000;
constexpr double kDrawingWidth = 720;
constexpr double kDrawingHeight = 560;

// ---- text ---------------------------------------------------------------------------------

// Characters that change how the text around them shows without showing themselves: the
// direction marks and overrides, joiners and zero widths, the byte-order mark. A person must
// see them, so they are written as escapes like the trace's own "\u2028".
bool invisible(char32_t c) {
    return c == 0x00AD || c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

void appendHex(std::string& out, unsigned value, int digits) {
    static constexpr char hex[] = "0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += hex[(value >> shift) & 0xf];
}

// Text as page text: every character that is markup in HTML as an entity, control bytes and
// bytes that are not UTF-8 as "\xHH", invisible characters as "\uHHHH". Inside an element or a
// quoted attribute it is always text, never markup.
void appendText(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const unsigned char byte = static_cast<unsigned char>(text.front());
        char32_t c = byte;
        const std::size_t length = byte < 0x80 ? 1 : trace::sequenceAt(text, c);
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            appendHex(out, byte, 2);
            text.remove_prefix(1);
            continue;
        }
        if (length > 1 && (invisible(c) || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029)) {
            out += "\\u";
            appendHex(out, static_cast<unsigned>(c), 4);
        } else if (byte == '&') {
            out += "&amp;";
        } else if (byte == '<') {
            out += "&lt;";
        } else if (byte == '>') {
            out += "&gt;";
        } else if (byte == '"') {
            out += "&quot;";
        } else if (byte == '\'') {
            out += "&#39;";
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
}

std::string text(std::string_view value) {
    std::string out;
    appendText(out, value);
    return out;
}

std::string number(double value) {
    if (!std::isfinite(value)) return "nan";
    std::string out;
    trace::appendDouble(out, value);
    return out;
}

// Drawing coordinates: rounded to hundredths, enough at any zoom.
std::string coordinate(double value) { return number(std::round(value * 100.0) / 100.0); }

std::string milliseconds(double value) {
    std::string out;
    trace::appendMilliseconds(out, static_cast<std::int64_t>(std::llround(value * 1e6)));
    return out;
}

std::string_view textOf(const trace::RecordedLine& line, std::string_view key) {
    const trace::Field* f = line.field(key);
    return f != nullptr ? f->value : std::string_view();
}

// The fields that answer a request, by event; the rest of a line (besides took) is the request.
bool isAnswer(std::string_view event, std::string_view key) {
    if (key == "took") return false;
    if (event == "get") return key == "code" || key == "kind" || key == "value";
    if (event == "press") return key == "code";
    if (event == "owner-at") return key == "occupant" || key == "pid";
    if (event == "create-event") return key == "created" || key == "event";
    if (event == "trust") return key == "trusted";
    if (event == "run-lock") return key == "held";
    if (event == "applications") return key == "found";
    if (event == "process-id") return key == "pid";
    if (event == "application-element") return key == "element";
    if (event == "write") return key == "outcome" || key == "error";
    if (event == "activate") return key == "allowed";
    if (event == "end") return true;
    return false;
}

std::string fieldsOf(const trace::RecordedLine& line, bool answers) {
    std::string out;
    for (const trace::Field& field : line.fields) {
        if (field.key == "took" || isAnswer(line.event, field.key) != answers) continue;
        if (!out.empty()) out += ' ';
        out.append(field.key).append("=").append(shownValue(field));
    }
    return out;
}

// ---- outcome ------------------------------------------------------------------------------

void appendRow(std::string& out, std::string_view label, std::string_view value, std::string_view cls = {}) {
    out += "<tr";
    if (!cls.empty()) out.append(" class=\"").append(cls).append("\"");
    out += "><th>";
    out.append(label);
    out += "</th><td>";
    out += value;
    out += "</td></tr>\n";
}

std::string quotedText(const std::string& value) {
    std::string out;
    trace::appendQuoted(out, value);
    return text(out);
}

void appendOutcome(std::string& out, const RunView& view, const PageRun& run) {
    out += "<table class=\"outcome\">\n";
    if (!view.ended) {
        appendRow(out, "status", "none: the trace ends without an end line; the run was cut short (killed?)", "bad");
    } else if (view.status == 0) {
        appendRow(out, "status", "0: a complete exchange", "good");
    } else {
        appendRow(out, "status", view.status ? std::to_string(*view.status) + ": the run failed" : "not readable", "bad");
    }
    if (view.failure) {
        appendRow(out, "failure", "<code class=\"failure\">" + quotedText(*view.failure) + "</code>", "bad");
    } else if (view.ended && view.status == 0 && view.arguments.size() == 3) {
        appendRow(out, "printed", "<code>" + quotedText(view.arguments[2] + "\n") + "</code>");
    }
    if (view.arguments.size() >= 2) appendRow(out, "command id", "<code>" + quotedText(view.arguments[1]) + "</code>");
    if (view.arguments.size() >= 3) appendRow(out, "result path", "<code>" + quotedText(view.arguments[2]) + "</code>");
    if (view.arguments.size() != 3) {
        appendRow(out, "arguments", std::to_string(view.arguments.size() > 0 ? view.arguments.size() - 1 : 0) +
                                        " after the program name (a run takes 2)");
    }
    appendRow(out, "process id", std::to_string(view.pid));
    appendRow(out, "start", "line " + std::to_string(run.lines.front().number) +
                                " of the trace; every time on this page counts from the run's start (the trace holds no clock time)");
    appendRow(out, "duration", milliseconds(view.duration) + " ms");
    appendRow(out, "format version", text(view.version.empty() ? "(none)" : view.version));
    std::string verdict;
    if (!run.replayed.replayed) {
        verdict = "not replayed: " + text(run.replayed.report);
    } else if (run.replayed.asRecorded) {
        verdict = "yes: " + text(run.replayed.report);
    } else {
        verdict = "no, it leaves its recording: " + text(run.replayed.report);
    }
    appendRow(out, "replays as recorded", verdict, run.replayed.asRecorded ? "good replay" : "bad replay");
    out += "</table>\n";
}

// ---- the screen -----------------------------------------------------------------------------

std::string describeElement(const RunView& view, std::int64_t element) {
    std::string out = "#" + std::to_string(element);
    const auto found = view.tree.find(element);
    if (found == view.tree.end()) return out;
    for (const char* attribute : {"AXRole", "AXTitle", "AXValue", "AXDescription"}) {
        const auto answer = found->second.attributes.find(attribute);
        if (answer == found->second.attributes.end()) continue;
        std::string value = answer->second;
        std::replace(value.begin(), value.end(), '\x1f', ';');
        out += std::string(", ") + (attribute + 2) + " " + value;
    }
    return out;
}

std::string lookText(const Look& look) {
    if (look.occupant == "process") {
        return look.corelDraw ? "CorelDRAW (process " + std::to_string(look.pid) + ")"
                              : "another process (process " + std::to_string(look.pid) + ")";
    }
    if (look.occupant == "nothing") return "nothing: no display there";
    if (look.occupant == "unknown") return "cannot tell";
    return "an occupant written " + look.occupant;
}

// What the drawing must hold; a point that is not a number is left out.
struct Box {
    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
};

void add(Box& box, double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    box.left = std::min(box.left, x);
    box.right = std::max(box.right, x);
    box.top = std::min(box.top, y);
    box.bottom = std::max(box.bottom, y);
}

bool isEmpty(const Box& box) { return !(box.left <= box.right && box.top <= box.bottom); }

void appendScreen(std::string& out, const RunView& view, const std::string& id) {
    const Screen& screen = view.screen;
    Box box;
    for (const ReadFrame& frame : screen.frames) {
        add(box, frame.rect.x, frame.rect.y);
        add(box, frame.rect.x + frame.rect.width, frame.rect.y + frame.rect.height);
    }
    if (screen.rowPoint) add(box, screen.rowPoint->x, screen.rowPoint->y);
    if (screen.runPoint) add(box, screen.runPoint->x, screen.runPoint->y);
    for (const Look& look : screen.looks) add(box, look.point.x, look.point.y);

    std::string legend;
    if (isEmpty(box)) {
        out += "<p class=\"none\">Nothing on the screen was read: the run read no frame and looked at no point.</p>\n";
        return;
    }
    const double span = std::max({box.right - box.left, box.bottom - box.top, 1.0});
    const double font = span / 48 + 2;
    // Room around the drawn frames for their labels, most to the right of the points.
    const double margin = font * 3;
    const double left = box.left - margin;
    const double top = box.top - margin;
    // The points' labels stand in a column right of everything drawn, each joined to its point.
    const double labels = box.right + margin;
    const double width = box.right - box.left + 2 * margin + font * 22;
    const double height = box.bottom - box.top + 2 * margin;
    // To scale, and no taller than a screen's worth.
    const double drawnWidth = std::min(kDrawingWidth, kDrawingHeight * width / height);
    const double drawnHeight = drawnWidth * height / width;
    out += "<figure class=\"screen\"><svg id=\"" + id + "-screen\" role=\"img\" aria-label=\"the screen as the run read it\" viewBox=\"" +
           coordinate(left) + " " + coordinate(top) + " " + coordinate(width) + " " + coordinate(height) + "\" width=\"" +
           coordinate(drawnWidth) + "\" height=\"" + coordinate(drawnHeight) + "\" style=\"font-size:" + coordinate(font) +
           "px;--s:" + coordinate(font / 12) + "px\">\n";
    out += "<rect class=\"ground\" x=\"" + coordinate(left) + "\" y=\"" + coordinate(top) + "\" width=\"" + coordinate(width) +
           "\" height=\"" + coordinate(height) + "\"/>\n";
    for (const ReadFrame& frame : screen.frames) {
        const std::string description = frame.what + " " + describeElement(view, frame.element) + "; at " + number(frame.rect.x) +
                                        "," + number(frame.rect.y) + ", size " + number(frame.rect.width) + "\u00d7" +
                                        number(frame.rect.height);
        out += "<g class=\"frame " + frame.what + "\" tabindex=\"0\" data-element=\"" + std::to_string(frame.element) +
               "\" data-frame=\"" + text(frame.what) + "\" data-rect=\"" + number(frame.rect.x) + "," + number(frame.rect.y) + "," +
               number(frame.rect.width) + "," + number(frame.rect.height) + "\"><title>" + text(description) + "</title>";
        out += "<rect x=\"" + coordinate(frame.rect.x) + "\" y=\"" + coordinate(frame.rect.y) + "\" width=\"" +
               coordinate(std::max(frame.rect.width, 0.0)) + "\" height=\"" + coordinate(std::max(frame.rect.height, 0.0)) + "\"/>";
        // The window's label below it, the list's inside its bottom left, the row's inside it.
        const double labelY = frame.what == "window" ? frame.rect.y + frame.rect.height + font * 1.1 : frame.rect.y + font * 1.05;
        out += std::string("<text x=\"") + coordinate(frame.rect.x + font * 0.3) + "\" y=\"" +
               coordinate(frame.what == "list" ? frame.rect.y + frame.rect.height - font * 0.5 : labelY) + "\">" + text(frame.what) +
               " #" + std::to_string(frame.element) + "</text></g>\n";
        legend += "<li data-element=\"" + std::to_string(frame.element) + "\">" + text(description) + "</li>\n";
    }
    const auto point = [&](const std::string& cls, Spot p, const std::string& label, const std::string& description) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            legend += "<li class=\"" + cls + "\" data-point=\"" + number(p.x) + "," + number(p.y) + "\">" + text(description) +
                      " (not a number: not drawn)</li>\n";
            return;
        }
        const double r = font * 0.45;
        out += "<g class=\"point " + cls + "\" tabindex=\"0\" data-point=\"" + number(p.x) + "," + number(p.y) + "\"><title>" +
               text(description) + "</title>";
        out += "<circle cx=\"" + coordinate(p.x) + "\" cy=\"" + coordinate(p.y) + "\" r=\"" + coordinate(r) + "\"/>";
        out += "<path d=\"M" + coordinate(p.x - 2 * r) + " " + coordinate(p.y) + "H" + coordinate(p.x + 2 * r) + "M" +
               coordinate(p.x) + " " + coordinate(p.y - 2 * r) + "V" + coordinate(p.y + 2 * r) + "\"/>";
        out += "<path class=\"leader\" d=\"M" + coordinate(p.x + 2 * r) + " " + coordinate(p.y) + "H" + coordinate(labels - font * 0.3) +
               "\"/><text x=\"" + coordinate(labels) + "\" y=\"" + coordinate(p.y + font * 0.35) + "\">" + text(label) + "</text></g>\n";
        legend += "<li class=\"" + cls + "\" data-point=\"" + number(p.x) + "," + number(p.y) + "\">" + text(description) + "</li>\n";
    };
    if (screen.rowPoint) {
        const Spot p = *screen.rowPoint;
        std::string where;
        std::string cls = "row-point";
        if (screen.rowInside == false) {
            where = ": outside the list";
            cls += " outside";
        } else if (screen.rowInside == true) {
            where = ": inside the list";
        }
        point(cls, p, "row click point" + where,
              "the row's click point " + number(p.x) + "," + number(p.y) + " (60 right of the row's left edge, on its middle)" + where);
    }
    if (screen.runPoint) {
        const Spot p = *screen.runPoint;
        point("run-point", p, "Run point",
              "the Run point " + number(p.x) + "," + number(p.y) + " (16 right of the list's left edge, 14 above the window's bottom)");
    }
    for (const Look& look : screen.looks) {
        const std::string cls = look.occupant == "unknown" ? "look unknown" : look.corelDraw ? "look corel" : "look other";
        const double r = font * 0.3;
        const std::string description = "line " + std::to_string(look.line) + ": the look at " + number(look.point.x) + "," +
                                        number(look.point.y) + " found " + lookText(look);
        if (!std::isfinite(look.point.x) || !std::isfinite(look.point.y)) {
            legend += "<li class=\"" + cls + "\" data-point=\"" + number(look.point.x) + "," + number(look.point.y) +
                      "\" data-found=\"" + text(lookText(look)) + "\">" + text(description) + " (not drawn)</li>\n";
            continue;
        }
        out += "<g class=\"" + cls + "\" tabindex=\"0\" data-point=\"" + number(look.point.x) + "," + number(look.point.y) +
               "\" data-found=\"" + text(lookText(look)) + "\"><title>" + text(description) + "</title>";
        out += "<rect x=\"" + coordinate(look.point.x - r) + "\" y=\"" + coordinate(look.point.y - r) + "\" width=\"" +
               coordinate(2 * r) + "\" height=\"" + coordinate(2 * r) + "\"/>";
        out += "<text x=\"" + coordinate(look.point.x + 1.6 * r) + "\" y=\"" + coordinate(look.point.y + 3.6 * r) + "\">found: " +
               text(lookText(look)) + "</text></g>\n";
        legend += "<li class=\"" + cls + "\" data-point=\"" + number(look.point.x) + "," + number(look.point.y) + "\" data-found=\"" +
                  text(lookText(look)) + "\">" + text(description) + "</li>\n";
    }
    out += "</svg>\n<figcaption><p class=\"focus-info\" aria-live=\"polite\"></p>";
    if (screen.rowInside.has_value()) {
        out += std::string("<p class=\"check ") + (*screen.rowInside ? "good" : "bad") + "\">The check on the list's frame: " +
               text(*screen.rowInside ? "the row's click point lies inside the list." : "the row's click point lies OUTSIDE the list.") +
               "</p>";
    }
    out += "<ul class=\"legend\">\n" + legend + "</ul></figcaption></figure>\n";
}

// ---- the steps ------------------------------------------------------------------------------

void appendRequest(std::string& out, const trace::RecordedLine& line, const PageRun& run) {
    const bool left = line.number == run.replayed.leftAt;
    out += "<tr id=\"l" + std::to_string(line.number) + "\"";
    if (left) out += " class=\"left\"";
    out += "><td>" + std::to_string(line.number) + "</td><td>" + text(line.milliseconds) + "</td><td>" + text(textOf(line, "took")) +
           "</td><td><code>" + text(line.event);
    const std::string request = fieldsOf(line, false);
    if (!request.empty()) out += " " + text(request);
    out += "</code></td><td><code>" + text(fieldsOf(line, true)) + "</code>";
    if (left) out += " <strong class=\"left-note\">the replay leaves the recording here</strong>";
    out += "</td></tr>\n";
}

void appendSteps(std::string& out, const RunView& view, const PageRun& run, const std::string& id) {
    out += "<ol class=\"steps\">\n";
    std::size_t index = 0;
    const bool endLeft = view.ended && run.replayed.leftAt != 0 && run.replayed.leftAt == run.lines.back().number;
    for (const Step& step : view.steps) {
        ++index;
        std::string cls = "step";
        if (step.stopped) cls += " stopped";
        if (step.check) cls += " check";
        std::string elements;
        for (const std::int64_t element : step.elements) {
            if (!elements.empty()) elements += ' ';
            elements += std::to_string(element);
        }
        // A run that asks for more than its recording holds leaves it at the end line, which no
        // step lists otherwise: the last step lists it then, marked.
        std::vector<std::size_t> listed = step.lines;
        if (index == view.steps.size() && endLeft) listed.push_back(run.lines.size() - 1);
        const bool holdsLeft = run.replayed.leftAt != 0 && std::any_of(listed.begin(), listed.end(), [&](std::size_t i) {
                                   return run.lines[i].number == run.replayed.leftAt;
                               });
        if (holdsLeft) cls += " replay-left";
        out += "<li class=\"" + cls + "\" id=\"" + id + "-s" + std::to_string(index) + "\" data-step=\"" + text(step.name) +
               "\" data-elements=\"" + elements + "\" tabindex=\"0\">\n";
        out += "<div class=\"head\"><span class=\"name\">" + text(step.name) + "</span> <span class=\"when\">at " +
               milliseconds(step.start) + " ms, " + milliseconds(step.duration) + " ms</span></div>\n";
        out += "<div class=\"summary\">" + text(step.summary) + "</div>\n";
        if (step.stopped) {
            out += "<div class=\"stop\"><strong>The run stopped here.</strong>";
            if (view.failure) out += " <code class=\"failure\">" + quotedText(*view.failure) + "</code>";
            out += "<br>What caused it: <code>" + text(step.stopReading) + "</code></div>\n";
        }
        if (holdsLeft) out += "<div class=\"stop\">The replay leaves the recording in this step (line " +
                              std::to_string(run.replayed.leftAt) + ").</div>\n";
        if (!listed.empty()) {
            const std::size_t count = listed.size();
            // Short steps open; where the run stopped or left its recording too, unless the step
            // is one of many alike requests (the polls), which stays folded.
            const bool open = !step.folded && (count <= 12 || step.stopped || holdsLeft);
            out += std::string("<details class=\"requests\"") + (open ? " open" : "") + "><summary>" +
                   std::to_string(count) + (count == 1 ? " line" : " lines") + " of the trace</summary>\n";
            out += "<table><thead><tr><th>line</th><th>at ms</th><th>took ms</th><th>request</th><th>answer</th></tr></thead><tbody>\n";
            for (std::size_t k = 0; k < count; ++k) {
                if (count > kListedRequests && k == kListedRequests / 2) {
                    const std::size_t skipped = count - kListedRequests;
                    out += "<tr class=\"skipped\"><td colspan=\"5\">" + std::to_string(skipped) + " lines not listed here: lines " +
                           std::to_string(run.lines[listed[k]].number) + " to " +
                           std::to_string(run.lines[listed[count - kListedRequests / 2 - 1]].number) +
                           " of the trace</td></tr>\n";
                    k = count - kListedRequests / 2 - 1;
                    continue;
                }
                appendRequest(out, run.lines[listed[k]], run);
            }
            out += "</tbody></table></details>\n";
        }
        out += "</li>\n";
    }
    out += "</ol>\n";
}

// ---- the tree -------------------------------------------------------------------------------

void appendNode(std::string& out, const RunView& view, std::int64_t element, const Node& node, std::size_t depth) {
    std::string cls = "node";
    std::string mark;
    if (element == view.window && element != 0) mark = "the matched window";
    if (element == view.list && element != 0) mark = "the matched list";
    if (element == view.row && element != 0) mark = "the matched row";
    if (element == view.application) mark = "the application";
    if (!mark.empty()) cls += " matched";
    out += "<div class=\"" + cls + "\" data-element=\"" + std::to_string(element) + "\" style=\"margin-left:" +
           coordinate(static_cast<double>(std::min<std::size_t>(depth, 40)) * 1.3) + "em\"><span class=\"num\">#" +
           std::to_string(element) + "</span>";
    const auto appendAttribute = [&](const std::string& attribute, const std::string& answer, const char* attrClass) {
        std::string value = answer;
        std::string shown;
        std::size_t from = 0;
        while (true) {
            const std::size_t next = value.find('\x1f', from);
            if (!shown.empty()) shown += "</span> then <span class=\"v\">";
            shown += text(value.substr(from, next == std::string::npos ? std::string::npos : next - from));
            if (next == std::string::npos) break;
            from = next + 1;
        }
        out += std::string(" <span class=\"") + attrClass + "\">" + text(attribute) + " <span class=\"v\">" + shown + "</span></span>";
    };
    for (const char* key : {"AXRole", "AXTitle", "AXValue", "AXDescription"}) {
        const auto found = node.attributes.find(key);
        if (found != node.attributes.end()) appendAttribute(found->first, found->second, "a main");
    }
    for (const auto& [attribute, answer] : node.attributes) {
        if (attribute == "AXRole" || attribute == "AXTitle" || attribute == "AXValue" || attribute == "AXDescription") continue;
        appendAttribute(attribute, answer, "a");
    }
    if (!mark.empty()) out += " <mark>" + text(mark) + "</mark>";
    out += "</div>\n";
}

void appendTree(std::string& out, const RunView& view) {
    if (view.tree.empty()) {
        out += "<p class=\"none\">No element was read.</p>\n";
        return;
    }
    std::string body;
    std::set<std::int64_t> shown;
    // Depth first from the application element, each element under the answer it arrived in;
    // a reading after an element's first is labelled with its time.
    struct Visit {
        std::int64_t element;
        std::size_t depth;
        std::string label;  // a reading's label instead of an element
    };
    std::vector<Visit> stack;
    std::vector<std::int64_t> roots;
    if (view.tree.count(view.application) != 0) roots.push_back(view.application);
    for (const auto& [element, node] : view.tree) {
        if (node.parent == 0 && element != view.application) roots.push_back(element);
    }
    // The matched elements and every element above them are listed however large the tree.
    std::set<std::int64_t> kept;
    for (std::int64_t element : {view.window, view.list, view.row}) {
        while (element != 0 && kept.insert(element).second) {
            const auto found = view.tree.find(element);
            element = found == view.tree.end() ? 0 : found->second.parent;
        }
    }
    std::size_t listed = 0;
    std::size_t unplaced = 0;
    for (const std::int64_t root : roots) {
        if (root != view.application) {
            if (unplaced++ == 0) body += "<div class=\"label\">Elements read that arrived in no answer of this run:</div>\n";
        }
        stack.push_back({root, 0, {}});
        while (!stack.empty()) {
            Visit visit = std::move(stack.back());
            stack.pop_back();
            if (!visit.label.empty()) {
                if (listed >= kListedElements) continue;
                body += "<div class=\"label\" style=\"margin-left:" +
                        coordinate(static_cast<double>(std::min<std::size_t>(visit.depth, 40)) * 1.3) + "em\">" + text(visit.label) +
                        "</div>\n";
                continue;
            }
            if (!shown.insert(visit.element).second) continue;
            const auto found = view.tree.find(visit.element);
            if (found == view.tree.end()) continue;
            if (listed < kListedElements || kept.count(visit.element) != 0) {
                appendNode(body, view, visit.element, found->second, visit.depth);
                ++listed;
            }
            const std::vector<Reading>& readings = found->second.readings;
            for (std::size_t r = readings.size(); r-- > 0;) {
                const std::vector<std::int64_t>& children = readings[r].children;
                for (std::size_t c = children.size(); c-- > 0;) {
                    const auto child = view.tree.find(children[c]);
                    if (child != view.tree.end() && child->second.parent == visit.element) stack.push_back({children[c], visit.depth + 1, {}});
                }
                if (r > 0) {
                    stack.push_back({0, visit.depth + 1,
                                     "read again at " + readings[r].time + " ms (line " + std::to_string(readings[r].line) + "): " +
                                         std::to_string(children.size()) + (children.size() == 1 ? " element" : " elements")});
                }
            }
        }
    }
    if (listed < view.tree.size()) {
        body += "<div class=\"label\">" + std::to_string(view.tree.size() - listed) +
                " more elements were read and are not listed here: the page lists the first " + std::to_string(kListedElements) +
                " in walk order, and the matched window, list and row with the elements above them. Their answers are in the "
                "trace.</div>\n";
    }
    out += std::string("<details class=\"tree\"") + (view.tree.size() <= kOpenTree ? " open" : "") + "><summary>" +
           std::to_string(view.tree.size()) + " elements read" + (view.tree.size() > kOpenTree ? " (folded: open to see them)" : "") +
           "</summary>\n<div class=\"nodes\">\n" + body + "</div></details>\n";
}

// ---- the timeline -------------------------------------------------------------------------

struct Lane {
    const char* name;
    const char* cls;
};
constexpr std::array<Lane, 4> kLanes{{{"requests", "request"}, {"input", "input"}, {"sleeps", "sleep"}, {"lock", "lock"}}};

std::size_t laneOf(std::string_view event) {
    if (event == "create-event" || event == "post") return 1;
    if (event == "sleep") return 2;
    if (event == "run-lock") return 3;
    return 0;
}

double niceStep(double total) {
    const double rough = total / 8;
    const double power = std::pow(10.0, std::floor(std::log10(std::max(rough, 1e-3))));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= rough) return factor * power;
    }
    return 10 * power;
}

void appendTimeline(std::string& out, const RunView& view, const PageRun& run, const std::string& id) {
    const double total = std::max(view.duration, 0.001);
    const double scale = kTimelineWidth / total;
    const double laneHeight = 18;
    const double stepsTop = 0;
    const double lanesTop = 26;
    const double axisTop = lanesTop + laneHeight * kLanes.size() + 4;
    const double height = axisTop + 22;
    const double labelWidth = 70;
    out += "<svg class=\"timeline\" id=\"" + id + "-timeline\" role=\"img\" aria-label=\"timeline\" viewBox=\"" + coordinate(-labelWidth) +
           " 0 " + coordinate(kTimelineWidth + labelWidth + 10) + " " + coordinate(height) + "\" width=\"" +
           coordinate(kTimelineWidth + labelWidth + 10) + "\" height=\"" + coordinate(height) + "\">\n";
    std::size_t index = 0;
    for (const Step& step : view.steps) {
        ++index;
        const double x = step.start * scale;
        const double w = std::max(step.duration * scale, 1.0);
        out += "<rect class=\"band" + std::string(step.stopped ? " stopped" : "") + (index % 2 ? " odd" : "") + "\" data-step-ref=\"" +
               id + "-s" + std::to_string(index) + "\" x=\"" + coordinate(x) + "\" y=\"" + coordinate(stepsTop) + "\" width=\"" +
               coordinate(w) + "\" height=\"20\"><title>" + text(step.name + ": at " + milliseconds(step.start) + " ms, " +
                                                                   milliseconds(step.duration) + " ms") +
               "</title></rect>\n";
    }
    for (std::size_t lane = 0; lane < kLanes.size(); ++lane) {
        const double y = lanesTop + laneHeight * static_cast<double>(lane);
        out += "<text class=\"lane\" x=\"" + coordinate(-labelWidth + 2) + "\" y=\"" + coordinate(y + 13) + "\">" + kLanes[lane].name +
               "</text>\n";
        // Bars that would touch on the drawing are drawn as one, which says how many it holds.
        double barStart = -1;
        double barEnd = -1;
        std::size_t held = 0;
        double firstAt = 0;
        double lastEnd = 0;
        const auto flush = [&]() {
            if (held == 0) return;
            out += "<rect class=\"bar " + std::string(kLanes[lane].cls) + "\" x=\"" + coordinate(barStart) + "\" y=\"" + coordinate(y + 2) +
                   "\" width=\"" + coordinate(std::max(barEnd - barStart, 0.8)) + "\" height=\"" + coordinate(laneHeight - 4) +
                   "\"><title>" +
                   text(std::to_string(held) + " " + kLanes[lane].name + " from " + milliseconds(firstAt) + " to " + milliseconds(lastEnd) +
                        " ms") +
                   "</title></rect>\n";
            held = 0;
        };
        for (std::size_t i = 1; i < run.lines.size(); ++i) {
            const trace::RecordedLine& line = run.lines[i];
            if (line.event == "end" || laneOf(line.event) != lane) continue;
            const double at = millisecondsOf(line.milliseconds);
            const double took = millisecondsOf(textOf(line, "took"));
            const double x0 = at * scale;
            const double x1 = (at + took) * scale;
            if (held > 0 && x0 <= barEnd + 0.8) {
                barEnd = std::max(barEnd, x1);
                lastEnd = std::max(lastEnd, at + took);
                ++held;
                continue;
            }
            flush();
            barStart = x0;
            barEnd = x1;
            firstAt = at;
            lastEnd = at + took;
            held = 1;
        }
        flush();
    }
    const double step = niceStep(total);
    for (double t = 0; t <= total + step * 0.01; t += step) {
        const double x = t * scale;
        out += "<path class=\"tick\" d=\"M" + coordinate(x) + " " + coordinate(lanesTop - 2) + "V" + coordinate(axisTop + 2) + "\"/>";
        out += "<text class=\"tick\" x=\"" + coordinate(x) + "\" y=\"" + coordinate(axisTop + 15) + "\">" + number(t) + " ms</text>\n";
    }
    out += "</svg>\n";
}

// ---- the page -----------------------------------------------------------------------------

constexpr std::string_view kStyle = R"(
:root{color-scheme:light;font-family:"DejaVu Sans",sans-serif;font-size:15px;color:#1b1b1b;background:#fbfbf8}
body{margin:1.5em auto;max-width:1180px;padding:0 1em}
h1{font-size:1.5em;margin:.2em 0}h2{font-size:1.25em;margin:1.6em 0 .4em;padding:.3em .5em;border-radius:4px}
h2.good{background:#dff3df;border-left:8px solid #2e8b3a}h2.bad{background:#fbe3e0;border-left:8px solid #c0392b}
h3{font-size:1.05em;margin:1.2em 0 .4em;color:#333}
code,.v,td,summary,.summary,.node,li{unicode-bidi:isolate}
code{font-family:"DejaVu Sans Mono",monospace;font-size:.92em;word-break:break-all;white-space:pre-wrap}
table.outcome{border-collapse:collapse}table.outcome th{text-align:left;padding:.15em 1em .15em 0;color:#555;font-weight:normal;vertical-align:top}
table.outcome td{padding:.15em 0}tr.good td{color:#1d6b28;font-weight:bold}tr.bad td{color:#a02018;font-weight:bold}
.screen{margin:0}.screen svg{max-width:100%;height:auto;border:1px solid #ccc;background:#fff}
svg .ground{fill:#eef1f5}svg .frame rect{fill-opacity:.18;stroke-width:calc(var(--s)*1.5)}
svg .window rect{fill:#8a94a6;stroke:#4a5568}svg .list rect{fill:#4f8fd6;stroke:#1f5fa6}svg .row rect{fill:#e3a33b;stroke:#9a6512}
svg text{fill:#222}svg .point circle{stroke:#fff;stroke-width:var(--s)}svg .point path{stroke-width:calc(var(--s)*1.2)}
svg .row-point circle{fill:#1d8b3a}svg .row-point path{stroke:#1d8b3a}svg .row-point.outside circle{fill:#d01f10}
svg .row-point.outside path{stroke:#d01f10}svg .row-point.outside text{fill:#b01a0c;font-weight:bold}
svg .run-point circle{fill:#7a3fc0}svg .run-point path{stroke:#7a3fc0}svg .point path.leader{stroke-width:calc(var(--s)*.6);stroke-dasharray:calc(var(--s)*3)}
svg .look rect{fill:#fff;stroke-width:var(--s)}svg .look.corel rect{stroke:#1d8b3a}svg .look.other rect{stroke:#d01f10;fill:#f7c1bb}
svg .look.unknown rect{stroke:#b07d00;fill:#ffe9a8}svg .look.other text{fill:#b01a0c}
svg [tabindex]:focus{outline:none}svg [tabindex]:focus rect,svg [tabindex]:focus circle{stroke:#000;stroke-width:calc(var(--s)*3)}
svg .hl rect,svg .hl circle{stroke:#ff00aa;stroke-width:calc(var(--s)*3)}
.check.good{color:#1d6b28}.check.bad{color:#b01a0c;font-weight:bold;font-size:1.1em}
ul.legend{font-size:.9em;color:#333}
ol.steps{padding-left:2em}ol.steps>li{margin:.35em 0;padding:.3em .6em;border-left:4px solid #c8ccd2;background:#fff}
ol.steps>li.check{border-left-color:#4f8fd6;background:#f1f6fd}ol.steps>li.stopped{border-left:8px solid #c0392b;background:#fdecea}
ol.steps>li.replay-left{outline:2px dashed #b07d00}ol.steps>li.hl{box-shadow:0 0 0 2px #ff00aa}
.head .name{font-weight:bold}.head .when{color:#666;font-size:.9em}.summary{margin:.15em 0}
.stop{color:#8a1208;margin:.3em 0}
details.requests table{border-collapse:collapse;font-size:.85em;margin:.3em 0}details.requests td,details.requests th{border-bottom:1px solid #eee;padding:.1em .5em;text-align:left;vertical-align:top}
tr.left{background:#fff1c2}tr.skipped td{color:#666;font-style:italic}
details.tree .nodes{font-size:.85em;line-height:1.45}.node .num{color:#777;margin-right:.4em}.node .a{margin-right:.6em;color:#555}
.node .a.main{color:#222}.node .v{color:#114a8a}.node.matched{background:#fff3c4}.node.hl{background:#ffd6f0}.label{color:#777;font-style:italic;font-size:.9em}
mark{background:#e3a33b;color:#000;padding:0 .3em;border-radius:3px}
svg.timeline{max-width:100%;height:auto;background:#fff;border:1px solid #ddd;font-size:11px}
svg .band{fill:#dfe6ee}svg .band.odd{fill:#c9d4e1}svg .band.stopped{fill:#f2a59c}
svg .bar.request{fill:#3b73b9}svg .bar.input{fill:#7a3fc0}svg .bar.sleep{fill:#b9c2cc}svg .bar.lock{fill:#d08a12}
svg .tick{stroke:#ccc}svg text.tick{fill:#555;stroke:none;text-anchor:middle}svg text.lane{fill:#333}
.tools button{margin-right:.5em}.none{color:#666}
)";

// The page's scripts: an error reporter first, then the folding and highlighting. The reporter
// marks the root element when it is in place (data-error-reporter="on") and reports every error
// it meets there (data-script-errors); the folding marks the root element when it has run to its
// end (data-scripts="done"). So a test can tell a page whose scripts broke or were kept from
// running.
constexpr std::string_view kErrorScript =
    R"(document.documentElement.setAttribute("data-error-reporter","on");window.addEventListener("error",function(e){var r=document.documentElement;r.setAttribute("data-script-errors",(r.getAttribute("data-script-errors")||"")+(e.message||"error")+"\n");});)";

constexpr std::string_view kScript = R"(
(function(){
  var root=document.documentElement;
  try{
    var runs=document.querySelectorAll("section.run");
    Array.prototype.forEach.call(runs,function(run){
      var tools=document.createElement("p");tools.className="tools";
      [["open all",true],["fold all",false]].forEach(function(pair){
        var b=document.createElement("button");b.type="button";b.textContent=pair[0];
        b.addEventListener("click",function(){Array.prototype.forEach.call(run.querySelectorAll("details"),function(d){d.open=pair[1];});});
        tools.appendChild(b);
      });
      run.insertBefore(tools,run.children[1]||null);
      var info=run.querySelector(".focus-info");
      Array.prototype.forEach.call(run.querySelectorAll("svg [tabindex]"),function(g){
        var show=function(){var t=g.querySelector("title");if(info&&t)info.textContent=t.textContent;};
        g.addEventListener("focus",show);g.addEventListener("mouseenter",show);
      });
      var marked=[];
      var highlight=function(step){
        marked.forEach(function(e){e.classList.remove("hl");});marked=[];
        if(!step)return;
        step.classList.add("hl");marked.push(step);
        (step.getAttribute("data-elements")||"").split(" ").forEach(function(n){
          if(!n)return;
          Array.prototype.forEach.call(run.querySelectorAll('[data-element="'+n+'"]'),function(e){e.classList.add("hl");marked.push(e);});
        });
      };
      Array.prototype.forEach.call(run.querySelectorAll("ol.steps>li"),function(step){
        step.addEventListener("mouseenter",function(){highlight(step);});
        step.addEventListener("focus",function(){highlight(step);});
      });
      Array.prototype.forEach.call(run.querySelectorAll("[data-step-ref]"),function(band){
        band.addEventListener("click",function(){var s=document.getElementById(band.getAttribute("data-step-ref"));if(s){s.scrollIntoView();s.focus();}});
      });
    });
  }catch(e){root.setAttribute("data-script-errors",(root.getAttribute("data-script-errors")||"")+e+"\n");}
  root.setAttribute("data-scripts","done");
})();
)";

std::string nonce() {
    std::array<unsigned char, 16> bytes{};
    if (getentropy(bytes.data(), bytes.size()) != 0) {
        // No entropy: a nonce that nobody could have written into a trace beforehand is still
        // better than none; the page's texts are escaped in any case.
        const auto now = static_cast<unsigned long long>(time(nullptr)) ^ static_cast<unsigned long long>(getpid());
        std::memcpy(bytes.data(), &now, sizeof now);
    }
    std::string out;
    for (const unsigned char byte : bytes) appendHex(out, byte, 2);
    return out;
}

}  // namespace

std::string pageOf(const PageInput& input) {
    const std::string key = nonce();
    std::string out;
    out.reserve(1 << 16);
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n";
    // Nothing may load, and only the page's own scripts may run: even a text that escaped its
    // escaping could neither fetch anything nor run.
    out += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; script-src 'nonce-" +
           key + "'; img-src 'none'; connect-src 'none'; form-action 'none'; base-uri 'none'\">\n";
    out += "<meta name=\"viewport\" content=\"width=device-width\">\n";
    out += "<title>tessary runs: " + text(input.traceName) + "</title>\n";
    out += "<script nonce=\"" + key + "\">" + std::string(kErrorScript) + "</script>\n";
    out += "<style>" + std::string(kStyle) + "</style>\n</head><body>\n";
    out += "<h1>Runs of <code>" + text(input.traceName) + "</code></h1>\n";
    out += "<p>" + std::to_string(input.runs.size()) + (input.runs.size() == 1 ? " run" : " runs") +
           ", drawn from the trace's lines. Times are milliseconds since each run's start.</p>\n";
    if (!input.unplaced.empty()) {
        out += "<section class=\"unplaced\"><h2 class=\"bad\">" + std::to_string(input.unplaced.size()) +
               " lines of a process whose start line the file lacks: placed in no run</h2><ul>\n";
        for (const trace::RecordedLine& line : input.unplaced) {
            out += "<li>line " + std::to_string(line.number) + ": <code>" + text(line.text) + "</code></li>\n";
        }
        out += "</ul></section>\n";
    }
    std::size_t index = 0;
    for (const PageRun& run : input.runs) {
        ++index;
        const RunView view = viewOf(run.lines);
        std::string id = "r";
        id += std::to_string(index);
        const bool good = view.ended && view.status == 0 && run.replayed.asRecorded;
        out += "<section class=\"run\" id=\"" + id + "\" data-pid=\"" + std::to_string(view.pid) + "\" data-status=\"" +
               (view.ended && view.status ? std::to_string(*view.status) : std::string("none")) + "\">\n";
        std::string headline = "Run " + std::to_string(view.pid) + ": ";
        if (!view.ended) {
            headline += "cut short, no end line";
        } else if (view.status == 0) {
            headline += "complete exchange";
        } else {
            headline += "failed";
            if (view.failure) {
                std::string reason = *view.failure;
                if (reason.starts_with("TESSARY: ")) reason.erase(0, 9);
                if (reason.ends_with("\n")) reason.pop_back();
                headline += ": " + reason;
            }
        }
        if (!run.replayed.asRecorded) headline += run.replayed.replayed ? " (does not replay as recorded)" : " (not replayed)";
        out += "<h2 class=\"" + std::string(good ? "good" : "bad") + "\">" + text(headline) + "</h2>\n";
        out += "<h3>Outcome</h3>\n";
        appendOutcome(out, view, run);
        out += "<h3>The screen as read</h3>\n";
        appendScreen(out, view, id);
        out += "<h3>Steps</h3>\n";
        appendSteps(out, view, run, id);
        out += "<h3>The tree as read</h3>\n";
        appendTree(out, view);
        out += "<h3>Timeline</h3>\n";
        appendTimeline(out, view, run, id);
        out += "</section>\n";
    }
    out += "<script nonce=\"" + key + "\">" + std::string(kScript) + "</script>\n</body></html>\n";
    return out;
}

}  // namespace page
