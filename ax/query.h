// Typed reads of one attribute of one accessibility element.
//
// Every call is one request to the target application; nothing is cached. No query but
// `answeredString` reports an error: a failed request, a value of an unexpected kind or a vanished
// element all read as absent, as "" or as an empty list, and the caller decides whether that
// absence is fatal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace ax {

using platform::Element;
using platform::ElementList;
using platform::Point;
using platform::Size;
using platform::Value;

// The raw value of an attribute, or Absent when the request did not succeed.
Value attribute(const Element& element, std::string_view name);

// The attribute as text; "" when it is absent or not text.
std::string string(const Element& element, std::string_view name);

// Whether the attribute, read as text, equals `expected` under canonical equivalence.
bool stringEquals(const Element& element, std::string_view name, std::string_view expected);

// A text attribute read by a caller that must tell an answer from a request that went unanswered.
struct AnsweredText {
    // The application answered: with a value (of any kind), with "no value", with "attribute
    // unsupported", or by the element being gone (invalid element). Any other result code, CorelDRAW
    // busy (-25204) among them, is no answer, and nothing can be told from it.
    bool answered = false;
    // The text answered; "" when the answer is no text.
    std::string text;
};
AnsweredText answeredString(const Element& element, std::string_view name);

// A raw value as a list of elements: a list stays a list, anything else (absent, a single
// element, a text, ...) is the empty list.
ElementList elementList(Value value);

// The attribute as a list, or nothing unless the request succeeded with a list: the caller tells
// an empty list from an application that did not answer.
std::optional<ElementList> list(const Element& element, std::string_view name);

// "AXChildren" as a list, possibly empty.
ElementList children(const Element& element);

// "AXPosition": the top-left corner in screen points, or nothing unless it holds a point.
std::optional<Point> point(const Element& element);

// "AXSize": width and height in points, or nothing unless it holds a size.
std::optional<Size> size(const Element& element);

// A yes-or-no attribute ("AXFrontmost", "AXSelected"), or nothing unless it holds a boolean:
// the caller tells a definite "no" from a platform that cannot say.
std::optional<bool> boolean(const Element& element, std::string_view name);

}  // namespace ax
