// tessary-doctor: every precondition of a run, checked at once with the run's own code, up to
// the first click and without it. It posts no input, activates nothing, presses no button,
// takes no lock and writes no file but its trace.
//
// One line per check on standard output, in the order below:
//
//   ok          permission: ...
//   fail        alert: an alert is open: "警告" "TALVO_RELAY_BEGIN_..." -- what to do: ...
//   cannot tell row-point: ...
//
// The verdict fills the first 12 columns; the check's name follows up to ": ". A failing line
// ends with " -- what to do: " and the remedy of the manual page (doc/tessary-doctor.1).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace doctor {

inline constexpr std::string_view kUsage = "usage: tessary-doctor [--help]";

enum class Verdict { ok, fail, cannotTell };

struct Check {
    Verdict verdict = Verdict::ok;
    std::string name;    // "permission", "alert", ...: stable, for a host's grep
    std::string found;   // what the check found
    std::string remedy;  // what to do, for a failing line
};

// The names of the checks, in the order they are printed; "trace" only when TESSARY_TRACE is
// set.
inline constexpr std::string_view kCheckNames[] = {
    "permission", "input", "signature", "running", "answering", "alert", "inspector", "row-in-view",
    "row-point", "run-point", "in-front", "rename", "lock", "trace"};

// Asks everything once, through the seam as the run asks it, and returns the checks in order.
std::vector<Check> examine();

// The check as printed, without its line break.
std::string lineOf(const Check& check);

// The whole doctor for this command line: the usage (status 2 on standard error, status 0 for
// --help on standard output), the version (`tessary-doctor 0.1.0 (4544b81)`, status 0 for
// --version), or the checks, printed once all are made, with status 0 when none
// failed and 1 when one did. Traces like a run when TESSARY_TRACE asks for it.
int runDoctor(int argc, const char* const* argv);

}  // namespace doctor
