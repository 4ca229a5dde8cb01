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

// The cases of the shared table (cases.txt) run in case_table_test.cpp; these are the ones that
// measure time or use the streams in ways the table does not describe.

TEST_F(Exchange, NoAnswerWithinTenSecondsIsReported) {
    launch({"--no-answer"});
    const auto started = std::chrono::steady_clock::now();
    expectFailure(run("cmd-1"), "CorelDRAW did not return an alert within 10 seconds");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(logged("run RelayTransportProbe"));
}

// A busy CorelDRAW shows the row's selection late: the run reads it again, 100 ms apart, up to
// 1 s, and clicks Run once it shows (the table's ALaggingSelectionIsWaitedFor). A selection that
// has not shown by then stops the run, and Run is never clicked, also after the selection has come.
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
    if (!standin::closeOnExecPipe(fds)) return {};
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
