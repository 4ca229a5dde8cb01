#include "platform/linux/bus.h"

#include "platform/linux/alarm.h"
#include "platform/linux/display.h"
#include "platform/linux/mapping.h"
#include "platform/platform.h"

#include <X11/Xatom.h>

#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::linux_desktop {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kRequestTimeout{kRequestTimeoutMilliseconds};

std::uint64_t requestsSent = 0;
std::uint64_t directRequestsSent = 0;

struct ErrorHolder {
    DBusError error;
    ErrorHolder() { dbus_error_init(&error); }
    ~ErrorHolder() { dbus_error_free(&error); }
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
};

using AddressEntries = Owned<DBusAddressEntry*, dbus_address_entries_free>;

int xFree(void* data) { return XFree(data); }
void freeText(char* text) { dbus_free(text); }
using XData = Owned<unsigned char, xFree>;
using DBusText = Owned<char, freeText>;

// Milliseconds left until the deadline, at least 0.
int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Messages that arrived beside the answers (nothing the tool asked for: the bus's NameAcquired
// after Hello, say) would stay queued for the connection's life: nothing reads them.
void dropUnread(DBusConnection* connection) {
    while (DBusMessage* unread = dbus_connection_pop_message(connection)) dbus_message_unref(unread);
}

// One method call on a connection, waiting at most the request time-out; the reply, or
// nothing after an error or the time-out.
Message callAndWait(DBusConnection* connection, const char* destination, const char* path,
                    const char* interface, const char* method) {
    const Message call{dbus_message_new_method_call(destination, path, interface, method)};
    if (!call) return nullptr;
    ErrorHolder error;
    return Message{dbus_connection_send_with_reply_and_block(connection, call.get(),
                                                             kRequestTimeoutMilliseconds, &error.error)};
}

// The one string argument of a reply, or "".
std::string stringIn(const Message& reply) {
    const char* text = nullptr;
    if (!reply || !dbus_message_has_signature(reply.get(), "s") ||
        !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID)) {
        return {};
    }
    return text;
}

// The address in a GetApplicationBusAddress answer; empty when the application offers none.
std::string addressIn(const Reply& reply) {
    return reply.code == kSuccess ? stringIn(reply.message) : "";
}

std::string addressFromEnvironment() {
    const char* address = std::getenv("AT_SPI_BUS_ADDRESS");
    return address != nullptr ? address : "";
}

// The root window's AT_SPI_BUS property, which the accessibility bus's launcher sets on the
// display it serves.
std::string addressFromRootWindow() {
    Display* display = xDisplay();
    if (display == nullptr) return {};
    const DisplayDeadline deadline(display);
    const Atom property = XInternAtom(display, "AT_SPI_BUS", True);
    if (property == None) return {};
    Atom type = None;
    int format = 0;
    unsigned long length = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 4096,
                                          False, XA_STRING, &type, &format, &length, &after, &data);
    const XData text{data};
    if (status != Success || type != XA_STRING || format != 8 || text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text.get()), length);
}

// The session bus's address as libdbus would take it, except that a missing variable never
// means "autolaunch:": the variable, else the socket "bus" in the user's runtime directory.
std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS")) return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return {};
    const std::string path = std::string(runtime) + "/bus";
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode) || status.st_uid != getuid()) {
        return {};
    }
    const DBusText escaped{dbus_address_escape_value(path.c_str())};
    return escaped ? "unix:path=" + std::string(escaped.get()) : "";
}

// The address that the session bus's org.a11y.Bus service gives (the bus daemon may start the
// service for it). The session bus itself must be a local socket.
std::string addressFromSessionBus() {
    const PrivateConnection session = openPrivateConnection(sessionBusAddress());
    if (!session || !sayHello(session.get())) return {};
    return stringIn(callAndWait(session.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                "GetAddress"));
}

}  // namespace

void closePrivateConnection(DBusConnection* connection) noexcept {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
}

DBusConnection* accessibilityBus() {
    static bool attempted = false;
    static PrivateConnection bus;
    if (!attempted) {
        attempted = true;
        bus = openPrivateConnection(accessibilityBusAddress());
        if (bus && !sayHello(bus.get())) bus.reset();
    }
    if (!bus || !dbus_connection_get_is_connected(bus.get())) return nullptr;
    return bus.get();
}

std::string accessibilityBusAddress() {
    for (const auto source : {addressFromEnvironment, addressFromRootWindow, addressFromSessionBus}) {
        std::string address = source();
        if (isLocalSocketAddress(address)) return address;
    }
    return {};
}

