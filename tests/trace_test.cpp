// The trace file of TESSARY_TRACE: its line format read back by a reader of its own, its
// correspondence with what the fake desktop saw, and that it changes nothing the host sees.
#include <gtest/gtest.h>
#include <functional>
#include <chrono>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "main/run.h"
#include "main/version.h"
#include "support/child_run.h"
#include "support/desktops.h"
#include "support/trace_lines.h"
#include "trace/reader.h"
#include "trace/trace.h"
#include "trace/format.h"

namespace {

using fake::node;
using platform::Point;
using platform::Size;

std::string escaped(std::string_view text) {
    std::string out;
    trace::appendQuoted(out, text);
    return out;
}

TEST(TraceFormat, EscapesEveryByteThatCouldBreakALineAndKeepsTheRest) {
    struct Case {
        std::string text;
        std::string written;
    };
    const Case cases[] = {
        {"AXRow", R"("AXRow")"},
        {"", R"("")"},
        {"say \"hi\" \\ back", R"("say \"hi\" \\ back")"},
        {"one\ntwo\r\tthree", R"("one\ntwo\r\tthree")"},
        {std::string("\0\x01\x1b\x1f\x7f", 5), R"("\x00\x01\x1b\x1f\x7f")"},
        {"\u8B66\u544A Gr\u00FC\u00DFe \u2713 \U0001F600", "\"\u8B66\u544A Gr\u00FC\u00DFe \u2713 \U0001F600\""},
        // Readers that take these for line breaks: NEL and the other C1 controls, U+2028, U+2029.
        {"a\u0085b\u0080\u009F", R"("a\u0085b\u0080\u009f")"},
        {"p\u2028q\u2029r", R"("p\u2028q\u2029r")"},
        // Invalid UTF-8, each stray byte on its own.
        {"\xFF", R"("\xff")"},
        {"\x80x", R"("\x80x")"},
        {"\xC3", R"("\xc3")"},
        {"\xC3(", R"("\xc3(")"},
        {"\xE8\xAD", R"("\xe8\xad")"},
        {"\xC0\xAF", R"("\xc0\xaf")"},             // overlong "/"
        {"\xE0\x80\xAF", R"("\xe0\x80\xaf")"},     // overlong "/"
        {"\xED\xA0\x80", R"("\xed\xa0\x80")"},     // a surrogate
        {"\xF4\x90\x80\x80", R"("\xf4\x90\x80\x80")"},  // above U+10FFFF
        {"\xC3\xA9\xFF\xC3\xA9", "\"\u00E9\\xff\u00E9\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        const std::string written = escaped(c.text);
        EXPECT_EQ(written, c.written);
        for (const char byte : written) EXPECT_GE(static_cast<unsigned char>(byte), 0x20);
        // A reader gets the exact bytes back.
        EXPECT_EQ(unquote(written), c.text);
    }
}

TEST(TraceFormat, NumbersReadBackExactly) {
    const struct {
        double value;
        std::string written;
    } doubles[] = {{110, "110"},          {12.5, "12.5"},           {-0.25, "-0.25"}, {0.1, "0.1"}, {1e300, "1e+300"},
                   {0.1 + 0.2, "0.30000000000000004"}, {1234567.5, "1234567.5"}};
    for (const auto& c : doubles) {
        std::string out;
        trace::appendDouble(out, c.value);
        EXPECT_EQ(out, c.written);
        EXPECT_EQ(std::strtod(out.c_str(), nullptr), c.value);
    }
    const struct {
        std::int64_t nanoseconds;
        std::string written;
    } durations[] = {{0, "0.000"}, {999, "0.000"}, {1000, "0.001"}, {1234567, "1.234"}, {10000000000, "10000.000"}, {-5, "0.000"}};
    for (const auto& c : durations) {
        std::string out;
        trace::appendMilliseconds(out, c.nanoseconds);
        EXPECT_EQ(out, c.written);
    }
}

// Runs tessary over the desktop with TESSARY_TRACE set to `trace` (unset for nothing).
Outcome runWithTrace(fake::Desktop desktop, const std::vector<std::string>& arguments, const std::optional<std::string>& trace,
                     const std::function<void()>& prepare = {}) {
    return runTessary(std::move(desktop), arguments, [&] {
        if (trace) {
            setenv("TESSARY_TRACE", trace->c_str(), 1);
        } else {
            unsetenv("TESSARY_TRACE");
        }
        if (prepare) prepare();
    });
}

std::vector<TraceLine> readTrace(const std::string& path) {
    const std::optional<std::string> text = readFile(path);
    if (!text) {
        ADD_FAILURE() << "no trace at " << path;
        return {};
    }
    auto lines = parseTrace(*text);
    if (!lines) {
        ADD_FAILURE() << "the trace does not follow its format:\n" << *text;
        return {};
    }
    // The tool's own reader reads every line the writer wrote to the same values as this
    // independent one: the round trip of the format.
    const trace::ReadTrace read = trace::readTrace(*text);
    EXPECT_EQ(read.error, std::nullopt);
    EXPECT_EQ(read.lines.size(), lines->size());
    for (std::size_t i = 0; i < std::min(read.lines.size(), lines->size()); ++i) {
        const trace::RecordedLine& mine = read.lines[i];
        const TraceLine& theirs = (*lines)[i];
        EXPECT_EQ(mine.milliseconds, theirs.milliseconds);
        EXPECT_EQ(mine.pid, theirs.pid);
        EXPECT_EQ(mine.event, theirs.event);
        EXPECT_EQ(mine.fields.size(), theirs.fields.size()) << mine.text;
        for (std::size_t f = 0; f < std::min(mine.fields.size(), theirs.fields.size()); ++f) {
            EXPECT_EQ(mine.fields[f].key, theirs.fields[f].first) << mine.text;
            EXPECT_EQ(mine.fields[f].value, theirs.fields[f].second) << mine.text;
            EXPECT_EQ(mine.fields[f].quoted, theirs.quoted[f]) << mine.text;
        }
    }
    return *lines;
}

fake::Desktop renamingDesktop() {
    std::vector<fake::Node> rows;
    rows.push_back(scriptRow("row-other", "OtherScript", 130));
    rows.push_back(scriptRow("row", "RelayTransportProbe", 150, {node("field", "AXTextField", {{"AXValue", std::string("Relay")}})}));
    std::vector<fake::Node> windows;
    windows.push_back(inspectorWindow(std::move(rows)));
    return corelDesktopWith(std::move(windows), relayAnswer("1"));
}

struct Scenario {
    std::string name;
    std::function<fake::Desktop()> desktop;
    std::vector<std::string> arguments;  // "RESULT" stands for the result path
};

std::vector<Scenario> scenarios() {
    return {
        {"complete", [] { return corelDesktop(relayAnswer("cmd-1", "a\tb\nc \xFF")); }, {"cmd-1", "RESULT"}},
        {"rename", [] { return renamingDesktop(); }, {"1", "RESULT"}},
        {"usage", [] { return corelDesktop(relayAnswer("1")); }, {"only-one"}},
        {"relative", [] { return corelDesktop(relayAnswer("1")); }, {"1", "relative/result"}},
        {"untrusted", [] { auto d = corelDesktop(relayAnswer("1")); d.trusted = false; return d; }, {"1", "RESULT"}},
        {"not running", [] { return fake::Desktop{}; }, {"1", "RESULT"}},
        {"open alert", [] {
             std::vector<fake::Node> windows;
             windows.push_back(alertWindow("old", "an earlier answer"));
             windows.push_back(inspectorWindow());
             return corelDesktopWith(std::move(windows), relayAnswer("1"));
         }, {"1", "RESULT"}},
        {"unexpected alert", [] { return corelDesktop("Script error:\nline \"3\""); }, {"1", "RESULT"}},
        {"no answer", [] { auto d = corelDesktop(relayAnswer("1")); d.script.reset(); return d; }, {"1", "RESULT"}},
        {"write fails", [] { return corelDesktop(relayAnswer("1")); }, {"1", "/nonexistent-directory/result"}},
        {"mouse event", [] { auto d = corelDesktop(relayAnswer("1")); d.failMouseEventAt = 2; return d; }, {"1", "RESULT"}},
    };
}

std::vector<std::string> commandLine(const std::vector<std::string>& arguments) {
    std::vector<std::string> line{"tessary"};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
}

std::vector<std::string> withResult(const std::vector<std::string>& arguments, const std::string& result) {
    std::vector<std::string> out;
    for (const std::string& argument : arguments) out.push_back(argument == "RESULT" ? result : argument);
    return out;
}

TEST(Trace, ARunShowsItsHostTheSameWithAndWithoutATrace) {
    for (const Scenario& scenario : scenarios()) {
        SCOPED_TRACE(scenario.name);
        const std::string directory = scratchDirectory();
        const std::vector<std::string> arguments = withResult(scenario.arguments, directory + "/result");
        const Outcome plain = runWithTrace(scenario.desktop(), arguments, std::nullopt);
        const std::optional<std::string> plainResult = readFile(directory + "/result");
        std::filesystem::remove(directory + "/result");
        const std::string tracePath = directory + "/trace";
        const Outcome traced = runWithTrace(scenario.desktop(), arguments, tracePath);
        EXPECT_EQ(traced.status, plain.status);
        EXPECT_EQ(traced.out, plain.out);
        EXPECT_EQ(traced.err, plain.err);
        EXPECT_EQ(readFile(directory + "/result"), plainResult);
        // The same operations reached the desktop, in the same order, and every element was
        // released.
        EXPECT_EQ(traced.record, plain.record);
        EXPECT_EQ(traced.liveElements, 0);
        EXPECT_EQ(traced.clock, plain.clock);

        const std::vector<TraceLine> lines = readTrace(tracePath);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines.front().event, "start");
        EXPECT_EQ(lines.front().values("arg"), commandLine(arguments));
        EXPECT_EQ(lines.back().event, "end");
        EXPECT_EQ(lines.back().value("status"), std::to_string(plain.status));
        if (plain.status == 0) {
            EXPECT_EQ(lines.back().value("failure"), std::nullopt);
        } else {
            EXPECT_EQ(lines.back().value("failure"), plain.err);
        }
        for (const TraceLine& line : lines) EXPECT_EQ(line.pid, lines.front().pid);
    }
}

TEST(Trace, RequestLinesAreTheDesktopsRequestsOneToOneInOrder) {
    for (const Scenario& scenario : scenarios()) {
        SCOPED_TRACE(scenario.name);
        const std::string directory = scratchDirectory();
        const Outcome outcome =
            runWithTrace(scenario.desktop(), withResult(scenario.arguments, directory + "/result"), directory + "/trace");
        const std::vector<TraceLine> requests = eventsOf(readTrace(directory + "/trace"), {"get", "press"});
        std::vector<std::string> record;
        for (const std::string& line : outcome.record) {
            if (line.starts_with("get ") || line.starts_with("press ")) record.push_back(line);
        }
        ASSERT_EQ(requests.size(), record.size());
        // An element's number names one element of the desktop throughout, and every number
        // a request names came in earlier: as the application element or in an answer.
        std::map<std::string, std::string> labelOfNumber;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const TraceLine& request = requests[i];
            const std::string name = *request.value(request.event == "get" ? "attribute" : "action");
            const std::string element = *request.value("element");
            const std::string label = record[i].substr(request.event.size() + 1, record[i].size() - request.event.size() - name.size() - 2);
            ASSERT_EQ(record[i], request.event + " " + label + " " + name) << "request " << i;
            const auto [known, added] = labelOfNumber.emplace(element, label);
            EXPECT_EQ(known->second, label) << "request " << i << " on " << element;
        }
    }
}

TEST(Trace, HoldsTheBindingTheAnswersTheClicksAndTheWrite) {
    const std::string directory = scratchDirectory();
    const std::string answer = relayAnswer("cmd-1", "Gr\u00FC\u00DFe\n\"quoted\"\t\x01 \xFF");
    const std::string result = directory + "/result \"1\"";
    const Outcome outcome = runWithTrace(corelDesktop(answer), {"cmd-1", result}, directory + "/trace");
    ASSERT_EQ(outcome.status, 0);
    const std::vector<TraceLine> lines = readTrace(directory + "/trace");

    const std::vector<TraceLine> binding = eventsOf(lines, {"trust", "applications", "process-id", "application-element"});
    ASSERT_EQ(binding.size(), 4u);
    EXPECT_EQ(binding[0].value("trusted"), "yes");
    EXPECT_EQ(binding[1].value("bundle"), kCorelBundle);
    EXPECT_EQ(binding[1].value("found"), "[1]");
    EXPECT_EQ(binding[2].value("application"), "1");
    EXPECT_EQ(binding[2].value("pid"), "4242");
    EXPECT_EQ(binding[3].value("pid"), "4242");
    EXPECT_EQ(binding[3].value("element"), "#1");
    const std::vector<TraceLine> activation = eventsOf(lines, {"activate"});
    ASSERT_EQ(activation.size(), 1u);
    EXPECT_EQ(activation[0].value("application"), "1");

    // The windows, with their roles and the list of a walk, by number.
    const std::vector<TraceLine> gets = eventsOf(lines, {"get"});
    ASSERT_FALSE(gets.empty());
    EXPECT_EQ(gets[0].value("element"), "#1");
    EXPECT_EQ(gets[0].value("attribute"), "AXWindows");
    EXPECT_EQ(gets[0].value("code"), "0");
    EXPECT_EQ(gets[0].value("kind"), "list");
    EXPECT_EQ(gets[0].value("value"), "[#2]");
    std::vector<std::string> windows;
    bool sawWindowRole = false, sawRowSize = false, sawAlertText = false, sawFailedRead = false;
    for (const TraceLine& get : gets) {
        if (get.value("attribute") == "AXWindows") windows.push_back(get.value("value").value_or(""));
        if (get.value("attribute") == "AXRole" && get.value("value") == "AXWindow" && get.value("kind") == "text") {
            const std::string listed = *get.value("element");
            for (const std::string& list : windows) {
                if (list == "[" + listed + "]" || list.starts_with("[" + listed + ",")) sawWindowRole = true;
            }
        }
        if (get.value("attribute") == "AXSize" && get.value("value") == "200,20") sawRowSize = get.value("kind") == "size";
        if (get.value("attribute") == "AXValue" && get.value("value") == answer) sawAlertText = true;
        if (get.value("code") == std::to_string(platform::kAttributeUnsupported)) sawFailedRead = get.value("kind") == "absent";
        EXPECT_TRUE(get.value("took"));
    }
    EXPECT_TRUE(sawWindowRole);
    EXPECT_TRUE(sawRowSize);
    EXPECT_TRUE(sawAlertText);
    EXPECT_TRUE(sawFailedRead);

    // Each event as created and as posted, with its point, and the sleeps between them.
    std::vector<std::string> input;
    for (const TraceLine& line : eventsOf(lines, {"create-event", "post", "sleep"})) {
        std::string item = line.event;
        for (const char* key : {"us", "kind", "type", "point", "created", "event"}) {
            if (const auto value = line.value(key)) item += " " + std::string(key) + "=" + *value;
        }
        input.push_back(item);
    }
    const std::vector<std::string> expected{
        "sleep us=200000",
        "create-event kind=mouse type=down point=110,160 created=yes event=1",
        "create-event kind=mouse type=up point=110,160 created=yes event=2",
        "post kind=mouse type=down point=110,160 event=1",
        "sleep us=50000",
        "post kind=mouse type=up point=110,160 event=2",
        "sleep us=50000",
        "sleep us=100000",
        "create-event kind=mouse type=down point=66,486 created=yes event=3",
        "create-event kind=mouse type=up point=66,486 created=yes event=4",
        "post kind=mouse type=down point=66,486 event=3",
        "sleep us=50000",
        "post kind=mouse type=up point=66,486 event=4",
        "sleep us=50000",
    };
    EXPECT_EQ(input, expected);

    const std::vector<TraceLine> presses = eventsOf(lines, {"press"});
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ(presses[0].value("action"), "AXPress");
    EXPECT_EQ(presses[0].value("code"), "0");
    const std::vector<TraceLine> writes = eventsOf(lines, {"write"});
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value("path"), result);
    EXPECT_EQ(writes[0].value("bytes"), std::to_string(answer.size()));
    EXPECT_EQ(writes[0].value("outcome"), "ok");

