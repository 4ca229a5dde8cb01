// The desktop behind tessary_over_fake, the tool's own entry point linked with the fake desktop:
// installed before main runs, from the environment that the test sets. Its trust check opens
// the file TESSARY_TEST_OPENED_FILE names, as a real platform opens its first connection, so a
// standard descriptor left closed by the host would be handed to that file unless the entry
// point takes it first. With TESSARY_TEST_TRUSTED=1 the run completes (the path goes to standard
// output), otherwise it fails (its line goes to standard error).
#include <cstdlib>
#include <string>

#include "support/desktops.h"

namespace {

const bool installed = [] {
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    const char* opened = std::getenv("TESSARY_TEST_OPENED_FILE");
    const char* trusted = std::getenv("TESSARY_TEST_TRUSTED");
    desktop.openedAtTrust = opened != nullptr ? opened : "";
    desktop.trusted = trusted != nullptr && std::string(trusted) == "1";
    fake::install(std::move(desktop));
    return true;
}();

}  // namespace
