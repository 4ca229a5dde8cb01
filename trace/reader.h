// The reader of the trace format, beside its writer: it reads every line that the writer can
// write, exactly as doc/trace.md defines it, and nothing else. A replay serves a recorded run
// from what it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trace {

// One "key=value" of a line; a quoted value with its escapes undone.
struct Field {
    std::string key;
    std::string value;
    bool quoted = false;
};

struct RecordedLine {
    std::size_t number = 0;    // in the file, from 1
    std::string text;          // as written, without its line break
    std::string milliseconds;  // as written: "205.145"
    std::int64_t pid = 0;
    std::string event;
    std::vector<Field> fields;

    // The first field of this key, or null.
    const Field* field(std::string_view key) const;
};

// One line without its line break, or nothing with `error` saying what is wrong with it.
std::optional<RecordedLine> readLine(std::string_view text, std::string& error);

struct ReadTrace {
    std::vector<RecordedLine> lines;
    // "trace line N: <what is wrong>" for the first line that cannot be read; then no lines.
    std::optional<std::string> error;
};

// Every line of a trace file's text. The text must end with a line break (a line cut short by a
// kill has none, and is reported).
ReadTrace readTrace(std::string_view text);

// A bare value as a decimal integer, or nothing.
std::optional<std::int64_t> integerOf(std::string_view value);

// A bare value as a number of a pair ("188", "-165.5", "1e+21", "nan"), exactly as written, or
// nothing: no "+" sign, no hexadecimal, nothing beyond the range of a double.
std::optional<double> doubleOf(std::string_view value);

}  // namespace trace
