// Synthetic input through the XTEST extension, and bringing an application to the front.
//
// A point of the tool is one pixel of the X screen (GTK draws at scale 1 here, and AT-SPI
// reports screen coordinates in pixels). A point with fractions lies in the pixel that contains
// it: both coordinates are rounded down, so (140.5, 310.25) is pixel (140, 310).
#include "platform/linux/display.h"
#include "platform/linux/owned.h"
#include "platform/platform.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace platform {
namespace {

using linux_desktop::Owned;
using linux_desktop::xDisplay;

struct InputEvent {
    bool mouse = false;
    bool down = false;
    int x = 0;
    int y = 0;
    unsigned int keycode = 0;
};

// macOS virtual key codes that the tool posts, and the X key that each stands for.
struct KeyRow {
    std::uint16_t virtualKey;
    KeySym keysym;
};
constexpr std::array kKeys{KeyRow{53, XK_Escape}};

// X coordinates are 16-bit signed on the wire.
int toPixel(double coordinate) {
    if (std::isnan(coordinate)) return 0;
    return static_cast<int>(std::clamp(std::floor(coordinate), -32768.0, 32767.0));
}

int xFree(void* data) { return XFree(data); }

// The _NET_WM_PID of a window, or -1 when it has none.
std::int64_t windowProcess(Display* display, Window window, Atom pidAtom) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* raw = nullptr;
    const int status = XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL,
                                          &type, &format, &count, &remaining, &raw);
    const Owned<unsigned char, xFree> data{raw};
    if (status != Success || !data || format != 32 || count != 1) return -1;
    return static_cast<std::int64_t>(*reinterpret_cast<const unsigned long*>(data.get()));
}

// The client windows that a window manager lists in _NET_CLIENT_LIST, oldest first; without a
// window manager the top-level windows, bottom of the stack first.
std::vector<Window> topLevelWindows(Display* display) {
    const Window root = DefaultRootWindow(display);
    std::vector<Window> windows;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* raw = nullptr;
    const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
    if (XGetWindowProperty(display, root, clientList, 0, 65536, False, XA_WINDOW, &type, &format,
                           &count, &remaining, &raw) == Success) {
        const Owned<unsigned char, xFree> data{raw};
        if (data && format == 32 && count > 0) {
            const auto* items = reinterpret_cast<const unsigned long*>(data.get());
            windows.assign(items, items + count);
            return windows;
        }
    }
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int childCount = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &childCount) != 0) {
        const Owned<Window, xFree> owned{children};
        if (owned) windows.assign(owned.get(), owned.get() + childCount);
    }
    return windows;
}

bool isViewable(Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

bool hasWindowManager(Display* display) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* raw = nullptr;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                          XA_WINDOW, &type, &format, &count, &remaining, &raw);
    const Owned<unsigned char, xFree> data{raw};
    return status == Success && data && count == 1;
}

void askWindowManagerToActivate(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // the request comes from a pager-like tool, not the app
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

InputEvent* eventOf(const Event& event) { return static_cast<InputEvent*>(event.get()); }

// The topmost viewable child of `parent` whose area, border included, holds the point (in the
// parent's coordinates), or None. XQueryTree lists children bottom of the stack first.
Window windowAt(Display* display, Window parent, int x, int y) {
    Window rootReturn = None;
    Window parentReturn = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &rootReturn, &parentReturn, &children, &count) == 0) return None;
    const Owned<Window, xFree> owned{children};
    for (unsigned int i = count; i-- > 0;) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, owned.get()[i], &attributes) == 0) continue;
        if (attributes.map_state != IsViewable) continue;
        const int outerWidth = attributes.width + 2 * attributes.border_width;
        const int outerHeight = attributes.height + 2 * attributes.border_width;
        if (x >= attributes.x && y >= attributes.y && x < attributes.x + outerWidth && y < attributes.y + outerHeight) {
            return owned.get()[i];
        }
    }
    return None;
}

}  // namespace

void releaseEvent(void* reference) noexcept { delete static_cast<InputEvent*>(reference); }

std::optional<Event> createMouseEvent(MouseEventType type, Point position, MouseButton button) {
    if (xDisplay() == nullptr || button != MouseButton::left) return std::nullopt;
    auto* event = new InputEvent;
    event->mouse = true;
    event->down = type == MouseEventType::leftMouseDown;
    event->x = toPixel(position.x);
    event->y = toPixel(position.y);
    return Event(event);
}

std::optional<Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown) {
    Display* display = xDisplay();
    if (display == nullptr) return std::nullopt;
    const auto row = std::find_if(kKeys.begin(), kKeys.end(),
                                  [&](const KeyRow& key) { return key.virtualKey == virtualKey; });
    if (row == kKeys.end()) return std::nullopt;
    const linux_desktop::DisplayDeadline deadline(display);
    const KeyCode keycode = XKeysymToKeycode(display, row->keysym);
    if (keycode == 0) return std::nullopt;
    auto* event = new InputEvent;
    event->down = keyDown;
    event->keycode = keycode;
    return Event(event);
}

