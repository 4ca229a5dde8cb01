#include "platform/fake/fake_desktop.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <unistd.h>

namespace fake {
namespace {

struct LiveNode {
    std::string label;
    Attributes attributes;
    std::vector<int> children;
    int parent = -1;
    std::int32_t pressResult = platform::kSuccess;
    bool gone = false;
    bool survivesEscape = false;
    bool pressActsAnyway = false;
    bool refusesSelection = false;
};

struct ApplicationState {
    std::string bundleIdentifier;
    std::int64_t processId = 0;
    int node = -1;
};

// One recorded line, noted in 8 bytes: a request or a released element by its node and its
// attribute or action name, any other line by its text kept aside.
struct Entry {
    enum class Kind : std::uint8_t { line, get, press, release };
    Entry(Kind kind, int node, std::uint32_t name) : node(node), kindBits(static_cast<std::uint32_t>(kind)), name(name) {}
    Kind kind() const { return static_cast<Kind>(kindBits); }

    int node = -1;
    std::uint32_t kindBits : 2;
    std::uint32_t name : 30;  // index into State::names, or into State::lines for Kind::line
};

struct State {
    Desktop desktop;
    std::vector<LiveNode> nodes;
    std::vector<ApplicationState> applications;
    std::map<std::string, int, std::less<>> byLabel;
    // Requests are noted compactly and become text lines only when the record is read, so a
    // walk over a large tree pays for one small entry per request.
    std::vector<Entry> entries;
    std::vector<std::string> names;  // attribute and action names, each kept once
    std::vector<std::string> lines;  // the texts of Kind::line entries, in order
    std::vector<std::string> record;  // the lines of entries[0, record.size())
    int live = 0;
    // Counts installs, so that a handle of an earlier desktop is never taken for one of this.
    std::uint32_t generation = 0;
    int requests = 0;
    std::int64_t clock = 0;
    int mouseEventsCreated = 0;
    int keyboardEventsCreated = 0;
    int generatedLabels = 0;
    std::map<int, std::function<void()>> beforeRequest;
    std::map<int, std::int32_t> failRequest;
    std::map<int, Attribute> answerRequest;
    // answerReads: the answers still to give, by element label and attribute, first answer last.
    std::map<std::pair<std::string, std::string>, std::vector<Attribute>> answerReads;
    std::optional<std::int64_t> alertOpensAt;
    int selectedRow = -1;
    // What "AXSelected" shows until `selectionShowsAt`: the row selected before the latest click.
    int shownRow = -1;
    std::int64_t selectionShowsAt = 0;
    int pressedOn = -1;
    std::int64_t frontmost = 0;
    // An allowed activation that has not shown yet: when, and which process comes to the front.
    std::optional<std::pair<std::int64_t, std::int64_t>> activationShowsAt;
    int windowsUnanswered = 0;
};

// Made on first use: a desktop may be installed before main, from a static initializer of the
// program that links the fake desktop.
State& state() {
    static State s;
    return s;
}

struct ApplicationRef {
    int index;
};
struct EventRef {
    bool mouse;
    platform::MouseEventType type;
    platform::Point position;
    int button;
    std::uint16_t key;
    bool keyDown;
};

std::string format(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// "mouse-down 110,160" or "key-up 53": how create, post and release lines name an event.
std::string describe(const EventRef& e) {
    if (!e.mouse) return std::string(e.keyDown ? "key-down " : "key-up ") + std::to_string(e.key);
    const bool down = e.type == platform::MouseEventType::leftMouseDown;
    return std::string(down ? "mouse-down " : "mouse-up ") + format(e.position.x) + "," + format(e.position.y);
}

// Each element handle is a reference of its own, allocated as it is handed out, as macOS and
// AT-SPI hand out a new reference each time an element arrives: a node read twice arrives as two
// references, never as one renamed. It names its node (-1: an element of no application) and
// the install it belongs to; `live` counts them, so a test still sees every handle that a run
// fails to release.
struct ElementRef {
    std::uint32_t generation;
    int node;
};

// The node of a reference that has been released: a later use or release of it is a fault of the
// run, and ends the process at once.
constexpr int kReleasedNode = std::numeric_limits<int>::min();

[[noreturn]] void elementUsedAfterRelease() {
    constexpr char message[] = "fake desktop: an element handle used after its release\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message, sizeof message - 1);
    std::abort();
}

// Under AddressSanitizer each reference is a heap block of its own, so that the sanitizer reports
// any use of one after its release. Otherwise released references are reused, from blocks kept
// for the life of the process (never freed, so that a handle released at exit still finds
// them): a walk over a large tree then costs no heap block per element.
#if defined(__SANITIZE_ADDRESS__)
#define TESSARY_FAKE_REFERENCES_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARY_FAKE_REFERENCES_ON_HEAP 1
#endif
#endif

#ifndef TESSARY_FAKE_REFERENCES_ON_HEAP
struct ReferencePool {
    static constexpr std::size_t kBlock = 4096;
    std::vector<std::unique_ptr<ElementRef[]>> blocks;
    std::size_t usedOfLast = kBlock;
    std::vector<ElementRef*> released;
};

ReferencePool& pool() {
    static auto* references = new ReferencePool;
    return *references;
}
#endif

ElementRef* newReference(std::uint32_t generation, int node) {
#ifdef TESSARY_FAKE_REFERENCES_ON_HEAP
    return new ElementRef{generation, node};
#else
    ReferencePool& p = pool();
    ElementRef* reference = nullptr;
    if (!p.released.empty()) {
        reference = p.released.back();
        p.released.pop_back();
    } else {
        if (p.usedOfLast == ReferencePool::kBlock) {
            p.blocks.push_back(std::make_unique<ElementRef[]>(ReferencePool::kBlock));
            p.usedOfLast = 0;
        }
        reference = &p.blocks.back()[p.usedOfLast++];
    }
    *reference = ElementRef{generation, node};
    return reference;
#endif
}

void deleteReference(ElementRef* reference) {
    if (reference->node == kReleasedNode) elementUsedAfterRelease();
    reference->node = kReleasedNode;
#ifdef TESSARY_FAKE_REFERENCES_ON_HEAP
    delete reference;
#else
    pool().released.push_back(reference);
#endif
}

platform::Element handleTo(int node) {
    ++state().live;
    return platform::Element(newReference(state().generation, node));
}

int nodeAt(const void* reference) {
    if (reference == nullptr) return -1;
    const int node = static_cast<const ElementRef*>(reference)->node;
    if (node == kReleasedNode) elementUsedAfterRelease();
    return node;
}

int nodeOf(const platform::Element& element) { return nodeAt(element.get()); }

bool ofThisDesktop(const void* reference) {
    return reference != nullptr && static_cast<const ElementRef*>(reference)->generation == state().generation;
}

int labelled(std::string_view label) {
    const auto found = state().byLabel.find(label);
    return found == state().byLabel.end() ? -1 : found->second;
}

const Attribute* find(const LiveNode& node, std::string_view name) {
    for (const auto& [key, value] : node.attributes) {
        if (key == name) return &value;
    }
    return nullptr;
}

std::string textOf(int node, std::string_view name) {
    const Attribute* value = find(state().nodes[static_cast<std::size_t>(node)], name);
    const auto* text = value ? std::get_if<std::string>(value) : nullptr;
    return text ? *text : std::string{};
}

int add(Node node, int parent) {
    State& s = state();
    const int index = static_cast<int>(s.nodes.size());
    std::string label = std::move(node.label);
    if (label.empty()) label.append("e").append(std::to_string(++s.generatedLabels));
    s.byLabel[label] = index;
    s.nodes.push_back(LiveNode{std::move(label), std::move(node.attributes), {}, parent, node.pressResult, false,
                               node.survivesEscape, node.pressActsAnyway, node.refusesSelection});
    for (Node& child : node.children) {
        const int childIndex = add(std::move(child), index);
        s.nodes[static_cast<std::size_t>(index)].children.push_back(childIndex);
    }
    return index;
}

void removeSubtree(int node) {
    LiveNode& n = state().nodes[static_cast<std::size_t>(node)];
    n.gone = true;
    for (const int child : n.children) removeSubtree(child);
}

bool isGone(int node) { return node < 0 || state().nodes[static_cast<std::size_t>(node)].gone; }

std::vector<int> liveChildren(int node) {
    std::vector<int> result;
    for (const int child : state().nodes[static_cast<std::size_t>(node)].children) {
        if (!isGone(child)) result.push_back(child);
    }
    return result;
}

bool subtreeHolds(int node, std::string_view name, std::string_view expected) {
    if (isGone(node)) return false;
    if (textOf(node, name) == expected) return true;
    for (const int child : liveChildren(node)) {
        if (subtreeHolds(child, name, expected)) return true;
    }
    return false;
}

void openAlert() {
    State& s = state();
    const Script& script = *s.desktop.script;
    std::vector<Node> content{node("alert-text", "AXStaticText", {{"AXValue", script.answer}})};
    if (script.okButton) {
        Node ok = node("alert-ok", "AXButton", {{"AXTitle", std::string("OK")}});
        ok.pressResult = script.okPressResult;
        ok.pressActsAnyway = script.okPressActsAnyway;
        content.push_back(std::move(ok));
    }
    const int application = s.applications.front().node;
    const int alert = add(node("alert", "AXWindow", {{"AXDescription", std::string("\u8B66\u544A")}}, std::move(content)),
                          application);
    // The alert comes to the front: first among the windows, unless this desktop lists it last.
    auto& windows = s.nodes[static_cast<std::size_t>(application)].children;
    windows.insert(script.alertLast ? windows.end() : windows.begin(), alert);
}

// An activation due by now shows.
void settleActivation() {
    State& s = state();
    if (s.activationShowsAt && s.clock >= s.activationShowsAt->first) {
        s.frontmost = s.activationShowsAt->second;
        s.activationShowsAt.reset();
    }
}

// Lets the virtual time that has passed take effect: an activation or an answer due by now shows.
void settle() {
    settleActivation();
    State& s = state();
    if (s.alertOpensAt && s.clock >= *s.alertOpensAt) {
        s.alertOpensAt.reset();
        openAlert();
    }
}

// An entry for a line of text other than a request's.
Entry lineEntry(std::string line) {
    State& s = state();
    s.lines.push_back(std::move(line));
    return {Entry::Kind::line, -1, static_cast<std::uint32_t>(s.lines.size() - 1)};
}

void note(std::string line) { state().entries.push_back(lineEntry(std::move(line))); }

std::uint32_t nameIndex(std::string_view name) {
    auto& names = state().names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return static_cast<std::uint32_t>(i);
    }
    names.emplace_back(name);
    return static_cast<std::uint32_t>(names.size() - 1);
}

// Records one request and returns its number, after the hooks that belong to it have run.
int beginRequest(Entry entry) {
    State& s = state();
    s.entries.push_back(entry);
    const int number = ++s.requests;
    if (!s.beforeRequest.empty()) {
        if (const auto hook = s.beforeRequest.find(number); hook != s.beforeRequest.end()) hook->second();
    }
    settle();
    return number;
}

// The text of an entry: "<verb> <label> <name>" for a request.
std::string lineOf(const Entry& entry) {
    const State& s = state();
    if (entry.kind() == Entry::Kind::line) return s.lines[entry.name];
    const std::string label = entry.node < 0 || static_cast<std::size_t>(entry.node) >= s.nodes.size()
                                  ? std::string("?")
                                  : s.nodes[static_cast<std::size_t>(entry.node)].label;
    if (entry.kind() == Entry::Kind::release) return "release-element " + label;
    const std::string_view verb = entry.kind() == Entry::Kind::get ? "get" : "press";
    const std::string& name = s.names[entry.name];
    std::string line;
    line.reserve(verb.size() + label.size() + name.size() + 2);
    line.append(verb).append(1, ' ').append(label).append(1, ' ').append(name);
    return line;
}

std::optional<std::int32_t> injectedFailure(int request) {
    if (state().failRequest.empty()) return std::nullopt;
    const auto found = state().failRequest.find(request);
    if (found == state().failRequest.end()) return std::nullopt;
    return found->second;
}

platform::Value convert(const Attribute& attribute, std::int32_t& code) {
    return std::visit(
        [&](const auto& v) -> platform::Value {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else if constexpr (std::is_same_v<T, Number>) {
                if (v.value == 0 || v.value == 1) return v.value == 1;
                return platform::OtherValue{};
            } else if constexpr (std::is_same_v<T, Other>) {
                return platform::OtherValue{};
            } else if constexpr (std::is_same_v<T, platform::Point> || std::is_same_v<T, platform::Size> ||
                                 std::is_same_v<T, bool>) {
                return v;
            } else if constexpr (std::is_same_v<T, Failing>) {
                code = v.code;
                if (v.stored) return *v.stored;
                return platform::Absent{};
            } else if constexpr (std::is_same_v<T, ElementAt>) {
                return handleTo(labelled(v.label));
            } else {
                platform::ElementList list;
                for (const std::string& label : v.labels) list.push_back(handleTo(labelled(label)));
                return list;
            }
        },
        attribute);
}


bool contains(int node, platform::Point p) {
    const LiveNode& n = state().nodes[static_cast<std::size_t>(node)];
    const Attribute* position = find(n, "AXPosition");
    const Attribute* size = find(n, "AXSize");
    const auto* at = position ? std::get_if<platform::Point>(position) : nullptr;
    const auto* extent = size ? std::get_if<platform::Size>(size) : nullptr;
    if (at == nullptr || extent == nullptr) return false;
    return p.x >= at->x && p.x < at->x + extent->width && p.y >= at->y && p.y < at->y + extent->height;
}

// The deepest element under the point, children before their parent, earlier before later. A
// scroll area shows only what lies inside its frame: nothing in it is hit outside it.
int deepestAt(int node, platform::Point p) {
    if (textOf(node, "AXRole") == "AXScrollArea" && !contains(node, p)) return -1;
    for (const int child : liveChildren(node)) {
        if (const int hit = deepestAt(child, p); hit >= 0) return hit;
    }
    return contains(node, p) ? node : -1;
}

bool covers(const ScreenWindow& window, platform::Point p) {
    return p.x >= window.position.x && p.x < window.position.x + window.size.width && p.y >= window.position.y &&
           p.y < window.position.y + window.size.height;
}

bool frontWindowAt(platform::Point p) {
    for (const ScreenWindow& window : state().desktop.frontWindows) {
        if (covers(window, p)) return true;
    }
    return false;
}

// The owner of the topmost window at the point: front windows first, then the applications'.
platform::PointOwner ownerOf(platform::Point p) {
    const State& s = state();
    const bool onDisplay = p.x >= 0 && p.x < s.desktop.display.width && p.y >= 0 && p.y < s.desktop.display.height;
    if (!onDisplay) return {platform::Occupant::nothing, -1};
    for (const ScreenWindow& window : s.desktop.frontWindows) {
        if (covers(window, p)) return {platform::Occupant::process, window.processId};
    }
    for (const ApplicationState& application : s.applications) {
        for (const int window : liveChildren(application.node)) {
            if (contains(window, p)) return {platform::Occupant::process, application.processId};
        }
    }
    return {platform::Occupant::nothing, -1};
}

int hitTest(platform::Point p) {
    if (frontWindowAt(p)) return -1;
    for (const ApplicationState& application : state().applications) {
        for (const int window : liveChildren(application.node)) {
            if (const int hit = deepestAt(window, p); hit >= 0) return hit;
        }
    }
    return -1;
}

void clickOn(int node) {
    State& s = state();
    for (int at = node; at >= 0; at = s.nodes[static_cast<std::size_t>(at)].parent) {
        const std::string role = textOf(at, "AXRole");
        if (role == "AXRow") {
            if (s.nodes[static_cast<std::size_t>(at)].refusesSelection) return;
            s.shownRow = s.clock >= s.selectionShowsAt ? s.selectedRow : s.shownRow;
            s.selectedRow = at;
            s.selectionShowsAt = s.clock + s.desktop.selectionShowsAfterMicroseconds;
            return;
        }
        if (role == "AXButton" && textOf(at, "AXTitle") == "Run") {
            if (s.desktop.script && s.selectedRow >= 0 && subtreeHolds(s.selectedRow, "AXValue", "RelayTransportProbe")) {
                s.alertOpensAt = s.clock + s.desktop.script->delayMicroseconds;
            }
            return;
        }
    }
}

// The process id of the application whose tree holds the node.
std::int64_t processOf(int node) {
    State& s = state();
    int at = node;
    while (s.nodes[static_cast<std::size_t>(at)].parent >= 0) at = s.nodes[static_cast<std::size_t>(at)].parent;
    for (const ApplicationState& application : s.applications) {
        if (application.node == at) return application.processId;
    }
    return 0;
}

// Escape reaches the element with the keyboard focus: a rename field (a text field inside a row)
// closes, unless it is one that survives Escape. Nothing else is affected.
void cancelFocusedRename() {
    State& s = state();
    const int field = labelled(s.desktop.focus);
    if (isGone(field) || textOf(field, "AXRole") != "AXTextField") return;
    if (s.nodes[static_cast<std::size_t>(field)].survivesEscape) return;
    for (int at = s.nodes[static_cast<std::size_t>(field)].parent; at >= 0; at = s.nodes[static_cast<std::size_t>(at)].parent) {
        if (textOf(at, "AXRole") == "AXRow") {
            removeSubtree(field);
            s.desktop.focus.clear();
            return;
        }
    }
}

// The window (a direct child of an application element) that holds the node.
int windowOf(int node) {
    State& s = state();
    for (int at = node; at >= 0; at = s.nodes[static_cast<std::size_t>(at)].parent) {
        const int parent = s.nodes[static_cast<std::size_t>(at)].parent;
        if (parent >= 0 && s.nodes[static_cast<std::size_t>(parent)].parent < 0) return at;
    }
    return -1;
}

}  // namespace

Node node(std::string label, std::string role, Attributes attributes, std::vector<Node> children) {
    attributes.insert(attributes.begin(), {"AXRole", std::move(role)});
    return Node{std::move(label), std::move(attributes), std::move(children)};
}

void install(Desktop desktop) {
    State& s = state();
    const int live = s.live;  // handles of an earlier desktop may still be held
    const std::uint32_t generation = s.generation + 1;
    s = State{};
    s.live = live;
    s.generation = generation;
    for (std::size_t i = 0; i < desktop.applications.size(); ++i) {
        Application& application = desktop.applications[i];
        Node element{i == 0 ? "app" : "app" + std::to_string(i + 1), std::move(application.attributes),
                     std::move(application.windows)};
        element.attributes.insert(element.attributes.begin(), {"AXRole", std::string("AXApplication")});
        const int index = add(std::move(element), -1);
        s.applications.push_back({application.bundleIdentifier, application.processId, index});
    }
    s.selectedRow = labelled(desktop.selected);
    s.shownRow = s.selectedRow;
    s.frontmost = desktop.frontmost;
    s.desktop = std::move(desktop);
    s.desktop.applications.clear();
}

const std::vector<std::string>& record() {
    State& s = state();
    for (std::size_t i = s.record.size(); i < s.entries.size(); ++i) s.record.push_back(lineOf(s.entries[i]));
    return s.record;
}

std::vector<std::string> linesOf(const std::vector<std::string>& all, std::initializer_list<std::string_view> kinds) {
    std::vector<std::string> lines;
    for (const std::string& line : all) {
        for (const std::string_view kind : kinds) {
            if (line.starts_with(kind) && (line.size() == kind.size() || line[kind.size()] == ' ')) {
                lines.push_back(line);
                break;
            }
        }
    }
    return lines;
}

std::vector<std::string> recordOf(std::initializer_list<std::string_view> kinds) { return linesOf(record(), kinds); }

int liveElements() { return state().live; }
int requests() { return state().requests; }
std::int64_t now() { return state().clock; }

void beforeRequest(int n, std::function<void()> action) { state().beforeRequest[n] = std::move(action); }
void failRequest(int n, std::int32_t code) { state().failRequest[n] = code; }
void answerRequest(int n, Attribute value) { state().answerRequest.insert_or_assign(n, std::move(value)); }
void answerReads(const std::string& label, const std::string& attribute, std::vector<Attribute> answers) {
    std::reverse(answers.begin(), answers.end());
    state().answerReads.insert_or_assign({label, attribute}, std::move(answers));
}
void raise(ScreenWindow window) {
    auto& windows = state().desktop.frontWindows;
    windows.insert(windows.begin(), window);
}

void vanish(const std::string& label) {
    if (const int node = labelled(label); node >= 0) removeSubtree(node);
}

bool exists(const std::string& label) { return !isGone(labelled(label)); }

std::string labelOf(const platform::Element& element) {
    const int node = nodeOf(element);
    return node < 0 ? "?" : state().nodes[static_cast<std::size_t>(node)].label;
}

std::vector<std::string> labelsOf(const platform::ElementList& elements) {
    std::vector<std::string> labels;
    for (const platform::Element& element : elements) labels.push_back(labelOf(element));
    return labels;
}

std::string selectedRow() {
    const int row = state().selectedRow;
    return row < 0 ? std::string{} : state().nodes[static_cast<std::size_t>(row)].label;
}


}  // namespace fake