    // Milliseconds since the run's start, never going back.
    double previous = 0;
    for (const TraceLine& line : lines) {
        const double at = std::stod(line.milliseconds);
        EXPECT_GE(at, previous) << line.event;
        previous = at;
    }
}

// The start line says which build wrote the trace: the format's version, then the program's
// version and commit as `--version` prints them, and the reader gives both back.
TEST(Trace, TheStartLineRecordsTheProgramsVersion) {
    const std::string directory = scratchDirectory();
    runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/result"}, directory + "/trace");
    const std::string text = readFile(directory + "/trace").value_or("");
    const std::string start = text.substr(0, text.find('\n'));
    EXPECT_NE(start.find(" start version=" + std::string(trace::kVersionText) + " build=\"" + tessary::build() + "\" argc=3 "),
              std::string::npos)
        << start;
    const trace::ReadTrace read = trace::readTrace(text);
    ASSERT_EQ(read.error, std::nullopt);
    ASSERT_FALSE(read.lines.empty());
    ASSERT_NE(read.lines[0].field("build"), nullptr);
    EXPECT_EQ(read.lines[0].field("build")->value, std::string(tessary::version()) + " (" + std::string(tessary::commit()) + ")");
    EXPECT_FALSE(tessary::version().empty());
    EXPECT_FALSE(tessary::commit().empty());
}

