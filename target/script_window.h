// CorelDRAW's Scripts inspector: the window, the script list and the row of the relay script,
// and the two points a person would click in it.
#pragma once

#include <optional>

#include "platform/platform.h"

namespace target {

inline constexpr std::string_view kScriptName = "RelayTransportProbe";

struct ScriptWindowMatch {
    platform::Element window;
    platform::Element scrollArea;
    platform::Element row;
};

// The first window in "AXWindows" order that holds, in its walk, a scroll area ("AXScrollArea")
// whose own walk holds an outline ("AXOutline"), and a row ("AXRow") whose own walk holds an
// element whose "AXValue" is "RelayTransportProbe". Both are the first such elements of the
// window's walk; the row need not lie inside that scroll area. Nothing when no window qualifies.
std::optional<ScriptWindowMatch> findScriptWindow(const platform::Element& root);

// On the row's vertical middle, 60 points right of its left edge, or 30 points short of its
// right edge when the row is narrower than 90 points: a row 200 wide at x = 100 gives x = 160,
// one 70 wide gives 140. The offset has no lower bound.
platform::Point rowClickPoint(platform::Point rowPosition, platform::Size rowSize);

// 16 points right of the script list's left edge, 14 points above the window's bottom edge:
// a list at x = 50 in a window at y = 100, 400 high, gives (66, 486).
platform::Point runButtonPoint(platform::Point listPosition, platform::Point windowPosition, platform::Size windowSize);

}  // namespace target
