// tessary-replay on recorded traces changed on purpose: one field of one request of each kind, a
// changed order of two reads, and each part of a run's outcome show as the exact divergence;
// runs are told apart by their process id; a file it cannot use is one line naming the trace
// line. The traces are changed here, in memory, so that a fixture recorded again still serves.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// The environment handed to the replay; POSIX leaves declaring it to the program (macOS's
// <unistd.h> does not).
extern char** environ;

namespace {

const std::string kFixtures = TESSARY_REPLAY_FIXTURES;

struct Replayed {
    int status = -1;
    std::string out;
    std::string err;
};

std::string contentOf(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

Replayed replay(const std::vector<std::string>& arguments) {
    const std::string directory = std::filesystem::temp_directory_path() / ("tessary-replay-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const std::string out = directory + "/out";
    const std::string err = directory + "/err";
    std::vector<std::string> argv{TESSARY_REPLAY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    Replayed replayed;
    if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        replayed.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    replayed.out = contentOf(out);
    replayed.err = contentOf(err);
    std::filesystem::remove_all(directory);
    return replayed;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// A line from its event name on: what the report quotes of a recorded event.
std::string eventText(const std::string& line) {
    const std::size_t first = line.find(' ');
    return line.substr(line.find(' ', first + 1) + 1);
}

std::string scratchFile(const std::string& name, const std::string& text) {
    const std::string path = std::filesystem::temp_directory_path() / ("tessary-" + std::to_string(getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::vector<std::string> fixture(const std::string& name) { return linesOf(contentOf(kFixtures + "/" + name)); }

// The process id of a line: its second word.
std::string pidOf(const std::string& line) {
    const std::size_t first = line.find(' ');
    return line.substr(first + 1, line.find(' ', first + 1) - first - 1);
}

// The same line as written by another process.
std::string withPid(const std::string& line, const std::string& pid) {
    const std::size_t first = line.find(' ');
    return line.substr(0, first + 1) + pid + line.substr(line.find(' ', first + 1));
}

// Where the value of the last field of this key lies in a line: from after "key=" to its end (a
// quoted value up to its closing quotation mark).
std::pair<std::size_t, std::size_t> valueBounds(const std::string& line, const std::string& key) {
    const std::size_t at = line.rfind(" " + key + "=");
    if (at == std::string::npos) return {std::string::npos, std::string::npos};
    const std::size_t start = at + key.size() + 2;
    if (line[start] != '"') return {start, std::min(line.find(' ', start), line.size())};
    std::size_t i = start + 1;
    while (i < line.size() && line[i] != '"') i += line[i] == '\\' ? 2 : 1;
    return {start, i + 1};
}

// The last value of this key as written (a quoted one with its quotation marks).
std::string fieldText(const std::string& line, const std::string& key) {
    const auto [start, end] = valueBounds(line, key);
    return start == std::string::npos ? std::string() : line.substr(start, end - start);
}

// The line with the last value of this key written otherwise.
std::string withField(const std::string& line, const std::string& key, const std::string& value) {
    const auto [start, end] = valueBounds(line, key);
    if (start == std::string::npos) return line;
    return line.substr(0, start) + value + line.substr(end);
}

// The request part of a recorded event: up to the first of these answer fields.
std::string requestPart(const std::string& event, const std::vector<std::string>& answerKeys) {
    std::size_t cut = event.size();
    for (const std::string& key : answerKeys) cut = std::min(cut, event.find(" " + key + "="));
    return event.substr(0, cut);
}

std::size_t firstOf(const std::vector<std::string>& lines, const std::string& event) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (eventText(lines[i]).starts_with(event + " ") || eventText(lines[i]) == event) return i;
    }
    return lines.size();
}

// `printed "<result path>\n"` as the report quotes a run's standard output.
std::string printedPath(const std::string& start) {
    const std::string path = fieldText(start, "arg");
    return "printed " + path.substr(0, path.size() - 1) + "\\n\"";
}

std::string replayedReport(const std::vector<std::string>& lines, int& status, const std::vector<std::string>& options = {}) {
    const std::string path = scratchFile("changed.trace", joined(lines));
    std::vector<std::string> arguments = options;
    arguments.push_back(path);
    const Replayed replayed = replay(arguments);
    std::filesystem::remove(path);
    EXPECT_EQ(replayed.err, "");
    status = replayed.status;
    return replayed.out;
}

// One field of the first recorded request of each kind, changed: the run asks what it asked when
// it was recorded, and the replay names the changed line, the recorded event and the request.
TEST(Replay, EachRequestChangedInOneFieldIsTheExactDivergence) {
    const std::vector<std::string> recorded = fixture("complete-exchange.trace");
    ASSERT_GE(recorded.size(), 3u);
    const std::string tail = "; recorded status 0, " + printedPath(recorded[0]) + ", the replay stopped there\n";
    struct Case {
        std::string event;
        std::string key;  // the field changed; none: the line holds a request of another kind instead
        std::string value;
        std::vector<std::string> answer;  // the fields that hold the answer, not the request
    };
    const Case cases[] = {
        {"trust", "", "run-lock held=yes took=0.001", {"trusted"}},
        {"run-lock", "", "trust trusted=yes took=0.001", {"held"}},
        {"applications", "bundle", "\"com.corel.coreldrawsuite.2021.coreldraw\"", {"found"}},
        {"process-id", "application", "2", {"pid"}},
        {"application-element", "pid", "1", {"element"}},
        {"activate", "application", "2", {"allowed", "took"}},
        {"get", "element", "#9999", {"code"}},
        {"get", "attribute", "\"AXChildren\"", {"code"}},
        {"retain", "element", "#9999", {"took"}},
        {"owner-at", "point", "188,166.5", {"occupant"}},
        {"create-event", "type", "up", {"created"}},
        {"create-event", "point", "189,165.5", {"created"}},
        {"post", "event", "2", {"took"}},
        {"post", "type", "up", {"took"}},
        {"post", "point", "189,165.5", {"took"}},
        {"sleep", "us", "200001", {"took"}},
        {"press", "element", "#9999", {"code"}},
        {"press", "action", "\"AXCancel\"", {"code"}},
        {"write", "path", "\"/tmp/elsewhere\"", {"outcome"}},
        {"write", "bytes", "1", {"outcome"}},
        {"write", "text", "\"TALVO_RELAY_BEGIN_replay-1\"", {"outcome"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event + " " + (c.key.empty() ? "as another request" : c.key + "=" + c.value));
        std::vector<std::string> lines = recorded;
        const std::size_t at = firstOf(lines, c.event);
        ASSERT_LT(at, lines.size());
        const std::string original = lines[at];
        lines[at] = c.key.empty() ? original.substr(0, original.size() - eventText(original).size()) + c.value
                                  : withField(original, c.key, c.value);
        ASSERT_NE(lines[at], original);
        int status = -1;
        const std::string report = replayedReport(lines, status);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(report, "run " + pidOf(original) + ": line " + std::to_string(at + 1) + ": recorded " + eventText(lines[at]) +
                              ", asked " + requestPart(eventText(original), c.answer) + tail);
    }
    // The recording ends where the run asks for more: its last request left out.
    std::vector<std::string> lines = recorded;
    const std::size_t end = lines.size() - 1;
    const std::string last = lines[end - 1];
    ASSERT_TRUE(eventText(last).starts_with("press ")) << last;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(end - 1));
    int status = -1;
    EXPECT_EQ(replayedReport(lines, status), "run " + pidOf(last) + ": line " + std::to_string(end) + ": recorded " +
                                                 eventText(lines.back()) + ", asked " + requestPart(eventText(last), {"code"}) +
                                                 tail);
    EXPECT_EQ(status, 1);
}

// The outcome of a run: its exit status, standard output and the failure line, each compared on
// its own with what the recording says.
TEST(Replay, EachPartOfTheOutcomeThatDiffersIsReported) {
    const std::vector<std::string> exchange = fixture("complete-exchange.trace");
    const std::vector<std::string> notRunning = fixture("not-running.trace");
    ASSERT_GE(exchange.size(), 3u);
    ASSERT_GE(notRunning.size(), 3u);
    const std::string pid = pidOf(exchange[0]);
    const std::string printed = printedPath(exchange[0]);
    const std::string notRunningLine = "\"TESSARY: CorelDRAW is not running\\n\"";
    ASSERT_EQ(fieldText(notRunning.back(), "failure"), notRunningLine);
    const std::string usageLine = "\"TESSARY: usage: tessary <command-id> <absolute-result-path>\\n\"";
    // A run given one argument: it fails before it asks anything.
    const std::string version = fieldText(exchange[0], "version");
    const std::vector<std::string> usage{"0.000 " + pid + " start version=" + version + " argc=2 arg=\"tessary\" arg=\"1\"",
                                         "0.100 " + pid + " end status=1 failure=" + usageLine};
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::string report;
    };
    auto changedEnd = [](std::vector<std::string> lines, const std::string& end) {
        lines.back() = lines.back().substr(0, lines.back().size() - eventText(lines.back()).size()) + end;
        return lines;
    };
    auto changedStart = [](std::vector<std::string> lines, const std::string& key, const std::string& value) {
        lines[0] = withField(lines[0], key, value);
        return lines;
    };
    std::string pathWithNul = fieldText(exchange[0], "arg");
    pathWithNul.insert(pathWithNul.size() - 1, "\\x00");
    const Case cases[] = {
        {"as recorded, for reference", usage, "run " + pid + ": as recorded: 0 events, status 1, " + usageLine + "\n"},
        {"only the exit status differs", changedEnd(usage, "end status=0 failure=" + usageLine),
         "run " + pid + ": recorded status 0, " + usageLine + ", replayed status 1, " + usageLine + "\n"},
        {"a complete exchange recorded as a failure", changedEnd(exchange, "end status=1"),
         "run " + pid + ": recorded status 1, replayed status 0, " + printed + "\n"},
        {"only the failure line differs", changedEnd(notRunning, "end status=1 failure=\"TESSARY: CorelDRAW has an open alert\\n\""),
         "run " + pidOf(notRunning[0]) + ": recorded status 1, \"TESSARY: CorelDRAW has an open alert\\n\", replayed status 1, " +
             notRunningLine + "\n"},
        {"a failure line recorded after a complete exchange", changedEnd(exchange, "end status=0 failure=" + notRunningLine),
         "run " + pid + ": recorded status 0, " + printed + ", " + notRunningLine + ", replayed status 0, " + printed + "\n"},
        // No process is given an argument with a NUL: the run takes the path up to it, writes where
        // it was recorded writing, and prints another path than the recording says.
        {"only the printed path differs", changedStart(exchange, "arg", pathWithNul),
         "run " + pid + ": recorded status 0, " + printedPath(changedStart(exchange, "arg", pathWithNul)[0]) + ", replayed status 0, " +
             printed + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int status = -1;
        EXPECT_EQ(replayedReport(c.lines, status), c.report);
        EXPECT_EQ(status, c.report.find(": as recorded: ") == std::string::npos ? 1 : 0);
    }
}

// A result path changed in the command line: the run writes, and would print, another path.
TEST(Replay, AChangedResultPathDivergesAtTheWrite) {
    std::vector<std::string> lines = fixture("complete-exchange.trace");
    ASSERT_GE(lines.size(), 3u);
    lines[0] = withField(lines[0], "arg", "\"/tmp/another-result\"");
    const std::size_t write = firstOf(lines, "write");
    ASSERT_LT(write, lines.size());
    int status = -1;
    EXPECT_EQ(replayedReport(lines, status),
              "run " + pidOf(lines[0]) + ": line " + std::to_string(write + 1) + ": recorded " + eventText(lines[write]) +
                  ", asked " + withField(requestPart(eventText(lines[write]), {"outcome"}), "path", "\"/tmp/another-result\"") +
                  "; recorded status 0, printed \"/tmp/another-result\\n\", the replay stopped there\n");
    EXPECT_EQ(status, 1);
}

// A recorded request that the run no longer makes before it ends, with the same outcome: the
// run ended early, which is a divergence too.
TEST(Replay, ARunThatEndsBeforeItsRecordingIsReported) {
    std::vector<std::string> lines = fixture("complete-exchange.trace");
    ASSERT_GE(lines.size(), 3u);
    const std::string pid = pidOf(lines[0]);
    const std::string extra = lines.back().substr(0, lines.back().find(' ')) + " " + pid + " sleep us=100000 took=100.000";
    lines.insert(lines.end() - 1, extra);
    int status = -1;
    EXPECT_EQ(replayedReport(lines, status), "run " + pid + ": line " + std::to_string(lines.size() - 1) +
                                                 ": recorded sleep us=100000 took=100.000, asked end status=0; recorded status 0, " +
                                                 printedPath(lines[0]) + ", the replay stopped there\n");
    EXPECT_EQ(status, 1);
}

// A second run of the exchange, by another process and with another result path.
std::vector<std::string> secondRun(const std::vector<std::string>& lines, const std::string& pid) {
    std::vector<std::string> second;
    for (const std::string& line : lines) {
        std::string changed = withPid(line, pid);
        if (eventText(changed).starts_with("start ") || eventText(changed).starts_with("write ")) {
            const std::string key = eventText(changed).starts_with("start ") ? "arg" : "path";
            const std::string path = fieldText(changed, key);
            changed = withField(changed, key, path.substr(0, path.size() - 1) + "-second\"");
        }
        second.push_back(changed);
    }
    return second;
}

std::string asRecorded(const std::vector<std::string>& run) {
    const std::size_t write = firstOf(run, "write");
    return "run " + pidOf(run[0]) + ": as recorded: " + std::to_string(run.size() - 2) + " events, status 0, " + printedPath(run[0]) +
           ", wrote " + fieldText(run[write], "bytes") + " bytes\n";
}

// Two runs that wrote their lines at the same time: each line goes to the run of its process id,
// whatever came between; a line of a process that never started makes the file unusable.
TEST(Replay, RunsAreToldApartByTheirProcessId) {
    const std::vector<std::string> first = fixture("complete-exchange.trace");
    ASSERT_GE(first.size(), 3u);
    const std::string otherPid = std::to_string(std::stoll(pidOf(first[0])) + 1);
    const std::vector<std::string> second = secondRun(first, otherPid);
    std::vector<std::string> interleaved;
    for (std::size_t i = 0; i < first.size(); ++i) {
        interleaved.push_back(first[i]);
        interleaved.push_back(second[i]);
    }
    int status = -1;
    EXPECT_EQ(replayedReport(interleaved, status), asRecorded(first) + asRecorded(second));
    EXPECT_EQ(status, 0);

    std::vector<std::string> stray = first;
    const std::string strangerPid = std::to_string(std::stoll(pidOf(first[0])) + 7);
    stray.insert(stray.begin() + 2, withPid(first[2], strangerPid));
    const std::string path = scratchFile("stray.trace", joined(stray));
    const Replayed replayed = replay({path});
    std::filesystem::remove(path);
    EXPECT_EQ(replayed.status, 2);
    EXPECT_EQ(replayed.out, "");
    EXPECT_EQ(replayed.err, "tessary-replay: trace line 3: an event of process " + strangerPid + " without its start\n");
}

// A recorded "get" line answered otherwise: everything from its " code=" to its " took=" replaced.
std::string answeredAs(const std::string& line, const std::string& answer) {
    return line.substr(0, line.find(" code=")) + " " + answer + line.substr(line.find(" took="));
}

// A line of the same run at the same time holding another event.
std::string eventLike(const std::string& line, const std::string& event) {
    return line.substr(0, line.size() - eventText(line).size()) + event;
}

const std::string kCannotTell = "code=-25204 kind=absent";
const std::string kNotInFront = "\"TESSARY: CorelDRAW is not in front at the Scripts inspector\\n\"";

std::string asRecordedFailing(const std::vector<std::string>& run, const std::string& failure) {
    return "run " + pidOf(run[0]) + ": as recorded: " + std::to_string(run.size() - 2) + " events, status 1, " + failure + "\n";
}

// A trace that is no regular file, read from a pipe as it is written: the file is read to its
// end in one buffer that grows as it comes (here past its first 64 KiB), and its runs replay as
// from the file.
TEST(Replay, ATraceFromAPipeReplaysAsFromItsFile) {
    const std::vector<std::string> first = fixture("complete-exchange.trace");
    ASSERT_GE(first.size(), 3u);
    std::vector<std::string> lines;
    std::string expected;
    for (int run = 0; run < 6; ++run) {
        const std::vector<std::string> again = secondRun(first, std::to_string(std::stoll(pidOf(first[0])) + run));
        lines.insert(lines.end(), again.begin(), again.end());
        expected += asRecorded(again);
    }
    const std::string text = joined(lines);
    ASSERT_GT(text.size(), 65536u);

    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const std::string out = scratchFile("pipe.out", "");
    std::vector<std::string> argv{TESSARY_REPLAY, "/dev/stdin"};
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[0]);
    // Written in pieces, as a run appends its lines; the replay reads until the pipe closes. A
    // replay that stops reading early fails the write, not this test's process.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    for (std::size_t at = 0; spawned == 0 && at < text.size();) {
        const ssize_t wrote = write(pipeEnds[1], text.data() + at, std::min<std::size_t>(text.size() - at, 4096));
        if (wrote <= 0) break;
        at += static_cast<std::size_t>(wrote);
    }
    close(pipeEnds[1]);
    std::signal(SIGPIPE, previous);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(contentOf(out), expected);
    std::filesystem::remove(out);
}

// Recordings changed so that CorelDRAW, after saying "no", does not answer (-25204): the run asks
// again exactly as after a "no", and only a "yes" lets it go on, so each changed recording
// replays as recorded. A run that took a reading that cannot tell for an answer would leave the
// recording there: for the row, it would look at the Run button's point next, to click Run with
// the row not selected.
TEST(Replay, AfterANoAReadingThatCannotTellCountsAsNo) {
    // The row: "no" eleven times; its 2nd and 3rd readings changed.
    std::vector<std::string> row = fixture("row-takes-no-selection.trace");
    ASSERT_GE(row.size(), 3u);
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (row[i].find(" get ") != std::string::npos && fieldText(row[i], "attribute") == "\"AXSelected\"") selected.push_back(i);
    }
    ASSERT_EQ(selected.size(), 11u);
    ASSERT_EQ(fieldText(row.back(), "failure"), kNotInFront);
    for (const std::size_t i : {selected[1], selected[2]}) row[i] = answeredAs(row[i], kCannotTell);
    int status = -1;
    EXPECT_EQ(replayedReport(row, status), asRecordedFailing(row, kNotInFront));
    EXPECT_EQ(status, 0);

    // CorelDRAW after its activation: "no", then a reading that cannot tell, then "yes", and the
    // exchange completes as recorded.
    const std::vector<std::string> exchange = fixture("complete-exchange.trace");
    ASSERT_GE(exchange.size(), 3u);
    const std::size_t frontmost = firstOf(exchange, "get element=#1 attribute=\"AXFrontmost\"");
    ASSERT_LT(frontmost, exchange.size());
    const std::string yes = exchange[frontmost];
    ASSERT_EQ(fieldText(yes, "value"), "yes");
    const std::string no = withField(yes, "value", "no");
    const std::string wait = eventLike(yes, "sleep us=100000 took=100.000");
    std::vector<std::string> late(exchange.begin(), exchange.begin() + static_cast<std::ptrdiff_t>(frontmost));
    for (const std::string& line : {no, wait, answeredAs(yes, kCannotTell), wait, yes}) late.push_back(line);
    late.insert(late.end(), exchange.begin() + static_cast<std::ptrdiff_t>(frontmost) + 1, exchange.end());
    EXPECT_EQ(replayedReport(late, status), asRecorded(late));
    EXPECT_EQ(status, 0);

    // "No", then twenty readings that cannot tell: the run ends at the bound, before any click.
    std::vector<std::string> never(exchange.begin(), exchange.begin() + static_cast<std::ptrdiff_t>(frontmost));
    never.push_back(no);
    for (int reread = 0; reread < 20; ++reread) {
        never.push_back(wait);
        never.push_back(answeredAs(yes, kCannotTell));
    }
    never.push_back(eventLike(yes, "end status=1 failure=" + kNotInFront));
    EXPECT_EQ(replayedReport(never, status), asRecordedFailing(never, kNotInFront));
    EXPECT_EQ(status, 0);
}

// --quiet leaves out the runs that replay as recorded, and only those.
TEST(Replay, QuietStillReportsARunThatDoesNotReplay) {
    const std::vector<std::string> first = fixture("complete-exchange.trace");
    ASSERT_GE(first.size(), 3u);
    std::vector<std::string> second = secondRun(first, std::to_string(std::stoll(pidOf(first[0])) + 1));
    const std::size_t sleep = firstOf(second, "sleep");
    ASSERT_LT(sleep, second.size());
    const std::string asked = requestPart(eventText(second[sleep]), {"took"});
    second[sleep] = withField(second[sleep], "us", "1");
    std::vector<std::string> lines = first;
    lines.insert(lines.end(), second.begin(), second.end());
    int status = -1;
    EXPECT_EQ(replayedReport(lines, status, {"--quiet"}),
              "run " + pidOf(second[0]) + ": line " + std::to_string(first.size() + sleep + 1) + ": recorded " + eventText(second[sleep]) +
                  ", asked " + asked + "; recorded status 0, " + printedPath(second[0]) + ", the replay stopped there\n");
    EXPECT_EQ(status, 1);
}

TEST(Replay, AChangedOrderOfTwoReadsIsTheExactDivergence) {
    std::vector<std::string> lines = linesOf(contentOf(kFixtures + "/complete-exchange.trace"));
    // The row's position and size, read one after the other: swapped, the run asks for the
    // position where the recording holds the size.
    std::size_t position = 0;
    while (position < lines.size() && lines[position].find("attribute=\"AXPosition\"") == std::string::npos) ++position;
    ASSERT_LT(position + 1, lines.size());
    ASSERT_NE(lines[position + 1].find("attribute=\"AXSize\""), std::string::npos);
    std::swap(lines[position], lines[position + 1]);
    const std::string path = scratchFile("swapped.trace", joined(lines));
    const Replayed replayed = replay({path});
    std::filesystem::remove(path);

    const std::string recorded = eventText(lines[position]);
    const std::string asked = recorded.substr(0, recorded.find(" code=")).replace(recorded.find("AXSize"), 6, "AXPosition");
    const std::string pid = lines[0].substr(lines[0].find(' ') + 1, lines[0].find(' ', lines[0].find(' ') + 1) - lines[0].find(' ') - 1);
    std::string resultPath;
    {
        const std::string start = lines[0];
        const std::size_t last = start.rfind(" arg=\"");
        resultPath = start.substr(last + 6, start.size() - last - 7);
    }
    EXPECT_EQ(replayed.status, 1);
    EXPECT_EQ(replayed.err, "");
    EXPECT_EQ(replayed.out, "run " + pid + ": line " + std::to_string(position + 1) + ": recorded " + recorded + ", asked " +
                                asked + "; recorded status 0, printed \"" + resultPath + "\\n\", the replay stopped there\n");
}

TEST(Replay, AFileItCannotUseIsOneLineNamingTheTraceLine) {
    const std::vector<std::string> lines = linesOf(contentOf(kFixtures + "/not-running.trace"));
    ASSERT_GE(lines.size(), 3u);
    struct Case {
        const char* what;
        std::string text;
        std::string err;
    };
    std::vector<std::string> oldVersion = lines;
    oldVersion[0].replace(oldVersion[0].find("version=2"), 9, "version=1");
    std::vector<std::string> newerVersion = lines;
    newerVersion[0].replace(newerVersion[0].find("version=2"), 9, "version=6");
    std::vector<std::string> otherTool = lines;
    otherTool[0].replace(otherTool[0].find("version=2"), 9, "version=4 tool=helper");
    std::vector<std::string> broken = lines;
    broken[2] = broken[2] + " key=\"unclosed";
    std::vector<std::string> cut(lines.begin(), lines.end() - 1);
    const Case cases[] = {
        {"a line that cannot be read", joined(broken),
         "tessary-replay: trace line 3: a quoted text without its closing quotation mark\n"},
        {"the last line without its line break", joined(lines).substr(0, joined(lines).size() - 1),
         "tessary-replay: trace line " + std::to_string(lines.size()) + ": it has no line break (a run cut short?)\n"},
        {"a version it does not know", joined(oldVersion),
         "tessary-replay: trace line 1: format version 1, this replay reads versions 2 to 5\n"},
        {"a version after its own", joined(newerVersion),
         "tessary-replay: trace line 1: format version 6, this replay reads versions 2 to 5\n"},
        {"a run of a tool it does not know", joined(otherTool),
         "tessary-replay: trace line 1: tool= is not a known word\n"},
        {"a run without its end", joined(cut),
         "tessary-replay: trace line " + std::to_string(lines.size() - 1) + ": run " +
             lines[0].substr(lines[0].find(' ') + 1, lines[0].find(' ', lines[0].find(' ') + 1) - lines[0].find(' ') - 1) +
             " has no end (cut short by a kill?)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = scratchFile("unusable.trace", c.text);
        const Replayed replayed = replay({path});
        std::filesystem::remove(path);
        EXPECT_EQ(replayed.status, 2);
        EXPECT_EQ(replayed.out, "");
        EXPECT_EQ(replayed.err, c.err);
    }
}

// --text shows the text each run would have written; --quiet says nothing of runs that replay
// as recorded.
TEST(Replay, TextAndQuiet) {
    const Replayed shown = replay({"--text", kFixtures + "/complete-exchange.trace"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("\n  text \"TALVO_RELAY_BEGIN_replay-1\\nrelay answer for replay-1: Grüße, ✓ ok\\nTALVO_RELAY_END_replay-1\"\n"),
              std::string::npos)
        << shown.out;
    const Replayed quiet = replay({"--quiet", kFixtures + "/two-runs.trace"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
}

}  // namespace

// --help alone prints the usage on standard output with status 0; with anything else it is a
// usage error, as before.
TEST(ReplayUsage, HelpOnStandardOutput) {
    const Replayed help = replay({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: tessary-replay [--quiet] [--text] [--html <page>] <trace-file>\n")) << help.out;
    EXPECT_EQ(help.err, "");
    const Replayed mixed = replay({"--help", kFixtures + "/not-running.trace"});
    EXPECT_EQ(mixed.status, 2);
    EXPECT_EQ(mixed.out, "");
    EXPECT_EQ(mixed.err, "tessary-replay: usage: tessary-replay [--quiet] [--text] [--html <page>] <trace-file>\n");
}

// --version alone prints the name, the build's version and its commit on standard output with
// status 0; with anything else it is a usage error.
TEST(ReplayUsage, VersionOnStandardOutput) {
    const Replayed version = replay({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.err, "");
    const std::regex line("tessary-replay " + std::regex_replace(std::string(TESSARY_EXPECTED_VERSION), std::regex("\\."), "\\.") +
                          " \\(([0-9a-f]{4,}|unknown)\\)\n");
    EXPECT_TRUE(std::regex_match(version.out, line)) << version.out;
    const Replayed mixed = replay({"--version", kFixtures + "/not-running.trace"});
    EXPECT_EQ(mixed.status, 2);
    EXPECT_EQ(mixed.out, "");
}
