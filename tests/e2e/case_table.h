// The table of end-to-end cases (tests/e2e/cases.txt) that both desktops run: the Linux suite
// against the GTK stand-in and the macOS workflow against the Cocoa stand-in. See the file's
// opening for its lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cases {

// One "run" (one id) or "together" (two ids, the second started `gapMs` after the first), and
// how it ends: "completed" or the failure message.
struct Step {
    std::vector<std::string> ids;
    int gapMs = 0;
    std::optional<std::string> tell;  // what the stand-in answers instead of the run's own id
    std::string ends;
};

struct Case {
    std::string name;
    std::vector<std::string> desktops;  // "linux", "macos"
    std::vector<std::string> options;   // the stand-in's arguments, values decoded
    std::string cover;                  // a widget of the geometry, or empty
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

// The stand-ins' answer to a command id, as both write it.
std::string relayAnswer(const std::string& commandId);

}  // namespace cases
