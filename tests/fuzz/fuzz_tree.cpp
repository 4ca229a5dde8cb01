// Fuzz target: the subtree walk, the Scripts inspector locator and the alert reader over fake
// desktops decoded from the input.
//
// The input describes one application with up to 20 elements: each element's parent (an
// earlier element or the application), its role, texts, geometry and "AXChildren" (the real
// children, or a list of any elements by label, the element itself and missing ones included:
// cycles and dangling references), read failures with any result code and stored values, values
// of the wrong kind, the OK button's press result, and the application's own "AXWindows". With
// the first byte's low bit set, requests are also failed, answered with other values or preceded
// by a vanishing element, by request number.
//
// Every input (but those whose walks would list thousands of elements, which are passed over):
// the walk of the application element, then alertText, findScriptWindow and, when an alert was
// found, dismissAlert on it. Checked each time:
// - nothing crashes, leaks or is used after release (the sanitizers);
// - every element handle is released afterwards (fake::liveElements() back where it was);
// - the walk costs one "AXChildren" request per listed element and lists at most
//   1 + B + ... + B^12 elements for a greatest list length B;
// - a found alert has a non-empty text; a found inspector has three elements.
// Without injected faults the desktop stands still, and a reference model, written from the
// rules rather than from the code, predicts every result and every request line in order: the
// walk's list, the alert's window and text, the inspector's window, scroll area and row, the
// button pressed and whether the press reported success.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ax/walk.h"
#include "main/fail.h"
#include "platform/fake/fake_desktop.h"
#include "target/alert.h"
#include "target/script_window.h"
#include "tests/fuzz/violation.h"
#include "text/unicode.h"

namespace {

using fuzz::require;

constexpr std::int64_t kProcessId = 4242;
constexpr std::size_t kMostElements = 20;
constexpr std::size_t kMostListed = 4;
// Inputs whose walks would list more than this, or whose locator would walk more than this in
// all, are passed over: a single run would take seconds.
constexpr std::uint64_t kMostWalked = 3000;
constexpr std::uint64_t kMostNested = 60000;

const std::string kAlertDescription = "\u8B66\u544A";

// Reads the input front to back; past its end every byte reads as 0.
struct Reader {
    std::string_view data;
    std::size_t at = 0;

