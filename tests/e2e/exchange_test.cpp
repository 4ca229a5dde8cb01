// The real tessary binary against the CorelDRAW stand-in, each test inside its own private
// desktop (scripts/headless): the standard streams, the exit status and the result file that
// the host sees, and what the stand-in saw happen.
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct ToolRun {
    standin::ProcessResult process;
    std::string resultPath;
};

class Exchange : public ::testing::Test {
protected:
    void launch(const std::vector<std::string>& options = {}) {
        auto started = standin::start(options);
        ASSERT_TRUE(started) << "the stand-in did not become ready";
        standIn = *started;
    }
    void TearDown() override { standin::stop(standIn); }

    // Runs tessary with this command id and a result path in the stand-in's directory.
    ToolRun run(const std::string& commandId, const std::string& fileName = "result",
            const std::vector<std::string>& environment = {}) {
        const std::string directory =
            standIn.directory.empty() ? std::filesystem::temp_directory_path().string()
                                      : standIn.directory;
        ToolRun result;
        result.resultPath = directory + "/" + fileName;
        result.process = standin::runProcess({TESSARY_BINARY, commandId, result.resultPath},
                                             environment);
        return result;
    }

    bool logged(const std::string& line) {
        const auto lines = standin::events(standIn);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    standin::StandIn standIn;
};

void expectFailure(const ToolRun& run, const std::string& message) {
    EXPECT_EQ(run.process.exitStatus, 1);
    EXPECT_EQ(run.process.standardOutput, "");
    EXPECT_EQ(run.process.standardError, "TESSARY: " + message + "\n");
    EXPECT_FALSE(std::filesystem::exists(run.resultPath));
}

// A complete exchange: status 0, the path alone on standard output, nothing on standard error,
// and the result file holding the stand-in's answer.
void expectCompleted(const ToolRun& run, const standin::StandIn& standIn) {
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.standardOutput, run.resultPath + "\n");
    EXPECT_EQ(run.process.standardError, "");
    EXPECT_EQ(standin::readFile(run.resultPath), standin::readFile(standIn.answerFile));
}

TEST_F(Exchange, CompleteExchangeWritesTheAnswerPrintsThePathAndClosesTheAlert) {
    launch();
    // One stand-in answers two runs: the command id is read at every ToolRun.
    std::size_t runs = 0;
    for (const std::string commandId : {"cmd-42", "второй 2"}) {
        ++runs;
        SCOPED_TRACE(commandId);
        standin::setCommandId(standIn, commandId);
        const ToolRun exchange = run(commandId, "result " + std::to_string(commandId.size()));
        EXPECT_EQ(exchange.process.exitStatus, 0);
        EXPECT_EQ(exchange.process.standardOutput, exchange.resultPath + "\n");
        EXPECT_EQ(exchange.process.standardError, "");
        const auto answer = standin::readFile(standIn.answerFile);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->rfind("TALVO_RELAY_BEGIN_" + commandId, 0), 0u);
        EXPECT_EQ(standin::readFile(exchange.resultPath), answer);
        // The stand-in logs the close once its main loop has handled the press.
        EXPECT_TRUE(standin::waitForEvent(standIn, "alert closed by OK", runs));
    }
    EXPECT_EQ(standin::events(standIn),
              (std::vector<std::string>{"ready",
                                        "select RelayTransportProbe", "run RelayTransportProbe",
                                        "alert opened", "alert closed by OK",
                                        "run RelayTransportProbe",  // the row is still selected
                                        "alert opened", "alert closed by OK"}));
}

TEST_F(Exchange, OpenAlertRefusesTheRunWithoutTouchingCorelDraw) {
    launch({"--alert-at-start", "an earlier answer"});
    expectFailure(run("cmd-1"), "CorelDRAW has an open alert");
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"alert opened", "ready"}));
}

TEST_F(Exchange, MissingScriptRowIsReported) {
    launch({"--no-probe"});
    expectFailure(run("cmd-1"), "RelayTransportProbe is not visible in the Scripts inspector");
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready"}));
}

TEST_F(Exchange, WrongAnswerIsRejectedWithItsTextAndLeftOpen) {
    launch({"--wrong-answer", "Script error: the relay failed\nline 2"});
    standin::setCommandId(standIn, "cmd-1");
    expectFailure(run("cmd-1"),
                  "CorelDRAW returned an unexpected alert: Script error: the relay failed\nline 2");
    EXPECT_TRUE(logged("alert opened"));
    EXPECT_FALSE(logged("alert closed by OK"));
    // The alert is still open, so the next run is refused.
    expectFailure(run("cmd-2", "result-2"), "CorelDRAW has an open alert");
}

