// The replay desktop: an implementation of the platform seam that serves one recorded run, read
// from its trace. The n-th seam call must be the n-th recorded event of the run, the same
// operation with the same arguments; it then answers what the trace recorded. It waits for
// nothing (sleeps are virtual), touches no desktop, posts no input, writes no file and takes no
// lock.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trace/reader.h"

namespace replay {

// Where a run left its recording: the recorded event (from its event name on, as written) and
// the call that the run made instead, as it would have been written.
struct Divergence {
    std::size_t line = 0;
    std::string recorded;
    std::string asked;
};

// Thrown by the seam call that is not the next recorded event, up through the run to the
// replay's driver.
struct Diverged {
    Divergence divergence;
};

// A recorded event as the file holds it: its line number and its text, without its line break.
struct RecordedEvent {
    std::size_t number = 0;
    std::string_view text;
};

// Serves these events, in order: the lines of one run between its `start` and its `end`, each
// read from its text when the run reaches it. The events and their texts are the caller's, and
// must stay while they are served.
void serve(std::span<const RecordedEvent> events);

// The recorded events that no call has asked for yet.
std::size_t remaining();
// The next recorded event, valid until the next event is read; only while `remaining()` is not 0.
const trace::RecordedLine& next();

// A recorded event as written from its event name on (without time and process id).
std::string eventText(const trace::RecordedLine& line);

// The texts that the run asked to write, in order.
const std::vector<std::string>& written();

}  // namespace replay