PrivateConnection openPrivateConnection(const std::string& address) {
    if (!isLocalSocketAddress(address)) return nullptr;
    const auto deadline = Clock::now() + kRequestTimeout;
    PrivateConnection connection;
    {
        // libdbus connects its socket with a blocking connect(), which waits without limit
        // while the listener's queue of connections not yet accepted is full; the alarm ends
        // that wait (connect fails with EINTR, and libdbus reports the address as unreachable).
        // It repeats every 100 ms after the time-out, so that an address of several entries
        // does not wait again on a later one.
        const ScopedAlarm alarm(kRequestTimeout, [](int) {}, std::chrono::milliseconds(100));
        ErrorHolder error;
        connection.reset(dbus_connection_open_private(address.c_str(), &error.error));
    }
    if (!connection) return nullptr;
    // Its closing must not end the process, as it would for a bus connection of libdbus.
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    // libdbus authenticates when the connection is first used and would then wait for the
    // other side without limit; here the exchange is driven to its end before the deadline.
    while (!dbus_connection_get_is_authenticated(connection.get())) {
        const int left = millisecondsUntil(deadline);
        if (left == 0 || !dbus_connection_read_write(connection.get(), left)) return nullptr;
    }
    return connection;
}

bool sayHello(DBusConnection* connection) {
    const std::string name = stringIn(callAndWait(connection, DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                  DBUS_INTERFACE_DBUS, "Hello"));
    return !name.empty() && dbus_bus_set_unique_name(connection, name.c_str());
}

Message newCall(const ObjectRef& target, const char* interface, const char* method) {
    if (target.bus.empty() || !dbus_validate_bus_name(target.bus.c_str(), nullptr) ||
        !dbus_validate_path(target.path.c_str(), nullptr)) {
        return nullptr;
    }
    return Message{dbus_message_new_method_call(target.bus.c_str(), target.path.c_str(),
                                                interface, method)};
}

Reply send(const ObjectRef& target, Message call) {
    Reply reply;
    if (!call) {
        reply.code = kFailure;
        return reply;
    }
    const Channel channel = target.direct ? Channel::direct : Channel::accessibilityBus;
    DBusConnection* connection = target.direct ? target.direct.get() : accessibilityBus();
    if (connection == nullptr || !dbus_connection_get_is_connected(connection)) {
        reply.code = codeForClosedConnection(channel);
        return reply;
    }
    ++requestsSent;
    if (channel == Channel::direct) ++directRequestsSent;
    ErrorHolder error;
    reply.message.reset(dbus_connection_send_with_reply_and_block(
        connection, call.get(), kRequestTimeoutMilliseconds, &error.error));
    dropUnread(connection);
    if (reply.message) {
        reply.code = kSuccess;
    } else if (!dbus_connection_get_is_connected(connection)) {
        // The connection closed while the request waited; libdbus then answers NoReply.
        reply.code = codeForClosedConnection(channel);
    } else {
        reply.errorName = error.error.name != nullptr ? error.error.name : "";
        reply.code = codeForError(reply.errorName);
    }
    return reply;
}

DirectConnection openDirectConnection(const ObjectRef& application) {
    const ObjectRef throughBus{application.bus, application.path, nullptr};
    const std::string address =
        addressIn(send(throughBus, newCall(throughBus, kApplicationInterface, "GetApplicationBusAddress")));
    PrivateConnection opened = openPrivateConnection(address);
    if (!opened) return nullptr;
    DirectConnection direct{std::move(opened)};
    const ObjectRef throughDirect{application.bus, application.path, direct};
    const Reply ping = send(throughDirect, newCall(throughDirect, DBUS_INTERFACE_PEER, "Ping"));
    if (ping.code != kSuccess) return nullptr;
    return direct;
}

bool isLocalSocketAddress(std::string_view address) {
    const std::string text(address);
    DBusAddressEntry** parsed = nullptr;
    int count = 0;
    if (!dbus_parse_address(text.c_str(), &parsed, &count, nullptr)) return false;
    const AddressEntries entries{parsed};
    if (count <= 0) return false;
    for (int index = 0; index < count; ++index) {
        const char* method = dbus_address_entry_get_method(entries.get()[index]);
        if (method == nullptr || std::string_view(method) != "unix") return false;
    }
    return true;
}

std::uint64_t requestCount() { return requestsSent; }

std::uint64_t directRequestCount() { return directRequestsSent; }

}  // namespace platform::linux_desktop
