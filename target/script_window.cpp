#include "target/script_window.h"

#include <algorithm>

#include "ax/query.h"
#include "ax/walk.h"
#include "trace/traced.h"

namespace target {
namespace {

constexpr double kRowRightMargin = 30;
constexpr double kRowClickOffset = 60;
constexpr double kRunButtonInset = 16;
constexpr double kRunButtonLift = 14;

// Whether the element's own walk, itself first, holds an element whose text attribute equals
// `expected`. Stops reading at the first that does.
bool holds(const platform::Element& element, std::string_view name, std::string_view expected) {
    const platform::ElementList walk = ax::descendants(element);
    return std::any_of(walk.begin(), walk.end(),
                       [&](const platform::Element& e) { return ax::stringEquals(e, name, expected); });
}

// The first element of `walk` with this role whose own walk holds the given text attribute.
platform::Element* firstHolding(platform::ElementList& walk, std::string_view role, std::string_view name,
                                std::string_view expected) {
    for (platform::Element& element : walk) {
        if (ax::stringEquals(element, "AXRole", role) && holds(element, name, expected)) return &element;
    }
    return nullptr;
}

}  // namespace

std::optional<ScriptWindowMatch> findScriptWindow(const platform::Element& root) {
    for (platform::Element& window : ax::elementList(ax::attribute(root, "AXWindows"))) {
        platform::ElementList walk = ax::descendants(window);
        platform::Element* scrollArea = firstHolding(walk, "AXScrollArea", "AXRole", "AXOutline");
        if (scrollArea == nullptr) continue;
        platform::Element* row = firstHolding(walk, "AXRow", "AXValue", kScriptName);
        if (row == nullptr) continue;
        // Each part holds its own reference: the scroll area and the row may be one and the
        // same entry of the walk when the element's role changes between the two reads.
        return ScriptWindowMatch{std::move(window), traced::retainElement(*scrollArea), traced::retainElement(*row)};
    }
    return std::nullopt;
}

platform::Point rowClickPoint(platform::Point rowPosition, platform::Size rowSize) {
    return {rowPosition.x + std::min(rowSize.width - kRowRightMargin, kRowClickOffset),
            rowPosition.y + rowSize.height / 2};
}

platform::Point runButtonPoint(platform::Point listPosition, platform::Point windowPosition, platform::Size windowSize) {
    return {listPosition.x + kRunButtonInset, windowPosition.y + windowSize.height - kRunButtonLift};
}

}  // namespace target
