#include "main/preconditions.h"

#include "ax/query.h"
#include "ax/walk.h"
#include "trace/traced.h"

namespace tessary {

void bindFirst(Run& run, std::vector<platform::Application> running) {
    run.application = std::move(running.front());
    run.processId = traced::processIdentifier(run.application);
    run.root = traced::createApplicationElement(run.processId);
}

// A rename open in the row shows as a text field anywhere in the row's walk.
bool isRenaming(const platform::Element& row) {
    for (const platform::Element& element : ax::descendants(row)) {
        if (ax::stringEquals(element, "AXRole", "AXTextField")) return true;
    }
    return false;
}

std::optional<Geometry> geometry(const std::optional<target::ScriptWindowMatch>& tuple) {
    if (!tuple) return std::nullopt;
    const auto rowPosition = ax::point(tuple->row);
    if (!rowPosition) return std::nullopt;
    const auto rowSize = ax::size(tuple->row);
    if (!rowSize) return std::nullopt;
    const auto listPosition = ax::point(tuple->scrollArea);
    if (!listPosition) return std::nullopt;
    const auto windowPosition = ax::point(tuple->window);
    if (!windowPosition) return std::nullopt;
    const auto windowSize = ax::size(tuple->window);
    if (!windowSize) return std::nullopt;
    const auto listSize = ax::size(tuple->scrollArea);
    if (!listSize) return std::nullopt;
    return Geometry{{target::rowClickPoint(*rowPosition, *rowSize),
                     target::runButtonPoint(*listPosition, *windowPosition, *windowSize)},
                    {*listPosition, *listSize}};
}

// A row scrolled partly out of its list still reports its whole frame, so its click point can
// lie outside the list, on a toolbar or on the Run bar. Left and top edges belong to the frame,
// right and bottom edges do not; a coordinate that is not a number lies nowhere.
bool inside(platform::Point point, const Frame& frame) {
    return point.x >= frame.position.x && point.x < frame.position.x + frame.size.width &&
           point.y >= frame.position.y && point.y < frame.position.y + frame.size.height;
}

bool clickGoesAhead(const Run& run, const platform::PointOwner& owner) {
    const bool corelDraw = owner.occupant == platform::Occupant::process && owner.processId == run.processId;
    return owner.occupant == platform::Occupant::unknown || corelDraw;
}

}  // namespace tessary