    std::uint8_t byte() { return at < data.size() ? static_cast<std::uint8_t>(data[at++]) : 0; }
    std::string bytes(std::size_t most) {
        const std::size_t length = std::min<std::size_t>(byte() % (most + 1), data.size() - std::min(at, data.size()));
        std::string out(data.substr(std::min(at, data.size()), length));
        at += length;
        return out;
    }
};

const std::int32_t kCodes[] = {platform::kFailure,          platform::kIllegalArgument,      platform::kInvalidElement,
                               platform::kCannotComplete,   platform::kAttributeUnsupported, platform::kActionUnsupported,
                               platform::kApiDisabled,      platform::kNoValue,              1};

std::int32_t code(Reader& in) { return kCodes[in.byte() % std::size(kCodes)]; }

std::string label(std::size_t index) { return "n" + std::to_string(index); }

// A label among the elements, the application, or one that names nothing.
std::string anyLabel(Reader& in, std::size_t elements) {
    const std::size_t pick = in.byte() % (elements + 2);
    if (pick < elements) return label(pick);
    return pick == elements ? "app" : "missing";
}

fake::ElementsAt labels(Reader& in, std::size_t elements) {
    fake::ElementsAt list;
    const std::size_t count = in.byte() % (kMostListed + 1);
    for (std::size_t i = 0; i < count; ++i) list.labels.push_back(anyLabel(in, elements));
    return list;
}

// Any attribute value: the texts the tool looks for, near misses, any bytes, failures, and
// values of every other kind.
fake::Attribute value(Reader& in, std::size_t elements) {
    static const char* const texts[] = {
        "RelayTransportProbe", "OK", "\u8B66\u544A", "", "AXRow", "AXScrollArea", "AXOutline", "AXStaticText",
        "AXButton", "AXTextField", "RelayTransportProbe ", "relaytransportprobe", "O\u212A", "ok", "\u8B66\u544A ",
        "TALVO_RELAY_BEGIN_1 TALVO_RELAY_END_1", " ", "\n",
    };
    switch (in.byte() % 10) {
        case 0:
        case 1:
        case 2:
            return std::string(texts[in.byte() % std::size(texts)]);
        case 3:
            return in.bytes(64);
        case 4: {
            fake::Failing failing{code(in), std::nullopt};
            if (in.byte() % 2) failing.stored = texts[in.byte() % std::size(texts)];
            return failing;
        }
        case 5:
            return platform::Point{static_cast<double>(in.byte()), static_cast<double>(in.byte())};
        case 6:
            return platform::Size{static_cast<double>(in.byte()), static_cast<double>(in.byte())};
        case 7:
            return fake::ElementAt{anyLabel(in, elements)};
        case 8:
            return labels(in, elements);
        default:
            return in.byte() % 2 ? fake::Attribute(fake::Number{7}) : fake::Attribute(fake::Other{});
    }
}

// A role: mostly one the tool looks for, sometimes anything at all.
fake::Attribute role(Reader& in, std::size_t elements) {
    static const char* const roles[] = {"AXWindow", "AXScrollArea", "AXOutline", "AXRow",    "AXStaticText",
                                        "AXButton", "AXTextField",  "AXCell",    "AXGroup"};
    const std::uint8_t pick = in.byte();
    if (pick < 224) return std::string(roles[pick % std::size(roles)]);
    return value(in, elements);
}

struct Element {
    int parent = -1;  // -1: a window of the application
    fake::Attributes attributes;
    std::int32_t pressResult = platform::kSuccess;
};

struct Injection {
    enum Kind { fail, answer, vanish } kind = fail;
    int request = 0;
    std::int32_t code = platform::kFailure;
    fake::Attribute value;
    std::string label;
};

struct Scene {
    std::vector<Element> elements;
    fake::Attributes applicationAttributes;
    std::vector<Injection> injections;
};

Scene decode(std::string_view data) {
    Reader in{data};
    Scene scene;
    const std::uint8_t flags = in.byte();
    const std::size_t count = 1 + in.byte() % kMostElements;
    for (std::size_t i = 0; i < count; ++i) {
        Element element;
        const std::uint8_t parent = in.byte();
        if (i > 0 && parent < 0xC0) element.parent = static_cast<int>(parent % i);
        element.attributes.emplace_back("AXRole", role(in, count));
        const std::uint8_t present = in.byte();
        static const char* const names[] = {"AXValue", "AXTitle", "AXDescription", "AXPosition", "AXSize", "AXChildren"};
        for (std::size_t bit = 0; bit < std::size(names); ++bit) {
            if (!(present & (1u << bit))) continue;
            if (names[bit] == std::string_view("AXChildren") && in.byte() % 4 != 0) {
                element.attributes.emplace_back(names[bit], labels(in, count));
            } else {
                element.attributes.emplace_back(names[bit], value(in, count));
            }
        }
        if (present & 0x40) element.pressResult = code(in);
        scene.elements.push_back(std::move(element));
    }
    if (flags & 2) {
        fake::Attribute windows = in.byte() % 2 ? fake::Attribute(labels(in, count)) : value(in, count);
        scene.applicationAttributes.emplace_back("AXWindows", std::move(windows));
    }
    if (flags & 1) {
        const std::size_t injections = 1 + in.byte() % 4;
        for (std::size_t i = 0; i < injections; ++i) {
            Injection injection;
            injection.kind = static_cast<Injection::Kind>(in.byte() % 3);
            const int low = in.byte();
            const int high = in.byte();
            injection.request = 1 + (low | high << 8) % 400;
            if (injection.kind == Injection::fail) injection.code = code(in);
            if (injection.kind == Injection::answer) injection.value = value(in, count);
            if (injection.kind == Injection::vanish) injection.label = anyLabel(in, count);
            scene.injections.push_back(std::move(injection));
        }
    }
    return scene;
}

fake::Desktop desktopOf(const Scene& scene) {
    std::vector<fake::Node> nodes(scene.elements.size());
    for (std::size_t i = 0; i < scene.elements.size(); ++i) {
        nodes[i].label = label(i);
        nodes[i].attributes = scene.elements[i].attributes;
        nodes[i].pressResult = scene.elements[i].pressResult;
    }
    // Children come after their parents, so the tree is assembled from the last element back.
    std::vector<fake::Node> windows;
    for (std::size_t i = scene.elements.size(); i-- > 0;) {
        const int parent = scene.elements[i].parent;
        auto& siblings = parent < 0 ? windows : nodes[static_cast<std::size_t>(parent)].children;
        siblings.insert(siblings.begin(), std::move(nodes[i]));
    }
    fake::Desktop desktop;
    desktop.applications.push_back({"com.corel.coreldrawsuite.2022.coreldraw", kProcessId, std::move(windows),
                                    scene.applicationAttributes});
    return desktop;
}

// The reference: the desktop as the rules read it, and the lookups as the rules state them,
// recording each request as the fake records it. Element -1 names nothing ("?").
struct Model {
    const Scene& scene;
    int application = 0;
    std::vector<std::vector<int>> realChildren;
    std::map<std::string, int, std::less<>> byLabel;
    std::vector<std::string> record;

