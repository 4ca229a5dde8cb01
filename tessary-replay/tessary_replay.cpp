// tessary-replay <trace-file>: replays each run that a trace file holds through the same run
// code as tessary, over the replay desktop, and says for each run whether it ends as recorded
// or where it leaves the recording.
//
//   run 4389: as recorded: 163 events, status 0, printed "/tmp/answer\n", wrote 88 bytes
//   run 4390: line 57: recorded get element=#12 attribute="AXRole", asked get element=#12 attribute="AXTitle"
//
// Exit status: 0 when every run replays to its recorded outcome, 1 when one diverges or ends
// differently, 2 for a file that cannot be read or used (one line naming the trace line).
//
// With --html PAGE it also draws every run of the file on one page (tessary-replay/run_page.h),
// also the runs of a file it cannot use, as far as their lines go; a page that cannot be written
// is reported on standard error and gives status 2.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "main/run.h"
#include "main/version.h"
#include "platform/posix/write_file.h"
#include "platform/replay/replay_desktop.h"
#include "tessary-doctor/doctor.h"
#include "tessary-replay/run_page.h"
#include "trace/format.h"
#include "trace/reader.h"
#include "trace/trace.h"

namespace {

constexpr std::string_view kUsage = "usage: tessary-replay [--quiet] [--text] [--html <page>] <trace-file>";

// Named apart from std::quoted, which argument-dependent lookup would otherwise pick for a
// std::string argument on a C++ library whose <string> declares it (libc++).
std::string quotedText(std::string_view text) {
    std::string out;
    trace::appendQuoted(out, text);
    return out;
}

// One recorded run: its lines from `start` to `end`, as the file holds them, and read for the
// page only when one is drawn.
struct RecordedRun {
    std::int64_t pid = 0;
    std::span<const replay::RecordedEvent> events;  // its start line first
    std::vector<trace::RecordedLine> lines;
};

// A line of the file that was read before, read again from its text (views into it).
trace::RecordedLine lineOf(const replay::RecordedEvent& event) {
    std::string error;
    std::optional<trace::RecordedLine> line = trace::readLine(event.text, error);
    if (!line) return {};
    line->number = event.number;
    return std::move(*line);
}

// A file's bytes in one buffer: its mapping, or what was read of it.
struct FileBytes {
    const char* mapped = nullptr;
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    const char* data() const { return mapped != nullptr ? mapped : bytes.get(); }
};

// The whole file in one buffer. A regular file is mapped, not copied: its pages are the
// system's file cache itself. Another file (a pipe), or one that cannot be mapped, is read once
// straight into one buffer of its size (larger only while it grows).
bool readWhole(const std::string& path, FileBytes& file) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    bool read = fstat(fd, &status) == 0 && !S_ISDIR(status.st_mode);
    if (read && S_ISREG(status.st_mode) && status.st_size > 0) {
        const auto size = static_cast<std::size_t>(status.st_size);
        // Mapped as long as the process lasts; the replay ends with it.
        void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            close(fd);
            file.mapped = static_cast<const char*>(mapped);
            file.size = size;
            return true;
        }
    }
    std::size_t room = read && S_ISREG(status.st_mode) ? static_cast<std::size_t>(status.st_size) + 1 : 1 << 16;
    file.bytes.reset(new char[room]);
    while (read) {
        if (file.size == room) {
            std::unique_ptr<char[]> larger(new char[room * 2]);
            std::memcpy(larger.get(), file.bytes.get(), file.size);
            file.bytes = std::move(larger);
            room *= 2;
        }
        const ssize_t got = ::read(fd, file.bytes.get() + file.size, room - file.size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) read = false;
        if (got <= 0) break;
        file.size += static_cast<std::size_t>(got);
    }
    close(fd);
    return read;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string describe(const Outcome& outcome) {
    std::string text = "status " + std::to_string(outcome.status);
    if (!outcome.out.empty()) text += ", printed " + quotedText(outcome.out);
    if (!outcome.err.empty()) text += ", " + quotedText(outcome.err);
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
    const trace::RecordedLine end = lineOf(run.events.back());
    Outcome outcome;
    const trace::Field* status = end.field("status");
    outcome.status = status != nullptr ? static_cast<int>(trace::integerOf(status->value).value_or(-1)) : -1;
    if (const trace::Field* failure = end.field("failure")) outcome.err = failure->value;
    if (outcome.status == 0 && arguments.size() == 3) outcome.out = arguments[2] + "\n";
    return outcome;
}

