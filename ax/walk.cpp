#include "ax/walk.h"

#include <utility>
#include <vector>

#include "trace/traced.h"

namespace ax {
namespace {

// Appends the walk below `element`, which is already listed, to `out`. Children are moved into
// the list rather than retained again. `element` may live in `out`, so it is read before anything
// is appended, and each child is then addressed by its index.
void appendBelow(const Element& element, std::int64_t depth, ElementList& out) {
    ElementList kids = children(element);
    if (depth >= kDepthLimit) return;
    for (Element& kid : kids) {
        out.push_back(std::move(kid));
        appendBelow(out[out.size() - 1], depth + 1, out);
    }
}

}  // namespace

ElementList descendants(const Element& element, std::int64_t depth) {
    ElementList out;
    if (depth > kDepthLimit) return out;
    out.push_back(traced::retainElement(element));
    appendBelow(out.front(), depth, out);
    return out;
}

}  // namespace ax
