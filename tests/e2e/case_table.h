// The table of end-to-end cases (tests/e2e/cases.txt) that both desktops run: the Linux suite
// against the GTK stand-in and the macOS workflow against the Cocoa stand-in. See the file's
// opening for its lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cases {

// One "run" (one id) or "together" (two ids, the second started `gapMs` after the first), and
// how it ends: "completed" or the failure message; then what each of its runs' traces must show
// ("traced", in this order) and must not show ("not-traced"), so that a run ending with a
// message of several causes proves which one it was.
struct Step {
    std::vector<std::string> ids;
    int gapMs = 0;
    std::optional<std::string> tell;  // what the stand-in answers instead of the run's own id
    std::string ends;
    std::vector<std::string> traced;
    std::vector<std::string> untraced;
};

struct Case {
    std::string name;
    std::vector<std::string> desktops;  // "linux", "macos"
    std::vector<std::string> options;   // the stand-in's arguments, values decoded
    std::string cover;                  // a widget of the geometry, or empty
    std::string front;                  // "X Y WIDTH HEIGHT" of another application in front, or empty
    std::string scene;                  // "row half above list", or empty
    std::vector<Step> steps;
    std::vector<std::string> events;
};

struct Table {
    std::vector<Case> cases;
    std::string error;  // "line N: ..." when the file cannot be read as a table
};

// The table's text read into cases, or the first line that does not fit.
Table parse(const std::string& text);

// The cases of `table` that run on this desktop.
std::vector<Case> on(const Table& table, const std::string& desktop);

// The process ids that a trace pattern may name: "{stand-in}" and "{cover}".
struct Pids {
    long standIn = -1;
    long cover = -1;
};

// What one run's trace fails of its step's "traced" and "not-traced" lines, one sentence each;
// empty when it shows all it must and nothing it must not. A pattern is found in a line's text
// after its time and process id; the "traced" ones in order, each on a later line than the one
// before.
std::vector<std::string> traceFaults(const std::string& trace, const Step& step, const Pids& pids);

// The stand-ins' answer to a command id, as both write it.
std::string relayAnswer(const std::string& commandId);

}  // namespace cases
