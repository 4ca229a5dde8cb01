#include "platform/replay/replay_desktop.h"

#include <cstdlib>

#include "platform/platform.h"
#include "trace/format.h"

namespace replay {
namespace {

struct State {
    std::span<const RecordedEvent> events;
    std::size_t at = 0;
    // The one event read from its text, at `read` in `events`: a run of a large tree has half a
    // million events, and each is read only when the run reaches it.
    trace::RecordedLine line;
    std::size_t read = static_cast<std::size_t>(-1);
    trace::DecodedValues decoded;
    std::vector<std::string> written;
};

State& state() {
    static State s;
    return s;
}

// The references the run holds carry the numbers that the trace gave them.
struct ElementRef {
    std::int64_t number;
};
struct ApplicationRef {
    std::int64_t number;
};
struct EventRef {
    std::int64_t number;
    std::string description;  // "kind=mouse type=down point=110,160 button=left"
};

std::string quotedText(std::string_view text) {
    std::string out;
    trace::appendQuoted(out, text);
    return out;
}

std::string number(std::int64_t value) {
    std::string out;
    trace::appendInteger(out, value);
    return out;
}

std::string pointText(platform::Point p) {
    std::string out;
    trace::appendDouble(out, p.x);
    out.push_back(',');
    trace::appendDouble(out, p.y);
    return out;
}

// The request part of a recorded line as written: its event, then the fields of these keys that
// it holds, in the order given (the writer's order).
std::string requestOf(const trace::RecordedLine& line, std::initializer_list<std::string_view> keys) {
    std::string out(line.event);
    for (const std::string_view key : keys) {
        const trace::Field* f = line.field(key);
        if (f == nullptr) continue;
        out.append(" ").append(key).append("=").append(f->quoted ? quotedText(f->value) : f->value);
    }
    return out;
}

// The next recorded event, when it is the call asked (`asked`, as it would be written, compared
// with the recorded request part of these keys).
// The event at `index`, read from its text.
const trace::RecordedLine& lineAt(std::size_t index) {
    State& s = state();
    if (s.read != index) {
        const RecordedEvent& event = s.events[index];
        s.decoded.clear();
        std::string error;
        // The file was read before the run began; a text that does not read now is no event.
        if (!trace::readLineInto(event.text, s.line, s.decoded, error)) {
            s.read = static_cast<std::size_t>(-1);
            throw Diverged{{event.number, std::string(event.text), "a line that reads: " + error}};
        }
        s.line.number = event.number;
        s.read = index;
    }
    return s.line;
}

const trace::RecordedLine& take(const std::string& asked, std::initializer_list<std::string_view> keys) {
    State& s = state();
    if (s.at >= s.events.size()) throw Diverged{{0, "(nothing more)", asked}};
    const trace::RecordedLine& line = lineAt(s.at);
    if (line.event == "end" || requestOf(line, keys) != asked) throw Diverged{{line.number, eventText(line), asked}};
    ++s.at;
    return line;
}

// A recorded answer that the run needs and the trace does not hold in a readable form.
[[noreturn]] void unreadable(const trace::RecordedLine& line, std::string_view what) {
    throw Diverged{{line.number, eventText(line), "an answer with " + std::string(what)}};
}

std::string_view valueOf(const trace::RecordedLine& line, std::string_view key) {
    const trace::Field* f = line.field(key);
    if (f == nullptr) unreadable(line, "a field " + std::string(key));
    return f->value;
}

std::int64_t integerIn(const trace::RecordedLine& line, std::string_view key) {
    const auto value = trace::integerOf(valueOf(line, key));
    if (!value) unreadable(line, "a number in " + std::string(key));
    return *value;
}

bool yesIn(const trace::RecordedLine& line, std::string_view key) {
    const std::string_view value = valueOf(line, key);
    if (value != "yes" && value != "no") unreadable(line, "yes or no in " + std::string(key));
    return value == "yes";
}

std::int64_t elementNumber(const trace::RecordedLine& line, std::string_view text) {
    const auto value = text.starts_with('#') ? trace::integerOf(text.substr(1)) : std::nullopt;
    if (!value) unreadable(line, "an element number");
    return *value;
}

platform::Element elementFor(std::int64_t number) { return platform::Element(new ElementRef{number}); }

std::int64_t numberOf(const platform::Element& element) {
    return element ? static_cast<const ElementRef*>(element.get())->number : 0;
}

std::string elementText(const platform::Element& element) { return "#" + number(numberOf(element)); }

// "[#4,#5]", "[1,2]": the items, as written.
std::vector<std::string_view> listItems(const trace::RecordedLine& line, std::string_view text) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') unreadable(line, "a list");
    std::vector<std::string_view> items;
    const std::string_view inner(text.data() + 1, text.size() - 2);
    std::size_t start = 0;
    while (start < inner.size()) {
        const std::size_t comma = inner.find(',', start);
        items.emplace_back(inner.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return items;
}

std::pair<double, double> pairIn(const trace::RecordedLine& line, std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) unreadable(line, "a pair of numbers");
    const std::string_view whole = text;
    const auto first = trace::doubleOf(whole.substr(0, comma));
    const auto second = trace::doubleOf(whole.substr(comma + 1));
    if (!first || !second) unreadable(line, "a pair of numbers");
    return {*first, *second};
}

platform::Value answerOf(const trace::RecordedLine& line) {
    const std::string_view kind = valueOf(line, "kind");
    if (kind == "absent") return platform::Absent{};
    if (kind == "other") return platform::OtherValue{};
    const std::string_view value = valueOf(line, "value");
    if (kind == "text") return std::string(value);
    if (kind == "boolean") return yesIn(line, "value");
    if (kind == "element") return elementFor(elementNumber(line, value));
    if (kind == "list") {
        platform::ElementList list;
        for (const std::string_view item : listItems(line, value)) list.push_back(elementFor(elementNumber(line, item)));
        return list;
    }
    const auto [first, second] = pairIn(line, value);
    if (kind == "point") return platform::Point{first, second};
    if (kind == "size") return platform::Size{first, second};
    unreadable(line, "a known kind");
}

std::int32_t codeIn(const trace::RecordedLine& line) { return static_cast<std::int32_t>(integerIn(line, "code")); }

std::string mouseDescription(platform::MouseEventType type, platform::Point position) {
    return std::string("kind=mouse type=") + (type == platform::MouseEventType::leftMouseDown ? "down" : "up") +
           " point=" + pointText(position) + " button=left";
}

std::string keyDescription(std::uint16_t key, bool down) {
    return "kind=key key=" + number(key) + " down=" + (down ? "yes" : "no");
}

std::optional<platform::Event> created(const trace::RecordedLine& line, std::string description) {
    if (!yesIn(line, "created")) return std::nullopt;
    return platform::Event(new EventRef{integerIn(line, "event"), std::move(description)});
}

}  // namespace

void serve(std::span<const RecordedEvent> events) {
    State& s = state();
    s.events = events;
    s.at = 0;
    s.read = static_cast<std::size_t>(-1);
    s.decoded.clear();
    s.written.clear();
}

std::size_t remaining() { return state().events.size() - state().at; }

const trace::RecordedLine& next() { return lineAt(state().at); }

std::string eventText(const trace::RecordedLine& line) {
    // The line as written, from its event name on: after the time and the process id.
    const std::size_t first = line.text.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.text.find(' ', first + 1);
    return std::string(second == std::string_view::npos ? line.text : line.text.substr(second + 1));
}

const std::vector<std::string>& written() { return state().written; }

}  // namespace replay

