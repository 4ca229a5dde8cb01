#include "trace/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "trace/format.h"

namespace trace {

bool enabled = false;

namespace {

using Clock = std::chrono::steady_clock;

// What an event was created as, so that its posting can say it again.
struct EventKind {
    std::uint32_t number = 0;
    bool mouse = true;
    platform::MouseEventType type = platform::MouseEventType::leftMouseDown;
    platform::Point position;
    std::uint16_t key = 0;
    bool keyDown = false;
};

struct State {
    int fd = -1;
    Clock::time_point start;
    std::string pid;   // the process id, written on every line
    std::string line;  // the line being built, kept to reuse its buffer
    // Element numbers by the address of the platform reference. A reference that arrives gets a
    // fresh number, even at an address seen before (freed and used again); a retained copy gets
    // its source's number.
    std::unordered_map<const void*, std::uint32_t> elements;
    std::uint32_t lastElement = 0;
    std::unordered_map<const void*, std::uint32_t> applications;
    std::uint32_t lastApplication = 0;
    std::unordered_map<const void*, EventKind> events;
    std::uint32_t lastEvent = 0;
    std::optional<std::string> failure;
};

State& state() {
    static State s;
    return s;
}

std::int64_t nanosecondsSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
}

// Starts the line of an event that began at `at`: "<ms> <pid> <event>".
std::string& begin(std::string_view event, Clock::time_point at) {
    State& s = state();
    s.line.clear();
    appendMilliseconds(s.line, nanosecondsSince(s.start, at));
    s.line.push_back(' ');
    s.line.append(s.pid);
    s.line.push_back(' ');
    s.line.append(event);
    return s.line;
}

std::string& field(std::string_view key) {
    std::string& line = state().line;
    line.push_back(' ');
    line.append(key);
    line.push_back('=');
    return line;
}

void yesNo(std::string_view key, bool value) { field(key).append(value ? "yes" : "no"); }

void elementNumber(std::uint32_t number) {
    std::string& line = state().line;
    line.push_back('#');
    appendInteger(line, number);
}

void point(std::string_view key, platform::Point p) {
    std::string& line = field(key);
    appendDouble(line, p.x);
    line.push_back(',');
    appendDouble(line, p.y);
}

// Ends the line with the time the event took and writes it with one write, so that a run killed
// meanwhile leaves whole lines only, and runs appending to one file never mix within a line.
void end(Clock::time_point at) {
    State& s = state();
    appendMilliseconds(field("took"), nanosecondsSince(at, Clock::now()));
    s.line.push_back('\n');
    [[maybe_unused]] const ssize_t written = ::write(s.fd, s.line.data(), s.line.size());
}

std::uint32_t received(const platform::Element& element) {
    if (!element) return 0;
    State& s = state();
    return s.elements[element.get()] = ++s.lastElement;
}

std::uint32_t numberOf(const platform::Element& element) {
    const auto& elements = state().elements;
    const auto found = element ? elements.find(element.get()) : elements.end();
    return found == elements.end() ? 0 : found->second;
}

std::uint32_t applicationNumber(const platform::Application& application) {
    const auto& applications = state().applications;
    const auto found = application ? applications.find(application.get()) : applications.end();
    return found == applications.end() ? 0 : found->second;
}

// The answer of an attribute request: " kind=<kind>" and, for a kind that has one, " value=...".
// Elements in the answer are numbered here, as they arrive.
void answer(const platform::Value& value) {
    if (std::holds_alternative<platform::Absent>(value)) {
        field("kind").append("absent");
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        field("kind").append("text");
        appendQuoted(field("value"), *text);
    } else if (const auto* list = std::get_if<platform::ElementList>(&value)) {
        field("kind").append("list");
        field("value").push_back('[');
        for (std::size_t i = 0; i < list->size(); ++i) {
            if (i > 0) state().line.push_back(',');
            elementNumber(received((*list)[i]));
        }
        state().line.push_back(']');
    } else if (const auto* element = std::get_if<platform::Element>(&value)) {
        field("kind").append("element");
        field("value");
        elementNumber(received(*element));
    } else if (const auto* p = std::get_if<platform::Point>(&value)) {
        field("kind").append("point");
        point("value", *p);
    } else if (const auto* size = std::get_if<platform::Size>(&value)) {
        field("kind").append("size");
        std::string& line = field("value");
        appendDouble(line, size->width);
        line.push_back(',');
        appendDouble(line, size->height);
    } else {
        field("kind").append("other");
    }
}

void describe(const EventKind& kind) {
    if (kind.mouse) {
        field("kind").append("mouse");
        field("type").append(kind.type == platform::MouseEventType::leftMouseDown ? "down" : "up");
        point("point", kind.position);
        field("button").append("left");
    } else {
        field("kind").append("key");
        appendInteger(field("key"), kind.key);
        yesNo("down", kind.keyDown);
    }
}

std::optional<platform::Event> created(std::optional<platform::Event> event, EventKind kind, Clock::time_point at) {
    State& s = state();
    begin("create-event", at);
    describe(kind);
    yesNo("created", event.has_value());
    if (event) {
        kind.number = ++s.lastEvent;
        s.events[event->get()] = kind;
        appendInteger(field("event"), kind.number);
    }
    end(at);
    return event;
}

void closeFile() {
    State& s = state();
    if (s.fd >= 0) ::close(s.fd);
    s = State{};
    enabled = false;
}

// The trace file, opened for appending, or -1. It is never one of the standard streams' numbers
// (a process started with one of them closed would otherwise write its output into the trace),
// never inherited, never followed through a symbolic link, and only a regular file: a FIFO or a
// device could block the run or reach a terminal.
int openTraceFile(const char* path) {
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return -1;
    if (fd <= STDERR_FILENO) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fd);
        if (moved < 0) return -1;
        fd = moved;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void start(int argc, const char* const* argv) {
    closeFile();
    const char* path = std::getenv("TESSARY_TRACE");
    if (path == nullptr || path[0] != '/') return;
    State& s = state();
    s.start = Clock::now();
    s.fd = openTraceFile(path);
    if (s.fd < 0) return;
    appendInteger(s.pid, ::getpid());
    enabled = true;
    begin("start", s.start);
    field("version").append("1");
    appendInteger(field("argc"), argc);
    for (int i = 0; i < argc; ++i) appendQuoted(field("arg"), argv[i] == nullptr ? "" : argv[i]);
    s.line.push_back('\n');
    [[maybe_unused]] const ssize_t written = ::write(s.fd, s.line.data(), s.line.size());
}

void noteFailure(std::string_view line) {
    if (enabled) state().failure.emplace(line);
}

void finish(int status) {
    if (!enabled) return;
    State& s = state();
    const Clock::time_point at = Clock::now();
    begin("end", at);
    appendInteger(field("status"), status);
    if (s.failure) appendQuoted(field("failure"), *s.failure);
    s.line.push_back('\n');
    [[maybe_unused]] const ssize_t written = ::write(s.fd, s.line.data(), s.line.size());
    closeFile();
}

bool isProcessTrusted() {
    const Clock::time_point at = Clock::now();
    const bool trusted = platform::isProcessTrusted();
    begin("trust", at);
    yesNo("trusted", trusted);
    end(at);
    return trusted;
}

std::vector<platform::Application> runningApplications(std::string_view bundleIdentifier) {
    const Clock::time_point at = Clock::now();
    std::vector<platform::Application> found = platform::runningApplications(bundleIdentifier);
    State& s = state();
    std::string& line = begin("applications", at);
    appendQuoted(field("bundle"), bundleIdentifier);
    field("found").push_back('[');
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (i > 0) line.push_back(',');
        const std::uint32_t number = ++s.lastApplication;
        if (found[i]) s.applications[found[i].get()] = number;
        appendInteger(line, number);
    }
    line.push_back(']');
    end(at);
    return found;
}

