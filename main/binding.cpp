#include "main/fail.h"
#include "main/preconditions.h"
#include "main/run.h"
#include "trace/traced.h"

namespace tessary {

Run bindTarget(int argc, const char* const* argv) {
    if (argc != 3) fail(kUsage);
    Run run{.commandId = argv[1], .resultPath = argv[2], .application = {}, .processId = -1, .root = {}};
    // The prefix is the whole test: the path is neither normalised nor checked for existence
    // here; a bad one fails at the write, after the exchange.
    if (!run.resultPath.starts_with('/')) fail("result path must be absolute");
    // One run at a time per user: another run's clicks and alerts would mix with ours. Taken
    // before the binding, so that a run that waited binds the CorelDRAW that runs when its turn
    // comes. Held until the process ends; without it the run goes on unserialized.
    (void)traced::holdRunLock();
    if (!traced::isProcessTrusted()) fail("macOS accessibility permission is missing");
    std::vector<platform::Application> running = traced::runningApplications(kBundleIdentifier);
    if (running.empty()) fail("CorelDRAW is not running");
    bindFirst(run, std::move(running));
    return run;
}

}  // namespace tessary
