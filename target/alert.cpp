#include "target/alert.h"

#include <vector>

#include "ax/query.h"
#include "ax/walk.h"
#include "main/fail.h"
#include "trace/traced.h"

namespace target {
namespace {

constexpr std::string_view kAlertDescription = "\u8B66\u544A";  // 警告

}  // namespace

std::optional<AlertMatch> alertText(const platform::Element& root) {
    for (platform::Element& window : ax::elementList(ax::attribute(root, "AXWindows"))) {
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

bool dismissAlert(const platform::Element& window) {
    for (const platform::Element& element : ax::descendants(window)) {
        if (!ax::stringEquals(element, "AXRole", "AXButton")) continue;
        if (!ax::stringEquals(element, "AXTitle", "OK")) continue;
        const std::int32_t code = traced::performAction(element, "AXPress");
        if (code == platform::kSuccess) return true;
        if (code == platform::kCannotComplete) return false;
        tessary::fail("cannot dismiss CorelDRAW response");
    }
    return true;
}

}  // namespace target