void postEvent(const Event& event) {
    Display* display = xDisplay();
    const InputEvent* input = eventOf(event);
    if (display == nullptr || input == nullptr) return;
    const linux_desktop::DisplayDeadline deadline(display);
    if (input->mouse) {
        // X delivers a button press to the window under the pointer, wherever the event says it
        // happened; so the pointer moves to the point first. The button event that follows is
        // still the one and only press (or release) of the click.
        XTestFakeMotionEvent(display, -1, input->x, input->y, CurrentTime);
        XTestFakeButtonEvent(display, Button1, input->down ? True : False, CurrentTime);
    } else {
        XTestFakeKeyEvent(display, input->keycode, input->down ? True : False, CurrentTime);
    }
    // Wait until the server has handled the requests, so the event is in the input stream
    // before the call returns.
    XSync(display, False);
}

// One look at the window stack, from the top down, for the window that a click at the point
// reaches: the topmost viewable child of the root window whose area (border included) holds
// the pixel. Its _NET_WM_PID names the owner. A window manager's frame carries no such property
// itself; then the look descends, through the viewable children at the point, to the client
// window that does. A window found without the property cannot be told; nor can anything when
// there is no display or a request fails.
PointOwner ownerAt(Point point) {
    Display* display = xDisplay();
    if (display == nullptr) return {};
    const linux_desktop::DisplayDeadline deadline(display);
    const Window root = DefaultRootWindow(display);
    XWindowAttributes rootAttributes{};
    if (XGetWindowAttributes(display, root, &rootAttributes) == 0) return {};
    const int x = toPixel(point.x);
    const int y = toPixel(point.y);
    if (x < 0 || y < 0 || x >= rootAttributes.width || y >= rootAttributes.height) {
        return {Occupant::nothing, -1};
    }
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Window window = windowAt(display, root, x, y);
    if (window == None) return {Occupant::nothing, -1};
    // root -> frame -> client, and a few levels of decoration in between at most.
    constexpr int kFrameDepth = 4;
    for (int level = 0; level <= kFrameDepth && window != None; ++level) {
        const std::int64_t pid = windowProcess(display, window, pidAtom);
        if (pid > 0) return {Occupant::process, pid};
        int childX = 0;
        int childY = 0;
        Window ignored = None;
        if (XTranslateCoordinates(display, root, window, x, y, &childX, &childY, &ignored) == 0) return {};
        window = windowAt(display, window, childX, childY);
    }
    return {};
}

Activation activate(const Application& application) {
    Display* display = xDisplay();
    if (display == nullptr || !application) return Activation::unknown;
    const std::int64_t pid = processIdentifier(application);
    const linux_desktop::DisplayDeadline deadline(display);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    std::vector<Window> windows;
    for (const Window window : topLevelWindows(display)) {
        if (windowProcess(display, window, pidAtom) == pid && isViewable(display, window)) {
            windows.push_back(window);
        }
    }
    if (windows.empty()) return Activation::unknown;
    // Raised last to first, so the first window ends on top of the others.
    for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
        XRaiseWindow(display, *window);
    }
    if (hasWindowManager(display)) {
        askWindowManagerToActivate(display, windows.front());
    } else {
        XSetInputFocus(display, windows.front(), RevertToParent, CurrentTime);
    }
    XSync(display, False);
    // X grants or refuses nothing here: the window manager takes the request later, if at all.
    return Activation::unknown;
}

// XTEST on an open display is what posting needs here; no permission stands in front of it.
bool mayPostEvents() { return xDisplay() != nullptr; }

// The window that has the input: the window manager's _NET_ACTIVE_WINDOW where one runs, else
// the X input focus, climbing from it to the first window with a _NET_WM_PID (a toolkit may give
// the focus to a child of its top-level window).
std::int64_t frontmostProcess() {
    Display* display = xDisplay();
    if (display == nullptr) return -1;
    const linux_desktop::DisplayDeadline deadline(display);
    const Window root = DefaultRootWindow(display);
    Window window = None;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* raw = nullptr;
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    if (XGetWindowProperty(display, root, active, 0, 1, False, XA_WINDOW, &type, &format, &count, &remaining, &raw) ==
        Success) {
        const Owned<unsigned char, xFree> data{raw};
        if (data && format == 32 && count == 1) window = static_cast<Window>(*reinterpret_cast<const unsigned long*>(data.get()));
    }
    if (window == None) {
        int revert = 0;
        XGetInputFocus(display, &window, &revert);
    }
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    constexpr int kLevels = 8;
    for (int level = 0; level < kLevels && window != None && window != PointerRoot && window != root; ++level) {
        if (const std::int64_t pid = windowProcess(display, window, pidAtom); pid > 0) return pid;
        Window rootReturn = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (XQueryTree(display, window, &rootReturn, &parent, &children, &childCount) == 0) return -1;
        const Owned<Window, xFree> owned{children};
        window = parent;
    }
    return -1;
}

}  // namespace platform