namespace platform {

void releaseElement(void* reference) noexcept {
    auto& s = fake::state();
    --s.live;
    if (fake::ofThisDesktop(reference)) s.entries.push_back({fake::Entry::Kind::release, fake::nodeAt(reference), 0});
    fake::deleteReference(static_cast<fake::ElementRef*>(reference));
}

void releaseApplication(void* reference) noexcept { delete static_cast<fake::ApplicationRef*>(reference); }

void releaseEvent(void* reference) noexcept {
    const auto* event = static_cast<fake::EventRef*>(reference);
    fake::note("release " + fake::describe(*event));
    delete event;
}

bool isProcessTrusted() {
    fake::note("trust");
    if (const std::string& path = fake::state().desktop.openedAtTrust; !path.empty()) {
        (void)::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);  // kept open
    }
    return fake::state().desktop.trusted;
}

std::vector<Application> runningApplications(std::string_view bundleIdentifier) {
    auto& s = fake::state();
    fake::note("applications " + std::string(bundleIdentifier));
    std::vector<Application> found;
    for (std::size_t i = 0; i < s.applications.size(); ++i) {
        if (s.applications[i].bundleIdentifier == bundleIdentifier) {
            found.emplace_back(new fake::ApplicationRef{static_cast<int>(i)});
        }
    }
    return found;
}

