// tessary-doctor over the fake desktop: each precondition broken alone fails its own line and no
// other; the doctor changes nothing (no input, no activation, no press, no lock, no file but its
// trace); and its trace replays with tessary-replay.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>

#include "main/version.h"
#include "support/child_run.h"
#include "support/desktops.h"
#include "support/doctor_lines.h"
#include "tessary-doctor/doctor.h"

extern char** environ;

namespace {

using fake::node;
using platform::Point;
using platform::Size;

constexpr std::int64_t kOwnPid = 900;
constexpr std::int64_t kTerminalPid = 800;
constexpr std::int64_t kOtherPid = 777;

// A CorelDRAW ready for a run, in front, started from Terminal; a Safari that the cases may put
// in the way.
fake::Desktop readyDesktop() {
    fake::Desktop desktop = corelDesktop("");
    desktop.frontmost = kCorelPid;
    desktop.ownProcessId = kOwnPid;
    desktop.processes = {
        {kOwnPid, {kTerminalPid, "/usr/local/bin/tessary-doctor"}},
        {kTerminalPid, {1, "/System/Applications/Utilities/Terminal.app/Contents/MacOS/Terminal"}},
        {kOtherPid, {1, "/Applications/Safari.app/Contents/MacOS/Safari"}},
    };
    desktop.lock = {platform::LockState::free, -1, "/tmp/tessary-501.lock", ""};
    return desktop;
}

fake::Node rowAt(double y, fake::Attributes more = {}) {
    fake::Attributes attributes{{"AXPosition", Point{50, y}}, {"AXSize", Size{200, 20}}};
    for (auto& attribute : more) attributes.insert(attributes.begin(), std::move(attribute));
    return node("row", "AXRow", std::move(attributes),
                {node("name", "AXStaticText", {{"AXValue", std::string("RelayTransportProbe")}})});
}

fake::Desktop withInspectorRows(std::vector<fake::Node> rows) {
    fake::Desktop desktop = readyDesktop();
    desktop.applications.front().windows.clear();
    desktop.applications.front().windows.push_back(inspectorWindow(std::move(rows)));
    return desktop;
}

struct DoctorRun {
    Outcome outcome;
    std::vector<std::string> files;  // what the doctor's directory holds afterwards
    std::string trace;               // the trace file's path
};

// Runs the doctor in a child over `desktop`, with its working and temporary directory a fresh
// one and its trace there, then replays the trace with tessary-replay.
DoctorRun runDoctor(fake::Desktop desktop, const std::function<void()>& prepare = {},
                    std::vector<std::string> arguments = {}) {
    DoctorRun run;
    const std::string directory = scratchDirectory();
    run.trace = directory + "/doctor.trace";
    run.outcome = runInChild([&] {
        fake::install(std::move(desktop));
        if (chdir(directory.c_str()) != 0) return 99;
        setenv("TMPDIR", directory.c_str(), 1);
        setenv("TESSARY_TRACE", run.trace.c_str(), 1);
        if (prepare) prepare();
        std::vector<const char*> argv{"tessary-doctor"};
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        return doctor::runDoctor(static_cast<int>(argv.size() - 1), argv.data());
    });
    run.files = listDirectory(directory);
    return run;
}

// tessary-replay's verdict on a trace: its exit status and what it printed.
std::pair<int, std::string> replay(const std::string& trace, const std::string& page = "") {
    const std::string report = scratchDirectory() + "/replay";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, report.c_str(), O_WRONLY | O_APPEND, 0600);
    const char* copied = std::getenv("TESSARY_REPLAY_BINARY");
    std::string binary = copied != nullptr && *copied != '\0' ? copied : TESSARY_REPLAY;
    std::string path = trace;
    std::string html = "--html";
    std::string pagePath = page;
    char* argv[] = {binary.data(), path.data(), nullptr, nullptr, nullptr};
    if (!page.empty()) {
        argv[1] = html.data();
        argv[2] = pagePath.data();
        argv[3] = path.data();
    }
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(report).value_or("")};
}

const std::vector<std::string> kCorelDrawChecks = {"answering", "alert",     "inspector", "row-in-view",
                                                   "row-point", "run-point", "in-front",  "rename"};