namespace platform {

using replay::take;

void releaseElement(void* reference) noexcept { delete static_cast<replay::ElementRef*>(reference); }
void releaseApplication(void* reference) noexcept { delete static_cast<replay::ApplicationRef*>(reference); }
void releaseEvent(void* reference) noexcept { delete static_cast<replay::EventRef*>(reference); }

bool isProcessTrusted() { return replay::yesIn(take("trust", {}), "trusted"); }

std::vector<Application> runningApplications(std::string_view bundleIdentifier) {
    const auto& line = take("applications bundle=" + replay::quotedText(bundleIdentifier), {"bundle"});
    std::vector<Application> found;
    for (const std::string_view item : replay::listItems(line, replay::valueOf(line, "found"))) {
        const auto value = trace::integerOf(item);
        if (!value) replay::unreadable(line, "application numbers");
        found.emplace_back(new replay::ApplicationRef{*value});
    }
    return found;
}

namespace {
std::int64_t applicationNumber(const Application& application) {
    return application ? static_cast<const replay::ApplicationRef*>(application.get())->number : 0;
}
}  // namespace

std::int64_t processIdentifier(const Application& application) {
    const auto& line = take("process-id application=" + replay::number(applicationNumber(application)), {"application"});
    return replay::integerIn(line, "pid");
}

Activation activate(const Application& application) {
    const auto& line = take("activate application=" + replay::number(applicationNumber(application)), {"application"});
    // A version-2 trace did not write the answer.
    const trace::Field* allowed = line.field("allowed");
    if (allowed == nullptr || allowed->value == "unknown") return Activation::unknown;
    return replay::yesIn(line, "allowed") ? Activation::allowed : Activation::refused;
}

PointOwner ownerAt(Point point) {
    const auto& line = take("owner-at point=" + replay::pointText(point), {"point"});
    const std::string_view occupant = replay::valueOf(line, "occupant");
    if (occupant == "process") return {Occupant::process, replay::integerIn(line, "pid")};
    if (occupant == "nothing") return {Occupant::nothing, -1};
    if (occupant == "unknown") return {Occupant::unknown, -1};
    replay::unreadable(line, "a known occupant");
}

bool holdRunLock() { return replay::yesIn(take("run-lock", {}), "held"); }

Element createApplicationElement(std::int64_t processId) {
    const auto& line = take("application-element pid=" + replay::number(processId), {"pid"});
    return replay::elementFor(replay::elementNumber(line, replay::valueOf(line, "element")));
}

Element retainElement(const Element& element) {
    take("retain element=" + replay::elementText(element), {"element"});
    return replay::elementFor(replay::numberOf(element));
}

AttributeResult copyAttributeValue(const Element& element, std::string_view attribute) {
    const auto& line =
        take("get element=" + replay::elementText(element) + " attribute=" + replay::quotedText(attribute), {"element", "attribute"});
    AttributeResult result;
    result.code = replay::codeIn(line);
    result.value = replay::answerOf(line);
    return result;
}

std::int32_t performAction(const Element& element, std::string_view action) {
    const auto& line =
        take("press element=" + replay::elementText(element) + " action=" + replay::quotedText(action), {"element", "action"});
    return replay::codeIn(line);
}

std::optional<Event> createMouseEvent(MouseEventType type, Point position, MouseButton) {
    std::string description = replay::mouseDescription(type, position);
    const auto& line = take("create-event " + description, {"kind", "type", "point", "button", "key", "down"});
    return replay::created(line, std::move(description));
}

std::optional<Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown) {
    std::string description = replay::keyDescription(virtualKey, keyDown);
    const auto& line = take("create-event " + description, {"kind", "type", "point", "button", "key", "down"});
    return replay::created(line, std::move(description));
}