std::int64_t processIdentifier(const platform::Application& application) {
    const Clock::time_point at = Clock::now();
    const std::int64_t pid = platform::processIdentifier(application);
    begin("process-id", at);
    appendInteger(field("application"), applicationNumber(application));
    appendInteger(field("pid"), pid);
    end(at);
    return pid;
}

void activate(const platform::Application& application) {
    const Clock::time_point at = Clock::now();
    platform::activate(application);
    begin("activate", at);
    appendInteger(field("application"), applicationNumber(application));
    end(at);
}

platform::PointOwner ownerAt(platform::Point p) {
    const Clock::time_point at = Clock::now();
    const platform::PointOwner owner = platform::ownerAt(p);
    begin("owner-at", at);
    point("point", p);
    switch (owner.occupant) {
        case platform::Occupant::process:
            field("occupant").append("process");
            appendInteger(field("pid"), owner.processId);
            break;
        case platform::Occupant::nothing: field("occupant").append("nothing"); break;
        case platform::Occupant::unknown: field("occupant").append("unknown"); break;
    }
    end(at);
    return owner;
}

bool holdRunLock() {
    const Clock::time_point at = Clock::now();
    const bool held = platform::holdRunLock();
    begin("run-lock", at);
    yesNo("held", held);
    end(at);
    return held;
}

