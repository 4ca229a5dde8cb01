#include "target/alert.h"

#include <vector>

#include "ax/query.h"
#include "ax/walk.h"
#include "main/fail.h"
#include "trace/traced.h"

namespace target {
namespace {

constexpr std::string_view kAlertDescription = "\u8B66\u544A";  // 警告
constexpr int kClosedLooks = 10;
constexpr std::uint32_t kBetweenClosedLooks = 100000;

// Whether the alert is gone after a press that timed out: a host told that the run failed would
// retry it and have its command run twice.
bool closedAfterAll(const platform::Element& root) {
    for (int look = 0; look < kClosedLooks; ++look) {
        if (look > 0) traced::sleepMicroseconds(kBetweenClosedLooks);
        if (!alertText(root)) return true;
    }
    return false;
}

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

void dismissAlert(const platform::Element& root, const platform::Element& window) {
    for (const platform::Element& element : ax::descendants(window)) {
        if (!ax::stringEquals(element, "AXRole", "AXButton")) continue;
        if (!ax::stringEquals(element, "AXTitle", "OK")) continue;
        const std::int32_t code = traced::performAction(element, "AXPress");
        if (code == platform::kSuccess) return;
        if (code == platform::kCannotComplete && closedAfterAll(root)) return;
        tessary::fail("cannot dismiss CorelDRAW response");
    }
}

}  // namespace target