TEST(Trace, AFailedWriteAndAFailedEventCreationAreShown) {
    const std::string directory = scratchDirectory();
    runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/missing/result"}, directory + "/trace");
    const std::vector<TraceLine> writes = eventsOf(readTrace(directory + "/trace"), {"write"});
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value("outcome"), "error");
    EXPECT_TRUE(writes[0].value("error").has_value());

    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    desktop.failMouseEventAt = 3;
    runWithTrace(std::move(desktop), {"1", directory + "/result"}, directory + "/trace-2");
    const std::vector<TraceLine> created = eventsOf(readTrace(directory + "/trace-2"), {"create-event"});
    ASSERT_EQ(created.size(), 3u);
    EXPECT_EQ(created[2].value("created"), "no");
    EXPECT_EQ(created[2].value("event"), std::nullopt);
}

TEST(Trace, OnlyAnAbsolutePathToARegularFileGetsATrace) {
    const std::string directory = scratchDirectory();
    const std::string elsewhere = scratchDirectory();
    std::filesystem::create_symlink(elsewhere + "/target", directory + "/link");
    std::filesystem::create_directory(directory + "/a-directory");
    const std::optional<std::string> cases[] = {std::nullopt, "", "trace", "./trace", directory + "/link",
                                                directory + "/a-directory", "/dev/null"};
    for (const auto& trace : cases) {
        SCOPED_TRACE(trace.value_or("(unset)"));
        const std::string result = scratchDirectory() + "/result";
        const Outcome outcome = runWithTrace(corelDesktop(relayAnswer("1")), {"1", result}, trace,
                                             [&] { (void)chdir(directory.c_str()); });
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, result + "\n");
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(listDirectory(directory), (std::vector<std::string>{"a-directory", "link"}));
        EXPECT_TRUE(listDirectory(elsewhere).empty());
        EXPECT_TRUE(listDirectory(directory + "/a-directory").empty());
    }
}

