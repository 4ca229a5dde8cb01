// The accessibility bus: the D-Bus connection on which every AT-SPI request of the tool travels,
// and the one function that sends a request and waits for its answer.
//
// libatspi finds and opens the bus (through the X root window's AT_SPI_BUS property or the
// session bus's org.a11y.Bus service). Requests then go straight to the org.a11y.atspi
// interfaces on that connection: libatspi's own object calls would spend one request per child
// when a child list is read and keep answers in caches, and the tool wants neither.
#pragma once

#include "platform/linux/owned.h"

#include <dbus/dbus.h>

#include <cstdint>
#include <string>

namespace platform::linux_desktop {

// One object on the accessibility bus: the unique bus name of its application and its path.
struct ObjectRef {
    std::string bus;
    std::string path;
};

inline constexpr const char* kAccessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* kApplicationRootPath = "/org/a11y/atspi/accessible/root";
inline constexpr const char* kRegistryBusName = "org.a11y.atspi.Registry";
inline constexpr const char* kNullPath = "/org/a11y/atspi/null";

// How long one request waits for its answer: the six seconds that macOS gives an
// accessibility request by default.
inline constexpr int kRequestTimeoutMilliseconds = 6000;

using Message = Owned<DBusMessage, dbus_message_unref>;

// The answer to one request: kSuccess with the reply, or another result code without one.
struct Reply {
    std::int32_t code = 0;
    std::string errorName;  // the D-Bus error name when the application answered with an error
    Message message;
};

// The accessibility bus, opened on first use; nullptr when there is none.
DBusConnection* accessibilityBus();

// A new method call to the object, or nothing when no message could be made.
Message newCall(const ObjectRef& target, const char* interface, const char* method);

// Sends the call on the accessibility bus and blocks until the answer or the time-out: exactly
// one request.
Reply send(Message call);

// The number of requests `send` has made in this process; read by the benchmarks.
std::uint64_t requestCount();

}  // namespace platform::linux_desktop
