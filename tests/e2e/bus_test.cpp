// The real tessary binary and the accessibility bus: the addresses it will not follow, and the
// stopped peers (bus daemon, registry, application, X server, a direct socket that never
// answers) that cost it time but never hang it. Each test runs inside its own private desktop
// (scripts/headless).
#include "process.h"
#include "stall.h"

#include <gtest/gtest.h>  // before Xlib, whose None macro it would meet

#include "platform/linux/bus.h"
#include "platform/platform.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dbus/dbus.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace platform::linux_desktop;

constexpr std::chrono::milliseconds kRequestTimeout{kRequestTimeoutMilliseconds};
// What a run may take at most: the waits of the run sequence (activation 200 ms, Escape 100 ms,
// between the clicks 100 ms, 100 alert polls 100 ms apart) and two request time-outs.
constexpr std::chrono::milliseconds kRunBound =
    std::chrono::milliseconds(200 + 100 + 100 + 100 * 100) + 2 * kRequestTimeout;

struct ToolRun {
    standin::ProcessResult process;
    std::chrono::milliseconds took{};
};

// Runs tessary with a result path in `directory`, which also holds its run lock: the time
// measured is the run's own, not a wait for the runs of tests beside it, which take turns
// through the user's lock in the shared temporary directory.
ToolRun runTessary(const std::string& name, const std::string& commandId,
                   const std::string& directory, std::vector<std::string> environment = {}) {
    environment.push_back("TMPDIR=" + directory);
    ToolRun run;
    run.took = stall::timed(name, [&] {
        run.process = standin::runProcess({TESSARY_BINARY, commandId, directory + "/result"},
                                          environment);
    });
    return run;
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void expectFailure(const ToolRun& run, const std::string& message, const std::string& name) {
    EXPECT_EQ(run.process.exitStatus, 1) << name;
    EXPECT_EQ(run.process.standardOutput, "") << name;
    EXPECT_EQ(run.process.standardError, "TESSARY: " + message + "\n") << name;
}

std::string escaped(const std::string& value) {
    char* text = dbus_address_escape_value(value.c_str());
    std::string result = text != nullptr ? text : "";
    dbus_free(text);
    return result;
}

// The root window of the private desktop's display, whose AT_SPI_BUS property any X client
// may set.
struct BusProperty {
    Display* display = XOpenDisplay(nullptr);
    ~BusProperty() {
        if (display != nullptr) XCloseDisplay(display);
    }
    BusProperty() = default;
    BusProperty(const BusProperty&) = delete;
    BusProperty& operator=(const BusProperty&) = delete;

    std::string busAddress() const {
        const Atom property = XInternAtom(display, "AT_SPI_BUS", False);
        Atom type = None;
        int format = 0;
        unsigned long length = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 4096, False,
                           XA_STRING, &type, &format, &length, &after, &data);
        std::string address = data != nullptr ? std::string(reinterpret_cast<char*>(data), length) : "";
        if (data != nullptr) XFree(data);
        return address;
    }
    void setBusAddress(const std::string& address) const {
        const Atom property = XInternAtom(display, "AT_SPI_BUS", False);
        XChangeProperty(display, DefaultRootWindow(display), property, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(address.data()),
                        static_cast<int>(address.size()));
        XSync(display, False);
    }
};

