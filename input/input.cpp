#include "input/input.h"

#include "main/fail.h"
#include "trace/traced.h"

namespace input {

void click(platform::Point point) {
    for (const auto type : {platform::MouseEventType::leftMouseDown, platform::MouseEventType::leftMouseUp}) {
        const auto event = traced::createMouseEvent(type, point, platform::MouseButton::left);
        if (!event) tessary::fail("cannot create mouse event");
        traced::postEvent(*event);
        traced::sleepMicroseconds(kMousePauseMicroseconds);
    }
}

void escape() {
    for (const bool keyDown : {true, false}) {
        const auto event = traced::createKeyboardEvent(kEscapeKey, keyDown);
        if (!event) tessary::fail("cannot create keyboard event");
        traced::postEvent(*event);
    }
}

}  // namespace input
