// A process of its own for the platform tests that need a fresh one: whether it is trusted,
// whether it can make input events, what happens when its X connection breaks, and how one X
// operation ends when the X server stops under it. It writes nothing; its exit status is its
// answer (0 yes, 3 no, 2 wrong use, 4 the unexpected).
#include "platform/linux/display.h"
#include "platform/platform.h"

#include <csignal>
#include <cstdlib>
#include <string>
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

// Holds the X server stopped for as long as it lives.
struct StoppedServer {
    pid_t pid;
    explicit StoppedServer(pid_t server) : pid(server) { kill(pid, SIGSTOP); }
    ~StoppedServer() { kill(pid, SIGCONT); }
    StoppedServer(const StoppedServer&) = delete;
    StoppedServer& operator=(const StoppedServer&) = delete;
};

bool canMakeEvents() {
    return platform::createMouseEvent(platform::MouseEventType::leftMouseDown, {1, 1},
                                      platform::MouseButton::left)
        .has_value();
}

// The display is open, then the X server (process `server`) stops and one operation runs: it
// must return (within the request time-out, which the test measures), with the answer given
// without a display, and leave the connection broken, so no event can be made afterwards.
// `application` names the application that "activate" brings to the front.
int stalledServer(std::string_view operation, pid_t server, std::string_view application) {
    if (platform::linux_desktop::xDisplay() == nullptr || !canMakeEvents()) return 4;
    bool answered = false;
    if (operation == "owner") {
        const StoppedServer stopped(server);
        const auto owner = platform::ownerAt({1, 1});
        answered = owner.occupant == platform::Occupant::unknown && owner.processId == -1;
    } else if (operation == "activate") {
        auto applications = platform::runningApplications(application);
        if (applications.size() != 1) return 4;
        const StoppedServer stopped(server);
        platform::activate(applications.front());
        answered = true;
    } else if (operation == "click") {
        const auto press = platform::createMouseEvent(platform::MouseEventType::leftMouseDown,
                                                      {1, 1}, platform::MouseButton::left);
        if (!press) return 4;
        const StoppedServer stopped(server);
        platform::postEvent(*press);
        answered = true;
    } else if (operation == "key") {
        const StoppedServer stopped(server);
        answered = !platform::createKeyboardEvent(53, true).has_value();
    } else {
        return 2;
    }
    return answered && !canMakeEvents() ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string_view(argv[1]) == "stalled-server") {
        return stalledServer(argv[2], static_cast<pid_t>(std::atol(argv[3])), argv[4]);
    }
    if (argc != 2) return 2;
    const std::string_view mode = argv[1];
    if (mode == "trust") return trust();
    if (mode == "events") return events();
    if (mode == "broken-display") return brokenDisplay();
    return 2;
}
