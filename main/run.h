// The run-wide state, set once by the binding stage and read by the later ones, and the three
// stages of a run.
#pragma once

#include <string>

#include "platform/platform.h"
#include "target/alert.h"

namespace tessary {

inline constexpr std::string_view kUsage = "usage: tessary <command-id> <absolute-result-path>";
inline constexpr std::string_view kBundleIdentifier = "com.corel.coreldrawsuite.2022.coreldraw";

struct Run {
    std::string commandId;   // the first argument, unchanged
    std::string resultPath;  // the second argument, unchanged
    platform::Application application;  // the bound CorelDRAW, held for its activation
    std::int64_t processId = -1;        // its process id: what must lie under each click point
    platform::Element root;             // its application element, held to the end of the run
};

// Checks the argument count and the result path's leading "/", takes the lock that serializes
// runs, checks the accessibility permission and binds to the first running CorelDRAW 2022. Fails
// with the first check's message; touches nothing in CorelDRAW.
Run bindTarget(int argc, const char* const* argv);

// Makes CorelDRAW run the relay script with two clicks and waits for its alert. Each click is
// posted only when CorelDRAW can take it as meant: CorelDRAW is in front, the row lies in its
// list's view, no other process's window lies at the point, and Run only once the row shows as
// selected.
target::AlertMatch runSequence(const Run& run);

// Checks the alert against this command id, writes the result file, closes the alert and prints
// the result path.
void handOff(const Run& run, const target::AlertMatch& response);

// Opens /dev/null on each of standard input, output and error that the host left closed, so
// that the number stays taken: otherwise the next file or socket the run opens (the run lock, a
// bus or window-server connection) would get it, and the result path or the failure line would
// be written into that file.
void occupyClosedStandardDescriptors();

// One whole run: the three stages, then the exit status (0 after a complete exchange, 1 after a
// failure, whose line `fail` has written).
int runTool(int argc, const char* const* argv);

}  // namespace tessary
