#include <csignal>

#include "main/run.h"

int main(int argc, char** argv) {
    tessary::occupyClosedStandardDescriptors();
    // A host that closes its end of standard output or standard error must not change the
    // outcome: a write there fails quietly instead of ending the process with SIGPIPE, and the
    // exit status stays 0 after a complete exchange and 1 after a failure.
    std::signal(SIGPIPE, SIG_IGN);
    // A host's file-size limit (ulimit -f) must not end the process either: a write past it fails
    // with EFBIG, which the result write reports ("File too large") and the trace drops.
    std::signal(SIGXFSZ, SIG_IGN);
    return tessary::runTool(argc, argv);
}