TEST(Doctor, AReadyDesktopIsOkOnEveryLineInTheRunsOrder) {
    const DoctorRun run = runDoctor(readyDesktop());
    EXPECT_EQ(run.outcome.status, 0) << run.outcome.out;
    EXPECT_EQ(run.outcome.err, "");
    const std::string trace = run.trace;
    EXPECT_EQ(linesOf(run.outcome.out),
              (std::vector<std::string>{
                  "ok          permission: accessibility allowed; the system decides for Terminal.app (pid 800), the outermost "
                  "application among the parents, most likely; on macOS, to confirm, run log stream --predicate 'subsystem == "
                  "\"com.apple.TCC\"' during a run: its request names the responsible process",
                  "ok          input: posting events allowed",
                  "ok          signature: Developer ID of team ABCDE12345, identifier com.tessary.tessary: an Accessibility "
                  "grant survives an update signed the same way; for now macOS asks about Terminal.app, whose grant is its own",
                  "ok          running: 1 instance; a run binds pid 4242",
                  "ok          answering: first answer after 0.0 ms",
                  "ok          alert: no alert open",
                  "ok          inspector: found its window, its script list and the row of RelayTransportProbe",
                  "ok          row-in-view: the row's click point 110,160, the list's view 50,120 240x300: inside",
                  "ok          row-point: at the row's click point 110,160: CorelDRAW",
                  "ok          run-point: at the Run point 66,486: CorelDRAW",
                  "ok          in-front: CorelDRAW is in front",
                  "ok          rename: no rename open in the row",
                  "ok          lock: free (/tmp/tessary-501.lock)",
                  "ok          trace: a run appends its trace to " + trace,
              }));
    EXPECT_EQ(run.outcome.liveElements, 0);
}