// A trace file that another user made (in a shared directory, say) is not written to: nothing of
// the run reaches it, and the run is the same as without a trace. Only root can hand a file to
// another user, so the unprivileged pass checks the same with a file it cannot write.
TEST(Trace, AFileOfAnotherUserGetsNoTrace) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/trace";
    std::FILE* planted = std::fopen(path.c_str(), "w");
    ASSERT_NE(planted, nullptr);
    std::fputs("planted\n", planted);
    std::fclose(planted);
    // Writable by everyone, so that only its owner can keep the trace out.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    } else {
        ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    }
    const std::string result = directory + "/result";
    const Outcome outcome = runWithTrace(corelDesktop(relayAnswer("1")), {"1", result}, path);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, result + "\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(readFile(path), "planted\n");
}

TEST(Trace, AFileIsMadeForItsOwnerAloneAndAppendedTo) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/trace";
    const mode_t before = umask(0);
    runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/result"}, path);
    umask(before);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    const std::size_t first = readTrace(path).size();

    runWithTrace(fake::Desktop{}, {"2", directory + "/result"}, path);
    const std::vector<TraceLine> lines = readTrace(path);
    ASSERT_GT(lines.size(), first);
    EXPECT_EQ(lines[first - 1].event, "end");
    EXPECT_EQ(lines[first].event, "start");
    EXPECT_EQ(lines[first].values("arg"), commandLine({"2", directory + "/result"}));
    EXPECT_EQ(lines.back().value("failure"), "TESSARY: CorelDRAW is not running\n");
}