std::int64_t processIdentifier(const Application& application) {
    const int index = static_cast<fake::ApplicationRef*>(application.get())->index;
    return fake::state().applications[static_cast<std::size_t>(index)].processId;
}

PointOwner ownerAt(Point point) {
    const int request = fake::beginRequest(fake::lineEntry("look " + fake::format(point.x) + "," + fake::format(point.y)));
    if (fake::injectedFailure(request) || fake::state().desktop.ownerUnknown) return {Occupant::unknown, -1};
    return fake::ownerOf(point);
}

bool holdRunLock() {
    fake::note("lock");
    return !fake::state().desktop.lockFails;
}

Activation activate(const Application& application) {
    auto& s = fake::state();
    const std::int64_t processId = processIdentifier(application);
    fake::note("activate " + std::to_string(processId));
    if (s.desktop.refuseActivation) return Activation::refused;
    s.activationShowsAt.emplace(s.clock + s.desktop.activationShowsAfterMicroseconds, processId);
    fake::settleActivation();
    return Activation::allowed;
}

Element createApplicationElement(std::int64_t processId) {
    auto& s = fake::state();
    fake::note("application-element " + std::to_string(processId));
    for (const auto& application : s.applications) {
        if (application.processId == processId) return fake::handleTo(application.node);
    }
    return fake::handleTo(-1);
}

