// The real tessary-doctor binary against the CorelDRAW stand-in, inside a private desktop
// (scripts/headless): for each stand-in option that breaks a run, the one line that fails; the
// stand-in sees nothing happen (no click, no selection, no alert closed); the doctor's trace
// replays; and hosts that close a standard descriptor or give no display get the same lines, no
// word of a library, within a bound.
#include "process.h"
#include "stall.h"
#include "support/doctor_lines.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// Two request time-outs and slack for a loaded machine: the doctor waits for nothing else.
constexpr auto kBound = 20s;

// The lines of a ready stand-in: every one ok but "in-front", which the private desktop (no
// window manager, no application in front) cannot tell, and "signature".
std::map<std::string, std::string> readyVerdicts() {
    std::map<std::string, std::string> expected;
    for (const char* name : {"permission", "input", "running", "answering", "alert", "inspector", "row-in-view",
                             "row-point", "run-point", "rename", "lock", "trace"}) {
        expected[name] = "ok";
    }
    expected["in-front"] = "cannot tell";
    // Linux ties no permission to a code signature: the platform does not say.
    expected["signature"] = "cannot tell";
    return expected;
}

class Doctor : public ::testing::Test {
protected:
    void SetUp() override {
        directory = std::filesystem::temp_directory_path() / ("tessary-doctor-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    // The doctor, its lock looked for and its trace written in the test's own directory.
    standin::ProcessResult doctor(std::vector<std::string> environment = {}) {
        std::filesystem::remove(directory + "/trace");
        environment.push_back("TMPDIR=" + directory);
        environment.push_back("TESSARY_TRACE=" + directory + "/trace");
        return standin::runProcess({TESSARY_DOCTOR_BINARY}, environment);
    }
    std::string directory;
};

// The rectangle of one of the stand-in's widgets, as "X Y WIDTH HEIGHT".
std::string rectangleOf(const standin::StandIn& standIn, const std::string& widget) {
    std::ifstream stream(standIn.geometryFile);
    std::string name;
    int x = 0, y = 0, width = 0, height = 0;
    while (stream >> name >> x >> y >> width >> height) {
        if (name == widget) return std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(width) + " " +
                                   std::to_string(height);
    }
    return "";
}

TEST_F(Doctor, EachBreakingOptionOfTheStandInFailsItsOwnLineAndNothingIsClicked) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string cover;  // a widget that another process's window covers, or ""
        std::map<std::string, std::string> changed;
        std::string failing;  // the check whose line is compared
        std::string prefix;   // how that line begins
    };
    const Case cases[] = {
        {"ready", {}, "", {}, "rename", "ok          rename: no rename open in the row"},
        {"an alert open from the start", {"--alert-at-start", "TALVO_RELAY_BEGIN_old\nleft over"}, "",
         {{"alert", "fail"}}, "alert",
         "fail        alert: an alert is open: \"警告\" \"TALVO_RELAY_BEGIN_old\\nleft over\" -- what to do: close the alert"},
        {"no relay script", {"--no-probe"}, "",
         {{"inspector", "fail"}, {"row-in-view", "cannot tell"}, {"row-point", "cannot tell"},
          {"run-point", "cannot tell"}, {"rename", "cannot tell"}},
         "inspector", "fail        inspector: RelayTransportProbe is not visible in the Scripts inspector -- what to do: "},
        {"the row scrolled half out", {"--probe-scrolled-half-out"}, "", {{"row-in-view", "fail"}}, "row-in-view",
         "fail        row-in-view: the row's click point "},
        {"another window over the row", {}, "row", {{"row-point", "fail"}}, "row-point",
         "fail        row-point: at the row's click point "},
        {"another window over Run", {}, "run", {{"run-point", "fail"}}, "run-point",
         "fail        run-point: at the Run point "},
        {"a rename open (a run presses Escape)", {"--rename"}, "", {}, "rename",
         "ok          rename: a rename is open in the row: a run presses Escape first"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto started = standin::start(c.options);
        ASSERT_TRUE(started) << "the stand-in did not become ready";
        standin::StandIn standIn = *started;
        std::optional<standin::StandIn> cover;
        if (!c.cover.empty()) {
            const std::string rectangle = rectangleOf(standIn, c.cover);
            ASSERT_FALSE(rectangle.empty());
            cover = standin::start({"--cover", rectangle});
            ASSERT_TRUE(cover) << "the cover did not come up";
        }
        const std::vector<std::string> before = standin::events(standIn);
        const standin::ProcessResult run = doctor();
        std::map<std::string, std::string> expected = readyVerdicts();
        for (const auto& [name, verdict] : c.changed) expected[name] = verdict;
        EXPECT_EQ(verdicts(run.standardOutput), expected) << run.standardOutput;
        EXPECT_TRUE(lineNamed(run.standardOutput, c.failing).starts_with(c.prefix)) << run.standardOutput;
        bool fails = false;
        for (const auto& [name, verdict] : c.changed) fails = fails || verdict == "fail";
        EXPECT_EQ(run.exitStatus, fails ? 1 : 0);
        EXPECT_EQ(run.standardError, "");
        if (cover) {
            EXPECT_NE(lineNamed(run.standardOutput, c.failing).find("(pid " + std::to_string(cover->pid) + ")"),
                      std::string::npos)
                << "the covering process is named";
            standin::stop(*cover);
        }
        // The stand-in saw nothing happen: no row selected, no script run, no alert closed, no
        // rename cancelled.
        EXPECT_EQ(standin::events(standIn), before);
        // The trace replays through the doctor's code.
        const standin::ProcessResult replayed = standin::runProcess({TESSARY_REPLAY, directory + "/trace"});
        EXPECT_EQ(replayed.exitStatus, 0) << replayed.standardOutput << replayed.standardError;
        EXPECT_NE(replayed.standardOutput.find("tessary-doctor as recorded"), std::string::npos);
        standin::stop(standIn);
    }
    // No CorelDRAW at all.
    const standin::ProcessResult none = doctor();
    EXPECT_EQ(lineNamed(none.standardOutput, "running"),
              "fail        running: CorelDRAW is not running -- what to do: start CorelDRAW 2022");
    EXPECT_EQ(none.exitStatus, 1);
}

// The lock file not made yet: the doctor, which makes no file but its trace, leaves it unmade, so
// the next doctor finds it not made yet as well.
TEST_F(Doctor, ALockFileNotMadeYetStaysUnmade) {
    const std::string lock = directory + "/tessary-" + std::to_string(geteuid()) + ".lock";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("doctor " + std::to_string(run));
        const standin::ProcessResult doctored = doctor();
        EXPECT_EQ(lineNamed(doctored.standardOutput, "lock"), "ok          lock: free (" + lock + ", not made yet)")
            << doctored.standardOutput;
        EXPECT_FALSE(std::filesystem::exists(lock)) << "the doctor made the lock file";
    }
}