TEST(Trace, AClosedStandardStreamIsNotTakenByTheTrace) {
    // A host may start the tool with standard output or error closed; the trace must not take
    // that number, or the tool's own output would land in the trace.
    for (const int closed : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        for (const std::string& answer : {relayAnswer("1"), std::string("wrong answer")}) {
            SCOPED_TRACE(std::to_string(closed) + " " + answer);
            const std::string directory = scratchDirectory();
            runWithTrace(corelDesktop(answer), {"1", directory + "/result"}, directory + "/trace", [&] { close(closed); });
            const std::optional<std::string> text = readFile(directory + "/trace");
            ASSERT_TRUE(text);
            // The result path or a failure line among the trace's lines would not parse.
            EXPECT_TRUE(parseTrace(*text)) << *text;
        }
    }
}

TEST(Trace, AKilledRunLeavesEveryLineBeforeTheKillWhole) {
    for (const int killedAt : {1, 2, 17, 40}) {
        SCOPED_TRACE(killedAt);
        const std::string directory = scratchDirectory();
        const Outcome outcome = runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/result"}, directory + "/trace",
                                             [&] { fake::beforeRequest(killedAt, [] { raise(SIGKILL); }); });
        EXPECT_EQ(outcome.status, 128 + SIGKILL);
        const std::vector<TraceLine> lines = readTrace(directory + "/trace");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().event, "start");
        EXPECT_NE(lines.back().event, "end");
        EXPECT_EQ(eventsOf(lines, {"get", "press"}).size(), static_cast<std::size_t>(killedAt - 1));
    }
}

