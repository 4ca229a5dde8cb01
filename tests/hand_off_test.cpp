// The answer check, the result file and the closing of the alert, through whole runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "support/child_run.h"
#include "support/desktops.h"

namespace {

using namespace std::string_literals;

struct Exchange {
    Outcome outcome;
    std::optional<std::string> file;
};

Exchange exchange(const std::string& commandId, const std::string& answer, const std::string& path) {
    Exchange e;
    e.outcome = runTessary(corelDesktop(answer), {commandId, path});
    e.file = readFile(path);
    return e;
}

struct MarkerCase {
    const char* what;
    std::string commandId;
    std::string answer;
    bool accepted;
};

TEST(HandOff, MarkerTests) {
    const MarkerCase cases[] = {
        {"markers around an answer", "42", relayAnswer("42"), true},
        {"markers only", "42", "TALVO_RELAY_BEGIN_42TALVO_RELAY_END_42", true},
        {"end marker twice", "42", "TALVO_RELAY_BEGIN_42 TALVO_RELAY_END_42 TALVO_RELAY_END_42", true},
        {"a longer id that begins with this one", "42", relayAnswer("420"), true},
        {"empty id", "", "TALVO_RELAY_BEGIN_x TALVO_RELAY_END_y", true},
        {"decomposed id in the answer", "caf\u00E9", relayAnswer("cafe\u0301"), true},
        {"space before the begin marker", "42", " " + relayAnswer("42"), false},
        {"line break before the begin marker", "42", "\n" + relayAnswer("42"), false},
        {"no end marker", "42", "TALVO_RELAY_BEGIN_42 payload", false},
        {"another id", "42", relayAnswer("43"), false},
        {"lower case", "42", "talvo_relay_begin_42 TALVO_RELAY_END_42", false},
        {"id followed by a combining mark", "42", "TALVO_RELAY_BEGIN_42\u0301 TALVO_RELAY_END_42", false},
        {"end marker only inside a character", "42", "TALVO_RELAY_BEGIN_42 TALVO_RELAY_END_42\u20DD", false},
    };
    const std::string directory = scratchDirectory();
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = directory + "/result";
        std::remove(path.c_str());
        const Exchange e = exchange(c.commandId, c.answer, path);
        if (c.accepted) {
            EXPECT_EQ(e.outcome.status, 0);
            EXPECT_EQ(e.outcome.out, path + "\n");
            EXPECT_EQ(e.outcome.err, "");
            EXPECT_EQ(e.file, c.answer);
            // One press, and after it nothing more is asked, posted or waited for.
            EXPECT_EQ(recordOf(e.outcome, {"press"}), std::vector<std::string>{"press alert-ok AXPress"});
            EXPECT_EQ(recordOf(e.outcome, {"get", "press", "post", "sleep"}).back(), "press alert-ok AXPress");
        } else {
            EXPECT_EQ(e.outcome.status, 1);
            EXPECT_EQ(e.outcome.out, "");
            EXPECT_EQ(e.outcome.err, "TESSARY: CorelDRAW returned an unexpected alert: " + c.answer + "\n");
            EXPECT_EQ(e.file, std::nullopt);
            // The alert stays open: the last request read its text.
            EXPECT_EQ(recordOf(e.outcome, {"press"}), std::vector<std::string>{});
            EXPECT_EQ(recordOf(e.outcome, {"get", "press"}).back(), "get alert-text AXValue");
        }
        EXPECT_EQ(listDirectory(directory), c.accepted ? std::vector<std::string>{"result"} : std::vector<std::string>{});
    }
}

TEST(HandOff, ARejectedTextIsCutAtThreeHundredCharacters) {
    const std::string character = "e\u0301";
    std::string shortText = "x\r\n";
    for (int i = 0; i < 298; ++i) shortText += character;  // x, CR LF and 298 more: 300 characters
    const std::string longText = shortText + "TALVO_RELAY_END_1";
    struct Case {
        std::string answer;
        std::string reported;
    };
    const Case cases[] = {
        {shortText, shortText},
        {longText, shortText},
        {"a\0b"s, "a\0b"s},
        {std::string(10 * 1024 * 1024, 'z'), std::string(300, 'z')},
    };
    const std::string path = scratchDirectory() + "/result";
    for (const Case& c : cases) {
        const Exchange e = exchange("1", c.answer, path);
        EXPECT_EQ(e.outcome.status, 1);
        EXPECT_EQ(e.outcome.err, "TESSARY: CorelDRAW returned an unexpected alert: " + c.reported + "\n");
    }
}

