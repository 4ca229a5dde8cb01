// One run of tessary: bind to CorelDRAW, make it run the relay script, hand its answer to the
// host. A straight pass on one thread; the first failure ends it.
#include "main/fail.h"
#include "main/run.h"

namespace tessary {

int runTool(int argc, const char* const* argv) {
    try {
        const Run run = bindTarget(argc, argv);
        const target::AlertMatch response = runSequence(run);
        handOff(run, response);
        return 0;
    } catch (const Failure&) {
        return 1;
    }
}

}  // namespace tessary