TEST(Trace, RunsAppendingToOneFileNeverMixWithinALine) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/trace";
    // Long lines: the answer is read whole, so each run writes lines of over 100 KB.
    const std::string body(100000, 'x');
    constexpr int kRuns = 4;
    std::vector<pid_t> children;
    for (int i = 0; i < kRuns; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            const Outcome outcome = runWithTrace(corelDesktop(relayAnswer(std::to_string(i), body)),
                                                 {std::to_string(i), directory + "/result-" + std::to_string(i)}, path);
            _exit(outcome.status);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<TraceLine> lines = readTrace(path);
    std::map<long, std::vector<std::string>> eventsByRun;
    for (const TraceLine& line : lines) eventsByRun[line.pid].push_back(line.event);
    ASSERT_EQ(eventsByRun.size(), static_cast<std::size_t>(kRuns));
    for (const auto& [pid, events] : eventsByRun) {
        EXPECT_EQ(events.front(), "start");
        EXPECT_EQ(events.back(), "end");
    }
}

// ---- What each field records ---------------------------------------------------------------

// A FIFO gets no trace and never holds the run up: with no reader the run ends as usual (a run
// that blocked would be ended by the alarm, a signal), and a reader receives nothing.
TEST(Trace, AFifoNeverHoldsTheRunUpAndReceivesNothing) {
    const std::string directory = scratchDirectory();
    const std::string fifo = directory + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Outcome alone = runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/r1"}, fifo, [] { alarm(10); });
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(alone.err, "");
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const Outcome read = runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/r2"}, fifo, [] { alarm(10); });
    EXPECT_EQ(read.status, 0);
    char buffer[64];
    EXPECT_LE(::read(reader, buffer, sizeof buffer), 0);
    close(reader);
}

double millisecondsOf(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// `took` is how long each event itself lasted and `<ms>` when it began: a request made to take
// 50 ms shows it, the others do not, and no event begins before the one before it has ended.
TEST(Trace, TookIsEachEventsOwnDurationAndMsItsStart) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/trace";
    constexpr int kSlow = 20;  // the 20th request: a role read of the locate
    runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/result"}, path,
                 [] { fake::beforeRequest(kSlow, [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }); });
    const std::vector<TraceLine> lines = readTrace(path);
    ASSERT_GT(lines.size(), 30u);
    int requests = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TraceLine& line = lines[i];
        const bool request = line.event == "get" || line.event == "press" || line.event == "owner-at";
        if (request) ++requests;
        const auto took = line.value("took");
        if (took && request) {
            SCOPED_TRACE("request " + std::to_string(requests) + ": " + line.event);
            if (requests == kSlow) {
                EXPECT_GE(millisecondsOf(*took), 50.0);
            } else {
                EXPECT_LT(millisecondsOf(*took), 50.0);
            }
        }
        if (i + 1 < lines.size() && took) {
            EXPECT_LE(millisecondsOf(line.milliseconds) + millisecondsOf(*took),
                      millisecondsOf(lines[i + 1].milliseconds) + 0.002)
                << line.event << " then " << lines[i + 1].event;
        }
    }
}

