#include "input/input.h"

#include "main/fail.h"

namespace input {

void click(platform::Point point) {
    for (const auto type : {platform::MouseEventType::leftMouseDown, platform::MouseEventType::leftMouseUp}) {
        const auto event = platform::createMouseEvent(type, point, platform::MouseButton::left);
        if (!event) tessary::fail("cannot create mouse event");
        platform::postEvent(*event);
        platform::sleepMicroseconds(kMousePauseMicroseconds);
    }
}

void escape() {
    for (const bool keyDown : {true, false}) {
        const auto event = platform::createKeyboardEvent(kEscapeKey, keyDown);
        if (!event) tessary::fail("cannot create keyboard event");
        platform::postEvent(*event);
    }
}

}  // namespace input
