// The Linux desktop as the macOS accessibility interface would present it.
//
// Attributes, with the number of AT-SPI requests each costs:
//
//   "AXRole"         1      Accessible.GetRole, through the role table below
//   "AXWindows"      1 + n  application element only: Accessible.GetChildren, then
//                           Accessible.GetRole of each child; the children with a window role,
//                           in the application's order. Any other element: not supported.
//   "AXChildren"     1      Accessible.GetChildren: all children, in order
//   "AXValue"        2      Accessible.GetInterfaces, then Text.GetText(0, -1): the whole text
//                           where the element offers Text; otherwise (1 request) a value that
//                           is not text: kSuccess with OtherValue
//   "AXTitle"        1      the Accessible Name property, as text
//   "AXDescription"  1      the Accessible Description property, as text
//   "AXPosition"     2      Accessible.GetInterfaces, then Component.GetExtents(screen):
//                           (x, y) as a Point
//   "AXSize"         2      the same: (width, height) as a Size. Without a Component interface
//                           both read Absent with kAttributeUnsupported
//   "AXSelected"     1      Accessible.GetState: whether the state set holds "selected", as a
//                           boolean (a row that a click selected)
//   "AXFrontmost"    1 + n  application element only: Accessible.GetChildren, then
//                           Accessible.GetState of each child until one holds "active" (the
//                           window with the keyboard focus): true when one does. Any other
//                           element: not supported.
//   anything else    0      Absent with kAttributeUnsupported
//
// Interfaces are asked for before they are used because GTK's bridge answers a call of an
// interface that an object lacks only after logging a critical warning in the application.
//
// Roles ("AXRole"):
//
//   scroll pane                          AXScrollArea
//   tree, tree table                     AXOutline
//   table                                AXTable
//   list, list box                       AXList
//   table row, tree item, list item      AXRow
//   label, static                        AXStaticText
//   push button                          AXButton   (AT-SPI has no plainer button role)
//   text, entry, password text           AXTextField
//   frame, window, dialog, alert         AXWindow   (these are also what "AXWindows" lists)
//   application                          AXApplication
//   any other role                       "atspi:" followed by the AT-SPI role name
//
// Actions: "AXPress" performs the element's "click" action, or its "press" action when it has
// no "click", by their fixed (not localized) names: Accessible.GetInterfaces,
// Action.GetActions, Action.GetName of each action, Action.DoAction (3 + n requests). An
// element without the Action interface or without either action, and an action name other
// than "AXPress", give kActionUnsupported; an action that the application refuses gives
// kCannotComplete.
//
// Connections: the requests of an application's elements travel on the application's own
// direct connection when it offers one, and through the accessibility bus otherwise; the
// counts above hold on either. createApplicationElement opens the direct connection once:
// Application.GetApplicationBusAddress of the application's root object through the bus, then
// Peer.Ping over the new connection (2 requests, beside the registry's Accessible.GetChildren
// and one GetConnectionUnixProcessID per registered application). An empty address, one that
// is not a local socket (unixexec:, tcp:, ... are never followed), one that cannot be opened
// and a Ping without answer leave the application on the bus.
// The elements that an element lists share its connection when they belong to the same
// application (the same bus name); the connection closes when the last of them is released.
// The registry, the bus daemon and the application names that runningApplications compares
// are asked through the bus.
//
// Errors of a request (the D-Bus error name of the reply, or the failure of the call itself):
//
//   org.freedesktop.DBus.Error.UnknownObject       kInvalidElement    the object has gone
//   org.freedesktop.DBus.Error.ServiceUnknown      kInvalidElement    the application has gone
//   org.freedesktop.DBus.Error.NameHasNoOwner      kInvalidElement
//   org.freedesktop.DBus.Error.UnknownMethod       kAttributeUnsupported  interface not offered
//   org.freedesktop.DBus.Error.UnknownInterface    kAttributeUnsupported
//   org.freedesktop.DBus.Error.UnknownProperty     kAttributeUnsupported
//   org.freedesktop.DBus.Error.InvalidArgs         kIllegalArgument
//   org.freedesktop.DBus.Error.NoReply             kCannotComplete    no answer in time
//   org.freedesktop.DBus.Error.Timeout, TimedOut   kCannotComplete
//   org.freedesktop.DBus.Error.NoMemory            kCannotComplete
//   org.freedesktop.DBus.Error.Disconnected        kApiDisabled       the accessibility bus is gone
//   org.freedesktop.DBus.Error.NoServer, NoNetwork kApiDisabled
//   org.freedesktop.DBus.Error.AccessDenied        kApiDisabled
//   a reply of an unexpected signature             kFailure
//   any other error                                kFailure
//   no accessibility bus at all                    kApiDisabled
//   the accessibility bus closed, before a request
//   or while it waited for the answer              kApiDisabled
//   the application's direct connection closed,
//   before a request or while it waited            kInvalidElement    the application has gone
//                                                                     (no request is made on
//                                                                     a closed connection)
//   an element made for a process that has no
//   application on the accessibility bus           kInvalidElement (no request is made)
#include "platform/linux/mapping.h"

