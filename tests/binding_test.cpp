// The command line and the binding to CorelDRAW, as the host sees them.
#include <gtest/gtest.h>

#include "support/child_run.h"
#include "support/desktops.h"

namespace {

const std::string kUsage = "TESSARY: usage: tessary <command-id> <absolute-result-path>\n";

struct Case {
    const char* what;
    std::vector<std::string> arguments;
    bool trusted;
    bool running;
    std::string err;
};

TEST(Binding, ChecksInOrderAndTouchesNothingOnFailure) {
    const Case cases[] = {
        {"no argument", {}, false, false, kUsage},
        {"one argument", {"id"}, true, true, kUsage},
        {"three arguments", {"id", "/tmp/r", "x"}, true, true, kUsage},
        {"three arguments, relative path", {"id", "r", "x"}, false, false, kUsage},
        {"relative path", {"id", "result.txt"}, true, true, "TESSARY: result path must be absolute\n"},
        {"dot path", {"id", "./result.txt"}, true, true, "TESSARY: result path must be absolute\n"},
        {"dot dot path", {"id", "../result.txt"}, true, true, "TESSARY: result path must be absolute\n"},
        {"tilde path", {"id", "~/result.txt"}, true, true, "TESSARY: result path must be absolute\n"},
        {"empty path", {"id", ""}, true, true, "TESSARY: result path must be absolute\n"},
        {"relative path, no permission", {"id", "r"}, false, true, "TESSARY: result path must be absolute\n"},
        {"no permission", {"id", "/tmp/r"}, false, true, "TESSARY: macOS accessibility permission is missing\n"},
        {"no permission, not running", {"id", "/tmp/r"}, false, false, "TESSARY: macOS accessibility permission is missing\n"},
        {"not running", {"id", "/tmp/r"}, true, false, "TESSARY: CorelDRAW is not running\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = corelDesktop("");
        desktop.trusted = c.trusted;
        if (!c.running) desktop.applications[0].bundleIdentifier = "com.corel.coreldrawsuite.2021.coreldraw";
        const Outcome outcome = runTessary(std::move(desktop), c.arguments);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, c.err);
        // The run lock is taken once the arguments pass, before the permission is asked.
        const bool argumentsPass = c.err != kUsage && c.err != "TESSARY: result path must be absolute\n";
        EXPECT_EQ(!outcome.record.empty() && outcome.record.front() == "lock", argumentsPass);
        for (const std::string& line : outcome.record) {
            EXPECT_TRUE(line == "lock" || line == "trust" || line.starts_with("applications ")) << line;
        }
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

TEST(Binding, TheFirstListedInstanceIsBoundAndNoOtherLookedAt) {
    fake::Desktop desktop = corelDesktop("");
    desktop.applications.insert(desktop.applications.begin(), {"com.other.app", 7, {inspectorWindow()}, {}});
    desktop.applications.push_back({kCorelBundle, 9999, {inspectorWindow()}, {}});
    const Outcome outcome = runTessary(std::move(desktop), {"id", "/tmp/unused"});
    ASSERT_GE(outcome.record.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(outcome.record.begin(), outcome.record.begin() + 4),
              (std::vector<std::string>{"lock", "trust", "applications com.corel.coreldrawsuite.2022.coreldraw",
                                        "application-element 4242"}));
    for (const std::string& line : outcome.record) EXPECT_EQ(line.find("9999"), std::string::npos) << line;
}

}  // namespace
