// Rejected: the event type and the mouse button swapped.
#include <CoreGraphics/CoreGraphics.h>

CGEventRef swapped(CGPoint point) {
    return CGEventCreateMouseEvent(nullptr, kCGMouseButtonLeft, point, kCGEventLeftMouseDown);
}
