// The accessibility tree of other applications, read through AT-SPI on the accessibility bus.
// What each attribute, role, action and error means is decided by the table in mapping.cpp;
// this file makes the requests and turns their answers into the tool's values.
//
// An element is a reference to one object of an application (its application's bus name and
// its path) and holds the application's direct connection, when it has one, on which its
// requests travel (see bus.h). Nothing is cached but that connection: every query asks the
// application afresh, with the number of requests that the table in mapping.cpp gives (one
// for "AXChildren", whatever the number of children).
#include "platform/linux/bus.h"
#include "platform/linux/display.h"
#include "platform/linux/mapping.h"
#include "platform/platform.h"

#include <atspi/atspi-constants.h>

#include <algorithm>

namespace platform {
namespace {

using linux_desktop::ObjectRef;
using linux_desktop::Reply;
using linux_desktop::Request;

using linux_desktop::kActionInterface;
using linux_desktop::kComponentInterface;
using linux_desktop::kTextInterface;
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

struct RunningApplication {
    ObjectRef object;
    std::int64_t processId = -1;
};

// An element that refers to nothing: every query on it answers kInvalidElement.
const ObjectRef kNowhere{};

const ObjectRef& objectOf(const Element& element) {
    const auto* object = static_cast<const ObjectRef*>(element.get());
    return object != nullptr ? *object : kNowhere;
}

Element elementFor(ObjectRef object) { return Element(new ObjectRef(std::move(object))); }

// ---- Requests -------------------------------------------------------------------------------

Reply call(const ObjectRef& target, const char* interface, const char* method) {
    return linux_desktop::send(target, linux_desktop::newCall(target, interface, method));
}

Reply callWithInt(const ObjectRef& target, const char* interface, const char* method,
                  dbus_int32_t argument) {
    auto message = linux_desktop::newCall(target, interface, method);
    if (message) dbus_message_append_args(message.get(), DBUS_TYPE_INT32, &argument, DBUS_TYPE_INVALID);
    return linux_desktop::send(target, std::move(message));
}

Reply getProperty(const ObjectRef& target, const char* property) {
    auto message = linux_desktop::newCall(target, kPropertiesInterface, "Get");
    const char* interface = linux_desktop::kAccessibleInterface;
    if (message) {
        dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                 &property, DBUS_TYPE_INVALID);
    }
    return linux_desktop::send(target, std::move(message));
}

Reply getText(const ObjectRef& target) {
    auto message = linux_desktop::newCall(target, kTextInterface, "GetText");
    const dbus_int32_t start = 0;
    const dbus_int32_t end = -1;  // to the end of the text
    if (message) {
        dbus_message_append_args(message.get(), DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32, &end,
                                 DBUS_TYPE_INVALID);
    }
    return linux_desktop::send(target, std::move(message));
}

Reply getScreenExtents(const ObjectRef& target) {
    auto message = linux_desktop::newCall(target, kComponentInterface, "GetExtents");
    const dbus_uint32_t coordinates = ATSPI_COORD_TYPE_SCREEN;
    if (message) {
        dbus_message_append_args(message.get(), DBUS_TYPE_UINT32, &coordinates, DBUS_TYPE_INVALID);
    }
    return linux_desktop::send(target, std::move(message));
}

Reply requestFor(Request request, const ObjectRef& target) {
    switch (request) {
        case Request::role: return call(target, linux_desktop::kAccessibleInterface, "GetRole");
        case Request::windows:
        case Request::children: return call(target, linux_desktop::kAccessibleInterface, "GetChildren");
        case Request::value: return getText(target);
        case Request::title: return getProperty(target, "Name");
        case Request::description: return getProperty(target, "Description");
        case Request::position:
        case Request::size: return getScreenExtents(target);
        case Request::selected: return call(target, linux_desktop::kAccessibleInterface, "GetState");
        case Request::frontmost: return call(target, linux_desktop::kAccessibleInterface, "GetChildren");
    }
    return Reply{kFailure, {}, nullptr};
}

// ---- Reading answers ------------------------------------------------------------------------

std::optional<std::uint32_t> readUint(DBusMessage* message) {
    dbus_uint32_t value = 0;
    if (!dbus_message_has_signature(message, "u") ||
        !dbus_message_get_args(message, nullptr, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> readString(DBusMessage* message) {
    const char* text = nullptr;
    if (!dbus_message_has_signature(message, "s") ||
        !dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID)) {
        return std::nullopt;
    }
    return std::string(text);
}

// A property's value: a variant that holds a string.
std::optional<std::string> readStringVariant(DBusMessage* message) {
    DBusMessageIter iter;
    DBusMessageIter variant;
    if (!dbus_message_has_signature(message, "v") || !dbus_message_iter_init(message, &iter)) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&iter, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRING) return std::nullopt;
    const char* text = nullptr;
    dbus_message_iter_get_basic(&variant, &text);
    return std::string(text);
}

// A list of object references, a(so), without the null references that stand for no object.
std::optional<std::vector<ObjectRef>> readObjects(DBusMessage* message) {
    DBusMessageIter iter;
    DBusMessageIter array;
    if (!dbus_message_has_signature(message, "a(so)") || !dbus_message_iter_init(message, &iter)) {
        return std::nullopt;
    }
    std::vector<ObjectRef> objects;
    dbus_message_iter_recurse(&iter, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
        DBusMessageIter fields;
        dbus_message_iter_recurse(&array, &fields);
        const char* bus = nullptr;
        const char* path = nullptr;
        dbus_message_iter_get_basic(&fields, &bus);
        dbus_message_iter_next(&fields);
        dbus_message_iter_get_basic(&fields, &path);
        if (std::string_view(path) != linux_desktop::kNullPath && *bus != '\0') {
            objects.push_back(ObjectRef{bus, path, nullptr});
        }
        dbus_message_iter_next(&array);
    }
    return objects;
}

struct Extents {
    dbus_int32_t x = 0;
    dbus_int32_t y = 0;
    dbus_int32_t width = 0;
    dbus_int32_t height = 0;
};

std::optional<Extents> readExtents(DBusMessage* message) {
    DBusMessageIter iter;
    DBusMessageIter fields;
    if (!dbus_message_has_signature(message, "(iiii)") || !dbus_message_iter_init(message, &iter)) {
        return std::nullopt;
    }
    Extents extents;
    dbus_message_iter_recurse(&iter, &fields);
    for (dbus_int32_t* field : {&extents.x, &extents.y, &extents.width, &extents.height}) {
        dbus_message_iter_get_basic(&fields, field);
        dbus_message_iter_next(&fields);
    }
    return extents;
}

// The number of actions in an Action.GetActions answer, a(sss). Its names are the localized
// ones ("Click" in English), so they are not compared; Action.GetName gives the fixed names.
std::optional<std::size_t> readActionCount(DBusMessage* message) {
    DBusMessageIter iter;
    DBusMessageIter array;
    if (!dbus_message_has_signature(message, "a(sss)") || !dbus_message_iter_init(message, &iter)) {
        return std::nullopt;
    }
    std::size_t count = 0;
    dbus_message_iter_recurse(&iter, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
        ++count;
        dbus_message_iter_next(&array);
    }
    return count;
}

std::optional<std::vector<std::string>> readStrings(DBusMessage* message) {
    DBusMessageIter iter;
    DBusMessageIter array;
    if (!dbus_message_has_signature(message, "as") || !dbus_message_iter_init(message, &iter)) {
        return std::nullopt;
    }
    std::vector<std::string> strings;
    dbus_message_iter_recurse(&iter, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
        const char* text = nullptr;
        dbus_message_iter_get_basic(&array, &text);
        strings.emplace_back(text);
        dbus_message_iter_next(&array);
    }
    return strings;
}

// Whether a state set, au (bit n of the set is bit n % 32 of word n / 32), holds a state.
std::optional<bool> readState(DBusMessage* message, AtspiStateType state) {
    DBusMessageIter iter;
    DBusMessageIter array;
    if (!dbus_message_has_signature(message, "au") || !dbus_message_iter_init(message, &iter)) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&iter, &array);
    const auto number = static_cast<unsigned>(state);
    for (unsigned word = 0; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_UINT32; ++word) {
        dbus_uint32_t bits = 0;
        dbus_message_iter_get_basic(&array, &bits);
        if (word == number / 32) return (bits >> (number % 32) & 1u) != 0;
        dbus_message_iter_next(&array);
    }
    return false;
}

std::optional<bool> readBool(DBusMessage* message) {
    dbus_bool_t value = FALSE;
    if (!dbus_message_has_signature(message, "b") ||
        !dbus_message_get_args(message, nullptr, DBUS_TYPE_BOOLEAN, &value, DBUS_TYPE_INVALID)) {
        return std::nullopt;
    }
    return value != FALSE;
}

// The elements of objects that `parent` listed. Those of the parent's application share its
// direct connection; another application's (an embedded one) are asked through the bus.
ElementList elementsOf(std::vector<ObjectRef> objects, const ObjectRef& parent) {
    ElementList elements;
    elements.reserve(objects.size());
    for (auto& object : objects) {
        if (object.bus == parent.bus) object.direct = parent.direct;
        elements.push_back(elementFor(std::move(object)));
    }
    return elements;
}

// The one conversion of an AT-SPI answer into the tool's value. An answer of another shape
// than the request promises reads as kFailure with nothing stored.
AttributeResult convert(Request request, DBusMessage* message, const ObjectRef& asked) {
    const auto stored = [](Value value) { return AttributeResult{kSuccess, std::move(value)}; };
    const auto malformed = [] { return AttributeResult{kFailure, Absent{}}; };
    switch (request) {
        case Request::role: {
            const auto role = readUint(message);
            return role ? stored(linux_desktop::roleText(*role)) : malformed();
        }
        case Request::windows:
        case Request::children: {
            auto objects = readObjects(message);
            return objects ? stored(elementsOf(std::move(*objects), asked)) : malformed();
        }
        case Request::value: {
            auto text = readString(message);
            return text ? stored(std::move(*text)) : malformed();
        }
        case Request::title:
        case Request::description: {
            auto text = readStringVariant(message);
            return text ? stored(std::move(*text)) : malformed();
        }
        case Request::position: {
            const auto extents = readExtents(message);
            return extents ? stored(Point{double(extents->x), double(extents->y)}) : malformed();
        }
        case Request::size: {
            const auto extents = readExtents(message);
            return extents ? stored(Size{double(extents->width), double(extents->height)})
                           : malformed();
        }
        case Request::selected: {
            const auto selected = readState(message, ATSPI_STATE_SELECTED);
            return selected ? stored(*selected) : malformed();
        }
        case Request::frontmost: {
            auto objects = readObjects(message);
            return objects ? stored(elementsOf(std::move(*objects), asked)) : malformed();
        }
    }
    return malformed();
}

// Whether the object offers an AT-SPI interface: kSuccess with the answer, or the code of the
// failed request.
struct Offer {
    std::int32_t code = kSuccess;
    bool offered = false;
};

Offer offers(const ObjectRef& object, const char* interface) {
    const Reply reply = call(object, linux_desktop::kAccessibleInterface, "GetInterfaces");
    if (reply.code != kSuccess) return {reply.code, false};
    const auto interfaces = readStrings(reply.message.get());
    if (!interfaces) return {kFailure, false};
    return {kSuccess, std::find(interfaces->begin(), interfaces->end(), interface) !=
                          interfaces->end()};
}

// The windows among an application's children: one role request per child. A child that
// vanished meanwhile is no window.
ElementList windowsAmong(ElementList children) {
    ElementList windows;
    for (auto& child : children) {
        const Reply reply = call(objectOf(child), linux_desktop::kAccessibleInterface, "GetRole");
        if (reply.code != kSuccess) continue;
        const auto role = readUint(reply.message.get());
        if (role && linux_desktop::isWindowRole(*role)) windows.push_back(std::move(child));
    }
    return windows;
}

// Whether one of an application's top-level windows is the active one: one state request per
// window, up to the first that is. A window that vanished meanwhile is not active; a request
// that fails otherwise makes the answer unknown (its code, nothing stored).
AttributeResult anyActive(ElementList windows) {
    for (const auto& window : windows) {
        const Reply reply = call(objectOf(window), linux_desktop::kAccessibleInterface, "GetState");
        if (reply.code == kInvalidElement) continue;
        if (reply.code != kSuccess) return {reply.code, Absent{}};
        const auto active = readState(reply.message.get(), ATSPI_STATE_ACTIVE);
        if (!active) return {kFailure, Absent{}};
        if (*active) return {kSuccess, true};
    }
    return {kSuccess, false};
}

// ---- Applications ---------------------------------------------------------------------------

const ObjectRef kRegistryRoot{linux_desktop::kRegistryBusName, linux_desktop::kApplicationRootPath,
                             nullptr};
const ObjectRef kBusDaemon{"org.freedesktop.DBus", "/org/freedesktop/DBus", nullptr};

// The applications registered with the accessibility registry, in its order.
std::vector<ObjectRef> registeredApplications() {
    const Reply reply = call(kRegistryRoot, linux_desktop::kAccessibleInterface, "GetChildren");
    if (reply.code != kSuccess) return {};
    return readObjects(reply.message.get()).value_or(std::vector<ObjectRef>{});
}

// The process id of the connection that owns a bus name, as the bus daemon knows it.
std::int64_t processOf(const ObjectRef& application) {
    auto message = linux_desktop::newCall(kBusDaemon, "org.freedesktop.DBus",
                                          "GetConnectionUnixProcessID");
    const char* name = application.bus.c_str();
    if (message) dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    const Reply reply = linux_desktop::send(kBusDaemon, std::move(message));
    if (reply.code != kSuccess) return -1;
    const auto pid = readUint(reply.message.get());
    return pid ? std::int64_t{*pid} : -1;
}

}  // namespace