class Bus : public ::testing::Test {
protected:
    void SetUp() override {
        directory = std::filesystem::temp_directory_path() / ("tessary-bus-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        ASSERT_NE(root.display, nullptr);
        // The first request starts the accessibility bus, whose launcher then publishes its
        // address on the root window.
        ASSERT_NE(accessibilityBus(), nullptr);
        ASSERT_EQ(ping(kRegistryBusName), platform::kSuccess);
        ASSERT_TRUE(eventually([&] { return isLocalSocketAddress(root.busAddress()); }))
            << root.busAddress();
    }
    void TearDown() override {
        standin::stop(standIn);
        std::filesystem::remove_all(directory);
    }

    static std::int32_t ping(const char* busName) {
        const ObjectRef target{busName, kApplicationRootPath, nullptr};
        return send(target, newCall(target, DBUS_INTERFACE_PEER, "Ping")).code;
    }

    std::string directory;
    BusProperty root;
    standin::StandIn standIn;
};

// ---- Addresses --------------------------------------------------------------------------------

TEST_F(Bus, AddressesThatStartAProgramOrLeaveTheMachineAreNeverFollowed) {
    const std::string marker = directory + "/started";
    const std::string starts = "unixexec:path=/bin/sh,argv0=sh,argv1=-c,argv2=" + escaped("touch " + marker);
    // The address does start the shell for a program that follows it.
    {
        DBusError error;
        dbus_error_init(&error);
        DBusConnection* followed = dbus_connection_open_private(starts.c_str(), &error);
        dbus_error_free(&error);
        if (followed != nullptr) {
            dbus_connection_close(followed);
            dbus_connection_unref(followed);
        }
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(marker); }))
            << "the marker address starts nothing";
        std::filesystem::remove(marker);
    }
    const std::string bus = root.busAddress();
    struct Case {
        const char* name;
        std::string rootWindow;
        std::vector<std::string> environment;
        const char* message;
    };
    const Case cases[] = {
        // The session bus's org.a11y.Bus gives the bus: the run gets as far as looking for
        // CorelDRAW.
        {"root window", starts, {}, "CorelDRAW is not running"},
        {"environment", bus, {"AT_SPI_BUS_ADDRESS=" + starts}, "CorelDRAW is not running"},
        {"environment and root window", starts, {"AT_SPI_BUS_ADDRESS=" + starts},
         "CorelDRAW is not running"},
        // No source names a local socket: no bus.
        {"every source", starts,
         {"AT_SPI_BUS_ADDRESS=" + starts, "DBUS_SESSION_BUS_ADDRESS=" + starts},
         "macOS accessibility permission is missing"},
        {"network, autolaunch and launchd", "tcp:host=127.0.0.1,port=9",
         {"AT_SPI_BUS_ADDRESS=launchd:env=DBUS_LAUNCHD_SESSION_BUS_SOCKET",
          "DBUS_SESSION_BUS_ADDRESS=autolaunch:"},
         "macOS accessibility permission is missing"},
    };
    for (const auto& c : cases) {
        root.setBusAddress(c.rootWindow);
        const ToolRun run = runTessary(c.name, "cmd-1", directory, c.environment);
        expectFailure(run, c.message, c.name);
        EXPECT_FALSE(std::filesystem::exists(directory + "/result")) << c.name;
    }
    root.setBusAddress(bus);
    // A shell started by any of the runs has had the seconds since to make the marker.
    EXPECT_FALSE(std::filesystem::exists(marker));
}

// ---- Stopped peers ----------------------------------------------------------------------------

// The process of the accessibility bus daemon: the peer of the bus connection's socket.
pid_t busDaemonProcess() {
    DBusConnection* bus = accessibilityBus();
    int socket = -1;
    if (bus == nullptr || !dbus_connection_get_unix_fd(bus, &socket)) return -1;
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return -1;
    return credentials.pid;
}