void postEvent(const Event& event) {
    const auto* posted = static_cast<const replay::EventRef*>(event.get());
    take("post event=" + replay::number(posted != nullptr ? posted->number : 0) + " " +
             (posted != nullptr ? posted->description : std::string()),
         {"event", "kind", "type", "point", "button", "key", "down"});
}

void sleepMicroseconds(std::uint32_t microseconds) { take("sleep us=" + replay::number(microseconds), {"us"}); }

std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text) {
    const auto& line = take("write path=" + replay::quotedText(path) + " bytes=" + replay::number(static_cast<std::int64_t>(text.size())) +
                                " text=" + replay::quotedText(text),
                            {"path", "bytes", "text"});
    replay::state().written.emplace_back(text);
    if (replay::valueOf(line, "outcome") == "ok") return std::nullopt;
    return std::string(replay::valueOf(line, "error"));
}

bool mayPostEvents() { return replay::yesIn(take("post-access", {}), "allowed"); }

std::int64_t frontmostProcess() { return replay::integerIn(take("frontmost", {}), "pid"); }

std::int64_t ownProcessId() { return replay::integerIn(take("own-pid", {}), "pid"); }

std::optional<ProcessEntry> processEntry(std::int64_t processId) {
    const auto& line = take("process pid=" + replay::number(processId), {"pid"});
    if (!replay::yesIn(line, "found")) return std::nullopt;
    return ProcessEntry{replay::integerIn(line, "parent"), std::string(replay::valueOf(line, "path"))};
}

LockTest testRunLock() {
    const auto& line = take("lock-test", {});
    LockTest test;
    test.path = replay::valueOf(line, "path");
    const std::string_view state = replay::valueOf(line, "state");
    if (state == "free") {
        test.state = LockState::free;
    } else if (state == "held") {
        test.state = LockState::held;
    } else if (state == "unusable") {
        test.state = LockState::unusable;
    } else if (state == "unknown") {
        test.state = LockState::unknown;
    } else {
        replay::unreadable(line, "a known lock state");
    }
    test.holder = replay::integerIn(line, "holder");
    test.reason = replay::valueOf(line, "reason");
    return test;
}

std::int64_t monotonicMicroseconds() { return replay::integerIn(take("clock", {}), "us"); }

// A trace does not hold the recorded program's signature, and the replay is another program:
// it does not say.
CodeSignature codeSignature() { return {}; }

}  // namespace platform