TEST_F(Exchange, AnswerForAnotherCommandIsRejected) {
    launch();
    standin::setCommandId(standIn, "cmd-other");
    const ToolRun exchange = run("cmd-1");
    EXPECT_EQ(exchange.process.exitStatus, 1);
    const auto answer = standin::readFile(standIn.answerFile);
    ASSERT_TRUE(answer);
    EXPECT_EQ(exchange.process.standardError,
              "TESSARY: CorelDRAW returned an unexpected alert: " + *answer + "\n");
    EXPECT_FALSE(std::filesystem::exists(exchange.resultPath));
}

TEST_F(Exchange, RenameIsCancelledWithEscapeThenTheExchangeCompletes) {
    launch({"--rename"});
    standin::setCommandId(standIn, "cmd-9");
    const ToolRun exchange = run("cmd-9");
    expectCompleted(exchange, standIn);
    EXPECT_TRUE(standin::waitForEvent(standIn, "alert closed by OK"));
    EXPECT_EQ(standin::events(standIn),
              (std::vector<std::string>{"ready", "rename cancelled", "select RelayTransportProbe",
                                        "run RelayTransportProbe", "alert opened",
                                        "alert closed by OK"}));
}

TEST_F(Exchange, AlertWithoutOkIsLeftOpenAfterACompleteExchange) {
    launch({"--alert-without-ok"});
    standin::setCommandId(standIn, "cmd-3");
    const ToolRun exchange = run("cmd-3");
    expectCompleted(exchange, standIn);
    EXPECT_FALSE(logged("alert closed by Close"));
}

TEST_F(Exchange, NoAnswerWithinTenSecondsIsReported) {
    launch({"--no-answer"});
    const auto started = std::chrono::steady_clock::now();
    expectFailure(run("cmd-1"), "CorelDRAW did not return an alert within 10 seconds");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(logged("run RelayTransportProbe"));
}

// ---- Another process's window at a click point ------------------------------------------------

// The stand-in's widgets on the screen, by name: "row", "run", ... -> x, y, width, height.
std::map<std::string, std::vector<int>> widgetRectangles(const standin::StandIn& standIn) {
    std::map<std::string, std::vector<int>> rectangles;
    std::ifstream stream(standIn.geometryFile);
    std::string name;
    std::vector<int> rectangle(4);
    while (stream >> name >> rectangle[0] >> rectangle[1] >> rectangle[2] >> rectangle[3]) rectangles[name] = rectangle;
    return rectangles;
}

class CoveredExchange : public Exchange {
protected:
    // A window of another process that keeps itself over the widget, then one run.
    ToolRun runWithCover(const std::string& widget) {
        const auto rectangles = widgetRectangles(standIn);
        EXPECT_TRUE(rectangles.contains(widget));
        if (!rectangles.contains(widget)) return {};
        const std::vector<int>& r = rectangles.at(widget);
        auto cover = standin::start({"--cover", std::to_string(r[0]) + " " + std::to_string(r[1]) + " " +
                                                    std::to_string(r[2]) + " " + std::to_string(r[3])});
        EXPECT_TRUE(cover) << "the cover did not come up";
        if (!cover) return {};
        ToolRun result = run("cmd-1");
        standin::stop(*cover);
        return result;
    }
};

TEST_F(CoveredExchange, AnotherWindowOverTheRowStopsTheRunBeforeAnyClick) {
    launch();
    standin::setCommandId(standIn, "cmd-1");
    expectFailure(runWithCover("row"), "CorelDRAW is not in front at the Scripts inspector");
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready"}));
}

TEST_F(CoveredExchange, AnotherWindowOverRunStopsTheRunAfterTheRowClick) {
    launch();
    standin::setCommandId(standIn, "cmd-1");
    expectFailure(runWithCover("run"), "CorelDRAW is not in front at the Scripts inspector");
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready", "select RelayTransportProbe"}));
}

// ---- The wrong script never runs ------------------------------------------------------------------

// Another script is selected before each of these runs: a Run click while the relay script's row
// is not selected would run it, and the stand-in would log "run <that script>".

