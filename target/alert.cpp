#include "target/alert.h"

#include <vector>

#include "ax/query.h"
#include "ax/walk.h"
#include "main/fail.h"

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
        // Every candidate's text is read before one is chosen.
        std::vector<std::string> texts;
        texts.reserve(staticTexts.size());
        for (const platform::Element* element : staticTexts) texts.push_back(ax::string(*element, "AXValue"));
        for (std::string& text : texts) {
            if (!text.empty()) return AlertMatch{std::move(window), std::move(text)};
        }
    }
    return std::nullopt;
}

void dismissAlert(const platform::Element& window) {
    for (const platform::Element& element : ax::descendants(window)) {
        if (!ax::stringEquals(element, "AXRole", "AXButton")) continue;
        if (!ax::stringEquals(element, "AXTitle", "OK")) continue;
        if (platform::performAction(element, "AXPress") != platform::kSuccess) {
            tessary::fail("cannot dismiss CorelDRAW response");
        }
        return;
    }
}

}  // namespace target