// Every element reference that arrives gets a new number, greater than every number before it,
// even when the platform hands out an address that it freed before (the allocator reuses the
// addresses of the fake desktop's released references).
TEST(Trace, EveryArrivingElementGetsANewNumber) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/trace";
    runWithTrace(corelDesktop(relayAnswer("1")), {"1", directory + "/result"}, path);
    long highest = 0;
    int arrivals = 0;
    for (const TraceLine& line : readTrace(path)) {
        if (line.event != "get" && line.event != "application-element") continue;
        const std::string value = line.event == "get" ? line.value("value").value_or("") : line.value("element").value_or("");
        if (line.event == "get" && line.value("kind") != "list" && line.value("kind") != "element") continue;
        for (std::size_t at = value.find('#'); at != std::string::npos; at = value.find('#', at + 1)) {
            const long number = std::strtol(value.c_str() + at + 1, nullptr, 10);
            EXPECT_GT(number, highest) << line.event << " " << value;
            highest = std::max(highest, number);
            ++arrivals;
        }
    }
    EXPECT_GT(arrivals, 20);
}

// A value of a kind the tool never reads is written as `other`, and an action's code as the
// platform answered it: here a press that timed out and still closed the alert.
TEST(Trace, OtherValuesAndAPressThatTimedOutAreWrittenAsAnswered) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/trace";
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    desktop.script->okPressResult = platform::kCannotComplete;
    desktop.script->okPressActsAnyway = true;
    // The application's AXFrontmost (request 3) answers a number that is no yes or no.
    const Outcome outcome = runWithTrace(std::move(desktop), {"1", directory + "/result"}, path,
                                         [] { fake::answerRequest(3, fake::Number{2}); });
    EXPECT_EQ(outcome.status, 0);
    const std::vector<TraceLine> lines = readTrace(path);
    const std::vector<TraceLine> gets = eventsOf(lines, {"get"});
    ASSERT_GE(gets.size(), 3u);
    EXPECT_EQ(gets[2].value("attribute"), "AXFrontmost");
    EXPECT_EQ(gets[2].value("kind"), "other");
    EXPECT_EQ(gets[2].value("value"), std::nullopt);
    const std::vector<TraceLine> presses = eventsOf(lines, {"press"});
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ(presses[0].value("code"), "-25204");
}

// The activation's answer as the platform gave it, and every reading of a yes-or-no answer that
// came late, with the wait between two readings: here the row shows as selected 300 ms after its
// click, at the third reading.
TEST(Trace, TheActivationsAnswerAndEachReadingOfALateSelectionAreShown) {
    struct Case {
        const char* what;
        bool refuse;
        std::string allowed;
        std::vector<std::string> frontmost;  // the values of the AXFrontmost readings
        std::vector<std::string> selected;   // of the AXSelected readings
    };
    const Case cases[] = {
        {"allowed, selection late", false, "yes", {"yes"}, {"no", "no", "yes"}},
        {"refused", true, "no", std::vector<std::string>(21, "no"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string directory = scratchDirectory();
        fake::Desktop desktop = corelDesktop(relayAnswer("1"));
        desktop.refuseActivation = c.refuse;
        desktop.selectionShowsAfterMicroseconds = 300000;
        const Outcome outcome = runWithTrace(std::move(desktop), {"1", directory + "/result"}, directory + "/trace");
        EXPECT_EQ(outcome.status, c.refuse ? 1 : 0);
        const std::vector<TraceLine> lines = readTrace(directory + "/trace");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().value("version"), "5");
        const std::vector<TraceLine> activation = eventsOf(lines, {"activate"});
        ASSERT_EQ(activation.size(), 1u);
        EXPECT_EQ(activation[0].fields.size(), 3u);
        EXPECT_EQ(activation[0].value("allowed"), c.allowed);
        // Each reading, and between two readings a wait of 100 ms and nothing else.
        for (const auto& [attribute, values] : {std::pair{"AXFrontmost", c.frontmost}, std::pair{"AXSelected", c.selected}}) {
            std::vector<std::string> read;
            std::optional<std::size_t> last;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (lines[i].event != "get" || lines[i].value("attribute") != attribute) continue;
                EXPECT_EQ(lines[i].value("kind"), "boolean");
                read.push_back(lines[i].value("value").value_or("?"));
                if (last) {
                    EXPECT_EQ(i, *last + 2) << attribute;
                    EXPECT_EQ(lines[*last + 1].event, "sleep");
                    EXPECT_EQ(lines[*last + 1].value("us"), "100000");
                }
                last = i;
            }
            EXPECT_EQ(read, values) << attribute;
        }
    }
}

