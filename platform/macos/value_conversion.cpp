#include "platform/macos/value_conversion.h"

#include "platform/macos/cf_string.h"

#include <ApplicationServices/ApplicationServices.h>

namespace platform::macos {
namespace {

// Each kept item gets a reference of its own, so the elements outlive the array.
ElementList elementsOf(CFArrayRef array) {
    ElementList elements;
    const CFIndex count = CFArrayGetCount(array);
    elements.reserve(static_cast<std::size_t>(count));
    const CFTypeID elementType = AXUIElementGetTypeID();
    for (CFIndex index = 0; index < count; ++index) {
        const CFTypeRef item = CFArrayGetValueAtIndex(array, index);
        if (item == nullptr || CFGetTypeID(item) != elementType) continue;
        elements.emplace_back(CfRef::retain(item).handOver());
    }
    return elements;
}

// AXValueGetValue fills the zeroed record only when the value holds that very type.
Value geometryOf(AXValueRef value) {
    CGPoint point{};
    if (AXValueGetValue(value, kAXValueTypeCGPoint, &point)) return Point{point.x, point.y};
    CGSize size{};
    if (AXValueGetValue(value, kAXValueTypeCGSize, &size)) return Size{size.width, size.height};
    return OtherValue{};
}

}  // namespace

Value valueFromCopy(CfRef value) {
    if (!value) return Absent{};
    const CFTypeRef object = value.get();
    const CFTypeID type = CFGetTypeID(object);
    if (type == CFStringGetTypeID()) return utf8FromCfString(static_cast<CFStringRef>(object));
    if (type == CFArrayGetTypeID()) return elementsOf(static_cast<CFArrayRef>(object));
    if (type == AXUIElementGetTypeID()) return Element(CfRef::retain(object).handOver());
    if (type == AXValueGetTypeID()) return geometryOf(static_cast<AXValueRef>(object));
    if (type == CFBooleanGetTypeID()) return CFBooleanGetValue(static_cast<CFBooleanRef>(object)) != 0;
    return OtherValue{};
}

}  // namespace platform::macos
