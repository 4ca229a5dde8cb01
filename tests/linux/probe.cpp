// A process of its own for the platform tests that need a fresh one: whether it is trusted,
// whether it can make input events, and what happens when its X connection breaks. It writes
// nothing; its exit status is its answer (0 yes, 3 no, 2 wrong use, 4 the unexpected).
#include "platform/linux/display.h"
#include "platform/platform.h"

#include <string_view>
#include <sys/socket.h>

namespace {

int trust() { return platform::isProcessTrusted() ? 0 : 3; }

int events() {
    const bool mouse = platform::createMouseEvent(platform::MouseEventType::leftMouseDown,
                                                  {1, 1}, platform::MouseButton::left)
                           .has_value();
    const bool key = platform::createKeyboardEvent(53, true).has_value();
    if (mouse && key) return 0;
    return !mouse && !key ? 3 : 4;
}

// The connection to the X server breaks under a running process: posting must neither print
// nor end the process, and no event can be made afterwards.
int brokenDisplay() {
    Display* display = platform::linux_desktop::xDisplay();
    if (display == nullptr) return 4;
    auto before = platform::createMouseEvent(platform::MouseEventType::leftMouseUp, {1, 1},
                                             platform::MouseButton::left);
    if (!before) return 4;
    shutdown(ConnectionNumber(display), SHUT_RDWR);
    platform::postEvent(*before);
    const bool after = platform::createMouseEvent(platform::MouseEventType::leftMouseDown, {1, 1},
                                                  platform::MouseButton::left)
                           .has_value();
    return after ? 4 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string_view mode = argv[1];
    if (mode == "trust") return trust();
    if (mode == "events") return events();
    if (mode == "broken-display") return brokenDisplay();
    return 2;
}
