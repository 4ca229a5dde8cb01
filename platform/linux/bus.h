// The connections on which every AT-SPI request of the tool travels, and the one function that
// sends a request and waits for its answer.
//
// The accessibility bus: the tool finds its address itself, in this order: the environment
// (AT_SPI_BUS_ADDRESS), the X root window's AT_SPI_BUS property, and the session bus's
// org.a11y.Bus service. An address that is not a local socket counts as none at that step: any
// X client can set the root window's property, and an address such as "unixexec:" would start
// a program. Requests then go straight to the org.a11y.atspi interfaces on that connection:
// libatspi's own object calls would spend one request per child when a child list is read and
// keep answers in caches, and the tool wants neither.
//
// An application's direct connection: a GTK application also listens on a socket of its own
// and answers there the same requests without the bus daemon between (one hop each way
// instead of two). The tool opens it once per application element and sends that
// application's requests over it; an application that offers none is asked through the bus.
//
// No wait is without limit: connecting and authenticating, the bus's Hello and every request
// each end after the request time-out, so a stopped application, bus daemon or registry costs
// time but never hangs the run.
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

// The accessibility bus, found and opened on first use; nullptr when there is none. The first
// use decides for the life of the process: a bus that cannot be found or opened is not looked
// for again (each attempt could cost a time-out), and a bus connection that has closed is not
// opened again.
DBusConnection* accessibilityBus();

// The accessibility bus's address from the first of its three sources that names a local
// socket, or "" when none does. Reads the environment, the root window's property and, only
// when both give nothing usable, asks the session bus (which must itself be a local socket).
std::string accessibilityBusAddress();

using PrivateConnection = Owned<DBusConnection, closePrivateConnection>;

// A private connection to a local socket address (isLocalSocketAddress), connected and
// authenticated within the request time-out; nothing for any other address, or when the
// listener refuses, never accepts or never answers in time. Not registered on a bus: a bus
// connection also needs `sayHello`.
PrivateConnection openPrivateConnection(const std::string& address);

// Registers a connection with its bus daemon: sends org.freedesktop.DBus.Hello, waits at most
// the request time-out, and records the unique name given. False when no name came.
bool sayHello(DBusConnection* connection);

// A new method call to the object, or nothing when no message could be made.
Message newCall(const ObjectRef& target, const char* interface, const char* method);

// Sends the call on the target's direct connection, or on the accessibility bus when it has
// none, and blocks until the answer or the time-out: exactly one request. A direct connection
// that has closed answers kInvalidElement without a request: its application has gone.
Reply send(const ObjectRef& target, Message call);

// The direct connection of the application whose root object this is: asks the application
// for its address through the bus (Application.GetApplicationBusAddress, one request), opens
// it as a private connection of its own (no bus, no Hello; see openPrivateConnection) and
// checks that the application answers there (Peer.Ping, one request). Nothing when the
// application offers no address, an address that is not a local socket, or one that cannot be
// opened or does not answer; its requests then go through the bus.
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
