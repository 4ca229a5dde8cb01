#include <cstdio>

#include "main/fail.h"
#include "main/run.h"
#include "text/unicode.h"
#include "trace/traced.h"

namespace tessary {
namespace {

constexpr std::size_t kReportedCharacters = 300;

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
    target::dismissAlert(run.root, response.window);
    const std::string line = run.resultPath + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace tessary