void releaseElement(void* reference) noexcept { delete static_cast<ObjectRef*>(reference); }

void releaseApplication(void* reference) noexcept {
    delete static_cast<RunningApplication*>(reference);
}

bool isProcessTrusted() {
    if (linux_desktop::accessibilityBus() == nullptr) return false;
    const Reply ping = call(kRegistryRoot, "org.freedesktop.DBus.Peer", "Ping");
    return ping.code == kSuccess && linux_desktop::xDisplay() != nullptr;
}

std::vector<Application> runningApplications(std::string_view bundleIdentifier) {
    std::vector<Application> applications;
    for (auto& object : registeredApplications()) {
        const Reply name = getProperty(object, "Name");
        if (name.code != kSuccess || readStringVariant(name.message.get()) != bundleIdentifier) {
            continue;
        }
        const std::int64_t pid = processOf(object);
        if (pid < 0) continue;  // gone since the registry listed it
        applications.emplace_back(new RunningApplication{std::move(object), pid});
    }
    return applications;
}

std::int64_t processIdentifier(const Application& application) {
    const auto* running = static_cast<const RunningApplication*>(application.get());
    return running != nullptr ? running->processId : -1;
}

Element createApplicationElement(std::int64_t processId) {
    for (auto& object : registeredApplications()) {
        if (processOf(object) != processId) continue;
        object.direct = linux_desktop::openDirectConnection(object);
        return elementFor(std::move(object));
    }
    return elementFor(ObjectRef{});
}

