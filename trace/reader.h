// The reader of the trace format, beside its writer: it reads every line that the writer can
// write, exactly as doc/trace.md defines it, and nothing else. A replay serves a recorded run
// from what it reads.
//
// A trace of a large tree has half a million lines, so a line copies nothing: its text, time,
// event and fields are views into the text it was read from. Only a quoted value with escapes
// has text of its own (its decoded bytes), kept in a store of decoded values that the line
// shares with the other lines of its trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trace {

// One "key=value" of a line; a quoted value with its escapes undone.
struct Field {
    std::string_view key;
    std::string_view value;
    bool quoted = false;
};

// The decoded values of quoted texts with escapes. A deque never moves what it holds, so a view
// of a value stays valid while values are added.
using DecodedValues = std::deque<std::string>;

struct RecordedLine {
    std::size_t number = 0;         // in the file, from 1
    std::string_view text;          // as written, without its line break
    std::string_view milliseconds;  // as written: "205.145"
    std::int64_t pid = 0;
    std::string_view event;
    std::vector<Field> fields;
    // What the views refer into beyond the text the line was read from: the trace's text and
    // decoded values for a line of readTrace, the decoded values of readLine's line (null when
    // it has no escape). Shared by copies of the line.
    std::shared_ptr<const void> held;

    // The first field of this key, or null.
    const Field* field(std::string_view key) const;
};

// One line without its line break, or nothing with `error` saying what is wrong with it. The
// line's views refer into `text`, which must outlive the line and its copies.
std::optional<RecordedLine> readLine(std::string_view text, std::string& error);

// The same reading into `line`, reusing the room of its fields, for a reader that keeps no line;
// decoded values are added to `decoded`. False with `error` for a line that cannot be read.
bool readLineInto(std::string_view text, RecordedLine& line, DecodedValues& decoded, std::string& error);

// Each line of a trace file's text in order, read into one line that is reused (valid only during
// the call of `each`), its decoded values added to `decoded`. The text must end with a line break
// (a line cut short by a kill has none, and is reported). Stops at the first line that cannot be
// read: "trace line N: <what is wrong>".
std::optional<std::string> forEachLine(std::string_view text, DecodedValues& decoded,
                                       const std::function<void(const RecordedLine&)>& each);

// How many line breaks `text` holds: how many lines it has to read.
std::size_t lineBreaks(std::string_view text);

struct ReadTrace {
    std::vector<RecordedLine> lines;
    // "trace line N: <what is wrong>" for the first line that cannot be read; then no lines.
    std::optional<std::string> error;
};

// Every line of a trace file's text, as forEachLine reads them. The lines keep the text (one copy
// of it, or `text` itself when it is handed over) and their decoded values, so they outlive the
// text given and the ReadTrace.
ReadTrace readTrace(std::string_view text);
ReadTrace readTrace(std::string&& text);

// A bare value as a decimal integer, or nothing.
std::optional<std::int64_t> integerOf(std::string_view value);

// A bare value as a number of a pair ("188", "-165.5", "1e+21", "nan"), exactly as written, or
// nothing: no "+" sign, no hexadecimal, nothing beyond the range of a double.
std::optional<double> doubleOf(std::string_view value);

}  // namespace trace
