#include "desktop_support.h"

#include <thread>

namespace desktop_support {

using platform::Element;
using platform::ElementList;

std::string text(const Element& element, const char* attribute) {
    auto result = platform::copyAttributeValue(element, attribute);
    if (result.code != platform::kSuccess) return "";
    auto* value = std::get_if<std::string>(&result.value);
    return value != nullptr ? *value : "";
}

ElementList list(const Element& element, const char* attribute) {
    auto result = platform::copyAttributeValue(element, attribute);
    if (result.code != platform::kSuccess) return {};
    auto* elements = std::get_if<ElementList>(&result.value);
    return elements != nullptr ? std::move(*elements) : ElementList{};
}

namespace {

void appendWalk(Element element, int depth, ElementList& walk) {
    const std::size_t index = walk.size();
    walk.push_back(std::move(element));
    if (depth >= 12) return;
    for (auto& child : list(walk[index], "AXChildren")) appendWalk(std::move(child), depth + 1, walk);
}

void dumpInto(const Element& element, int depth, std::string& out) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + text(element, "AXRole");
    const auto value = platform::copyAttributeValue(element, "AXValue");
    if (const auto* string = std::get_if<std::string>(&value.value)) out += " \"" + *string + "\"";
    const std::string title = text(element, "AXTitle");
    const std::string description = text(element, "AXDescription");
    if (!title.empty()) out += " [" + title + "]";
    if (!description.empty()) out += " {" + description + "}";
    out += "\n";
    if (depth >= 12) return;
    for (const auto& child : list(element, "AXChildren")) dumpInto(child, depth + 1, out);
}

}  // namespace

ElementList descendants(const Element& root) {
    ElementList walk;
    for (auto& child : list(root, "AXChildren")) appendWalk(std::move(child), 1, walk);
    return walk;
}

std::optional<Element> find(const Element& root, const std::string& role,
                            const std::optional<std::string>& value) {
    for (auto& element : descendants(root)) {
        if (text(element, "AXRole") != role) continue;
        if (value && text(element, "AXValue") != *value) continue;
        return std::move(element);
    }
    return std::nullopt;
}

std::optional<Element> windowTitled(const Element& application, const std::string& title) {
    for (auto& window : list(application, "AXWindows")) {
        if (text(window, "AXTitle") == title) return std::move(window);
    }
    return std::nullopt;
}

std::string dump(const Element& root) {
    std::string out;
    dumpInto(root, 0, out);
    return out;
}

bool click(platform::Point point) {
    for (const auto type : {platform::MouseEventType::leftMouseDown,
                            platform::MouseEventType::leftMouseUp}) {
        auto event = platform::createMouseEvent(type, point, platform::MouseButton::left);
        if (!event) return false;
        platform::postEvent(*event);
        platform::sleepMicroseconds(50000);
    }
    return true;
}

bool escape() {
    for (const bool down : {true, false}) {
        auto event = platform::createKeyboardEvent(53, down);
        if (!event) return false;
        platform::postEvent(*event);
    }
    return true;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    do {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return condition();
}

std::optional<platform::Point> position(const Element& element) {
    auto result = platform::copyAttributeValue(element, "AXPosition");
    const auto* point = std::get_if<platform::Point>(&result.value);
    if (result.code != platform::kSuccess || point == nullptr) return std::nullopt;
    return *point;
}

std::optional<platform::Size> size(const Element& element) {
    auto result = platform::copyAttributeValue(element, "AXSize");
    const auto* extent = std::get_if<platform::Size>(&result.value);
    if (result.code != platform::kSuccess || extent == nullptr) return std::nullopt;
    return *extent;
}

}  // namespace desktop_support
