#include "ax/query.h"

#include <utility>

#include "text/unicode.h"
#include "trace/traced.h"

namespace ax {
namespace {

// The value of kind T, moved out of the raw value (a text is not copied again).
template <typename T>
std::optional<T> held(Value value) {
    if (auto* v = std::get_if<T>(&value)) return std::move(*v);
    return std::nullopt;
}

}  // namespace

Value attribute(const Element& element, std::string_view name) {
    platform::AttributeResult result = traced::copyAttributeValue(element, name);
    // Whatever the platform stored beside a failure code is released here, with `result`.
    if (result.code != platform::kSuccess) return platform::Absent{};
    return std::move(result.value);
}

std::string string(const Element& element, std::string_view name) {
    return held<std::string>(attribute(element, name)).value_or(std::string{});
}

AnsweredText answeredString(const Element& element, std::string_view name) {
    platform::AttributeResult result = traced::copyAttributeValue(element, name);
    switch (result.code) {
        case platform::kSuccess:
            return {true, held<std::string>(std::move(result.value)).value_or(std::string{})};
        case platform::kNoValue:
        case platform::kAttributeUnsupported:
        case platform::kInvalidElement:
            return {true, std::string{}};
        default:
            return {false, std::string{}};
    }
}

bool stringEquals(const Element& element, std::string_view name, std::string_view expected) {
    return text::equal(string(element, name), expected);
}

ElementList elementList(Value value) {
    if (auto* list = std::get_if<ElementList>(&value)) return std::move(*list);
    return {};
}

std::optional<ElementList> list(const Element& element, std::string_view name) {
    return held<ElementList>(attribute(element, name));
}

ElementList children(const Element& element) { return elementList(attribute(element, "AXChildren")); }

std::optional<Point> point(const Element& element) { return held<Point>(attribute(element, "AXPosition")); }

std::optional<Size> size(const Element& element) { return held<Size>(attribute(element, "AXSize")); }

std::optional<bool> boolean(const Element& element, std::string_view name) { return held<bool>(attribute(element, name)); }

}  // namespace ax
