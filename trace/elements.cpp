// The accessibility requests and element references, traced: every element that arrives gets
// its number here.
#include "trace/format.h"
#include "trace/line.h"
#include "trace/trace.h"

namespace trace {
namespace {

// The answer of an attribute request: " kind=<kind>" and, for a kind that has one, " value=...".
// Elements in the answer are numbered here, as they arrive.
void answer(const platform::Value& value) {
    if (std::holds_alternative<platform::Absent>(value)) {
        field("kind").append("absent");
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        field("kind").append("text");
        appendQuoted(field("value"), *text);
    } else if (const auto* list = std::get_if<platform::ElementList>(&value)) {
        field("kind").append("list");
        field("value").push_back('[');
        for (std::size_t i = 0; i < list->size(); ++i) {
            if (i > 0) state().line.push_back(',');
            elementNumber(received((*list)[i]));
        }
        state().line.push_back(']');
    } else if (const auto* element = std::get_if<platform::Element>(&value)) {
        field("kind").append("element");
        field("value");
        elementNumber(received(*element));
    } else if (const auto* p = std::get_if<platform::Point>(&value)) {
        field("kind").append("point");
        point("value", *p);
    } else if (const auto* size = std::get_if<platform::Size>(&value)) {
        field("kind").append("size");
        std::string& line = field("value");
        appendDouble(line, size->width);
        line.push_back(',');
        appendDouble(line, size->height);
    } else if (const auto* yes = std::get_if<bool>(&value)) {
        field("kind").append("boolean");
        field("value").append(*yes ? "yes" : "no");
    } else {
        field("kind").append("other");
    }
}

}  // namespace

platform::Element createApplicationElement(std::int64_t processId) {
    const Clock::time_point at = Clock::now();
    platform::Element element = platform::createApplicationElement(processId);
    begin("application-element", at);
    appendInteger(field("pid"), processId);
    field("element");
    elementNumber(received(element));
    end(at);
    return element;
}

platform::Element retainElement(const platform::Element& element) {
    const Clock::time_point at = Clock::now();
    platform::Element copy = platform::retainElement(element);
    const std::uint32_t number = numberOf(element);
    if (copy) state().elements[copy.get()] = number;
    begin("retain", at);
    field("element");
    elementNumber(number);
    end(at);
    return copy;
}

platform::AttributeResult copyAttributeValue(const platform::Element& element, std::string_view attribute) {
    const Clock::time_point at = Clock::now();
    platform::AttributeResult result = platform::copyAttributeValue(element, attribute);
    begin("get", at);
    field("element");
    elementNumber(numberOf(element));
    appendQuoted(field("attribute"), attribute);
    appendInteger(field("code"), result.code);
    answer(result.value);
    end(at);
    return result;
}

std::int32_t performAction(const platform::Element& element, std::string_view action) {
    const Clock::time_point at = Clock::now();
    const std::int32_t code = platform::performAction(element, action);
    begin("press", at);
    field("element");
    elementNumber(numberOf(element));
    appendQuoted(field("action"), action);
    appendInteger(field("code"), code);
    end(at);
    return code;
}

}  // namespace trace
