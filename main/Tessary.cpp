// One run of tessary: bind to CorelDRAW, make it run the relay script, hand its answer to the
// host. A straight pass on one thread; the first failure ends it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "main/fail.h"
#include "main/run.h"
#include "trace/trace.h"

namespace tessary {

void occupyClosedStandardDescriptors() {
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // open() takes the lowest free number, which is this one.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != descriptor) close(opened);
    }
}

int runTool(int argc, const char* const* argv) {
    trace::start(argc, argv);
    int status = 0;
    try {
        const Run run = bindTarget(argc, argv);
        const target::AlertMatch response = runSequence(run);
        handOff(run, response);
    } catch (const Failure&) {
        status = 1;
    }
    // After every element and event of the run is released, so the end is the trace's last line.
    trace::finish(status);
    return status;
}

}  // namespace tessary