bool replayRun(const RecordedRun& run, bool quiet, bool showText, page::Replayed& verdict) {
    const trace::RecordedLine start = lineOf(run.events.front());
    std::vector<std::string> arguments;
    for (const trace::Field& field : start.fields) {
        if (field.key == "arg") arguments.emplace_back(field.value);
    }
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    replay::serve(std::span<const replay::RecordedEvent>(run.events).subspan(1));
    std::fflush(stdout);
    std::fflush(stderr);
    Captured out(STDOUT_FILENO);
    Captured err(STDERR_FILENO);
    Outcome replayed;
    std::optional<replay::Divergence> divergence;
    // A doctor's run (`tool=doctor`) replays through the doctor's code; its report is not in the
    // trace, so only its status and its silence on standard error are compared.
    const trace::Field* tool = start.field("tool");
    const bool doctorRun = tool != nullptr && tool->value == "doctor";
    try {
        replayed.status = doctorRun ? doctor::runDoctor(static_cast<int>(arguments.size()), argv.data())
                                    : tessary::runTool(static_cast<int>(arguments.size()), argv.data());
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
    Outcome recorded = recordedOutcome(run, arguments);
    if (doctorRun) recorded.out = replayed.out;
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
        line += std::string(doctorRun ? "tessary-doctor " : "") + "as recorded: " + std::to_string(run.events.size() - 2) +
                " events, " + describe(doctorRun ? Outcome{replayed.status, {}, replayed.err} : replayed);
        if (!replay::written().empty()) line += ", wrote " + std::to_string(bytes) + " bytes";
    }
    verdict.replayed = true;
    verdict.asRecorded = same;
    verdict.report = line.substr(line.find(": ") + 2);
    verdict.leftAt = divergence ? divergence->line : 0;
    if (!quiet || !same) std::cout << line << "\n";
    if (showText) {
        for (const std::string& text : replay::written()) std::cout << "  text " << quotedText(text) << "\n";
    }
    return same;
}