// Each precondition broken alone: its line fails (or, for what is information only, cannot
// tell), the lines that cannot be asked without it cannot tell, and every other line is ok.
TEST(Doctor, EachPreconditionBrokenAloneFailsExactlyItsOwnLine) {
    struct Case {
        const char* what;
        std::function<fake::Desktop()> desktop;
        std::function<void()> prepare;
        std::map<std::string, std::string> notOk;  // name -> verdict; every other line is ok
        std::string line;                          // the line of the broken precondition, whole
    };
    const auto alertOpen = [] {
        fake::Desktop desktop = readyDesktop();
        desktop.applications.front().windows.insert(desktop.applications.front().windows.begin(),
                                                    alertWindow("alert", "TALVO_RELAY_BEGIN_7\nleft over"));
        return desktop;
    };
    // An alert's text of `length` characters: the relay's begin marker, then digits.
    const auto alertOf = [](std::size_t length) {
        return [length] {
            std::string text = "TALVO_RELAY_BEGIN_";
            while (text.size() < length) text.push_back(static_cast<char>('0' + text.size() % 10));
            fake::Desktop desktop = readyDesktop();
            desktop.applications.front().windows.insert(desktop.applications.front().windows.begin(),
                                                        alertWindow("alert", text));
            return desktop;
        };
    };
    const Case cases[] = {
        {"no accessibility permission",
         [] { auto d = readyDesktop(); d.trusted = false; return d; }, {},
         {{"permission", "fail"}},
         "fail        permission: accessibility not allowed; the system decides for Terminal.app (pid 800), the outermost "
         "application among the parents, most likely; on macOS, to confirm, run log stream --predicate 'subsystem == "
         "\"com.apple.TCC\"' during a run: its request names the responsible process -- what to do: allow Terminal.app "
         "in System Settings > Privacy & Security > Accessibility; if it shows as allowed already, remove its entry and add "
         "it again"},
        {"no event posting",
         [] { auto d = readyDesktop(); d.mayPostEvents = false; return d; }, {},
         {{"input", "fail"}},
         "fail        input: posting events not allowed -- what to do: allow Terminal.app in System Settings > Privacy & "
         "Security > Accessibility; if it shows as allowed already, remove its entry and add it again"},
        {"CorelDRAW not running",
         [] { auto d = readyDesktop(); d.applications.clear(); return d; }, {},
         {{"running", "fail"}, {"answering", "cannot tell"}, {"alert", "cannot tell"}, {"inspector", "cannot tell"},
          {"row-in-view", "cannot tell"}, {"row-point", "cannot tell"}, {"run-point", "cannot tell"},
          {"in-front", "cannot tell"}, {"rename", "cannot tell"}},
         "fail        running: CorelDRAW is not running -- what to do: start CorelDRAW 2022"},
        {"CorelDRAW not answering",
         [] {
             auto d = readyDesktop();
             d.applications.front().attributes = {{"AXWindows", fake::Failing{platform::kCannotComplete, {}}}};
             return d;
         },
         {},
         {{"answering", "fail"}, {"alert", "cannot tell"}, {"inspector", "cannot tell"}, {"row-in-view", "cannot tell"},
          {"row-point", "cannot tell"}, {"run-point", "cannot tell"}, {"in-front", "cannot tell"}, {"rename", "cannot tell"}},
         "fail        answering: CorelDRAW did not answer its window list (code -25204) after 0.0 ms -- what to do: wait "
         "until CorelDRAW is idle and close its dialogs, or restart it"},
        {"no accessibility permission at the window list",
         [] {
             auto d = readyDesktop();
             d.applications.front().attributes = {{"AXWindows", fake::Failing{platform::kApiDisabled, {}}}};
             return d;
         },
         {},
         {{"answering", "cannot tell"}, {"alert", "cannot tell"}, {"inspector", "cannot tell"},
          {"row-in-view", "cannot tell"}, {"row-point", "cannot tell"}, {"run-point", "cannot tell"},
          {"in-front", "cannot tell"}, {"rename", "cannot tell"}},
         "cannot tell answering: no accessibility permission (code -25211)"},
        {"an alert open", alertOpen, {},
         {{"alert", "fail"}},
         "fail        alert: an alert is open: \"警告\" \"TALVO_RELAY_BEGIN_7\\nleft over\" -- what to do: close the alert "
         "in CorelDRAW (its OK button)"},
        {"an alert whose text is as long as is shown", alertOf(60), {},
         {{"alert", "fail"}},
         "fail        alert: an alert is open: \"警告\" \"TALVO_RELAY_BEGIN_890123456789012345678901234567890123456789\" -- "
         "what to do: close the alert in CorelDRAW (its OK button)"},
        {"an alert whose text is longer than is shown", alertOf(95), {},
         {{"alert", "fail"}},
         "fail        alert: an alert is open: \"警告\" \"TALVO_RELAY_BEGIN_890123456789012345678901234567890123456789\" ... "
         "-- what to do: close the alert in CorelDRAW (its OK button)"},
        {"no relay script row",
         [] {
             std::vector<fake::Node> rows;
             rows.push_back(scriptRow("row-other", "OtherScript", 130));
             return withInspectorRows(std::move(rows));
         },
         {},
         {{"inspector", "fail"}, {"row-in-view", "cannot tell"}, {"row-point", "cannot tell"}, {"run-point", "cannot tell"},
          {"rename", "cannot tell"}},
         "fail        inspector: RelayTransportProbe is not visible in the Scripts inspector -- what to do: open the "
         "Scripts inspector in CorelDRAW and show RelayTransportProbe in its list"},
        {"the row out of view",
         [] {
             std::vector<fake::Node> rows;
             rows.push_back(rowAt(430));
             return withInspectorRows(std::move(rows));
         },
         {},
         {{"row-in-view", "fail"}},
         "fail        row-in-view: the row's click point 110,440, the list's view 50,120 240x300: outside -- what to do: "
         "scroll the Scripts inspector's list until RelayTransportProbe shows whole"},
        {"the row's click point on the list's bottom edge",
         [] {
             std::vector<fake::Node> rows;
             rows.push_back(rowAt(410));
             return withInspectorRows(std::move(rows));
         },
         {},
         {{"row-in-view", "fail"}},
         "fail        row-in-view: the row's click point 110,420, the list's view 50,120 240x300: outside -- what to do: "
         "scroll the Scripts inspector's list until RelayTransportProbe shows whole"},
        {"the row's position unanswered",
         [] {
             std::vector<fake::Node> rows;
             rows.push_back(rowAt(150, {{"AXPosition", fake::Failing{platform::kCannotComplete, {}}}}));
             return withInspectorRows(std::move(rows));
         },
         {},
         {{"row-in-view", "fail"}, {"row-point", "cannot tell"}, {"run-point", "cannot tell"}},
         "fail        row-in-view: cannot locate the script row and Run button (a position or size has no answer) -- what "
         "to do: wait until CorelDRAW is idle, or restart it"},
        {"another window over the row",
         [] { auto d = readyDesktop(); d.frontWindows = {{kOtherPid, {100, 150}, {50, 20}}}; return d; }, {},
         {{"row-point", "fail"}},
         "fail        row-point: at the row's click point 110,160: a window of Safari (pid 777) lies there -- what to do: "
         "move the window of Safari (pid 777) off the Scripts inspector"},
        {"another window over Run",
         [] { auto d = readyDesktop(); d.frontWindows = {{kOtherPid, {60, 480}, {20, 20}}}; return d; }, {},
         {{"run-point", "fail"}},
         "fail        run-point: at the Run point 66,486: a window of Safari (pid 777) lies there -- what to do: move the "
         "window of Safari (pid 777) off the Scripts inspector"},
        {"the Run point off the display",
         [] { auto d = readyDesktop(); d.display = {300, 480}; return d; }, {},
         {{"run-point", "fail"}},
         "fail        run-point: at the Run point 66,486: no window lies there -- what to do: move the Scripts inspector "
         "onto the screen, whole"},
        {"the looks cannot tell",
         [] { auto d = readyDesktop(); d.ownerUnknown = true; return d; }, {},
         {{"row-point", "cannot tell"}, {"run-point", "cannot tell"}},
         "cannot tell row-point: at the row's click point 110,160: the platform cannot tell what lies there (a run clicks "
         "all the same)"},
        {"neither CorelDRAW nor the starting application in front",
         [] { auto d = readyDesktop(); d.frontmost = kOtherPid; return d; }, {},
         {{"in-front", "cannot tell"}},
         "cannot tell in-front: CorelDRAW is not in front now, nor is the application that starts the run, Terminal.app "
         "(pid 800) (in front: Safari (pid 777)): macOS may refuse to bring CorelDRAW to the front from the background"},
        {"the lock unusable",
         [] {
             auto d = readyDesktop();
             d.lock = {platform::LockState::unusable, -1, "/tmp/tessary-501.lock", "it is a symbolic link"};
             return d;
         },
         {},
         {{"lock", "fail"}},
         "fail        lock: unusable: /tmp/tessary-501.lock: it is a symbolic link; a run would go on without it, "
         "unserialized -- what to do: remove /tmp/tessary-501.lock (a run makes it again, for you alone)"},
        {"the lock's state unknown",
         [] {
             auto d = readyDesktop();
             d.lock = {platform::LockState::unknown, -1, "/tmp/tessary-501.lock", "/proc/locks cannot be read"};
             return d;
         },
         {},
         {{"lock", "cannot tell"}},
         "cannot tell lock: the system does not say whether it is held (/tmp/tessary-501.lock: /proc/locks cannot be "
         "read)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DoctorRun run = runDoctor(c.desktop(), c.prepare);
        std::map<std::string, std::string> expected;
        for (const std::string_view name : doctor::kCheckNames) expected[std::string(name)] = "ok";
        for (const auto& [name, verdict] : c.notOk) expected[name] = verdict;
        EXPECT_EQ(verdicts(run.outcome.out), expected) << run.outcome.out;
        EXPECT_EQ(lineNamed(run.outcome.out, c.line.substr(12, c.line.find(": ") - 12)), c.line);
        bool fails = false;
        for (const auto& [name, verdict] : c.notOk) fails = fails || verdict == "fail";
        EXPECT_EQ(run.outcome.status, fails ? 1 : 0);
        EXPECT_EQ(run.outcome.err, "");
        EXPECT_EQ(run.outcome.liveElements, 0);
        const auto [replayStatus, replayed] = replay(run.trace);
        EXPECT_EQ(replayStatus, 0) << replayed;
    }
}

// What is information only keeps its line ok: a busy CorelDRAW, CorelDRAW behind the starting
// application, two instances, a rename open, a lock held by a running run.
TEST(Doctor, WhatARunGetsPastIsSaidOnAnOkLine) {
    struct Case {
        const char* what;
        std::function<fake::Desktop()> desktop;
        std::function<void()> prepare;
        std::string line;
    };
    const Case cases[] = {
        {"a busy CorelDRAW", readyDesktop, [] { fake::beforeRequest(1, [] { platform::sleepMicroseconds(1500000); }); },
         "ok          answering: first answer after 1500.0 ms: busy"},
        {"an answer after exactly the busy time", readyDesktop,
         [] { fake::beforeRequest(1, [] { platform::sleepMicroseconds(1000000); }); },
         "ok          answering: first answer after 1000.0 ms"},
        {"an answer just after the busy time", readyDesktop,
         [] { fake::beforeRequest(1, [] { platform::sleepMicroseconds(1000100); }); },
         "ok          answering: first answer after 1000.1 ms: busy"},
        {"the doctor itself in front",
         [] { auto d = readyDesktop(); d.frontmost = kOwnPid; return d; }, {},
         "ok          in-front: CorelDRAW is not in front now; the application that starts the run, Terminal.app (pid 800), "
         "is: a run brings CorelDRAW to the front"},
        {"CorelDRAW not saying whether it is in front, the starting application in front",
         [] {
             auto d = readyDesktop();
             d.frontmost = kTerminalPid;
             d.applications.front().attributes = {{"AXFrontmost", fake::Failing{platform::kCannotComplete, {}}}};
             return d;
         },
         {},
         "ok          in-front: CorelDRAW does not say whether it is in front; the application that starts the run, "
         "Terminal.app (pid 800), is: a run brings CorelDRAW to the front"},
        {"the starting application in front",
         [] { auto d = readyDesktop(); d.frontmost = kTerminalPid; return d; }, {},
         "ok          in-front: CorelDRAW is not in front now; the application that starts the run, Terminal.app (pid 800), "
         "is: a run brings CorelDRAW to the front"},
        {"two instances",
         [] {
             auto d = readyDesktop();
             d.applications.push_back({kCorelBundle, 4343, {}, {}});
             return d;
         },
         {}, "ok          running: 2 instances; a run binds pid 4242"},
        {"a rename open",
         [] {
             std::vector<fake::Node> rows;
             rows.push_back(scriptRow("row", "RelayTransportProbe", 150, {node("rename", "AXTextField")}));
             return withInspectorRows(std::move(rows));
         },
         {}, "ok          rename: a rename is open in the row: a run presses Escape first"},
        {"the lock held",
         [] {
             auto d = readyDesktop();
             d.lock = {platform::LockState::held, kOtherPid, "/tmp/tessary-501.lock", ""};
             return d;
         },
         {},
         "ok          lock: held by a running run (Safari (pid 777), /tmp/tessary-501.lock): a run started now waits for "
         "it"},
        {"the lock held by a process the system does not name",
         [] {
             auto d = readyDesktop();
             d.lock = {platform::LockState::held, -1, "/tmp/tessary-501.lock", ""};
             return d;
         },
         {},
         "ok          lock: held by a running run (the system does not say which process, /tmp/tessary-501.lock): a run "
         "started now waits for it"},
        {"the lock held by a process that has no entry in the process table",
         [] {
             auto d = readyDesktop();
             d.lock = {platform::LockState::held, 555, "/tmp/tessary-501.lock", ""};
             return d;
         },
         {},
         "ok          lock: held by a running run (process 555, /tmp/tessary-501.lock): a run started now waits for it"},
        {"the lock free, its file not made yet",
         [] {
             auto d = readyDesktop();
             d.lock = {platform::LockState::free, -1, "/tmp/tessary-501.lock", "not made yet"};
             return d;
         },
         {}, "ok          lock: free (/tmp/tessary-501.lock, not made yet)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DoctorRun run = runDoctor(c.desktop(), c.prepare);
        EXPECT_EQ(run.outcome.status, 0) << run.outcome.out;
        const std::string name = c.line.substr(12, c.line.find(": ") - 12);
        EXPECT_EQ(lineNamed(run.outcome.out, name), c.line);
        for (const auto& [check, verdict] : verdicts(run.outcome.out)) EXPECT_EQ(verdict, "ok") << check;
    }
}

// The doctor changes nothing: whatever it finds, the fake desktop records no event created or
// posted, no activation, no press, no lock taken and no sleep, and the doctor's directory (its
// working and temporary directory) holds its trace and nothing else.
TEST(Doctor, ChangesNothing) {
    const std::vector<std::function<fake::Desktop()>> desktops = {
        readyDesktop,
        [] {
            fake::Desktop d = readyDesktop();
            d.applications.front().windows.insert(d.applications.front().windows.begin(), alertWindow("alert", "hello"));
            d.frontmost = kOtherPid;
            return d;
        },
        // The starting application in front: a run would ask for CorelDRAW's activation, the
        // doctor only says so.
        [] {
            fake::Desktop d = readyDesktop();
            d.frontmost = kTerminalPid;
            return d;
        },
        [] {
            std::vector<fake::Node> rows;
            rows.push_back(scriptRow("row", "RelayTransportProbe", 430, {node("rename", "AXTextField")}));
            fake::Desktop d = withInspectorRows(std::move(rows));
            d.focus = "rename";
            d.frontmost = 0;
            d.lock = {platform::LockState::held, kOtherPid, "/tmp/tessary-501.lock", ""};
            return d;
        },
    };
    for (std::size_t i = 0; i < desktops.size(); ++i) {
        SCOPED_TRACE("desktop " + std::to_string(i));
        const DoctorRun run = runDoctor(desktops[i]());
        EXPECT_EQ(recordOf(run.outcome, {"create", "post", "activate", "press", "lock", "sleep", "release"}),
                  std::vector<std::string>{});
        EXPECT_EQ(recordOf(run.outcome, {"lock-test"}), std::vector<std::string>{"lock-test"});
        EXPECT_EQ(run.files, std::vector<std::string>{"doctor.trace"});
        EXPECT_EQ(run.outcome.clock, 0) << "the doctor waited";
        EXPECT_EQ(run.outcome.liveElements, 0);
        const auto [replayStatus, replayed] = replay(run.trace);
        EXPECT_EQ(replayStatus, 0) << replayed;
        EXPECT_NE(replayed.find("tessary-doctor as recorded"), std::string::npos) << replayed;
    }
}

// The trace replays through the doctor's own code: a trace whose answers were changed is left
// where the doctor asks something else, and the replayed report follows the recorded answers.
TEST(Doctor, ItsTraceReplaysAndLeavesAChangedRecordingWhereItDiverges) {
    const DoctorRun run = runDoctor(readyDesktop());
    const std::string trace = readFile(run.trace).value_or("");
    ASSERT_NE(trace.find(" start version=5 build=\"" + tessary::build() + "\" tool=doctor argc=1 arg=\"tessary-doctor\"\n"),
              std::string::npos)
        << trace;
    // The row's click point moved 300 points down: the replayed doctor looks elsewhere.
    std::string changed = trace;
    const std::string from = "kind=point value=50,150";
    ASSERT_NE(changed.find(from), std::string::npos);
    changed.replace(changed.find(from), from.size(), "kind=point value=50,450");
    const std::string path = scratchDirectory() + "/changed.trace";
    {
        std::ofstream file(path, std::ios::binary);
        file << changed;
    }
    // Drawn as a page, with the replay's verdict on it.
    const std::string page = scratchDirectory() + "/page.html";
    const auto [drawn, drawnReport] = replay(run.trace, page);
    EXPECT_EQ(drawn, 0) << drawnReport;
    EXPECT_NE(readFile(page).value_or("").find("tessary-doctor as recorded"), std::string::npos);

    const auto [status, report] = replay(path);
    EXPECT_EQ(status, 1) << report;
    EXPECT_NE(report.find("asked owner-at point=110,460"), std::string::npos) << report;
}

TEST(Doctor, UsageAndHelp) {
    const DoctorRun help = runDoctor(readyDesktop(), {}, {"--help"});
    EXPECT_EQ(help.outcome.status, 0);
    EXPECT_TRUE(help.outcome.out.starts_with("usage: tessary-doctor [--help]\n")) << help.outcome.out;
    EXPECT_EQ(help.outcome.err, "");
    EXPECT_EQ(help.outcome.record, std::vector<std::string>{});
    EXPECT_EQ(help.files, std::vector<std::string>{}) << "--help writes no trace, TESSARY_TRACE set or not";
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"42"}, {"--help", "x"}, {"--quiet"}, {""}}) {
        const DoctorRun wrong = runDoctor(readyDesktop(), {}, arguments);
        EXPECT_EQ(wrong.outcome.status, 2);
        EXPECT_EQ(wrong.outcome.out, "");
        EXPECT_EQ(wrong.outcome.err, "tessary-doctor: usage: tessary-doctor [--help]\n");
        EXPECT_EQ(wrong.outcome.record, std::vector<std::string>{}) << "a usage error asks nothing";
        EXPECT_EQ(wrong.files, std::vector<std::string>{}) << "a usage error writes no trace";
    }
}