Element retainElement(const Element& element) { return fake::handleTo(fake::nodeOf(element)); }

AttributeResult copyAttributeValue(const Element& element, std::string_view attribute) {
    auto& s = fake::state();
    const int node = fake::nodeOf(element);
    const int request = fake::beginRequest({fake::Entry::Kind::get, node, fake::nameIndex(attribute)});
    if (const auto code = fake::injectedFailure(request)) return {*code, Absent{}};
    if (const auto answer = s.answerRequest.find(request); answer != s.answerRequest.end()) {
        AttributeResult result;
        result.value = fake::convert(answer->second, result.code);
        return result;
    }
    if (!s.answerReads.empty() && node >= 0) {
        const auto found = s.answerReads.find(std::pair<std::string, std::string>(s.nodes[static_cast<std::size_t>(node)].label, attribute));
        if (found != s.answerReads.end() && !found->second.empty()) {
            AttributeResult result;
            result.value = fake::convert(found->second.back(), result.code);
            found->second.pop_back();
            return result;
        }
    }
    if (fake::isGone(node)) return {kInvalidElement, Absent{}};
    const bool isApplication = s.nodes[static_cast<std::size_t>(node)].parent < 0;
    if (isApplication && attribute == "AXWindows" && s.windowsUnanswered > 0) {
        --s.windowsUnanswered;
        return {kCannotComplete, Absent{}};
    }
    if (const fake::Attribute* value = fake::find(s.nodes[static_cast<std::size_t>(node)], attribute)) {
        AttributeResult result;
        result.value = fake::convert(*value, result.code);
        return result;
    }
    // The most frequent read first: a walk asks every element for its children.
    if (attribute == "AXChildren" || (isApplication && attribute == "AXWindows")) {
        // The live children, as liveChildren lists them, without a list of indices in between.
        const std::vector<int>& children = s.nodes[static_cast<std::size_t>(node)].children;
        ElementList list;
        list.reserve(children.size());
        for (const int child : children) {
            if (!fake::isGone(child)) list.push_back(fake::handleTo(child));
        }
        return {kSuccess, std::move(list)};
    }
    if (isApplication && attribute == "AXFrontmost") return {kSuccess, fake::processOf(node) == s.frontmost};
    if (attribute == "AXSelected" && fake::textOf(node, "AXRole") == "AXRow") {
        const int shown = s.clock >= s.selectionShowsAt ? s.selectedRow : s.shownRow;
        return {kSuccess, node == shown};
    }
    return {kAttributeUnsupported, Absent{}};
}

