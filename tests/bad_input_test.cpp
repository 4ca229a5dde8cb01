// Arguments, alert texts and accessibility trees that a careless or hostile world may hand the
// tool: each gets the right answer with bounded work and no crash.
#include <gtest/gtest.h>

#include <unistd.h>

#include "support/child_run.h"
#include "support/desktops.h"

namespace {

using namespace std::string_literals;
using fake::node;

TEST(BadInput, CommandIdsOfAnyBytes) {
    const std::string ids[] = {
        std::string(1024 * 1024, 'i'),  // 1 MiB
        "\xff\xfe\x80",                 // invalid UTF-8
        "tab\there\nnewline\x01\x7f",   // control characters
        "",                             // empty
        "id with spaces ",
    };
    for (const std::string& id : ids) {
        SCOPED_TRACE(id.substr(0, 20));
        const std::string path = scratchDirectory() + "/result";
        const Outcome outcome = runTessary(corelDesktop(relayAnswer(id)), {id, path});
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(readFile(path), relayAnswer(id));
    }
}

TEST(BadInput, AStrayByteInTheIdMatchesOnlyItself) {
    const std::string path = scratchDirectory() + "/result";
    const Outcome outcome = runTessary(corelDesktop(relayAnswer("id\uFFFD")), {"id\xff", path});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "TESSARY: CorelDRAW returned an unexpected alert: " + relayAnswer("id\uFFFD") + "\n");
}

TEST(BadInput, ResultPaths) {
    const std::string directory = scratchDirectory();
    struct Case {
        std::string path;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"~", 1, "TESSARY: result path must be absolute\n"},
        {"..", 1, "TESSARY: result path must be absolute\n"},
        {"~/result", 1, "TESSARY: result path must be absolute\n"},
        {"/" + directory + "//result", 0, ""},  // begins with two slashes
        {directory + "/../" + directory.substr(5) + "/result2", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Outcome outcome = runTessary(corelDesktop(relayAnswer("1")), {"1", c.path});
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(outcome.out, c.status == 0 ? c.path + "\n" : "");
    }
    EXPECT_EQ(listDirectory(directory), (std::vector<std::string>{"result", "result2"}));
}

TEST(BadInput, ALinkAtTheResultPathIsReplacedNotFollowed) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    ASSERT_EQ(symlink((directory + "/elsewhere").c_str(), path.c_str()), 0);  // dangling
    const Outcome outcome = runTessary(corelDesktop(relayAnswer("1")), {"1", path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(path), relayAnswer("1"));
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"result"});  // no "elsewhere"
}

TEST(BadInput, AlertTexts) {
    // An alert whose only text is empty is no alert at all: the run waits for an answer.
    const Outcome empty = runTessary(corelDesktop(""), {"1", "/tmp/never-written"});
    EXPECT_EQ(empty.err, "TESSARY: CorelDRAW did not return an alert within 10 seconds\n");
    // Spaces are a message, reported unchanged.
    const Outcome spaces = runTessary(corelDesktop("   "), {"1", "/tmp/never-written"});
    EXPECT_EQ(spaces.err, "TESSARY: CorelDRAW returned an unexpected alert:    \n");
    // A NUL inside an accepted answer reaches the file.
    const std::string path = scratchDirectory() + "/result";
    const std::string answer = "TALVO_RELAY_BEGIN_1\0TALVO_RELAY_END_1"s;
    EXPECT_EQ(runTessary(corelDesktop(answer), {"1", path}).status, 0);
    EXPECT_EQ(readFile(path), answer);
}

fake::Desktop desktopWithRows(std::vector<fake::Node> rows, std::vector<fake::Node> extraWindowChildren = {}) {
    fake::Node window = inspectorWindow(std::move(rows));
    for (fake::Node& child : extraWindowChildren) window.children.push_back(std::move(child));
    std::vector<fake::Node> windows;
    windows.push_back(std::move(window));
    return corelDesktopWith(std::move(windows), relayAnswer("1"));
}

TEST(BadTrees, ACycleInTheInspector) {
    std::vector<fake::Node> rows;
    rows.push_back(scriptRow("row", "RelayTransportProbe", 150));
    // An element that lists the window as its child, and the window lists it again: the walk
    // goes round until the depth limit and the run still finds its row.
    std::vector<fake::Node> extra;
    extra.push_back(node("loop", "AXGroup", {{"AXChildren", fake::ElementsAt{{"inspector", "loop"}}}}));
    const std::string path = scratchDirectory() + "/result";
    const Outcome outcome = runTessary(desktopWithRows(std::move(rows), std::move(extra)), {"1", path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(path), relayAnswer("1"));
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(BadTrees, AHundredThousandRowsWithTheScriptLast) {
    std::vector<fake::Node> rows;
    rows.reserve(100'001);
    for (int i = 0; i < 100'000; ++i) {
        rows.push_back(node("", "AXRow", {}, {node("", "AXStaticText", {{"AXValue", "Script" + std::to_string(i)}})}));
    }
    rows.push_back(scriptRow("row", "RelayTransportProbe", 150));
    const std::string path = scratchDirectory() + "/result";
    const Outcome outcome = runTessary(desktopWithRows(std::move(rows)), {"1", path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(path), relayAnswer("1"));
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(BadTrees, AThousandLevelsDeep) {
    fake::Node deep = node("bottom", "AXGroup");
    for (int level = 0; level < 1000; ++level) deep = node("", "AXGroup", {}, {std::move(deep)});
    std::vector<fake::Node> rows;
    rows.push_back(scriptRow("row", "RelayTransportProbe", 150));
    std::vector<fake::Node> extra;
    extra.push_back(std::move(deep));
    const Outcome outcome = runTessary(desktopWithRows(std::move(rows), std::move(extra)), {"1", scratchDirectory() + "/r"});
    EXPECT_EQ(outcome.status, 0);
    // The walk stops at level 12: "bottom" is never asked for anything.
    for (const std::string& line : outcome.record) EXPECT_EQ(line.find("bottom"), std::string::npos);
}

}  // namespace