// The application that macOS holds responsible is the outermost one among the parents, looked
// for up the whole chain; without one the doctor names its own parent. Its name shows in the
// in-front line, which also counts any of the parents in front as the starter in front.
TEST(Doctor, TheStarterIsTheOutermostApplicationAmongAllTheParents) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::int64_t, platform::ProcessEntry>> processes;
        std::int64_t frontmost;
        std::string line;
    };
    const platform::ProcessEntry shell{kTerminalPid, "/bin/zsh"};
    const platform::ProcessEntry terminal{1, "/System/Applications/Utilities/Terminal.app/Contents/MacOS/Terminal"};
    const Case cases[] = {
        {"an application two levels up",
         {{kOwnPid, {850, "/usr/local/bin/tessary-doctor"}}, {850, shell}, {kTerminalPid, terminal}},
         kOtherPid,
         "cannot tell in-front: CorelDRAW is not in front now, nor is the application that starts the run, Terminal.app "
         "(pid 800) (in front: Safari (pid 777)): macOS may refuse to bring CorelDRAW to the front from the background"},
        {"two applications among the parents",
         {{kOwnPid, {860, "/usr/local/bin/tessary-doctor"}},
          {860, {850, "/Applications/iTerm.app/Contents/MacOS/iTerm2"}},
          {850, {kTerminalPid, "/bin/zsh"}},
          {kTerminalPid, terminal}},
         kOtherPid,
         "cannot tell in-front: CorelDRAW is not in front now, nor is the application that starts the run, Terminal.app "
         "(pid 800) (in front: Safari (pid 777)): macOS may refuse to bring CorelDRAW to the front from the background"},
        {"the nearer application in front",
         {{kOwnPid, {860, "/usr/local/bin/tessary-doctor"}},
          {860, {kTerminalPid, "/Applications/iTerm.app/Contents/MacOS/iTerm2"}},
          {kTerminalPid, terminal}},
         860,
         "ok          in-front: CorelDRAW is not in front now; the application that starts the run, Terminal.app (pid 800), "
         "is: a run brings CorelDRAW to the front"},
        {"no application among the parents",
         {{kOwnPid, {850, "/usr/local/bin/tessary-doctor"}}, {850, {1, "/usr/sbin/sshd"}}},
         kOtherPid,
         "cannot tell in-front: CorelDRAW is not in front now, nor is the application that starts the run, this program "
         "itself (no application among its parents; parent /usr/sbin/sshd, pid 850) (in front: Safari (pid 777)): macOS "
         "may refuse to bring CorelDRAW to the front from the background"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = readyDesktop();
        desktop.processes = c.processes;
        desktop.processes.push_back({kOtherPid, {1, "/Applications/Safari.app/Contents/MacOS/Safari"}});
        desktop.frontmost = c.frontmost;
        const DoctorRun run = runDoctor(std::move(desktop));
        EXPECT_EQ(lineNamed(run.outcome.out, "in-front"), c.line) << run.outcome.out;
    }
}

