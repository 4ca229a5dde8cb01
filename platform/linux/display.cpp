#include "platform/linux/display.h"

#include <X11/extensions/XTest.h>
#include <X11/extensions/Xext.h>

namespace platform::linux_desktop {
namespace {

Display* openedDisplay = nullptr;
bool attempted = false;
bool broken = false;

// A protocol error (a window that vanished between two requests, say) fails that request only.
int ignoreProtocolError(Display*, XErrorEvent*) { return 0; }

// Xlib's default handlers print to standard error and end the process; these mark the
// connection as broken instead. Later requests on it are dropped by Xlib, and `xDisplay`
// answers nullptr from then on, so no further event can be created.
int noteBrokenConnection(Display*) {
    broken = true;
    return 0;
}

void keepProcessAfterBrokenConnection(Display*, void*) { broken = true; }

int ignoreMissingExtension(Display*, _Xconst char*, _Xconst char*) { return 0; }

}  // namespace

Display* xDisplay() {
    if (broken) return nullptr;
    if (attempted) return openedDisplay;
    attempted = true;
    XSetErrorHandler(ignoreProtocolError);
    XSetIOErrorHandler(noteBrokenConnection);
    XSetExtensionErrorHandler(ignoreMissingExtension);

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    XSetIOErrorExitHandler(display, keepProcessAfterBrokenConnection, nullptr);
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    openedDisplay = display;
    return openedDisplay;
}

}  // namespace platform::linux_desktop
