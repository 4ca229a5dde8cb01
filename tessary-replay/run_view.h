// A recorded run read the way a person follows it: its steps in the product's words, the frames
// and points it read on the screen, the looks before its clicks and the tree its walks visited.
// Drawn from the run's lines alone, so a run that does not replay, or that was cut short, is read
// as far as its lines go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trace/reader.h"

namespace page {

// One step of the run: a stretch of its lines that does one thing (the lock, the activation,
// the locate, the row click, the polls).
struct Step {
    std::string name;                 // "row click"
    std::string summary;              // "at 188,165.5 CorelDRAW (process 12544): clicked"
    std::vector<std::size_t> lines;   // indices into the run's lines, in order
    double start = 0;                 // milliseconds since the run started
    double duration = 0;              // up to the end of its last line's request
    bool folded = false;              // many alike requests (polls, re-reads): shown folded
    bool check = false;               // a check the run made on what it had read; no request
    bool stopped = false;             // the run stopped in this step
    std::string stopReading;          // what the run read or found that stopped it
    std::vector<std::int64_t> elements;  // the elements its requests named, for highlighting
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
};

struct Spot {
    double x = 0, y = 0;
};

// The look at a click point before a click, as traced.
struct Look {
    Spot point;
    std::string occupant;  // "process", "nothing", "unknown", or as written
    std::int64_t pid = 0;
    bool corelDraw = false;  // the bound CorelDRAW's own process
    std::size_t line = 0;    // in the file
};

// A frame that the run read: an element's position and size.
struct ReadFrame {
    std::int64_t element = 0;
    std::string what;  // "window", "list", "row", or the role read
    Rect rect;
};

struct Screen {
    std::vector<ReadFrame> frames;
    std::optional<Spot> rowPoint;  // where the row is clicked, from the row's frame
    std::optional<Spot> runPoint;  // where Run is clicked, from the list's and window's frames
    std::optional<Rect> list;      // the frame the row's click point must lie in
    std::optional<bool> rowInside;
    std::vector<Look> looks;
};

// One answer of an element's children (or of the application's windows).
struct Reading {
    std::size_t line = 0;  // in the file
    std::string time;      // as written
    std::vector<std::int64_t> children;
};

// An element as the walks read it: the answers to its attributes, its children's readings.
struct Node {
    std::int64_t parent = 0;  // 0: placed under nothing (the application element, or unknown)
    std::map<std::string, std::string> attributes;  // "AXRole" -> the answer as shown
    std::vector<Reading> readings;
};

struct RunView {
    std::int64_t pid = 0;
    std::string version;                 // of the start line
    std::vector<std::string> arguments;  // the arg= fields
    std::optional<int> status;           // of the end line
    std::optional<std::string> failure;  // the end line's failure, as read
    bool ended = false;                  // the run has its end line
    double duration = 0;
    std::int64_t processId = 0;          // the bound CorelDRAW's, 0 when not read
    std::int64_t application = 0;        // the application element's number
    std::int64_t window = 0, list = 0, row = 0;  // the matched elements, 0 when none
    std::vector<Step> steps;
    Screen screen;
    std::map<std::int64_t, Node> tree;
};

// The lines of one run, its start line first (and its end line last, when it has one).
RunView viewOf(std::span<const trace::RecordedLine> lines);

// A recorded time or duration in milliseconds ("205.145"); 0 when it is not a number.
double millisecondsOf(std::string_view text);

// A field's answer as a person reads it: a quoted text in the trace's own quoted form, anything
// else as written.
std::string shownValue(const trace::Field& field);

}  // namespace page
