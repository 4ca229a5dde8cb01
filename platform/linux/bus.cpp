#include "platform/linux/bus.h"

#include "platform/linux/mapping.h"
#include "platform/linux/quiet.h"
#include "platform/platform.h"

#include <atspi/atspi.h>

namespace platform::linux_desktop {
namespace {

std::uint64_t requestsSent = 0;

struct ErrorHolder {
    DBusError error;
    ErrorHolder() { dbus_error_init(&error); }
    ~ErrorHolder() { dbus_error_free(&error); }
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
};

}  // namespace

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

Reply send(Message call) {
    Reply reply;
    if (!call) {
        reply.code = kFailure;
        return reply;
    }
    DBusConnection* bus = accessibilityBus();
    if (bus == nullptr) {
        reply.code = kApiDisabled;
        return reply;
    }
    ++requestsSent;
    ErrorHolder error;
    reply.message.reset(dbus_connection_send_with_reply_and_block(
        bus, call.get(), kRequestTimeoutMilliseconds, &error.error));
    if (reply.message) {
        reply.code = kSuccess;
    } else {
        reply.errorName = error.error.name != nullptr ? error.error.name : "";
        reply.code = codeForError(reply.errorName);
    }
    return reply;
}

std::uint64_t requestCount() { return requestsSent; }

}  // namespace platform::linux_desktop