TEST_F(Exchange, ARowScrolledHalfOutOfTheListIsNeverClicked) {
    launch({"--probe-scrolled-half-out", "--selected", "Script00000"});
    // The row reports its whole frame, its middle above the list's view.
    const auto rectangles = widgetRectangles(standIn);
    ASSERT_TRUE(rectangles.contains("row") && rectangles.contains("list"));
    EXPECT_LT(rectangles.at("row")[1] + rectangles.at("row")[3] / 2, rectangles.at("list")[1]);
    EXPECT_GT(rectangles.at("row")[1] + rectangles.at("row")[3], rectangles.at("list")[1]);
    standin::setCommandId(standIn, "cmd-1");
    expectFailure(run("cmd-1"), "RelayTransportProbe is not visible in the Scripts inspector");
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready"}));
}

TEST_F(Exchange, ARowThatTakesNoSelectionNeverLeadsToRun) {
    launch({"--probe-takes-no-selection", "--selected", "AutoSaveBackup"});
    standin::setCommandId(standIn, "cmd-1");
    expectFailure(run("cmd-1"), "CorelDRAW is not in front at the Scripts inspector");
    // The row was clicked (nothing logs a click that selects nothing), Run never.
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready"}));
}

// A busy CorelDRAW shows the row's selection late: the run reads it again, 100 ms apart, up to
// 1 s, and clicks Run once it shows. A selection that has not shown by then stops the run, and
// Run is never clicked, also after the selection has come.
TEST_F(Exchange, ASelectionThatShowsLateIsWaitedFor) {
    launch({"--selection-lag-ms", "600", "--selected", "AutoSaveBackup"});
    standin::setCommandId(standIn, "cmd-1");
    const ToolRun exchange = run("cmd-1");
    expectCompleted(exchange, standIn);
    EXPECT_TRUE(standin::waitForEvent(standIn, "alert closed by OK"));
    EXPECT_EQ(standin::events(standIn),
              (std::vector<std::string>{"ready", "select RelayTransportProbe", "run RelayTransportProbe",
                                        "alert opened", "alert closed by OK"}));
}