std::int32_t performAction(const Element& element, std::string_view action) {
    auto& s = fake::state();
    const int node = fake::nodeOf(element);
    const int request = fake::beginRequest({fake::Entry::Kind::press, node, fake::nameIndex(action)});
    if (const auto code = fake::injectedFailure(request)) return *code;
    if (fake::isGone(node)) return kInvalidElement;
    if (action != "AXPress") return kActionUnsupported;
    const std::int32_t result = s.nodes[static_cast<std::size_t>(node)].pressResult;
    const bool acts = result == kSuccess || s.nodes[static_cast<std::size_t>(node)].pressActsAnyway;
    const int window = fake::windowOf(node);
    const bool okOfAlert = fake::textOf(node, "AXRole") == "AXButton" && fake::textOf(node, "AXTitle") == "OK" &&
                           window >= 0 && fake::textOf(window, "AXDescription") == "\u8B66\u544A";
    if (okOfAlert && acts) fake::removeSubtree(window);
    if (okOfAlert && s.desktop.script) s.windowsUnanswered = s.desktop.script->windowsUnansweredAfterOk;
    return result;
}

// Each creation, also one that fails, is recorded with what the call received. The seam carries
// no event source (every event has none), so there is none to record here; the macOS stand-in
// records the source that reaches CGEventCreateMouseEvent and CGEventCreateKeyboardEvent.
std::optional<Event> createMouseEvent(MouseEventType type, Point position, MouseButton button) {
    auto& s = fake::state();
    const fake::EventRef event{true, type, position, static_cast<int>(button), 0, false};
    fake::note("create " + fake::describe(event) + " button " + std::to_string(event.button));
    if (++s.mouseEventsCreated == s.desktop.failMouseEventAt) return std::nullopt;
    return Event(new fake::EventRef(event));
}