    explicit Model(const Scene& s) : scene(s), application(static_cast<int>(s.elements.size())) {
        realChildren.resize(s.elements.size() + 1);
        for (std::size_t i = 0; i < s.elements.size(); ++i) {
            const int parent = s.elements[i].parent < 0 ? application : s.elements[i].parent;
            realChildren[static_cast<std::size_t>(parent)].push_back(static_cast<int>(i));
            byLabel[label(i)] = static_cast<int>(i);
        }
        byLabel["app"] = application;
    }

    std::string labelOf(int e) const {
        if (e < 0) return "?";
        return e == application ? "app" : label(static_cast<std::size_t>(e));
    }
    int elementNamed(const std::string& name) const {
        const auto found = byLabel.find(name);
        return found == byLabel.end() ? -1 : found->second;
    }
    const fake::Attributes& attributesOf(int e) const {
        return e == application ? scene.applicationAttributes : scene.elements[static_cast<std::size_t>(e)].attributes;
    }
    const fake::Attribute* stored(int e, std::string_view name) const {
        for (const auto& [key, attribute] : attributesOf(e)) {
            if (key == name) return &attribute;
        }
        return nullptr;
    }

    // A text attribute: "" unless the read succeeds with a text.
    std::string text(int e, std::string_view name) {
        record.push_back("get " + labelOf(e) + " " + std::string(name));
        if (e < 0) return {};
        const fake::Attribute* attribute = stored(e, name);
        const auto* string = attribute ? std::get_if<std::string>(attribute) : nullptr;
        return string ? *string : std::string{};
    }

    // A list attribute: empty unless the read succeeds with a list. An element's children and
    // the application's windows are its real children unless an attribute says otherwise.
    std::vector<int> list(int e, std::string_view name) {
        record.push_back("get " + labelOf(e) + " " + std::string(name));
        if (e < 0) return {};
        if (const fake::Attribute* attribute = stored(e, name)) {
            std::vector<int> out;
            if (const auto* elements = std::get_if<fake::ElementsAt>(attribute)) {
                for (const std::string& listed : elements->labels) out.push_back(elementNamed(listed));
            }
            return out;
        }
        const bool real = name == "AXChildren" || (e == application && name == "AXWindows");
        return real ? realChildren[static_cast<std::size_t>(e)] : std::vector<int>{};
    }

    std::vector<int> walk(int e, std::int64_t depth = 0) {
        if (depth > 12) return {};
        std::vector<int> out{e};
        const std::vector<int> kids = list(e, "AXChildren");
        if (depth == 12) return out;
        for (const int kid : kids) {
            const std::vector<int> below = walk(kid, depth + 1);
            out.insert(out.end(), below.begin(), below.end());
        }
        return out;
    }

    bool holds(int e, std::string_view name, std::string_view expected) {
        for (const int x : walk(e)) {
            if (text::equal(text(x, name), expected)) return true;
        }
        return false;
    }

    std::optional<std::pair<int, std::string>> alertText() {
        for (const int window : list(application, "AXWindows")) {
            if (!text::equal(text(window, "AXDescription"), kAlertDescription)) continue;
            std::vector<int> staticTexts;
            for (const int e : walk(window)) {
                if (text::equal(text(e, "AXRole"), "AXStaticText")) staticTexts.push_back(e);
            }
            std::vector<std::string> values;
            for (const int e : staticTexts) values.push_back(text(e, "AXValue"));
            for (const std::string& value : values) {
                if (!value.empty()) return std::pair{window, value};
            }
        }
        return std::nullopt;
    }

    std::optional<std::vector<int>> findScriptWindow() {
        for (const int window : list(application, "AXWindows")) {
            const std::vector<int> elements = walk(window);
            std::optional<int> scrollArea;
            for (const int e : elements) {
                if (text::equal(text(e, "AXRole"), "AXScrollArea") && holds(e, "AXRole", "AXOutline")) {
                    scrollArea = e;
                    break;
                }
            }
            if (!scrollArea) continue;
            for (const int e : elements) {
                if (text::equal(text(e, "AXRole"), "AXRow") && holds(e, "AXValue", "RelayTransportProbe")) {
                    return std::vector<int>{window, *scrollArea, e};
                }
            }
        }
        return std::nullopt;
    }

