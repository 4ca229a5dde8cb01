#include "platform/macos/value_conversion.h"

#include "platform/macos/cf_string.h"

#include <cstdint>

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

// Apple documents the yes-or-no attributes as NSNumber: an application that boxes one as an
// integer sends a CFNumber, not a CFBoolean. A number that is exactly 0 or 1 answers the question;
// any other, or one that no 64-bit integer holds without loss (0.5, a NaN), answers nothing.
Value numberOf(CFNumberRef number) {
    std::int64_t value = -1;
    if (!CFNumberGetValue(number, kCFNumberSInt64Type, &value)) return OtherValue{};
    if (value != 0 && value != 1) return OtherValue{};
    return value == 1;
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
    if (type == CFNumberGetTypeID()) return numberOf(static_cast<CFNumberRef>(object));
    return OtherValue{};
}

}  // namespace platform::macos
