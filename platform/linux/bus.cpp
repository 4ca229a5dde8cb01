#include "platform/linux/bus.h"

#include "platform/linux/mapping.h"
#include "platform/linux/quiet.h"
#include "platform/platform.h"

#include <atspi/atspi.h>

namespace platform::linux_desktop {
namespace {

std::uint64_t requestsSent = 0;
std::uint64_t directRequestsSent = 0;

struct ErrorHolder {
    DBusError error;
    ErrorHolder() { dbus_error_init(&error); }
    ~ErrorHolder() { dbus_error_free(&error); }
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
};

using PrivateConnection = Owned<DBusConnection, closePrivateConnection>;
using AddressEntries = Owned<DBusAddressEntry*, dbus_address_entries_free>;

// Messages that arrived on a direct connection beside the answers (nothing the tool asked for)
// would stay queued there for the connection's life: nothing reads them.
void dropUnread(DBusConnection* connection) {
    while (DBusMessage* unread = dbus_connection_pop_message(connection)) dbus_message_unref(unread);
}

// The address in a GetApplicationBusAddress answer; empty when the application offers none.
std::string addressIn(const Reply& reply) {
    const char* address = nullptr;
    if (reply.code != kSuccess || !dbus_message_has_signature(reply.message.get(), "s") ||
        !dbus_message_get_args(reply.message.get(), nullptr, DBUS_TYPE_STRING, &address,
                               DBUS_TYPE_INVALID)) {
        return {};
    }
    return address;
}

}  // namespace

void closePrivateConnection(DBusConnection* connection) noexcept {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
}

DBusConnection* accessibilityBus() {
    silenceLibraries();
    // libatspi keeps the connection for the life of the process and opens it again after a
    // disconnection; it reports its failures through GLib's log, which is silenced.
    DBusConnection* bus = atspi_get_a11y_bus();
    if (bus == nullptr || !dbus_connection_get_is_connected(bus)) return nullptr;
    return bus;
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
    if (channel == Channel::direct) dropUnread(connection);
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
    if (!isLocalSocketAddress(address)) return nullptr;
    ErrorHolder error;
    PrivateConnection opened{dbus_connection_open_private(address.c_str(), &error.error)};
    if (!opened) return nullptr;
    // Its closing must not end the process, as it would for a bus connection of libdbus.
    dbus_connection_set_exit_on_disconnect(opened.get(), FALSE);
    DirectConnection direct{std::move(opened)};
    // The socket is authenticated on first use: a connection that the application refuses
    // shows only when a request is answered.
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
