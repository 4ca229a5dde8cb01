// The one traversal of the accessibility tree: an element's subtree as a flat list.
#pragma once

#include <cstdint>

#include "ax/query.h"

namespace ax {

// Levels 0 (the element itself) through this one are listed.
inline constexpr std::int64_t kDepthLimit = 12;

// The element and its descendants in depth-first pre-order, children in "AXChildren" order,
// down to kDepthLimit levels below the walk's root: for A with children B and C, where D is B's
// only child, the list is A, B, D, C. `depth` is the element's level; callers leave it at 0.
//
// Every listed element's children are read afresh, one request each (a level-12 element's too,
// although none of them is listed). There is no cycle detection: the depth limit alone bounds
// the work, and an element that is its own descendant is listed again on each pass. A depth
// beyond the limit lists nothing and asks nothing. The list holds its own references.
ElementList descendants(const Element& element, std::int64_t depth = 0);

}  // namespace ax
