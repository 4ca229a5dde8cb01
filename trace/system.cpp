// The binding, the activation, the look and the lock, input events, sleeps and the result write,
// traced.
#include "trace/format.h"
#include "trace/line.h"
#include "trace/trace.h"

namespace trace {
namespace {

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

}  // namespace

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

platform::Activation activate(const platform::Application& application) {
    const Clock::time_point at = Clock::now();
    const platform::Activation answer = platform::activate(application);
    begin("activate", at);
    appendInteger(field("application"), applicationNumber(application));
    switch (answer) {
        case platform::Activation::allowed: field("allowed").append("yes"); break;
        case platform::Activation::refused: field("allowed").append("no"); break;
        case platform::Activation::unknown: field("allowed").append("unknown"); break;
    }
    end(at);
    return answer;
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
    appendQuoted(field("text"), text);
    if (error) {
        field("outcome").append("error");
        appendQuoted(field("error"), *error);
    } else {
        field("outcome").append("ok");
    }
    end(at);
    return error;
}

bool mayPostEvents() {
    const Clock::time_point at = Clock::now();
    const bool allowed = platform::mayPostEvents();
    begin("post-access", at);
    yesNo("allowed", allowed);
    end(at);
    return allowed;
}

std::int64_t frontmostProcess() {
    const Clock::time_point at = Clock::now();
    const std::int64_t pid = platform::frontmostProcess();
    begin("frontmost", at);
    appendInteger(field("pid"), pid);
    end(at);
    return pid;
}

std::int64_t ownProcessId() {
    const Clock::time_point at = Clock::now();
    const std::int64_t pid = platform::ownProcessId();
    begin("own-pid", at);
    appendInteger(field("pid"), pid);
    end(at);
    return pid;
}

std::optional<platform::ProcessEntry> processEntry(std::int64_t processId) {
    const Clock::time_point at = Clock::now();
    std::optional<platform::ProcessEntry> entry = platform::processEntry(processId);
    begin("process", at);
    appendInteger(field("pid"), processId);
    yesNo("found", entry.has_value());
    if (entry) {
        appendInteger(field("parent"), entry->parentId);
        appendQuoted(field("path"), entry->path);
    }
    end(at);
    return entry;
}

platform::LockTest testRunLock() {
    const Clock::time_point at = Clock::now();
    platform::LockTest test = platform::testRunLock();
    begin("lock-test", at);
    appendQuoted(field("path"), test.path);
    switch (test.state) {
        case platform::LockState::free: field("state").append("free"); break;
        case platform::LockState::held: field("state").append("held"); break;
        case platform::LockState::unusable: field("state").append("unusable"); break;
        case platform::LockState::unknown: field("state").append("unknown"); break;
    }
    appendInteger(field("holder"), test.holder);
    appendQuoted(field("reason"), test.reason);
    end(at);
    return test;
}

std::int64_t monotonicMicroseconds() {
    const Clock::time_point at = Clock::now();
    const std::int64_t now = platform::monotonicMicroseconds();
    begin("clock", at);
    appendInteger(field("us"), now);
    end(at);
    return now;
}

}  // namespace trace
