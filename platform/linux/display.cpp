#include "platform/linux/display.h"

#include "platform/linux/bus.h"

#include <X11/extensions/XTest.h>
#include <X11/extensions/Xext.h>

#include <array>
#include <cerrno>
#include <csetjmp>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

// Sanitizer builds check for leaks at exit: a display whose opening was abandoned stays
// allocated on purpose (it is never handed to Xlib again, not even to free it).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARY_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TESSARY_LEAK_CHECKED 1
#endif
#ifdef TESSARY_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace platform::linux_desktop {
namespace {

// What Xlib allocates while the display opens is not counted as leaked by the sanitizer builds'
// leak check: an abandoned opening leaves it behind by design. Nothing in other builds.
struct AbandonableAllocations {
#ifdef TESSARY_LEAK_CHECKED
    AbandonableAllocations() { __lsan_disable(); }
    ~AbandonableAllocations() { __lsan_enable(); }
#endif
};

constexpr std::chrono::milliseconds kRequestTimeout{kRequestTimeoutMilliseconds};

Display* openedDisplay = nullptr;
bool attempted = false;
bool broken = false;

// A protocol error (a window that vanished between two requests, say) fails that request only.
int ignoreProtocolError(Display*, XErrorEvent*) { return 0; }

// Set while the display is being opened: a connection that breaks then abandons the opening.
sigjmp_buf openingAbandoned;
volatile sig_atomic_t opening = 0;

// Xlib's default handlers print to standard error and end the process; these mark the
// connection as broken instead. Later requests on it are dropped by Xlib, and `xDisplay`
// answers nullptr from then on, so no further event can be created. While the display is being
// opened no exit handler can be set on it yet, and returning here would let Xlib end the process
// without a word: the opening is abandoned instead (Xlib's documented way out of this handler is
// not to return), and the display it was building is never touched again.
int noteBrokenConnection(Display*) {
    broken = true;
    if (opening != 0) siglongjmp(openingAbandoned, 1);
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
// it does then). Descriptors are handed out lowest first, so the new ones are among the lowest
// numbers that were free before, however many descriptors the host left open below them: those
// are noted, and when the time-out passes each is shut down (which fails harmlessly for one that
// is no socket or was never opened). Opening a display opens a few descriptors at most.
constexpr std::size_t kWatchedDescriptors = 16;
std::array<int, kWatchedDescriptors> freeBeforeOpening{};
std::size_t watchedDescriptors = 0;

void noteFreeDescriptors() {
    rlimit limit{};
    const rlim_t highest = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                               ? limit.rlim_cur
                               : rlim_t{1} << 20;
    watchedDescriptors = 0;
    for (rlim_t descriptor = 0; descriptor < highest && watchedDescriptors < kWatchedDescriptors; ++descriptor) {
        if (fcntl(static_cast<int>(descriptor), F_GETFD) == -1 && errno == EBADF) {
            freeBeforeOpening[watchedDescriptors++] = static_cast<int>(descriptor);
        }
    }
}

void shutDownNewDescriptors(int) {
    for (std::size_t i = 0; i < watchedDescriptors; ++i) shutdown(freeBeforeOpening[i], SHUT_RDWR);
}

// How often the alarm comes again after the time-out while the display is being opened: Xlib
// may try a second address after the first attempt failed, and a connect() that waits on a full
// queue of the server's ends only when a signal interrupts it.
constexpr std::chrono::milliseconds kOpeningRepeat{100};

// Standard error goes to /dev/null while it lives: Xlib prints its connection messages
// ("Authorization required, ...") there, and the tool's standard error holds its one line only.
struct QuietStandardError {
    int saved = -1;
    QuietStandardError() {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0) return;
        saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (saved >= 0 && dup2(null, STDERR_FILENO) < 0) {
            close(saved);
            saved = -1;
        }
        close(null);
    }
    ~QuietStandardError() {
        if (saved < 0) return;
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;
};

// Opens the display and checks for XTEST, both within the request time-out, with standard error
// quiet. Mostly the wait is for the answer to the connection set-up, which Xlib does not count as
// a broken connection: XOpenDisplay then answers nullptr. A connection that breaks during the
// requests that follow the set-up (XOpenDisplay's own, or the XTEST query) abandons the opening:
// no display, and the broken one is never handed to Xlib again, not even to close it.
Display* openDisplay() {
    [[maybe_unused]] const AbandonableAllocations allocations{};
    const QuietStandardError quiet;
    noteFreeDescriptors();
    const ScopedAlarm alarm(kRequestTimeout, shutDownNewDescriptors, kOpeningRepeat);
    if (sigsetjmp(openingAbandoned, 1) != 0) {
        opening = 0;
        return nullptr;
    }
    opening = 1;
    Display* display = XOpenDisplay(nullptr);
    bool hasXTest = false;
    if (display != nullptr) {
        XSetIOErrorExitHandler(display, keepProcessAfterBrokenConnection, nullptr);
        int eventBase = 0;
        int errorBase = 0;
        int major = 0;
        int minor = 0;
        hasXTest = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) != 0;
    }
    opening = 0;
    if (display == nullptr || broken) return nullptr;
    if (!hasXTest) {
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