// A host that starts the doctor with a standard descriptor closed: the descriptor's number is
// taken before anything opens, so no connection, lock or trace ever lands on it and the report
// reaches no file of the doctor's.
TEST_F(Doctor, AClosedStandardDescriptorReachesNoFileOfTheDoctor) {
    auto started = standin::start({});
    ASSERT_TRUE(started);
    for (const int closed : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        SCOPED_TRACE("descriptor " + std::to_string(closed) + " closed");
        const std::string trace = directory + "/trace-" + std::to_string(closed);
        const std::string out = directory + "/out-" + std::to_string(closed);
        const pid_t pid = fork();
        if (pid == 0) {
            const int file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
                if (descriptor != closed) dup2(file, descriptor);
            }
            close(file);
            close(closed);
            setenv("TESSARY_TRACE", trace.c_str(), 1);
            setenv("TMPDIR", directory.c_str(), 1);
            execl(TESSARY_DOCTOR_BINARY, TESSARY_DOCTOR_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        // Every line of the trace is a trace line: none of the report's.
        const std::string traced = standin::readFile(trace).value_or("");
        ASSERT_FALSE(traced.empty());
        for (const std::string& line : linesOf(traced)) {
            EXPECT_FALSE(line.starts_with("ok ") || line.starts_with("fail ") || line.starts_with("cannot tell"))
                << line;
        }
        const std::string printed = standin::readFile(out).value_or("");
        if (closed != STDOUT_FILENO) {
            EXPECT_EQ(verdicts(printed), readyVerdicts()) << printed;
        } else {
            EXPECT_EQ(printed, "");
        }
    }
    standin::stop(*started);
}

// No display: the permission and input lines fail (on Linux both need the display), nothing of
// Xlib reaches standard error, and it ends within the bound.
TEST_F(Doctor, NoDisplayIsTwoFailingLinesAndNoWordOfXlib) {
    for (const std::vector<std::string>& environment :
         std::vector<std::vector<std::string>>{{"DISPLAY"}, {"XAUTHORITY=/nonexistent/.Xauthority"}}) {
        SCOPED_TRACE(environment.front());
        standin::ProcessResult run;
        const auto took = stall::timed("doctor without a display", [&] { run = doctor(environment); });
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.standardError, "");
        const auto found = verdicts(run.standardOutput);
        EXPECT_EQ(found.at("permission"), "fail") << run.standardOutput;
        EXPECT_EQ(found.at("input"), "fail") << run.standardOutput;
        EXPECT_LT(took, kBound);
    }
}

// A stopped X server: the display does not answer within the request time-out, which is then
// no display; the doctor still prints every line and ends within the bound.
TEST_F(Doctor, AStoppedXServerCostsOneTimeOut) {
    const pid_t server = stall::xServerProcess();
    ASSERT_GT(server, 0);
    standin::ProcessResult run;
    std::chrono::milliseconds took{};
    {
        const stall::ResumedAtEnd resumed{server};
        const stall::Stopped stopped(server);
        took = stall::timed("doctor with the X server stopped", [&] { run = doctor(); });
    }
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardError, "");
    EXPECT_EQ(verdicts(run.standardOutput).at("input"), "fail") << run.standardOutput;
    EXPECT_LT(took, kBound);
}

}  // namespace