// The look's occupant and process, the lock's outcome and each key event's direction, as they
// were: a window of another process at the row, a row off the display, a platform that cannot
// tell, a lock that cannot be had, and the rename's Escape.
TEST(Trace, LooksLocksAndKeysAreWrittenAsTheyWere) {
    struct Case {
        const char* what;
        std::function<fake::Desktop()> desktop;
        std::vector<std::string> looks;  // occupant and pid of each owner-at line
        std::string lock;
        std::vector<std::string> keys;   // "down=" of each key event posted
    };
    const Case cases[] = {
        {"covered",
         [] {
             fake::Desktop d = corelDesktop(relayAnswer("1"));
             d.frontWindows = {{777, platform::Point{80, 140}, platform::Size{100, 40}}};
             return d;
         },
         {"process 777"}, "yes", {}},
        {"off the display",
         [] {
             fake::Desktop d = corelDesktop(relayAnswer("1"));
             d.display = platform::Size{100, 1080};
             return d;
         },
         {"nothing -"}, "yes", {}},
        {"unknown",
         [] {
             fake::Desktop d = corelDesktop(relayAnswer("1"));
             d.ownerUnknown = true;
             return d;
         },
         {"unknown -", "unknown -"}, "yes", {}},
        {"no lock",
         [] {
             fake::Desktop d = corelDesktop(relayAnswer("1"));
             d.lockFails = true;
             return d;
         },
         {"process 4242", "process 4242"}, "no", {}},
        {"rename", [] { return renamingDesktop(); }, {"process 4242", "process 4242"}, "yes", {"yes", "no"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string directory = scratchDirectory();
        const std::string path = directory + "/trace";
        runWithTrace(c.desktop(), {"1", directory + "/result"}, path);
        const std::vector<TraceLine> lines = readTrace(path);
        std::vector<std::string> looks;
        for (const TraceLine& line : eventsOf(lines, {"owner-at"})) {
            looks.push_back(line.value("occupant").value_or("?") + " " + line.value("pid").value_or("-"));
        }
        EXPECT_EQ(looks, c.looks);
        const std::vector<TraceLine> locks = eventsOf(lines, {"run-lock"});
        ASSERT_EQ(locks.size(), 1u);
        EXPECT_EQ(locks[0].value("held"), c.lock);
        std::vector<std::string> keys;
        for (const TraceLine& line : eventsOf(lines, {"post"})) {
            if (line.value("kind") == "key") keys.push_back(line.value("down").value_or("?"));
        }
        EXPECT_EQ(keys, c.keys);
    }
}

// The descriptors of this process that are open on the file at `path` (its device and inode),
// looked for among every number the process may use, up to 65536.
std::vector<int> descriptorsOn(const std::string& path) {
    std::vector<int> found;
    struct stat file {};
    if (stat(path.c_str(), &file) != 0) return found;
    const long most = sysconf(_SC_OPEN_MAX);
    const int end = most > 0 && most < 65536 ? static_cast<int>(most) : 65536;
    for (int fd = 0; fd < end; ++fd) {
        struct stat open {};
        if (fstat(fd, &open) == 0 && open.st_dev == file.st_dev && open.st_ino == file.st_ino) found.push_back(fd);
    }
    return found;
}

// The trace file is not handed on to a program that the run would start: each descriptor that
// the run holds on it is closed in the program (which tries to read from it: a shell's redirection
// from a closed descriptor fails). Read so, not from /proc, it holds on macOS as on Linux.
TEST(Trace, AProgramStartedDuringTheRunDoesNotHoldTheTrace) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/trace";
    const Outcome outcome = runInChild([&] {
        setenv("TESSARY_TRACE", path.c_str(), 1);
        const char* const argv[] = {"tessary"};
        trace::start(1, argv);
        std::string script;
        for (const int fd : descriptorsOn(path)) {
            const std::string number = std::to_string(fd);
            script += "if true 2>/dev/null <&" + number + "; then echo " + number + " open; else echo " + number + " closed; fi; ";
        }
        if (script.empty()) return 4;
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        return 3;
    });
    ASSERT_NE(outcome.status, 4) << "the run holds no descriptor on its trace: nothing to hand on";
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out, "");
    EXPECT_EQ(outcome.out.find("open"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("closed"), std::string::npos) << outcome.out;
    ASSERT_TRUE(readFile(path));
}

}  // namespace
