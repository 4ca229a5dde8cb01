// The Linux desktop as the macOS accessibility interface would present it.
//
// Attributes (one AT-SPI request each unless said otherwise):
//
//   "AXRole"         Accessible.GetRole, through the role table below
//   "AXWindows"      application element only: Accessible.GetChildren, then Accessible.GetRole
//                    of each child; children with a window role, in the application's order
//                    (1 + n requests). Any other element: not supported.
//   "AXChildren"     Accessible.GetChildren: all children, in order, in ONE request
//   "AXValue"        Text.GetText(0, -1): the whole text where the element offers Text;
//                    otherwise a value that is not text (OtherValue)
//   "AXTitle"        the Accessible Name property, as text
//   "AXDescription"  the Accessible Description property, as text
//   "AXPosition"     Component.GetExtents(screen): (x, y) as a Point
//   "AXSize"         Component.GetExtents(screen): (width, height) as a Size; without a
//                    Component interface both read Absent with kAttributeUnsupported
//   anything else    no request: Absent with kAttributeUnsupported
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
// no "click". An element without either, or an action name other than "AXPress", gives
// kActionUnsupported; an action that the application refuses gives kCannotComplete.
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
//   an element made for a process that has no
//   application on the accessibility bus           kInvalidElement (no request is made)
#include "platform/linux/mapping.h"

#include "platform/linux/owned.h"

#include "platform/platform.h"

#include <atspi/atspi.h>

#include <algorithm>
#include <array>

namespace platform::linux_desktop {
namespace {

struct AttributeRow {
    std::string_view attribute;
    Request request;
};

constexpr std::array kAttributes{
    AttributeRow{"AXRole", Request::role},
    AttributeRow{"AXWindows", Request::windows},
    AttributeRow{"AXChildren", Request::children},
    AttributeRow{"AXValue", Request::value},
    AttributeRow{"AXTitle", Request::title},
    AttributeRow{"AXDescription", Request::description},
    AttributeRow{"AXPosition", Request::position},
    AttributeRow{"AXSize", Request::size},
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

const RoleRow* roleRow(std::uint32_t atspiRole) {
    const auto row = std::find_if(kRoles.begin(), kRoles.end(), [&](const RoleRow& candidate) {
        return static_cast<std::uint32_t>(candidate.role) == atspiRole;
    });
    return row == kRoles.end() ? nullptr : &*row;
}

}  // namespace

std::optional<Request> requestFor(std::string_view attribute) {
    for (const auto& row : kAttributes) {
        if (row.attribute == attribute) return row.request;
    }
    return std::nullopt;
}

std::string roleText(std::uint32_t atspiRole) {
    if (const auto* row = roleRow(atspiRole)) return std::string(row->text);
    // atspi_role_get_name answers from a table inside libatspi: no request is made.
    const Owned<gchar, g_free> name{atspi_role_get_name(static_cast<AtspiRole>(atspiRole))};
    return "atspi:" + std::string(name ? name.get() : "");
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

bool isMissingInterface(std::string_view errorName) {
    return codeForError(errorName) == kAttributeUnsupported;
}

}  // namespace platform::linux_desktop
