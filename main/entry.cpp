// The entry point of tessary, which is also tessary-doctor: one executable, so that the doctor's
// permission answers are tessary's own (one file, one signature, one Accessibility grant).
// Started under the name tessary-doctor (the installed symbolic link) it is the doctor; under
// every other name it is tessary, its command line untouched.
#include <csignal>
#include <string_view>

#include "main/run.h"
#include "tessary-doctor/doctor.h"

namespace {

// Whether the last part of the name the program was started under is "tessary-doctor".
bool startedAsDoctor(int argc, const char* const* argv) {
    if (argc < 1 || argv[0] == nullptr) return false;
    const std::string_view path = argv[0];
    return path.substr(path.rfind('/') + 1) == "tessary-doctor";
}

}  // namespace

int main(int argc, char** argv) {
    tessary::occupyClosedStandardDescriptors();
    // A host that closes its end of standard output or standard error must not change the
    // outcome: a write there fails quietly instead of ending the process with SIGPIPE, and the
    // exit status stays 0 after a complete exchange and 1 after a failure.
    std::signal(SIGPIPE, SIG_IGN);
    // A host's file-size limit (ulimit -f) must not end the process either: a write past it fails
    // with EFBIG, which the result write reports ("File too large") and the trace drops.
    std::signal(SIGXFSZ, SIG_IGN);
    if (startedAsDoctor(argc, argv)) return doctor::runDoctor(argc, argv);
    return tessary::runTool(argc, argv);
}
