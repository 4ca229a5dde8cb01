// The page of a trace file: one self-contained HTML file that shows each recorded run at a
// glance (its outcome, the screen as it read it, its steps, the tree its walks visited and a
// timeline), written by `tessary-replay --html PAGE`. The page loads nothing: no script, style,
// font or image comes from elsewhere, and every text from the trace is shown as text, never as
// markup. It reads without scripts; its scripts only report their errors, fold and highlight.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "trace/reader.h"

namespace page {

// What the replay made of one run.
struct Replayed {
    bool replayed = false;    // false: the replay refused the file and ran nothing
    bool asRecorded = false;  // the run replays to its recorded outcome
    std::string report;       // the replay's line for the run, or why it ran nothing
    std::size_t leftAt = 0;   // the trace line where the run left its recording; 0: nowhere
};

struct PageRun {
    std::span<const trace::RecordedLine> lines;  // its start line first; held by the caller
    Replayed replayed;
};

struct PageInput {
    std::string traceName;                      // the trace file as named on the command line
    std::vector<PageRun> runs;                  // in the order of their start lines
    std::vector<trace::RecordedLine> unplaced;  // lines of a process whose start the file lacks
};

// The whole page.
std::string pageOf(const PageInput& input);

}  // namespace page