std::optional<Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown) {
    auto& s = fake::state();
    const fake::EventRef event{false, MouseEventType::leftMouseDown, {}, 0, virtualKey, keyDown};
    fake::note("create " + fake::describe(event));
    if (++s.keyboardEventsCreated == s.desktop.failKeyboardEventAt) return std::nullopt;
    return Event(new fake::EventRef(event));
}

void postEvent(const Event& event) {
    auto& s = fake::state();
    const auto& e = *static_cast<const fake::EventRef*>(event.get());
    fake::note("post " + fake::describe(e));
    if (!e.mouse) {
        if (e.keyDown && e.key == 53) fake::cancelFocusedRename();
        return;
    }
    fake::settleActivation();
    const bool down = e.type == MouseEventType::leftMouseDown;
    const int hit = fake::hitTest(e.position);
    if (down) {
        s.pressedOn = hit;
        // An application that is not frontmost takes the click as activation only.
        if (hit >= 0 && fake::processOf(hit) != s.frontmost) {
            s.frontmost = fake::processOf(hit);
            s.pressedOn = -1;
        }
    } else {
        if (hit >= 0 && hit == s.pressedOn) fake::clickOn(hit);
        s.pressedOn = -1;
    }
}

void sleepMicroseconds(std::uint32_t microseconds) {
    auto& s = fake::state();
    fake::note("sleep " + std::to_string(microseconds));
    s.clock += microseconds;
}

bool mayPostEvents() {
    fake::note("post-access");
    return fake::state().desktop.mayPostEvents;
}

CodeSignature codeSignature() { return fake::state().desktop.signature; }

std::int64_t frontmostProcess() {
    fake::note("frontmost");
    return fake::state().frontmost;
}

std::int64_t ownProcessId() {
    fake::note("own-pid");
    return fake::state().desktop.ownProcessId;
}

std::optional<ProcessEntry> processEntry(std::int64_t processId) {
    fake::note("process " + std::to_string(processId));
    for (const auto& [id, entry] : fake::state().desktop.processes) {
        if (id == processId) return entry;
    }
    return std::nullopt;
}

LockTest testRunLock() {
    fake::note("lock-test");
    return fake::state().desktop.lock;
}

std::int64_t monotonicMicroseconds() {
    fake::note("clock");
    return fake::state().clock;
}

}  // namespace platform