#include "platform/platform.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <array>

namespace platform::linux_desktop {
namespace {

struct AttributeRow {
    std::string_view attribute;
    AttributeMapping mapping;
};

constexpr std::array kAttributes{
    AttributeRow{"AXRole", {Request::role, nullptr, false}},
    AttributeRow{"AXWindows", {Request::windows, nullptr, false}},
    AttributeRow{"AXChildren", {Request::children, nullptr, false}},
    AttributeRow{"AXValue", {Request::value, kTextInterface, true}},
    AttributeRow{"AXTitle", {Request::title, nullptr, false}},
    AttributeRow{"AXDescription", {Request::description, nullptr, false}},
    AttributeRow{"AXPosition", {Request::position, kComponentInterface, false}},
    AttributeRow{"AXSize", {Request::size, kComponentInterface, false}},
    AttributeRow{"AXSelected", {Request::selected, nullptr, false}},
    AttributeRow{"AXFrontmost", {Request::frontmost, nullptr, false}},
};

struct RoleRow {
    AtspiRole role;
    std::string_view text;
    bool window;
};

constexpr std::array kRoles{
    RoleRow{ATSPI_ROLE_SCROLL_PANE, "AXScrollArea", false},
    RoleRow{ATSPI_ROLE_TREE, "AXOutline", false},
    RoleRow{ATSPI_ROLE_TREE_TABLE, "AXOutline", false},
    RoleRow{ATSPI_ROLE_TABLE, "AXTable", false},
    RoleRow{ATSPI_ROLE_LIST, "AXList", false},
    RoleRow{ATSPI_ROLE_LIST_BOX, "AXList", false},
    RoleRow{ATSPI_ROLE_TABLE_ROW, "AXRow", false},
    RoleRow{ATSPI_ROLE_TREE_ITEM, "AXRow", false},
    RoleRow{ATSPI_ROLE_LIST_ITEM, "AXRow", false},
    RoleRow{ATSPI_ROLE_LABEL, "AXStaticText", false},
    RoleRow{ATSPI_ROLE_STATIC, "AXStaticText", false},
    RoleRow{ATSPI_ROLE_PUSH_BUTTON, "AXButton", false},
    RoleRow{ATSPI_ROLE_TEXT, "AXTextField", false},
    RoleRow{ATSPI_ROLE_ENTRY, "AXTextField", false},
    RoleRow{ATSPI_ROLE_PASSWORD_TEXT, "AXTextField", false},
    RoleRow{ATSPI_ROLE_FRAME, "AXWindow", true},
    RoleRow{ATSPI_ROLE_WINDOW, "AXWindow", true},
    RoleRow{ATSPI_ROLE_DIALOG, "AXWindow", true},
    RoleRow{ATSPI_ROLE_ALERT, "AXWindow", true},
    RoleRow{ATSPI_ROLE_APPLICATION, "AXApplication", false},
};

struct ActionRow {
    std::string_view action;
    std::array<std::string_view, 2> atspiNames;
};

constexpr std::array kActions{
    ActionRow{"AXPress", {"click", "press"}},
};

struct ErrorRow {
    std::string_view name;
    std::int32_t code;
};

constexpr std::array kErrors{
    ErrorRow{"org.freedesktop.DBus.Error.UnknownObject", kInvalidElement},
    ErrorRow{"org.freedesktop.DBus.Error.ServiceUnknown", kInvalidElement},
    ErrorRow{"org.freedesktop.DBus.Error.NameHasNoOwner", kInvalidElement},
    ErrorRow{"org.freedesktop.DBus.Error.UnknownMethod", kAttributeUnsupported},
    ErrorRow{"org.freedesktop.DBus.Error.UnknownInterface", kAttributeUnsupported},
    ErrorRow{"org.freedesktop.DBus.Error.UnknownProperty", kAttributeUnsupported},
    ErrorRow{"org.freedesktop.DBus.Error.InvalidArgs", kIllegalArgument},
    ErrorRow{"org.freedesktop.DBus.Error.NoReply", kCannotComplete},
    ErrorRow{"org.freedesktop.DBus.Error.Timeout", kCannotComplete},
    ErrorRow{"org.freedesktop.DBus.Error.TimedOut", kCannotComplete},
    ErrorRow{"org.freedesktop.DBus.Error.NoMemory", kCannotComplete},
    ErrorRow{"org.freedesktop.DBus.Error.Disconnected", kApiDisabled},
    ErrorRow{"org.freedesktop.DBus.Error.NoServer", kApiDisabled},
    ErrorRow{"org.freedesktop.DBus.Error.NoNetwork", kApiDisabled},
    ErrorRow{"org.freedesktop.DBus.Error.AccessDenied", kApiDisabled},
};

// AT-SPI's own name of every role, indexed by the role's number: the names that libatspi's
// atspi_role_get_name gives (at-spi2-core 2.46), which no macOS role text equals. A role number
// beyond the table, from a newer AT-SPI, has the empty name.
constexpr std::array<std::string_view, ATSPI_ROLE_LAST_DEFINED + 1> kAtspiRoleNames{
    "invalid", "accelerator label", "alert", "animation", "arrow", "calendar", "canvas",
    "check box", "check menu item", "color chooser", "column header", "combo box", "date editor",
    "desktop icon", "desktop frame", "dial", "dialog", "directory pane", "drawing area",
    "file chooser", "filler", "focus traversable", "font chooser", "frame", "glass pane",
    "html container", "icon", "image", "internal frame", "label", "layered pane", "list",
    "list item", "menu", "menu bar", "menu item", "option pane", "page tab", "page tab list",
    "panel", "password text", "popup menu", "progress bar", "push button", "radio button",
    "radio menu item", "root pane", "row header", "scroll bar", "scroll pane", "separator",
    "slider", "spin button", "split pane", "status bar", "table", "table cell",
    "table column header", "table row header", "tearoff menu item", "terminal", "text",
    "toggle button", "tool bar", "tool tip", "tree", "tree table", "unknown", "viewport", "window",
    "extended", "header", "footer", "paragraph", "ruler", "application", "autocomplete", "editbar",
    "embedded", "entry", "chart", "caption", "document frame", "heading", "page", "section",
    "redundant object", "form", "link", "input method window", "table row", "tree item",
    "document spreadsheet", "document presentation", "document text", "document web",
    "document email", "comment", "list box", "grouping", "image map", "notification", "info bar",
    "level bar", "title bar", "block quote", "audio", "video", "definition", "article", "landmark",
    "log", "marquee", "math", "rating", "timer", "static", "math fraction", "math root",
    "subscript", "superscript", "description list", "description term", "description value",
    "footnote", "content deletion", "content insertion", "mark", "suggestion", "push button menu",
    "last defined",
};
static_assert(kAtspiRoleNames.back() == "last defined", "one name for every role of the header");

const RoleRow* roleRow(std::uint32_t atspiRole) {
    const auto row = std::find_if(kRoles.begin(), kRoles.end(), [&](const RoleRow& candidate) {
        return static_cast<std::uint32_t>(candidate.role) == atspiRole;
    });
    return row == kRoles.end() ? nullptr : &*row;
}

}  // namespace

std::optional<AttributeMapping> mappingFor(std::string_view attribute) {
    for (const auto& row : kAttributes) {
        if (row.attribute == attribute) return row.mapping;
    }
    return std::nullopt;
}

std::string roleText(std::uint32_t atspiRole) {
    if (const auto* row = roleRow(atspiRole)) return std::string(row->text);
    const std::string_view name = atspiRole < kAtspiRoleNames.size() ? kAtspiRoleNames[atspiRole] : "";
    return "atspi:" + std::string(name);
}

bool isWindowRole(std::uint32_t atspiRole) {
    const auto* row = roleRow(atspiRole);
    return row != nullptr && row->window;
}

std::span<const std::string_view> actionNamesFor(std::string_view action) {
    for (const auto& row : kActions) {
        if (row.action == action) return row.atspiNames;
    }
    return {};
}

std::int32_t codeForError(std::string_view errorName) {
    for (const auto& row : kErrors) {
        if (row.name == errorName) return row.code;
    }
    return kFailure;
}

std::int32_t codeForClosedConnection(Channel channel) {
    // An application's own connection closes when the application ends; it is not opened
    // again, so its elements stay invalid, as its objects on the bus would be.
    return channel == Channel::direct ? kInvalidElement : kApiDisabled;
}

}  // namespace platform::linux_desktop
