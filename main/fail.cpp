#include "main/fail.h"

#include <cstdio>
#include <string>

#include "trace/trace.h"

namespace tessary {

void fail(std::string_view message) {
    std::string line = "TESSARY: ";
    line.append(message);
    line.push_back('\n');
    // fwrite, not fputs: a NUL inside the message must not cut the line short.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    trace::noteFailure(line);
    throw Failure{};
}

}  // namespace tessary
