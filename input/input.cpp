#include "input/input.h"

#include "main/fail.h"
#include "trace/traced.h"

namespace input {

void click(platform::Point point) {
    const auto down = traced::createMouseEvent(platform::MouseEventType::leftMouseDown, point, platform::MouseButton::left);
    if (!down) tessary::fail("cannot create mouse event");
    const auto up = traced::createMouseEvent(platform::MouseEventType::leftMouseUp, point, platform::MouseButton::left);
    if (!up) tessary::fail("cannot create mouse event");
    for (const platform::Event* event : {&*down, &*up}) {
        traced::postEvent(*event);
        traced::sleepMicroseconds(kMousePauseMicroseconds);
    }
}

void escape() {
    const auto down = traced::createKeyboardEvent(kEscapeKey, true);
    if (!down) tessary::fail("cannot create keyboard event");
    const auto up = traced::createKeyboardEvent(kEscapeKey, false);
    if (!up) tessary::fail("cannot create keyboard event");
    traced::postEvent(*down);
    traced::postEvent(*up);
}

}  // namespace input