// Where a run would write no trace, the trace line fails and says why, and the doctor, which
// opens its trace as a run does, writes none either.
TEST(Doctor, ATraceThatARunCannotWriteFailsItsLine) {
    struct Case {
        const char* what;
        std::string trace;
        std::string line;
    };
    const Case cases[] = {
        {"a folder that does not exist", "/nonexistent-tessary-folder/doctor.trace",
         "fail        trace: a run cannot write /nonexistent-tessary-folder/doctor.trace (no such directory, a symbolic "
         "link, not a regular file, or not yours) -- what to do: set TESSARY_TRACE to a file of yours in a directory you "
         "can write"},
        {"a relative path", "doctor.trace",
         "fail        trace: TESSARY_TRACE=doctor.trace is no absolute path: a run writes no trace -- what to do: set "
         "TESSARY_TRACE to an absolute path"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string trace = c.trace;
        const DoctorRun run = runDoctor(readyDesktop(), [&] { setenv("TESSARY_TRACE", trace.c_str(), 1); });
        EXPECT_EQ(run.outcome.status, 1) << run.outcome.out;
        EXPECT_EQ(lineNamed(run.outcome.out, "trace"), c.line) << run.outcome.out;
        std::map<std::string, std::string> expected;
        for (const std::string_view name : doctor::kCheckNames) expected[std::string(name)] = "ok";
        expected["trace"] = "fail";
        EXPECT_EQ(verdicts(run.outcome.out), expected) << run.outcome.out;
        EXPECT_EQ(run.files, std::vector<std::string>{}) << "the doctor, working in this directory, wrote a trace";
    }
}

// A lock file not made yet is still not made after the doctor, and the next doctor says so again.
TEST(Doctor, ALockFileNotMadeYetIsNotMadeByTheDoctor) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/tessary-501.lock";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        fake::Desktop desktop = readyDesktop();
        desktop.lock = {platform::LockState::free, -1, path, "not made yet"};
        const DoctorRun doctor = runDoctor(std::move(desktop));
        EXPECT_EQ(lineNamed(doctor.outcome.out, "lock"), "ok          lock: free (" + path + ", not made yet)");
        EXPECT_EQ(recordOf(doctor.outcome, {"lock"}), std::vector<std::string>{});
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{});
    }
}