// The process that owns a name on the accessibility bus, as the bus daemon knows it.
pid_t processOfName(const char* name) {
    const ObjectRef daemon{DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, nullptr};
    auto call = newCall(daemon, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID");
    if (call) dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    const Reply reply = send(daemon, std::move(call));
    dbus_uint32_t pid = 0;
    if (reply.code != platform::kSuccess ||
        !dbus_message_get_args(reply.message.get(), nullptr, DBUS_TYPE_UINT32, &pid, DBUS_TYPE_INVALID)) {
        return -1;
    }
    return static_cast<pid_t>(pid);
}

TEST_F(Bus, StoppedPeersEndTheRunInBoundedTimeWithTheMessageOfTheirStage) {
    auto started = standin::start({});
    ASSERT_TRUE(started) << "the stand-in did not become ready";
    standIn = *started;
    struct Case {
        const char* name;
        pid_t pid;
        const char* message;
    };
    // Each peer's time-out ends the stage that asked it: the registry's and the bus daemon's
    // the check for the accessibility interface, CorelDRAW's the search for CorelDRAW.
    const Case cases[] = {
        {"CorelDRAW stopped", standIn.pid, "CorelDRAW is not running"},
        {"registry stopped", processOfName(kRegistryBusName), "macOS accessibility permission is missing"},
        {"accessibility bus daemon stopped", busDaemonProcess(), "macOS accessibility permission is missing"},
    };
    for (const auto& c : cases) {
        ASSERT_GT(c.pid, 0) << c.name;
        const stall::Stopped stopped(c.pid);
        const ToolRun run = runTessary(c.name, "cmd-1", directory);
        expectFailure(run, c.message, c.name);
        EXPECT_LT(run.took, kRunBound) << c.name;
    }
    // All of them resumed, the next run completes.
    standin::setCommandId(standIn, "cmd-2");
    const ToolRun resumed = runTessary("all resumed", "cmd-2", directory);
    EXPECT_EQ(resumed.process.exitStatus, 0);
    EXPECT_EQ(resumed.process.standardError, "");
}

// tessary-doctor against the same stopped peers: every line printed, nothing on standard error,
// within a bound of a few request time-outs (each stopped peer is asked a few times at most).
TEST_F(Bus, StoppedPeersEndTheDoctorInBoundedTime) {
    auto started = standin::start({});
    ASSERT_TRUE(started) << "the stand-in did not become ready";
    standIn = *started;
    struct Case {
        const char* name;
        pid_t pid;
        const char* failing;  // the line that fails first
    };
    const Case cases[] = {
        {"CorelDRAW stopped", standIn.pid, "fail        running: CorelDRAW is not running"},
        {"registry stopped", processOfName(kRegistryBusName), "fail        permission: accessibility not allowed"},
        {"accessibility bus daemon stopped", busDaemonProcess(), "fail        permission: accessibility not allowed"},
    };
    for (const auto& c : cases) {
        ASSERT_GT(c.pid, 0) << c.name;
        standin::ProcessResult run;
        std::chrono::milliseconds took{};
        {
            const stall::Stopped stopped(c.pid);
            took = stall::timed(std::string("doctor, ") + c.name, [&] {
                run = standin::runProcess({TESSARY_DOCTOR_BINARY}, {"TMPDIR=" + directory});
            });
        }
        EXPECT_EQ(run.exitStatus, 1) << c.name;
        EXPECT_EQ(run.standardError, "") << c.name;
        EXPECT_NE(run.standardOutput.find(c.failing), std::string::npos) << c.name << "\n" << run.standardOutput;
        EXPECT_NE(run.standardOutput.find("lock: "), std::string::npos) << "the last line printed";
        EXPECT_LT(took, 4 * kRequestTimeout) << c.name;
    }
}

// ---- A stopped X server ---------------------------------------------------------------------

TEST_F(Bus, StoppedXServerEndsTheRunAfterOneRequestTimeOutWithoutADisplay) {
    const pid_t server = stall::xServerProcess();
    ASSERT_GT(server, 0);
    ToolRun run;
    {
        const stall::Stopped stopped(server);
        run = runTessary("X server stopped", "cmd-1", directory);
    }
    // The display does not answer in time: no display, so the check for the accessibility
    // interface fails, as it does without one.
    expectFailure(run, "macOS accessibility permission is missing", "X server stopped");
    EXPECT_GE(run.took, kRequestTimeout - std::chrono::milliseconds(500));
    EXPECT_LT(run.took, kRunBound);
}

// ---- A direct socket that never answers --------------------------------------------------------

TEST_F(Bus, ExchangeCompletesThroughTheBusWhenTheDirectSocketNeverAnswers) {
    auto started = standin::start({});
    ASSERT_TRUE(started) << "the stand-in did not become ready";
    standIn = *started;
    // The application opens its socket when it is first asked for its address, as the tool's
    // application element does.
    ASSERT_TRUE(platform::createApplicationElement(standIn.pid));
    const auto sockets = standin::directSockets();
    ASSERT_EQ(sockets.size(), 1u);
    // The application keeps naming this socket; what listens there now never answers.
    std::filesystem::remove(sockets.front());
    std::size_t exchanges = 0;
    for (const bool full : {false, true}) {
        const std::string name = full ? "direct socket with a full queue" : "direct socket that never accepts";
        const stall::SilentListener silent(sockets.front().string(), full);
        if (full) {
            ASSERT_TRUE(stall::queueFull(silent.path));
        }
        const std::string commandId = "cmd-" + std::to_string(++exchanges);
        standin::setCommandId(standIn, commandId);
        const ToolRun run = runTessary(name, commandId, directory);
        EXPECT_EQ(run.process.exitStatus, 0) << name;
        EXPECT_EQ(run.process.standardOutput, directory + "/result\n") << name;
        EXPECT_EQ(run.process.standardError, "") << name;
        // One request time-out on the direct socket, then the requests go through the bus.
        EXPECT_GE(run.took, kRequestTimeout) << name;
        EXPECT_LT(run.took, kRunBound) << name;
        EXPECT_TRUE(standin::waitForEvent(standIn, "alert closed by OK", exchanges)) << name;
    }
}

}  // namespace
