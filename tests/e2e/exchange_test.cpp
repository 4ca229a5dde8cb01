// The real tessary binary against the CorelDRAW stand-in, each test inside its own private
// desktop (scripts/headless): the standard streams, the exit status and the result file that
// the host sees, and what the stand-in saw happen.
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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
    EXPECT_EQ(exchange.process.exitStatus, 0);
    EXPECT_EQ(exchange.process.standardOutput, exchange.resultPath + "\n");
    EXPECT_EQ(exchange.process.standardError, "");
    EXPECT_EQ(standin::readFile(exchange.resultPath), standin::readFile(standIn.answerFile));
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
    EXPECT_EQ(exchange.process.exitStatus, 0);
    EXPECT_EQ(exchange.process.standardOutput, exchange.resultPath + "\n");
    EXPECT_EQ(exchange.process.standardError, "");
    EXPECT_EQ(standin::readFile(exchange.resultPath), standin::readFile(standIn.answerFile));
    EXPECT_FALSE(logged("alert closed by Close"));
}

TEST_F(Exchange, NoAnswerWithinTenSecondsIsReported) {
    launch({"--no-answer"});
    const auto started = std::chrono::steady_clock::now();
    expectFailure(run("cmd-1"), "CorelDRAW did not return an alert within 10 seconds");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(logged("run RelayTransportProbe"));
}

TEST_F(Exchange, NothingRunningAndNoDesktopAreReported) {
    expectFailure(run("cmd-1"), "CorelDRAW is not running");
    expectFailure(run("cmd-1", "result", {"DISPLAY"}), "macOS accessibility permission is missing");
}

}  // namespace
