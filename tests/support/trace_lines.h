// A reader of trace files as a program other than tessary would read them: by the documented
// line format alone (doc/trace.md), without tessary's own code.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TraceLine {
    std::string milliseconds;  // as written, "12.345"
    long pid = 0;
    std::string event;
    // In order; quoted values are unescaped, bare ones as written.
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<bool> quoted;  // per field: whether its value was a quoted text

    // The first value of this key, or nothing.
    std::optional<std::string> value(std::string_view key) const;
    // Every value of this key, in order.
    std::vector<std::string> values(std::string_view key) const;
};

// A quoted text's bytes: the escapes undone. Nothing when the text is not well formed.
std::optional<std::string> unquote(std::string_view quoted);

// One line without its newline; nothing when it does not follow the format.
std::optional<TraceLine> parseTraceLine(std::string_view line);

// Every line of a trace file's text; nothing when one of them does not parse or the text does
// not end with a newline.
std::optional<std::vector<TraceLine>> parseTrace(std::string_view text);

// The lines of these events.
std::vector<TraceLine> eventsOf(const std::vector<TraceLine>& lines, std::initializer_list<std::string_view> events);