    // The button pressed and its result code.
    std::optional<std::pair<int, std::int32_t>> dismissAlert(int window) {
        for (const int e : walk(window)) {
            if (!text::equal(text(e, "AXRole"), "AXButton")) continue;
            if (!text::equal(text(e, "AXTitle"), "OK")) continue;
            record.push_back("press " + labelOf(e) + " AXPress");
            return std::pair{e, e < 0 ? platform::kInvalidElement : scene.elements[static_cast<std::size_t>(e)].pressResult};
        }
        return std::nullopt;
    }

    // How many elements the walk from `e` lists, without recording anything.
    std::uint64_t walkSize(int e, std::int64_t depth, std::map<std::pair<int, std::int64_t>, std::uint64_t>& known) {
        if (depth > 12) return 0;
        if (depth == 12 || e < 0) return 1;
        const auto key = std::pair{e, depth};
        if (const auto found = known.find(key); found != known.end()) return found->second;
        std::uint64_t size = 1;
        const std::size_t mark = record.size();
        for (const int kid : list(e, "AXChildren")) size = std::min(size + walkSize(kid, depth + 1, known), kMostWalked + 1);
        record.resize(mark);
        known[key] = size;
        return size;
    }

    // The longest list any read can give, and whether any walk would list too many elements.
    std::size_t breadth() {
        std::size_t most = 0;
        for (int e = 0; e <= application; ++e) {
            most = std::max(most, list(e, "AXChildren").size());
            most = std::max(most, list(e, "AXWindows").size());
        }
        record.clear();
        return most;
    }
    // The elements that the walks rooted at every element of e's walk list together: what the
    // locator's second walks cost at most.
    std::uint64_t nestedSize(int e, std::int64_t depth, std::map<std::pair<int, std::int64_t>, std::uint64_t>& sizes,
                             std::map<std::pair<int, std::int64_t>, std::uint64_t>& known) {
        if (depth > 12) return 0;
        std::uint64_t total = walkSize(e, 0, sizes);
        if (depth == 12 || e < 0) return total;
        const auto key = std::pair{e, depth};
        if (const auto found = known.find(key); found != known.end()) return found->second;
        const std::size_t mark = record.size();
        for (const int kid : list(e, "AXChildren")) {
            total = std::min(total + nestedSize(kid, depth + 1, sizes, known), kMostNested + 1);
        }
        record.resize(mark);
        known[key] = total;
        return total;
    }