// The trace line of the lock's test holds what the test found, each field its own: the path, the
// state, the holder and the reason.
TEST(Doctor, TheLockTestsTraceLineHoldsWhatTheTestFound) {
    struct Case {
        platform::LockTest lock;
        std::string line;  // from the event's name up to its time
    };
    const Case cases[] = {
        {{platform::LockState::free, -1, "/tmp/tessary-501.lock", "not made yet"},
         "lock-test path=\"/tmp/tessary-501.lock\" state=free holder=-1 reason=\"not made yet\""},
        {{platform::LockState::held, kOtherPid, "/tmp/tessary-501.lock", ""},
         "lock-test path=\"/tmp/tessary-501.lock\" state=held holder=777 reason=\"\""},
        {{platform::LockState::unusable, -1, "/tmp/tessary-501.lock", "it is a symbolic link"},
         "lock-test path=\"/tmp/tessary-501.lock\" state=unusable holder=-1 reason=\"it is a symbolic link\""},
        {{platform::LockState::unknown, -1, "/tmp/tessary-501.lock", "/proc/locks cannot be read"},
         "lock-test path=\"/tmp/tessary-501.lock\" state=unknown holder=-1 reason=\"/proc/locks cannot be read\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        fake::Desktop desktop = readyDesktop();
        desktop.lock = c.lock;
        const DoctorRun run = runDoctor(std::move(desktop));
        std::vector<std::string> found;
        for (const std::string& line : linesOf(readFile(run.trace).value_or(""))) {
            const std::size_t event = line.find(" lock-test ");
            if (event == std::string::npos) continue;
            found.push_back(line.substr(event + 1, line.rfind(" took=") - event - 1));
        }
        EXPECT_EQ(found, std::vector<std::string>{c.line});
    }
}

// --version prints the doctor's name, version and commit, asks nothing and writes no trace.
TEST(Doctor, Version) {
    const DoctorRun version = runDoctor(readyDesktop(), {}, {"--version"});
    EXPECT_EQ(version.outcome.status, 0);
    EXPECT_EQ(version.outcome.out, "tessary-doctor " + tessary::build() + "\n");
    EXPECT_EQ(version.outcome.err, "");
    EXPECT_EQ(version.outcome.record, std::vector<std::string>{});
    EXPECT_EQ(version.files, std::vector<std::string>{});
}

// The signature line names what macOS ties a grant to and whether it survives an update; it is
// information, never a failure. Started by no application, the doctor says macOS asks about
// tessary itself, and a missing grant's remedy names the identifier to reset.
TEST(Doctor, TheSignatureAndWhomMacosAsks) {
    using platform::SignatureKind;
    const std::string id = "com.tessary.tessary";
    struct Case {
        const char* what;
        platform::CodeSignature signature;
        std::string verdict;
        std::string found;  // the signature line after its name
    };
    const Case cases[] = {
        {"Developer ID", {SignatureKind::certificate, id, "ABCDE12345"}, "ok",
         "Developer ID of team ABCDE12345, identifier " + id + ": an Accessibility grant survives an update signed the same way"},
        {"self-signed", {SignatureKind::certificate, "org.example.tessary", ""}, "ok",
         "a certificate without a team (self-signed), identifier org.example.tessary: an Accessibility grant survives a "
         "rebuild signed with the same certificate"},
        {"ad-hoc", {SignatureKind::adHoc, id, ""}, "ok",
         "ad-hoc, identifier " + id + ": macOS ties an Accessibility grant to this build alone, so it does not survive an "
         "update (System Settings still shows it as on)"},
        {"unsigned", {SignatureKind::unsignedCode, "", ""}, "ok",
         "unsigned: an Accessibility grant does not survive an update"},
        {"the platform does not say", {}, "cannot tell",
         "the platform does not say how this program is signed (it ties no grant to a signature)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool fromTerminal : {true, false}) {
            SCOPED_TRACE(fromTerminal ? "started from Terminal" : "started by a service");
            fake::Desktop desktop = readyDesktop();
            desktop.signature = c.signature;
            desktop.trusted = false;
            if (!fromTerminal) desktop.processes[0].second.parentId = 1;
            const DoctorRun run = runDoctor(std::move(desktop));
            EXPECT_EQ(verdicts(run.outcome.out).at("signature"), c.verdict);
            const std::string counts = fromTerminal && c.signature.kind != SignatureKind::unknown
                                           ? "; for now macOS asks about Terminal.app, whose grant is its own"
                                           : "";
            EXPECT_EQ(lineNamed(run.outcome.out, "signature").substr(12), "signature: " + c.found + counts);
            const std::string permission = lineNamed(run.outcome.out, "permission");
            const std::string remedy = permission.substr(permission.find(" -- what to do: ") + 16);
            if (fromTerminal) {
                EXPECT_NE(permission.find("decides for Terminal.app (pid 800), the outermost application among the parents, "
                                          "most likely"),
                          std::string::npos)
                    << permission;
                EXPECT_EQ(remedy, "allow Terminal.app in System Settings > Privacy & Security > Accessibility; if it shows "
                                  "as allowed already, remove its entry and add it again");
            } else {
                EXPECT_NE(permission.find("decides for tessary (/usr/local/bin/tessary-doctor) itself, no application being "
                                          "among its parents, most likely"),
                          std::string::npos)
                    << permission;
                // The signature's identifier, else the build's.
                const std::string reset = c.signature.identifier.empty() ? std::string(tessary::identifier())
                                                                          : c.signature.identifier;
                EXPECT_EQ(remedy, "allow tessary (/usr/local/bin/tessary-doctor) in System Settings > Privacy & Security > "
                                  "Accessibility; if it shows as allowed already, remove its entry and add it again, or "
                                  "run tccutil reset Accessibility " + reset + " and allow it again");
            }
            EXPECT_NE(permission.find("to confirm, run log stream --predicate 'subsystem == \"com.apple.TCC\"' during a "
                                      "run: its request names the responsible process"),
                      std::string::npos)
                << permission;
            EXPECT_EQ(run.outcome.status, 1) << "the permission fails, not the signature";
        }
    }
}

}  // namespace
