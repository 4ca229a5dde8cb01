// Synthetic input over Quartz Event Services (CoreGraphics): events with no event source,
// posted at the HID event tap, where hardware input enters the window server. No field of an
// event is changed after it is created.
#include "platform/macos/cf_ref.h"
#include "platform/platform.h"

#include <CoreGraphics/CoreGraphics.h>

namespace platform {
namespace {

CGEventType eventTypeOf(MouseEventType type) {
    return type == MouseEventType::leftMouseDown ? kCGEventLeftMouseDown : kCGEventLeftMouseUp;
}

CGMouseButton buttonOf(MouseButton) { return kCGMouseButtonLeft; }

std::optional<Event> eventOf(CGEventRef created) {
    macos::CfRef event = macos::CfRef::adopt(created);
    if (!event) return std::nullopt;
    return Event(event.handOver());
}

}  // namespace

void releaseEvent(void* reference) noexcept { macos::CfRef::releaseReference(reference); }

std::optional<Event> createMouseEvent(MouseEventType type, Point position, MouseButton button) {
    return eventOf(CGEventCreateMouseEvent(nullptr, eventTypeOf(type),
                                           CGPoint{position.x, position.y}, buttonOf(button)));
}

std::optional<Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown) {
    return eventOf(CGEventCreateKeyboardEvent(nullptr, static_cast<CGKeyCode>(virtualKey), keyDown));
}

void postEvent(const Event& event) {
    if (!event) return;
    CGEventPost(kCGHIDEventTap, static_cast<CGEventRef>(event.get()));
}

// The same permission that posting needs, asked without a prompt.
bool mayPostEvents() { return CGPreflightPostEventAccess(); }

}  // namespace platform
