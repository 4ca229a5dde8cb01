// The tool's one failure path.
#pragma once

#include <string_view>

namespace tessary {

// Thrown by `fail` once the report is written, so that every element and event held on the way
// up is released before the process ends; caught only by `runTool`.
struct Failure {};

// Writes "TESSARY: ", the message and "\n" to standard error, every byte of it (a message may
// carry line breaks and U+0000 from an alert text), and ends the run with exit status 1.
// Never returns. An error while writing is ignored: the status is 1 in any case.
[[noreturn]] void fail(std::string_view message);

}  // namespace tessary
