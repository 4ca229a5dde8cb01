#include "support/doctor_lines.h"

#include <sstream>

namespace {

constexpr std::size_t kVerdictColumns = 12;

}  // namespace

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::map<std::string, std::string> verdicts(const std::string& out) {
    std::map<std::string, std::string> found;
    for (const std::string& line : linesOf(out)) {
        if (line.size() <= kVerdictColumns) continue;
        const std::string verdict = line.substr(0, kVerdictColumns);
        found[line.substr(kVerdictColumns, line.find(": ") - kVerdictColumns)] =
            verdict.substr(0, verdict.find_last_not_of(' ') + 1);
    }
    return found;
}

std::string lineNamed(const std::string& out, const std::string& name) {
    for (const std::string& line : linesOf(out)) {
        if (line.size() > kVerdictColumns && line.substr(kVerdictColumns).starts_with(name + ": ")) return line;
    }
    return "";
}