// Writes the page of these runs, when one was asked for; false after reporting that it could not.
bool drawPage(const std::string& pagePath, const std::string& tracePath, const std::vector<RecordedRun>& runs,
              const std::vector<page::Replayed>& verdicts, std::vector<trace::RecordedLine> unplaced) {
    if (pagePath.empty()) return true;
    page::PageInput input;
    input.traceName = tracePath;
    input.unplaced = std::move(unplaced);
    for (std::size_t i = 0; i < runs.size(); ++i) input.runs.push_back({runs[i].lines, verdicts[i]});
    // Written as tessary writes its result: the product's one atomic write, with its rules for
    // links, permission bits and paths that are no regular file.
    if (const auto error = platform::posix::writeFileAtomically(pagePath, page::pageOf(input))) {
        std::cerr << "tessary-replay: cannot write page " << pagePath << ": " << *error << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool quiet = false;
    bool showText = false;
    std::string path;
    std::string pagePath;
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::cout << kUsage << "\nReplays each run of a trace through the run's own code; see tessary-replay(1).\n"
                  << "tessary-replay --version prints its version.\n";
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "tessary-replay " << tessary::build() << "\n";
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--quiet") {
            quiet = true;
        } else if (argument == "--text") {
            showText = true;
        } else if (argument == "--html" && i + 1 < argc && argv[i + 1][0] != '\0' && pagePath.empty()) {
            pagePath = argv[++i];
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
    // The file in one buffer, read once: the lines refer into it.
    FileBytes file;
    if (!readWhole(path, file)) {
        std::cerr << "tessary-replay: cannot read " << path << "\n";
        return 2;
    }
    const std::string_view text(file.data(), file.size);
    // Runs in the order of their start lines; the lines of one run share its process id. The
    // first line that makes the file unusable for a replay is reported; the runs are still
    // gathered as far as their lines go, for the page. A run keeps where its lines stand in the
    // file, to read each again when the replay reaches it; only the page keeps them read.
    const bool drawing = !pagePath.empty();
    trace::DecodedValues decoded;
    // The lines of every run, in the file's order, and the run of each; grouped by run below.
    std::vector<replay::RecordedEvent> events;
    std::vector<std::size_t> runOf;
    const std::size_t lines = trace::lineBreaks(text);
    events.reserve(lines);
    runOf.reserve(lines);
    bool grouped = true;
    std::vector<RecordedRun> runs;
    std::vector<trace::RecordedLine> unplaced;
    std::optional<std::string> refusal;
    std::map<std::int64_t, std::size_t> open;
    const auto error = trace::forEachLine(text, decoded, [&](const trace::RecordedLine& line) {
        if (line.event == "start") {
            const trace::Field* version = line.field("version");
            const auto number = version != nullptr ? trace::integerOf(version->value) : std::nullopt;
            if (!refusal && (!number || *number < trace::kOldestReadVersion || *number > trace::kVersion)) {
                refusal = "trace line " + std::to_string(line.number) + ": format version " +
                          (version != nullptr ? std::string(version->value) : "(none)") + ", this replay reads versions " +
                          std::to_string(trace::kOldestReadVersion) + " to " + std::to_string(trace::kVersion);
            }
            open[line.pid] = runs.size();
            runs.push_back({line.pid, {}, {}});
            events.push_back({line.number, line.text});
            runOf.push_back(runs.size() - 1);
            if (drawing) runs.back().lines.push_back(line);
            return;
        }
        const auto found = open.find(line.pid);
        if (found == open.end()) {
            if (!refusal) {
                refusal = "trace line " + std::to_string(line.number) + ": an event of process " + std::to_string(line.pid) +
                          " without its start";
            }
            if (drawing) unplaced.push_back(line);
            return;
        }
        const bool end = line.event == "end";
        grouped = grouped && found->second + 1 == runs.size();
        events.push_back({line.number, line.text});
        runOf.push_back(found->second);
        if (drawing) runs[found->second].lines.push_back(line);
        if (end) open.erase(found);
    });
    if (error) {
        std::cerr << "tessary-replay: " << *error << "\n";
        return 2;
    }
    // Each run's lines together, in their order: they are already, unless runs of several
    // processes were written into the file at the same time.
    std::vector<std::size_t> firstOf(runs.size() + 1, 0);
    for (const std::size_t run : runOf) ++firstOf[run + 1];
    for (std::size_t run = 0; run < runs.size(); ++run) firstOf[run + 1] += firstOf[run];
    if (!grouped) {
        std::vector<replay::RecordedEvent> byRun(events.size());
        std::vector<std::size_t> next(firstOf.begin(), firstOf.end() - 1);
        for (std::size_t i = 0; i < events.size(); ++i) byRun[next[runOf[i]]++] = events[i];
        events = std::move(byRun);
    }
    runOf = {};
    for (std::size_t run = 0; run < runs.size(); ++run) {
        runs[run].events = std::span<const replay::RecordedEvent>(events).subspan(firstOf[run], firstOf[run + 1] - firstOf[run]);
    }
    if (!refusal && !open.empty()) {
        const RecordedRun& cut = runs[open.begin()->second];
        refusal = "trace line " + std::to_string(cut.events.back().number) + ": run " + std::to_string(cut.pid) +
                  " has no end (cut short by a kill?)";
    }
    if (!refusal && runs.empty()) refusal = path + " holds no run";
    std::vector<page::Replayed> verdicts(runs.size());
    if (refusal) {
        std::cerr << "tessary-replay: " << *refusal << "\n";
        for (page::Replayed& verdict : verdicts) verdict.report = "the replay refused the file: " + *refusal;
        if (!runs.empty() || !unplaced.empty()) drawPage(pagePath, path, runs, verdicts, std::move(unplaced));
        return 2;
    }
    bool all = true;
    for (std::size_t i = 0; i < runs.size(); ++i) all = replayRun(runs[i], quiet, showText, verdicts[i]) && all;
    std::cout.flush();
    if (!drawPage(pagePath, path, runs, verdicts, std::move(unplaced))) return 2;
    return all ? 0 : 1;
}