TEST(HandOff, TheResultFileReplacesAnOldOneAndKeepsItsRights) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    std::FILE* old = std::fopen(path.c_str(), "w");
    ASSERT_NE(old, nullptr);
    std::fputs("an older answer that is longer than the new one, all of it replaced", old);
    std::fclose(old);
    chmod(path.c_str(), 0600);
    const std::string answer = relayAnswer("7", "\xEF\xBB\xBF no BOM added, \0 kept, no newline added"s);
    const mode_t mask = umask(022);
    const Exchange e = exchange("7", answer, path);
    umask(mask);
    EXPECT_EQ(e.outcome.status, 0);
    EXPECT_EQ(e.file, answer);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"result"});
}

TEST(HandOff, APathIsPrintedExactlyAsGiven) {
    const std::string directory = scratchDirectory();
    const std::string path = "/" + directory + "/./sub/../result";
    ASSERT_EQ(mkdir((directory + "/sub").c_str(), 0755), 0);
    const Exchange e = exchange("9", relayAnswer("9"), path);
    EXPECT_EQ(e.outcome.status, 0);
    EXPECT_EQ(e.outcome.out, path + "\n");
    EXPECT_EQ(readFile(directory + "/result"), relayAnswer("9"));
}

TEST(HandOff, AFailedWriteLeavesThePathAndTheAlertAsTheyWere) {
    const std::string directory = scratchDirectory();
    ASSERT_EQ(mkdir((directory + "/dir").c_str(), 0755), 0);
    auto report = [](int error) { return "TESSARY: cannot write host result: " + std::string(std::strerror(error)) + "\n"; };
    struct Case {
        std::string path;
        std::vector<std::string> errs;  // any one of these
    };
    const Case cases[] = {
        {directory + "/missing/result", {report(ENOENT)}},
        // A directory is no file to replace, the root directory included.
        {directory + "/dir", {"TESSARY: cannot write host result: not a regular file: a directory\n"}},
        {directory + "/dir/", {"TESSARY: cannot write host result: not a regular file: a directory\n"}},
        {"/", {"TESSARY: cannot write host result: not a regular file: a directory\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Exchange e = exchange("5", relayAnswer("5"), c.path);
        EXPECT_EQ(e.outcome.status, 1);
        EXPECT_EQ(e.outcome.out, "");
        EXPECT_NE(std::find(c.errs.begin(), c.errs.end(), e.outcome.err), c.errs.end()) << e.outcome.err;
        // The write came after the answer was read, and nothing was asked of the alert since.
        EXPECT_EQ(recordOf(e.outcome, {"press"}), std::vector<std::string>{});
        EXPECT_EQ(recordOf(e.outcome, {"get", "press"}).back(), "get alert-text AXValue");
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"dir"});
        EXPECT_EQ(listDirectory(directory + "/dir"), std::vector<std::string>{});
    }
}

TEST(HandOff, ARefusedDismissalFailsAfterTheFileIsWritten) {
    const std::string path = scratchDirectory() + "/result";
    fake::Desktop desktop = corelDesktop(relayAnswer("3"));
    desktop.script->okPressResult = platform::kCannotComplete;
    const Outcome outcome = runTessary(std::move(desktop), {"3", path});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "TESSARY: cannot dismiss CorelDRAW response\n");
    EXPECT_EQ(readFile(path), relayAnswer("3"));
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(HandOff, AnAlertWithoutOkIsLeftOpenAndTheRunSucceeds) {
    const std::string path = scratchDirectory() + "/result";
    fake::Desktop desktop = corelDesktop(relayAnswer("3"));
    desktop.script->okButton = false;
    const Outcome outcome = runTessary(std::move(desktop), {"3", path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, path + "\n");
    for (const std::string& line : outcome.record) EXPECT_FALSE(line.starts_with("press")) << line;
}

}  // namespace