platform::Element createApplicationElement(std::int64_t processId) {
    const Clock::time_point at = Clock::now();
    platform::Element element = platform::createApplicationElement(processId);
    begin("application-element", at);
    appendInteger(field("pid"), processId);
    field("element");
    elementNumber(received(element));
    end(at);
    return element;
}

platform::Element retainElement(const platform::Element& element) {
    const Clock::time_point at = Clock::now();
    platform::Element copy = platform::retainElement(element);
    const std::uint32_t number = numberOf(element);
    if (copy) state().elements[copy.get()] = number;
    begin("retain", at);
    field("element");
    elementNumber(number);
    end(at);
    return copy;
}

platform::AttributeResult copyAttributeValue(const platform::Element& element, std::string_view attribute) {
    const Clock::time_point at = Clock::now();
    platform::AttributeResult result = platform::copyAttributeValue(element, attribute);
    begin("get", at);
    field("element");
    elementNumber(numberOf(element));
    appendQuoted(field("attribute"), attribute);
    appendInteger(field("code"), result.code);
    answer(result.value);
    end(at);
    return result;
}

std::int32_t performAction(const platform::Element& element, std::string_view action) {
    const Clock::time_point at = Clock::now();
    const std::int32_t code = platform::performAction(element, action);
    begin("press", at);
    field("element");
    elementNumber(numberOf(element));
    appendQuoted(field("action"), action);
    appendInteger(field("code"), code);
    end(at);
    return code;
}

std::optional<platform::Event> createMouseEvent(platform::MouseEventType type, platform::Point position,
                                                platform::MouseButton button) {
    const Clock::time_point at = Clock::now();
    std::optional<platform::Event> event = platform::createMouseEvent(type, position, button);
    return created(std::move(event), EventKind{0, true, type, position, 0, false}, at);
}

std::optional<platform::Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown) {
    const Clock::time_point at = Clock::now();
    std::optional<platform::Event> event = platform::createKeyboardEvent(virtualKey, keyDown);
    return created(std::move(event), EventKind{0, false, {}, {}, virtualKey, keyDown}, at);
}

void postEvent(const platform::Event& event) {
    const Clock::time_point at = Clock::now();
    platform::postEvent(event);
    const auto& events = state().events;
    const auto found = events.find(event.get());
    begin("post", at);
    if (found == events.end()) {
        field("event").append("0");
    } else {
        appendInteger(field("event"), found->second.number);
        describe(found->second);
    }
    end(at);
}

void sleepMicroseconds(std::uint32_t microseconds) {
    const Clock::time_point at = Clock::now();
    platform::sleepMicroseconds(microseconds);
    begin("sleep", at);
    appendInteger(field("us"), microseconds);
    end(at);
}

std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text) {
    const Clock::time_point at = Clock::now();
    std::optional<std::string> error = platform::writeFileAtomically(path, text);
    begin("write", at);
    appendQuoted(field("path"), path);
    appendInteger(field("bytes"), static_cast<std::int64_t>(text.size()));
    if (error) {
        field("outcome").append("error");
        appendQuoted(field("error"), *error);
    } else {
        field("outcome").append("ok");
    }
    end(at);
    return error;
}

}  // namespace trace