Element retainElement(const Element& element) {
    if (!element) return Element{};
    return elementFor(objectOf(element));
}

AttributeResult copyAttributeValue(const Element& element, std::string_view attribute) {
    const ObjectRef& object = objectOf(element);
    if (object.bus.empty()) return {kInvalidElement, Absent{}};
    const auto mapping = linux_desktop::mappingFor(attribute);
    if (!mapping) return {kAttributeUnsupported, Absent{}};
    const Request request = mapping->request;
    // Only the application element lists windows and is frontmost or not, as on macOS.
    if ((request == Request::windows || request == Request::frontmost) &&
        object.path != linux_desktop::kApplicationRootPath) {
        return {kAttributeUnsupported, Absent{}};
    }
    if (mapping->interface != nullptr) {
        const Offer offer = offers(object, mapping->interface);
        if (offer.code != kSuccess) return {offer.code, Absent{}};
        if (!offer.offered) {
            if (mapping->otherValueWithoutInterface) return {kSuccess, OtherValue{}};
            return {kAttributeUnsupported, Absent{}};
        }
    }
    const Reply reply = requestFor(request, object);
    if (reply.code != kSuccess) return {reply.code, Absent{}};
    AttributeResult result = convert(request, reply.message.get(), object);
    if (request == Request::windows && result.code == kSuccess) {
        result.value = windowsAmong(std::move(std::get<ElementList>(result.value)));
    }
    if (request == Request::frontmost && result.code == kSuccess) {
        return anyActive(std::move(std::get<ElementList>(result.value)));
    }
    return result;
}

