#include <cstdio>

#include "main/fail.h"
#include "main/run.h"
#include "text/unicode.h"
#include "trace/traced.h"

namespace tessary {
namespace {

constexpr std::size_t kReportedCharacters = 300;
constexpr int kClosedLooks = 10;
constexpr std::uint32_t kBetweenClosedLooks = 100000;

// After an OK press that did not report success: whether the alert is gone all the same,
// looked for up to 10 times, 100 ms apart. A host told that the run failed would retry it and
// have its command run twice; a host told that it succeeded while the alert is still open would
// find the next run refused. So only a look whose window list and window descriptions CorelDRAW
// all answered, with no window described as the alert, counts as closed: a press fails when
// CorelDRAW is not answering, and a look it leaves partly unanswered tells nothing.
bool alertClosedAfterAll(const platform::Element& root) {
    for (int look = 0; look < kClosedLooks; ++look) {
        if (look > 0) traced::sleepMicroseconds(kBetweenClosedLooks);
        if (target::lookForAlert(root) == target::AlertLook::closed) return true;
    }
    return false;
}

}  // namespace

void handOff(const Run& run, const target::AlertMatch& response) {
    const std::string marker = "TALVO_RELAY_BEGIN_" + run.commandId;
    const bool answers = text::beginsWith(response.text, marker) &&
                         text::contains(response.text, "TALVO_RELAY_END_" + run.commandId);
    if (!answers) {
        std::string message = "CorelDRAW returned an unexpected alert: ";
        message.append(text::firstCharacters(response.text, kReportedCharacters));
        fail(message);
    }
    if (const auto error = traced::writeFileAtomically(run.resultPath, response.text)) {
        fail("cannot write host result: " + *error);
    }
    if (!target::dismissAlert(response.window) && !alertClosedAfterAll(run.root)) {
        fail("cannot dismiss CorelDRAW response");
    }
    const std::string line = run.resultPath + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace tessary
