#include "platform/linux/display.h"

#include "platform/linux/bus.h"

#include <X11/extensions/XTest.h>
#include <X11/extensions/Xext.h>

#include <array>
#include <fcntl.h>
#include <sys/socket.h>

namespace platform::linux_desktop {
namespace {

constexpr std::chrono::milliseconds kRequestTimeout{kRequestTimeoutMilliseconds};

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

// The socket of the open display that a DisplayDeadline bounds, or -1; read by the signal
// handler.
volatile sig_atomic_t deadlineSocket = -1;

void shutDownDeadlineSocket(int) {
    const int socket = deadlineSocket;
    if (socket >= 0) shutdown(socket, SHUT_RDWR);
}

// While the display is being opened, its socket is not known yet: it is one of the descriptors
// that the process opens meanwhile (the tool runs on one thread, and opening the display is all
// it does then). The descriptors below kDescriptorLimit that were open before are noted; when
// the time-out passes, every other one is shut down (which fails harmlessly for one that is no
// socket). Descriptors are handed out lowest first, so the display's lies far below the limit.
constexpr int kDescriptorLimit = 1024;
std::array<bool, kDescriptorLimit> openBeforeOpening{};

void noteOpenDescriptors() {
    for (int descriptor = 0; descriptor < kDescriptorLimit; ++descriptor) {
        openBeforeOpening[static_cast<std::size_t>(descriptor)] = fcntl(descriptor, F_GETFD) != -1;
    }
}

void shutDownNewDescriptors(int) {
    for (int descriptor = 0; descriptor < kDescriptorLimit; ++descriptor) {
        if (!openBeforeOpening[static_cast<std::size_t>(descriptor)]) shutdown(descriptor, SHUT_RDWR);
    }
}

// How often the alarm comes again after the time-out while the display is being opened: Xlib
// may try a second address after the first attempt failed, and a connect() that waits on a full
// queue of the server's ends only when a signal interrupts it.
constexpr std::chrono::milliseconds kOpeningRepeat{100};

// Opens the display and checks for XTEST, both within the request time-out. Mostly the wait is
// for the answer to the connection set-up, which Xlib does not count as a broken connection:
// XOpenDisplay then answers nullptr. XOpenDisplay's own few requests after the set-up are the
// one wait that ends less quietly: no exit handler can be set on a display not yet returned, so
// a server that stops in that moment makes Xlib end the process (status 1, nothing printed).
Display* openDisplay() {
    noteOpenDescriptors();
    const ScopedAlarm alarm(kRequestTimeout, shutDownNewDescriptors, kOpeningRepeat);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    XSetIOErrorExitHandler(display, keepProcessAfterBrokenConnection, nullptr);
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) || broken) {
        XCloseDisplay(display);
        return nullptr;
    }
    return display;
}

}  // namespace

Display* xDisplay() {
    if (broken) return nullptr;
    if (attempted) return openedDisplay;
    attempted = true;
    XSetErrorHandler(ignoreProtocolError);
    XSetIOErrorHandler(noteBrokenConnection);
    XSetExtensionErrorHandler(ignoreMissingExtension);
    openedDisplay = openDisplay();
    return openedDisplay;
}

DisplayDeadline::DisplayDeadline(Display* display) {
    if (display == nullptr) return;
    deadlineSocket = ConnectionNumber(display);
    alarm.emplace(kRequestTimeout, shutDownDeadlineSocket);
}

DisplayDeadline::~DisplayDeadline() {
    alarm.reset();
    deadlineSocket = -1;
}

}  // namespace platform::linux_desktop