std::int32_t performAction(const Element& element, std::string_view action) {
    const ObjectRef& object = objectOf(element);
    if (object.bus.empty()) return kInvalidElement;
    const auto wanted = linux_desktop::actionNamesFor(action);
    if (wanted.empty()) return kActionUnsupported;
    const Offer offer = offers(object, kActionInterface);
    if (offer.code != kSuccess) return offer.code;
    if (!offer.offered) return kActionUnsupported;
    const Reply listing = call(object, kActionInterface, "GetActions");
    if (listing.code != kSuccess) return listing.code;
    const auto count = readActionCount(listing.message.get());
    if (!count) return kFailure;
    std::vector<std::string> names;
    for (std::size_t index = 0; index < *count; ++index) {
        const Reply name = callWithInt(object, kActionInterface, "GetName",
                                       static_cast<dbus_int32_t>(index));
        if (name.code != kSuccess) return name.code;
        names.push_back(readString(name.message.get()).value_or(""));
    }
    for (const std::string_view candidate : wanted) {
        const auto found = std::find(names.begin(), names.end(), candidate);
        if (found == names.end()) continue;
        const auto index = static_cast<dbus_int32_t>(found - names.begin());
        const Reply done = callWithInt(object, kActionInterface, "DoAction", index);
        if (done.code != kSuccess) return done.code;
        const auto performed = readBool(done.message.get());
        if (!performed) return kFailure;
        return *performed ? kSuccess : kCannotComplete;
    }
    return kActionUnsupported;
}

}  // namespace platform
