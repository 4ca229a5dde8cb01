#include "case_table.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace cases {
namespace {

// "\n" is a line break and "\\" a backslash; any other backslash stays as it is.
std::string decoded(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == 'n' || value[i + 1] == '\\')) {
            out += value[i + 1] == 'n' ? '\n' : '\\';
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size()) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// "{stand-in}" and "{cover}" replaced by those process ids; false for any other "{...}".
bool expand(const std::string& pattern, const Pids& pids, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern[i] != '{') {
            out += pattern[i++];
            continue;
        }
        const std::size_t close = pattern.find('}', i);
        if (close == std::string::npos) return false;
        const std::string name = pattern.substr(i + 1, close - i - 1);
        if (name == "stand-in") {
            out += std::to_string(pids.standIn);
        } else if (name == "cover") {
            out += std::to_string(pids.cover);
        } else {
            return false;
        }
        i = close + 1;
    }
    return true;
}

// Four whole numbers separated by single spaces.
bool isRectangle(const std::string& value) {
    const std::vector<std::string> words = split(value, " ");
    return words.size() == 4 && std::all_of(words.begin(), words.end(), [](const std::string& word) {
               return !word.empty() &&
                      std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
           });
}

bool isName(const std::string& name) {
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
}

}  // namespace

Table parse(const std::string& text) {
    Table table;
    std::istringstream lines(text);
    std::optional<std::string> tell;
    bool endsDue = false;
    int number = 0;
    const auto fault = [&](const std::string& what) {
        table.cases.clear();
        table.error = "line " + std::to_string(number) + ": " + what;
        return table;
    };
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const auto colon = line.find(": ");
        if (colon == std::string::npos) return fault("no \"key: value\"");
        const std::string key = line.substr(0, colon);
        const std::string value = line.substr(colon + 2);
        if (key == "case") {
            if (!isName(value)) return fault("a case's name is letters and digits");
            if (endsDue) return fault("a run without its \"ends\"");
            table.cases.push_back({});
            table.cases.back().name = value;
            tell.reset();
            continue;
        }
        if (table.cases.empty()) return fault("\"" + key + "\" before the first case");
        Case& current = table.cases.back();
        if (endsDue != (key == "ends")) return fault(endsDue ? "\"ends\" must follow a run" : "\"ends\" without a run");
        if (key == "on") {
            current.desktops = split(value, " ");
        } else if (key == "option") {
            const auto space = value.find(' ');
            current.options.push_back(value.substr(0, space));
            if (space != std::string::npos) current.options.push_back(decoded(value.substr(space + 1)));
        } else if (key == "cover") {
            current.cover = value;
        } else if (key == "front") {
            if (!isRectangle(value)) return fault("\"front: <x> <y> <width> <height>\"");
            current.front = value;
        } else if (key == "scene") {
            if (value != "row half above list") return fault("unknown scene");
            current.scene = value;
        } else if (key == "tell") {
            tell = decoded(value);
        } else if (key == "run") {
            Step step;
            step.ids = {decoded(value)};
            step.tell = tell;
            current.steps.push_back(step);
            tell.reset();
            endsDue = true;
        } else if (key == "together") {
            const std::vector<std::string> words = split(value, " ");
            if (words.size() != 3 || words[0].empty() ||
                !std::all_of(words[0].begin(), words[0].end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
                return fault("\"together: <ms> <id> <id>\"");
            }
            Step step;
            step.ids = {words[1], words[2]};
            step.gapMs = std::stoi(words[0]);
            current.steps.push_back(step);
            endsDue = true;
        } else if (key == "ends") {
            current.steps.back().ends = decoded(value);
            endsDue = false;
        } else if (key == "traced" || key == "not-traced") {
            if (current.steps.empty()) return fault("\"" + key + "\" before a run");
            std::string expanded;
            if (value.empty() || !expand(value, Pids{}, expanded)) {
                return fault("\"" + key + "\" names only {stand-in} or {cover}");
            }
            if (value.find("{cover}") != std::string::npos && current.cover.empty()) {
                return fault("\"{cover}\" in a case without a cover");
            }
            (key == "traced" ? current.steps.back().traced : current.steps.back().untraced).push_back(value);
        } else if (key == "events") {
            current.events = split(value, " | ");
        } else {
            return fault("unknown key \"" + key + "\"");
        }
    }
    if (endsDue) return fault("a run without its \"ends\"");
    for (const Case& c : table.cases) {
        if (c.desktops.empty() || c.steps.empty() || c.events.empty()) {
            table.error = c.name + ": a case needs \"on\", a run and \"events\"";
            table.cases.clear();
            break;
        }
    }
    return table;
}

std::vector<Case> on(const Table& table, const std::string& desktop) {
    std::vector<Case> chosen;
    for (const Case& c : table.cases) {
        if (std::find(c.desktops.begin(), c.desktops.end(), desktop) != c.desktops.end()) chosen.push_back(c);
    }
    return chosen;
}

std::vector<std::string> traceFaults(const std::string& trace, const Step& step, const Pids& pids) {
    // Each line's text after "<time> <pid> ".
    std::vector<std::string> lines;
    std::istringstream stream(trace);
    for (std::string line; std::getline(stream, line);) {
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        lines.push_back(second == std::string::npos ? std::string() : line.substr(second + 1));
    }
    std::vector<std::string> faults;
    std::size_t next = 0;
    for (const std::string& pattern : step.traced) {
        std::string wanted;
        expand(pattern, pids, wanted);
        std::size_t at = next;
        while (at < lines.size() && lines[at].find(wanted) == std::string::npos) ++at;
        if (at == lines.size()) {
            faults.push_back("no line \"" + wanted + "\"" + (next > 0 ? " after the one before" : ""));
            continue;
        }
        next = at + 1;
    }
    for (const std::string& pattern : step.untraced) {
        std::string unwanted;
        expand(pattern, pids, unwanted);
        for (const std::string& line : lines) {
            if (line.find(unwanted) != std::string::npos) {
                faults.push_back("a line \"" + unwanted + "\": " + line);
                break;
            }
        }
    }
    return faults;
}

std::string relayAnswer(const std::string& commandId) {
    return "TALVO_RELAY_BEGIN_" + commandId + "\nrelay answer for " + commandId + ": Grüße, ✓ ok\nTALVO_RELAY_END_" +
           commandId;
}

}  // namespace cases
