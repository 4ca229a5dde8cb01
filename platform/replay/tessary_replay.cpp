// tessary-replay <trace-file>: replays each run that a trace file holds through the same run
// code as tessary, over the replay desktop, and says for each run whether it ends as recorded
// or where it leaves the recording.
//
//   run 4389: as recorded: 163 events, status 0, printed "/tmp/answer\n", wrote 88 bytes
//   run 4390: line 57: recorded get element=#12 attribute="AXRole", asked get element=#12 attribute="AXTitle"
//
// Exit status: 0 when every run replays to its recorded outcome, 1 when one diverges or ends
// differently, 2 for a file that cannot be read or used (one line naming the trace line).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "main/run.h"
#include "platform/replay/replay_desktop.h"
#include "trace/format.h"
#include "trace/reader.h"
#include "trace/trace.h"

namespace {

constexpr std::string_view kUsage = "usage: tessary-replay [--quiet] [--text] <trace-file>";

std::string quoted(std::string_view text) {
    std::string out;
    trace::appendQuoted(out, text);
    return out;
}

// One recorded run: its lines from `start` to `end`.
struct RecordedRun {
    std::int64_t pid = 0;
    std::vector<trace::RecordedLine> lines;
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string describe(const Outcome& outcome) {
    std::string text = "status " + std::to_string(outcome.status);
    if (!outcome.out.empty()) text += ", printed " + quoted(outcome.out);
    if (!outcome.err.empty()) text += ", " + quoted(outcome.err);
    return text;
}

// What a stream held while the run wrote to it.
struct Captured {
    int fd;
    int saved = -1;
    std::FILE* file = std::tmpfile();
    explicit Captured(int target) : fd(target) {
        if (file == nullptr) return;
        saved = dup(fd);
        dup2(fileno(file), fd);
    }
    std::string end() {
        std::fflush(fd == STDOUT_FILENO ? stdout : stderr);
        std::string text;
        if (file == nullptr) return text;
        dup2(saved, fd);
        close(saved);
        std::rewind(file);
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
        std::fclose(file);
        return text;
    }
};

// The outcome that the trace recorded: the end line's status and failure; a complete exchange
// printed the result path.
Outcome recordedOutcome(const RecordedRun& run, const std::vector<std::string>& arguments) {
    const trace::RecordedLine& end = run.lines.back();
    Outcome outcome;
    const trace::Field* status = end.field("status");
    outcome.status = status != nullptr ? static_cast<int>(trace::integerOf(status->value).value_or(-1)) : -1;
    if (const trace::Field* failure = end.field("failure")) outcome.err = failure->value;
    if (outcome.status == 0 && arguments.size() == 3) outcome.out = arguments[2] + "\n";
    return outcome;
}

bool replayRun(const RecordedRun& run, bool quiet, bool showText) {
    const trace::RecordedLine& start = run.lines.front();
    std::vector<std::string> arguments;
    for (const trace::Field& field : start.fields) {
        if (field.key == "arg") arguments.push_back(field.value);
    }
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    replay::serve(std::vector<trace::RecordedLine>(run.lines.begin() + 1, run.lines.end()));
    std::fflush(stdout);
    std::fflush(stderr);
    Captured out(STDOUT_FILENO);
    Captured err(STDERR_FILENO);
    Outcome replayed;
    std::optional<replay::Divergence> divergence;
    try {
        replayed.status = tessary::runTool(static_cast<int>(arguments.size()), argv.data());
    } catch (const replay::Diverged& diverged) {
        divergence = diverged.divergence;
    }
    replayed.out = out.end();
    replayed.err = err.end();
    // A run that ended before its recording did left the rest unasked.
    if (!divergence && replay::next().event != "end") {
        divergence = replay::Divergence{replay::next().number, replay::eventText(replay::next()),
                                        "end status=" + std::to_string(replayed.status)};
    }
    const Outcome recorded = recordedOutcome(run, arguments);
    const bool same = !divergence && replayed.status == recorded.status && replayed.out == recorded.out &&
                      replayed.err == recorded.err;
    std::string line = "run " + std::to_string(run.pid) + ": ";
    if (divergence) {
        line += "line " + std::to_string(divergence->line) + ": recorded " + divergence->recorded + ", asked " +
                divergence->asked;
        line += "; recorded " + describe(recorded) + ", the replay stopped there";
    } else if (!same) {
        line += "recorded " + describe(recorded) + ", replayed " + describe(replayed);
    } else {
        std::size_t bytes = 0;
        for (const std::string& text : replay::written()) bytes += text.size();
        line += "as recorded: " + std::to_string(run.lines.size() - 2) + " events, " + describe(replayed);
        if (!replay::written().empty()) line += ", wrote " + std::to_string(bytes) + " bytes";
    }
    if (!quiet || !same) std::cout << line << "\n";
    if (showText) {
        for (const std::string& text : replay::written()) std::cout << "  text " << quoted(text) << "\n";
    }
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    bool quiet = false;
    bool showText = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--quiet") {
            quiet = true;
        } else if (argument == "--text") {
            showText = true;
        } else if (path.empty() && !argument.starts_with("--")) {
            path = argument;
        } else {
            std::cerr << "tessary-replay: " << kUsage << "\n";
            return 2;
        }
    }
    if (path.empty()) {
        std::cerr << "tessary-replay: " << kUsage << "\n";
        return 2;
    }
    // The replayed runs write no trace of their own.
    unsetenv("TESSARY_TRACE");
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        std::cerr << "tessary-replay: cannot read " << path << "\n";
        return 2;
    }
    std::ostringstream text;
    text << stream.rdbuf();
    const trace::ReadTrace read = trace::readTrace(text.str());
    if (read.error) {
        std::cerr << "tessary-replay: " << *read.error << "\n";
        return 2;
    }
    // Runs in the order of their start lines; the lines of one run share its process id.
    std::vector<RecordedRun> runs;
    std::map<std::int64_t, std::size_t> open;
    for (const trace::RecordedLine& line : read.lines) {
        if (line.event == "start") {
            const trace::Field* version = line.field("version");
            const auto number = version != nullptr ? trace::integerOf(version->value) : std::nullopt;
            if (!number || *number < trace::kOldestReadVersion || *number > trace::kVersion) {
                std::cerr << "tessary-replay: trace line " << line.number << ": format version "
                          << (version != nullptr ? version->value : "(none)") << ", this replay reads versions "
                          << trace::kOldestReadVersion << " to " << trace::kVersion << "\n";
                return 2;
            }
            open[line.pid] = runs.size();
            runs.push_back({line.pid, {line}});
            continue;
        }
        const auto found = open.find(line.pid);
        if (found == open.end()) {
            std::cerr << "tessary-replay: trace line " << line.number << ": an event of process " << line.pid
                      << " without its start\n";
            return 2;
        }
        runs[found->second].lines.push_back(line);
        if (line.event == "end") open.erase(found);
    }
    if (!open.empty()) {
        const RecordedRun& cut = runs[open.begin()->second];
        std::cerr << "tessary-replay: trace line " << cut.lines.back().number << ": run " << cut.pid
                  << " has no end (cut short by a kill?)\n";
        return 2;
    }
    if (runs.empty()) {
        std::cerr << "tessary-replay: " << path << " holds no run\n";
        return 2;
    }
    bool all = true;
    for (const RecordedRun& run : runs) all = replayRun(run, quiet, showText) && all;
    return all ? 0 : 1;
}
