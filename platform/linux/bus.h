// The connections on which every AT-SPI request of the tool travels, and the one function that
// sends a request and waits for its answer.
//
// The accessibility bus: libatspi finds and opens it (through the X root window's AT_SPI_BUS
// property or the session bus's org.a11y.Bus service). Requests then go straight to the
// org.a11y.atspi interfaces on that connection: libatspi's own object calls would spend one
// request per child when a child list is read and keep answers in caches, and the tool wants
// neither.
//
// An application's direct connection: a GTK application also listens on a socket of its own
// and answers there the same requests without the bus daemon between (one hop each way
// instead of two). The tool opens it once per application element and sends that
// application's requests over it; an application that offers none is asked through the bus.
#pragma once

#include "platform/linux/owned.h"

#include <dbus/dbus.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform::linux_desktop {

// Closes a connection opened with dbus_connection_open_private and gives back its reference.
void closePrivateConnection(DBusConnection* connection) noexcept;

// An application's direct connection, shared by every element of that application and closed
// when the last of them is released.
using DirectConnection = std::shared_ptr<DBusConnection>;

// One object of an application: the unique bus name of its application on the accessibility
// bus, its path, and the application's direct connection when it has one (else requests go
// through the bus).
struct ObjectRef {
    std::string bus;
    std::string path;
    DirectConnection direct;
};

inline constexpr const char* kAccessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* kApplicationInterface = "org.a11y.atspi.Application";
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

// Sends the call on the target's direct connection, or on the accessibility bus when it has
// none, and blocks until the answer or the time-out: exactly one request. A direct connection
// that has closed answers kInvalidElement without a request: its application has gone.
Reply send(const ObjectRef& target, Message call);

// The direct connection of the application whose root object this is: asks the application
// for its address through the bus (Application.GetApplicationBusAddress, one request), opens
// it as a private connection of its own (no bus, no Hello) and checks that the application
// answers there (Peer.Ping, one request). Nothing when the application offers no address, an
// address that is not a local socket, or one that cannot be opened or does not answer; its
// requests then go through the bus.
DirectConnection openDirectConnection(const ObjectRef& application);

// True when every entry of a D-Bus address is a local socket ("unix:path=...",
// "unix:abstract=..."). The tool opens no other address that an application hands it: others
// start a program ("unixexec:", "autolaunch:") or reach over the network ("tcp:").
//   isLocalSocketAddress("unix:path=/run/user/1000/at-spi2-Q1X2/socket")  // true
//   isLocalSocketAddress("unixexec:path=/bin/sh")                          // false
bool isLocalSocketAddress(std::string_view address);

// The number of requests `send` has made in this process, and how many of them travelled on a
// direct connection; read by the benchmarks and tests.
std::uint64_t requestCount();
std::uint64_t directRequestCount();

}  // namespace platform::linux_desktop
