#include "target/alert.h"

#include <vector>

#include "ax/query.h"
#include "ax/walk.h"
#include "text/unicode.h"
#include "trace/traced.h"

namespace target {
namespace {

constexpr std::string_view kAlertDescription = "\u8B66\u544A";  // 警告

// The first of these windows that is an alert with a message, and its message.
std::optional<AlertMatch> alertAmong(platform::ElementList windows) {
    for (platform::Element& window : windows) {
        if (!ax::stringEquals(window, "AXDescription", kAlertDescription)) continue;
        const platform::ElementList walk = ax::descendants(window);
        std::vector<const platform::Element*> staticTexts;
        for (const platform::Element& element : walk) {
            if (ax::stringEquals(element, "AXRole", "AXStaticText")) staticTexts.push_back(&element);
        }
        // Every candidate's text is read before one is chosen; only the first that is not empty
        // is kept, so a long alert holds one text rather than all of them.
        std::optional<std::string> message;
        for (const platform::Element* element : staticTexts) {
            std::string text = ax::string(*element, "AXValue");
            if (!message && !text.empty()) message = std::move(text);
        }
        if (message) return AlertMatch{std::move(window), std::move(*message)};
    }
    return std::nullopt;
}

}  // namespace

std::optional<AlertMatch> alertText(const platform::Element& root) {
    return alertAmong(ax::elementList(ax::attribute(root, "AXWindows")));
}

AlertLook lookForAlert(const platform::Element& root) {
    const std::optional<platform::ElementList> windows = ax::list(root, "AXWindows");
    if (!windows) return AlertLook::unanswered;
    for (const platform::Element& window : *windows) {
        const ax::AnsweredText description = ax::answeredString(window, "AXDescription");
        // Whatever the windows after it say, this look cannot show the alert closed.
        if (!description.answered) return AlertLook::unanswered;
        if (text::equal(description.text, kAlertDescription)) return AlertLook::open;
    }
    return AlertLook::closed;
}

bool dismissAlert(const platform::Element& window) {
    for (const platform::Element& element : ax::descendants(window)) {
        if (!ax::stringEquals(element, "AXRole", "AXButton")) continue;
        if (!ax::stringEquals(element, "AXTitle", "OK")) continue;
        return traced::performAction(element, "AXPress") == platform::kSuccess;
    }
    return true;
}

}  // namespace target
