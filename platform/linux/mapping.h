// How the Linux desktop presents itself to the tool: the one table that turns AT-SPI roles,
// interfaces, actions and D-Bus errors into what the macOS accessibility interface would answer
// for the same widget. mapping.cpp holds the table and explains each row; nothing else in this
// folder decides what an AT-SPI answer means.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform::linux_desktop {

// The AT-SPI request that answers one attribute.
enum class Request {
    role,         // Accessible.GetRole, then the role row of the table
    windows,      // Accessible.GetChildren, then GetRole of each child, window roles kept
    children,     // Accessible.GetChildren
    value,        // Text.GetText over the whole text
    title,        // the Accessible Name property
    description,  // the Accessible Description property
    position,     // Component.GetExtents in screen coordinates: x, y
    size,         // Component.GetExtents in screen coordinates: width, height
    selected,     // Accessible.GetState: the "selected" state
    frontmost,    // Accessible.GetChildren, then Accessible.GetState of each child until one
                  // holds the "active" state
};

inline constexpr const char* kTextInterface = "org.a11y.atspi.Text";
inline constexpr const char* kComponentInterface = "org.a11y.atspi.Component";
inline constexpr const char* kActionInterface = "org.a11y.atspi.Action";

// How one macOS attribute is answered.
struct AttributeMapping {
    Request request;
    // The AT-SPI interface that the request needs beyond Accessible, or nullptr. Whether the
    // element offers it is asked first (Accessible.GetInterfaces): GTK's bridge answers a call
    // of an interface that an object lacks only after logging a critical warning in the
    // application.
    const char* interface;
    // Without that interface the attribute reads as a value that is not text (kSuccess,
    // OtherValue) rather than as unsupported (kAttributeUnsupported, Absent).
    bool otherValueWithoutInterface;
};

// The mapping of a macOS attribute name, or nothing for an attribute without one.
std::optional<AttributeMapping> mappingFor(std::string_view attribute);

// The macOS role text for an AT-SPI role number ("AXRow" for a table row). A role without a
// macOS counterpart reads "atspi:" and its AT-SPI name, which no macOS role text equals.
std::string roleText(std::uint32_t atspiRole);

// True for the roles that the application's "AXWindows" lists: frame, window, dialog, alert.
bool isWindowRole(std::uint32_t atspiRole);

// The AT-SPI action names, in order of preference, that perform a macOS action ("AXPress");
// empty for an action without a counterpart.
std::span<const std::string_view> actionNamesFor(std::string_view action);

// The connection that a request travels on.
enum class Channel {
    accessibilityBus,  // through the bus daemon
    direct,            // the application's own connection
};

// The result code for a D-Bus error name from a failed request.
std::int32_t codeForError(std::string_view errorName);

// The result code for a request whose connection has closed, before it was sent or while it
// waited for its answer.
std::int32_t codeForClosedConnection(Channel channel);

}  // namespace platform::linux_desktop
