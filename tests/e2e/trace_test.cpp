// The trace of a real run against the CorelDRAW stand-in: what a user's trace would show of the
// windows walked, the clicks and the alert, read back by the documented line format alone.
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

#include "support/trace_lines.h"

namespace {

// Whether a point written "x,y" lies in the frame: left and top edges inside, right and bottom
// edges outside.
bool holds(const standin::WidgetFrame& frame, const std::string& point) {
    const auto comma = point.find(',');
    if (comma == std::string::npos) return false;
    const double px = std::stod(point.substr(0, comma));
    const double py = std::stod(point.substr(comma + 1));
    return px >= frame.x && px < frame.x + frame.width && py >= frame.y && py < frame.y + frame.height;
}

class TracedExchange : public ::testing::Test {
protected:
    void launch(const std::vector<std::string>& options = {}) {
        auto started = standin::start(options);
        ASSERT_TRUE(started) << "the stand-in did not become ready";
        standIn = *started;
        tracePath = standIn.directory + "/trace";
        resultPath = standIn.directory + "/result";
    }
    void TearDown() override { standin::stop(standIn); }

    standin::ProcessResult run(const std::string& commandId) {
        return standin::runProcess({TESSARY_BINARY, commandId, resultPath}, {"TESSARY_TRACE=" + tracePath});
    }

    std::vector<TraceLine> trace() {
        const auto text = standin::readFile(tracePath);
        if (!text) {
            ADD_FAILURE() << "no trace";
            return {};
        }
        auto lines = parseTrace(*text);
        if (!lines) ADD_FAILURE() << "the trace does not follow its format:\n" << *text;
        return lines.value_or(std::vector<TraceLine>{});
    }

    standin::StandIn standIn;
    std::string tracePath;
    std::string resultPath;
};

// The roles read of the elements that an "AXWindows" answer listed.
std::vector<std::string> windowRoles(const std::vector<TraceLine>& lines) {
    std::vector<std::string> windows, roles;
    for (const TraceLine& line : eventsOf(lines, {"get"})) {
        if (line.value("attribute") == "AXWindows" && line.value("kind") == "list") {
            std::string list = line.value("value").value_or("[]");
            std::istringstream items(list.substr(1, list.size() - 2));
            for (std::string item; std::getline(items, item, ',');) windows.push_back(item);
        } else if (line.value("attribute") == "AXRole" && line.value("kind") == "text") {
            if (std::find(windows.begin(), windows.end(), line.value("element")) != windows.end()) {
                roles.push_back(*line.value("value"));
            }
        }
    }
    return roles;
}

TEST_F(TracedExchange, ShowsTheWindowsWalkedTheClickPointsAndTheAlertText) {
    launch();
    standin::setCommandId(standIn, "cmd-7");
    const standin::ProcessResult result = run("cmd-7");
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, resultPath + "\n");
    EXPECT_EQ(result.standardError, "");
    const auto answer = standin::readFile(standIn.answerFile);
    ASSERT_TRUE(answer);
    EXPECT_EQ(standin::readFile(resultPath), answer);

    const std::vector<TraceLine> lines = trace();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().event, "start");
    EXPECT_EQ(lines.back().event, "end");
    EXPECT_EQ(lines.back().value("status"), "0");

    // The windows, with their roles: the inspector's, and later the alert's.
    const std::vector<std::string> roles = windowRoles(lines);
    EXPECT_NE(std::find(roles.begin(), roles.end(), "AXWindow"), roles.end()) << ::testing::PrintToString(roles);

    // Four mouse events posted: down and up on the row, then on Run.
    const std::map<std::string, standin::WidgetFrame> widgets = standin::widgetFrames(standIn);
    ASSERT_TRUE(widgets.count("row") && widgets.count("run"));
    std::vector<std::string> points;
    for (const TraceLine& post : eventsOf(lines, {"post"})) {
        if (post.value("kind") == "mouse") points.push_back(post.value("point").value_or(""));
    }
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[0], points[1]);
    EXPECT_EQ(points[2], points[3]);
    EXPECT_TRUE(holds(widgets.at("row"), points[0])) << points[0];
    EXPECT_TRUE(holds(widgets.at("run"), points[2])) << points[2];

    // The alert's text, read whole, and the write of it.
    bool alertRead = false;
    for (const TraceLine& get : eventsOf(lines, {"get"})) {
        if (get.value("attribute") == "AXValue" && get.value("value") == *answer) alertRead = true;
    }
    EXPECT_TRUE(alertRead);
    const std::vector<TraceLine> writes = eventsOf(lines, {"write"});
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value("path"), resultPath);
    EXPECT_EQ(writes[0].value("bytes"), std::to_string(answer->size()));
    EXPECT_EQ(writes[0].value("outcome"), "ok");
}

// A selection that shows late: each reading of the row's AXSelected is in the trace, "no" until
// the selection shows and then "yes", with the 100 ms wait between two readings; and the
// activation's answer, which the X server does not give.
TEST_F(TracedExchange, ALateSelectionShowsEachReading) {
    launch({"--selection-lag-ms", "500", "--selected", "AutoSaveBackup"});
    standin::setCommandId(standIn, "cmd-5");
    const standin::ProcessResult result = run("cmd-5");
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const std::vector<TraceLine> lines = trace();
    ASSERT_FALSE(lines.empty());
    const std::vector<TraceLine> activation = eventsOf(lines, {"activate"});
    ASSERT_EQ(activation.size(), 1u);
    EXPECT_EQ(activation[0].value("allowed"), "unknown");
    std::vector<std::string> readings;
    std::optional<std::size_t> last;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].event != "get" || lines[i].value("attribute") != "AXSelected") continue;
        readings.push_back(lines[i].value("value").value_or("?"));
        if (last) {
            EXPECT_EQ(i, *last + 2);
            EXPECT_EQ(lines[*last + 1].event, "sleep");
            EXPECT_EQ(lines[*last + 1].value("us"), "100000");
        }
        last = i;
    }
    // 500 ms after the button-up: the reading at 150 ms says no, one within 1.15 s says yes.
    ASSERT_GE(readings.size(), 2u);
    ASSERT_LE(readings.size(), 11u);
    EXPECT_EQ(readings.back(), "yes");
    EXPECT_EQ(std::vector<std::string>(readings.begin(), readings.end() - 1),
              std::vector<std::string>(readings.size() - 1, "no"));
}

TEST_F(TracedExchange, AMissingRowShowsTheWindowsSeenAndTheFailure) {
    launch({"--no-probe"});
    const standin::ProcessResult result = run("cmd-1");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "TESSARY: RelayTransportProbe is not visible in the Scripts inspector\n");
    const std::vector<TraceLine> lines = trace();
    ASSERT_FALSE(lines.empty());
    EXPECT_FALSE(windowRoles(lines).empty());
    EXPECT_TRUE(eventsOf(lines, {"post"}).empty());
    EXPECT_EQ(lines.back().value("status"), "1");
    EXPECT_EQ(lines.back().value("failure"), result.standardError);
}

}  // namespace