    // Whether the lookups would take too long on this desktop.
    bool tooLarge() {
        std::map<std::pair<int, std::int64_t>, std::uint64_t> sizes;
        std::map<std::pair<int, std::int64_t>, std::uint64_t> nested;
        if (walkSize(application, 0, sizes) > kMostWalked) return true;
        std::uint64_t total = 0;
        for (const int window : list(application, "AXWindows")) total += nestedSize(window, 0, sizes, nested);
        record.clear();
        return total > kMostNested;
    }
};

// 1 + B + ... + B^12: the most elements a walk can list when no list is longer than B.
std::uint64_t walkBound(std::uint64_t breadth) {
    std::uint64_t total = 0;
    std::uint64_t level = 1;
    for (int depth = 0; depth <= 12; ++depth) {
        total += level;
        level *= breadth;
    }
    return total;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

void requireSame(const std::vector<std::string>& expected, const std::vector<std::string>& actual,
                 std::string_view what) {
    if (actual != expected) fuzz::violated(what, {joined(expected), joined(actual)});
}

// The requests the fake has recorded since `mark` (its other lines, element releases say, left
// out), and the model's record, which is cleared.
void requireSameRequests(Model& model, std::size_t mark, std::string_view what) {
    const auto& record = fake::record();
    const std::vector<std::string> since(record.begin() + static_cast<std::ptrdiff_t>(mark), record.end());
    requireSame(model.record, fake::linesOf(since, {"get", "press"}), what);
    model.record.clear();
}

// What one step of the run checks: `model` is there only while the desktop stands still.
struct Step {
    const platform::Element& root;
    Model* model;
    std::size_t mark = fake::record().size();
};

void checkWalk(const Step& step, std::uint64_t breadth) {
    const int requestsBefore = fake::requests();
    const platform::ElementList walk = ax::descendants(step.root);
    require(!walk.empty() && walk.size() <= walkBound(breadth), "the walk lists the root and is bounded");
    require(static_cast<std::size_t>(fake::requests() - requestsBefore) == walk.size(),
            "the walk makes one request per listed element");
    if (!step.model) return;
    std::vector<std::string> expected;
    for (const int e : step.model->walk(step.model->application)) expected.push_back(step.model->labelOf(e));
    requireSameRequests(*step.model, step.mark, "the walk reads what the rules read");
    requireSame(expected, fake::labelsOf(walk), "the walk lists what the rules list");
}

std::optional<target::AlertMatch> checkAlertText(const Step& step) {
    std::optional<target::AlertMatch> alert = target::alertText(step.root);
    require(!alert || (alert->window && !alert->text.empty()), "a found alert has a window and a message");
    if (!step.model) return alert;
    const auto expected = step.model->alertText();
    requireSameRequests(*step.model, step.mark, "alertText reads what the rules read");
    require(alert.has_value() == expected.has_value(), "alertText finds an alert exactly when the rules do");
    if (alert) {
        requireSame({step.model->labelOf(expected->first)}, {fake::labelOf(alert->window)},
                    "alertText finds the rules' window");
        requireSame({expected->second}, {alert->text}, "alertText reads the rules' message");
    }
    return alert;
}

void checkFindScriptWindow(const Step& step) {
    const std::optional<target::ScriptWindowMatch> match = target::findScriptWindow(step.root);
    require(!match || (match->window && match->scrollArea && match->row), "a found inspector has three elements");
    if (!step.model) return;
    const auto expected = step.model->findScriptWindow();
    requireSameRequests(*step.model, step.mark, "findScriptWindow reads what the rules read");
    require(match.has_value() == expected.has_value(), "findScriptWindow finds a match exactly when the rules do");
    if (!match) return;
    std::vector<std::string> wanted;
    for (const int e : *expected) wanted.push_back(step.model->labelOf(e));
    requireSame(wanted, {fake::labelOf(match->window), fake::labelOf(match->scrollArea), fake::labelOf(match->row)},
                "findScriptWindow finds the rules' elements");
}

void checkDismissAlert(const Step& step, const platform::Element& window) {
    bool failed = false;
    bool done = false;
    try {
        done = target::dismissAlert(window);
    } catch (const tessary::Failure&) {
        failed = true;
    }
    if (!step.model) return;
    const auto expected = step.model->dismissAlert(step.model->elementNamed(fake::labelOf(window)));
    requireSameRequests(*step.model, step.mark, "dismissAlert reads and presses what the rules say");
    const std::int32_t code = expected ? expected->second : platform::kSuccess;
    require(!failed, "dismissAlert leaves a press that did not succeed to its caller");
    require(done == (code == platform::kSuccess), "dismissAlert reports a press that did not succeed");
}

void inject(const Injection& injection, std::uint64_t& breadth) {
    switch (injection.kind) {
        case Injection::fail:
            fake::failRequest(injection.request, injection.code);
            break;
        case Injection::answer:
            fake::answerRequest(injection.request, injection.value);
            if (const auto* list = std::get_if<fake::ElementsAt>(&injection.value)) {
                breadth = std::max<std::uint64_t>(breadth, list->labels.size());
            }
            break;
        case Injection::vanish:
            fake::beforeRequest(injection.request, [label = injection.label] { fake::vanish(label); });
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Scene scene = decode(std::string_view(reinterpret_cast<const char*>(data), size));
    Model model(scene);
    if (model.tooLarge()) return -1;
    std::uint64_t breadth = model.breadth();
    Model* reference = scene.injections.empty() ? &model : nullptr;

    fake::install(desktopOf(scene));
    for (const Injection& injection : scene.injections) inject(injection, breadth);
    const int liveBefore = fake::liveElements();
    {
        const platform::Element root = platform::createApplicationElement(kProcessId);
        checkWalk({root, reference}, breadth);
        const std::optional<target::AlertMatch> alert = checkAlertText({root, reference});
        checkFindScriptWindow({root, reference});
        if (alert) checkDismissAlert({root, reference}, alert->window);
    }
    require(fake::liveElements() == liveBefore, "every element handle is released",
            {std::to_string(liveBefore), std::to_string(fake::liveElements())});
    return 0;
}