TEST_F(Exchange, ASelectionThatComesTooLateNeverLeadsToRun) {
    launch({"--selection-lag-ms", "3000", "--selected", "AutoSaveBackup"});
    standin::setCommandId(standIn, "cmd-1");
    const auto started = std::chrono::steady_clock::now();
    expectFailure(run("cmd-1"), "CorelDRAW is not in front at the Scripts inspector");
    // The activation's 200 ms, the row click, 100 ms and ten more readings 100 ms apart.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready"}));
    // The click's selection comes after the run gave up; Run was never clicked.
    EXPECT_TRUE(standin::waitForEvent(standIn, "select RelayTransportProbe"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready", "select RelayTransportProbe"}));
}

// ---- Runs at once ------------------------------------------------------------------------------

// Two hosts' runs, "cmd-1" and then "cmd-12" `gap` later, each told to the stand-in just before
// its run starts; the stand-in's n-th Run answers the n-th id. The runs take turns: each gets
// its own answer, and neither leaves an alert open.
void expectRunsTakeTurns(standin::StandIn& standIn, std::chrono::milliseconds gap,
                         const std::function<ToolRun(const std::string&, const std::string&)>& run) {
    const auto tell = [&](const std::string& ids) {
        const std::string temporary = standIn.commandFile + ".new";
        std::ofstream(temporary, std::ios::binary | std::ios::trunc) << ids;
        std::filesystem::rename(temporary, standIn.commandFile);
    };
    tell("cmd-1");
    auto first = std::async(std::launch::async, [&] { return run("cmd-1", "result-1"); });
    std::this_thread::sleep_for(gap);
    tell("cmd-1\ncmd-12");
    auto second = std::async(std::launch::async, [&] { return run("cmd-12", "result-12"); });
    for (auto* pending : {&first, &second}) {
        const ToolRun exchange = pending->get();
        const std::string id = exchange.resultPath.ends_with("-1") ? "cmd-1" : "cmd-12";
        SCOPED_TRACE(id);
        EXPECT_EQ(exchange.process.exitStatus, 0);
        EXPECT_EQ(exchange.process.standardOutput, exchange.resultPath + "\n");
        EXPECT_EQ(exchange.process.standardError, "");
        EXPECT_EQ(standin::readFile(exchange.resultPath),
                  "TALVO_RELAY_BEGIN_" + id + "\nrelay answer for " + id + ": Grüße, ✓ ok\nTALVO_RELAY_END_" + id);
    }
    EXPECT_TRUE(standin::waitForEvent(standIn, "alert closed by OK", 2));
    EXPECT_EQ(standin::events(standIn),
              (std::vector<std::string>{"ready", "select RelayTransportProbe", "run RelayTransportProbe", "alert opened",
                                        "alert closed by OK", "run RelayTransportProbe", "alert opened",
                                        "alert closed by OK"}));
}

TEST_F(Exchange, RunsStarted150MsApartTakeTurnsAndEachGetsItsOwnAnswer) {
    launch({"--command-queue"});
    expectRunsTakeTurns(standIn, std::chrono::milliseconds(150),
                        [this](const std::string& id, const std::string& file) { return run(id, file); });
}

TEST_F(Exchange, RunsStarted300MsApartTakeTurnsAndEachGetsItsOwnAnswer) {
    launch({"--command-queue"});
    expectRunsTakeTurns(standIn, std::chrono::milliseconds(300),
                        [this](const std::string& id, const std::string& file) { return run(id, file); });
}

// ---- Closed standard streams ---------------------------------------------------------------------

struct BrokenStreamRun {
    int status = -1;  // the exit status, or 128 + the signal that ended the process
    std::string otherStream;
};

// Runs tessary with one standard stream a pipe whose reading end is already closed (or, with
// `closeInstead`, no such descriptor at all), and the other one captured in a file.
BrokenStreamRun runWithBrokenStream(const std::vector<std::string>& arguments, int broken, bool closeInstead,
                                    const std::string& otherFile) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    close(fds[0]);
    const int other = broken == STDOUT_FILENO ? STDERR_FILENO : STDOUT_FILENO;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (closeInstead) {
        posix_spawn_file_actions_addclose(&actions, broken);
    } else {
        posix_spawn_file_actions_adddup2(&actions, fds[1], broken);
    }
    posix_spawn_file_actions_addopen(&actions, other, otherFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argv{TESSARY_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (failed != 0) return {};
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    BrokenStreamRun result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    result.otherStream = standin::readFile(otherFile).value_or("?");
    return result;
}

TEST_F(Exchange, ClosedStandardOutputLeavesTheStatusOfACompleteExchange) {
    launch();
    for (const bool closeInstead : {false, true}) {
        SCOPED_TRACE(closeInstead ? "no standard output at all" : "standard output a pipe nobody reads");
        const std::string id = closeInstead ? "cmd-closed" : "cmd-pipe";
        standin::setCommandId(standIn, id);
        const std::string path = standIn.directory + "/" + id;
        const std::string tracePath = standIn.directory + "/trace-" + id;
        if (closeInstead) setenv("TESSARY_TRACE", tracePath.c_str(), 1);
        const BrokenStreamRun exchange =
            runWithBrokenStream({id, path}, STDOUT_FILENO, closeInstead, standIn.directory + "/stderr-" + id);
        EXPECT_EQ(exchange.status, 0);
        EXPECT_EQ(exchange.otherStream, "");
        EXPECT_EQ(standin::readFile(path), standin::readFile(standIn.answerFile));
        EXPECT_TRUE(standin::waitForEvent(standIn, "alert closed by OK", closeInstead ? 2 : 1));
        if (closeInstead) {
            // The descriptor left closed is not handed to a file the run opens: the path line
            // lands in no file of the run's own, such as the trace.
            const std::string trace = standin::readFile(tracePath).value_or("");
            EXPECT_NE(trace, "");
            EXPECT_EQ(trace.find("\n" + path + "\n"), std::string::npos) << trace;
            EXPECT_FALSE(trace.starts_with(path + "\n")) << trace;
            unsetenv("TESSARY_TRACE");
        }
    }
}

TEST_F(Exchange, ClosedStandardErrorLeavesTheStatusOfAFailure) {
    const std::string directory = std::filesystem::temp_directory_path().string();
    for (const bool closeInstead : {false, true}) {
        SCOPED_TRACE(closeInstead ? "no standard error at all" : "standard error a pipe nobody reads");
        const std::string outFile = directory + "/tessary-e2e-stdout-" + std::to_string(getpid());
        const BrokenStreamRun failure =
            runWithBrokenStream({"cmd-1", directory + "/never-written"}, STDERR_FILENO, closeInstead, outFile);
        std::filesystem::remove(outFile);
        EXPECT_EQ(failure.status, 1);
        EXPECT_EQ(failure.otherStream, "");
        EXPECT_FALSE(std::filesystem::exists(directory + "/never-written"));
    }
}

TEST_F(Exchange, NothingRunningAndNoDesktopAreReported) {
    expectFailure(run("cmd-1"), "CorelDRAW is not running");
    expectFailure(run("cmd-1", "result", {"DISPLAY"}), "macOS accessibility permission is missing");
}

}  // namespace
