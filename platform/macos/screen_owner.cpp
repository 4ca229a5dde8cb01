// What lies at a screen point on macOS: one look, with no retry and no wait of its own.
//
// A point on no display is nothing: CGGetDisplaysWithPoint counts the online displays whose
// bounds hold it. Elsewhere the system-wide accessibility element is hit-tested at the point
// (AXUIElementCopyElementAtPosition), and the element found names its process
// (AXUIElementGetPid). The system-wide hit test goes by the windows' z-order across every
// application, the menu bar and the Dock included, and ends in the application whose window
// lies there: the one a click at the point goes to. It needs the accessibility permission the
// tool already has and nothing else. The application that owns the point answers the hit test
// with the platform's default messaging time-out; when it does not answer, or anything else
// fails, the look cannot tell.
#include "platform/macos/cf_ref.h"
#include "platform/platform.h"

#include <ApplicationServices/ApplicationServices.h>
#include <CoreGraphics/CoreGraphics.h>

namespace platform {

PointOwner ownerAt(Point point) {
    std::uint32_t displays = 0;
    if (CGGetDisplaysWithPoint(CGPoint{point.x, point.y}, 0, nullptr, &displays) == kCGErrorSuccess &&
        displays == 0) {
        return {Occupant::nothing, -1};
    }
    const macos::CfRef systemWide = macos::CfRef::adopt(AXUIElementCreateSystemWide());
    if (!systemWide) return {};
    AXUIElementRef found = nullptr;  // never release what the call did not store
    const AXError code = AXUIElementCopyElementAtPosition(static_cast<AXUIElementRef>(systemWide.get()),
                                                          static_cast<float>(point.x), static_cast<float>(point.y),
                                                          &found);
    const macos::CfRef element = macos::CfRef::adopt(found);
    if (code != kAXErrorSuccess || !element) return {};
    pid_t pid = 0;
    if (AXUIElementGetPid(static_cast<AXUIElementRef>(element.get()), &pid) != kAXErrorSuccess || pid <= 0) return {};
    return {Occupant::process, pid};
}

}  // namespace platform
