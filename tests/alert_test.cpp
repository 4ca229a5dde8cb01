#include "target/alert.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ax/query.h"
#include "main/fail.h"
#include "platform/fake/fake_desktop.h"
#include "support/desktops.h"

namespace {

using fake::node;

const std::string kAlert = "\u8B66\u544A";

platform::Element installWindows(std::vector<fake::Node> windows) {
    fake::install(corelDesktopWith(std::move(windows)));
    return platform::createApplicationElement(kCorelPid);
}

// `leaf` as the only element `level` levels below an alert window, under a chain of groups.
fake::Node alertHolding(fake::Node leaf, int level) {
    for (int above = level - 1; above >= 1; --above) leaf = node("g" + std::to_string(above), "AXGroup", {}, {std::move(leaf)});
    return node("w", "AXWindow", {{"AXDescription", kAlert}}, {std::move(leaf)});
}

struct AlertCase {
    const char* what;
    std::vector<fake::Node> windows;
    std::optional<std::pair<std::string, std::string>> expected;  // window label, text
};

std::vector<AlertCase> alertCases() {
    std::vector<AlertCase> cases;
    cases.push_back({"no windows", {}, {}});
    cases.push_back({"plain alert", {alertWindow("w", "hello")}, {{"w", "hello"}}});
    {
        std::vector<fake::Node> w;
        w.push_back(node("empty", "AXWindow", {{"AXDescription", kAlert}},
                         {node("", "AXStaticText", {{"AXValue", std::string("")}}), node("", "AXStaticText", {{"AXValue", fake::Number{3}}})}));
        w.push_back(alertWindow("later", "second"));
        cases.push_back({"alert without message is passed over", std::move(w), {{"later", "second"}}});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(node("textless", "AXWindow", {{"AXDescription", kAlert}}, {node("", "AXButton", {{"AXTitle", std::string("OK")}})}));
        cases.push_back({"alert without static text", std::move(w), {}});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(alertWindow("first", "one"));
        w.push_back(alertWindow("second", "two"));
        cases.push_back({"first alert in window order", std::move(w), {{"first", "one"}}});
    }
    for (const std::string& description : {kAlert + " ", std::string("Warning"), std::string(""), std::string("\u8B66")}) {
        std::vector<fake::Node> w;
        w.push_back(node("x", "AXWindow", {{"AXDescription", description}}, {node("", "AXStaticText", {{"AXValue", std::string("t")}})}));
        cases.push_back({"other description", std::move(w), {}});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(node("w", "AXWindow", {{"AXDescription", kAlert}},
                         {node("", "AXGroup", {}, {node("", "AXStaticText", {{"AXValue", std::string("")}})}),
                          node("", "AXStaticText", {{"AXValue", std::string("  \n ")}}),
                          node("", "AXStaticText", {{"AXValue", std::string("a much longer message")}})}));
        cases.push_back({"first non-empty in walk order, spaces kept", std::move(w), {{"w", "  \n "}}});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(node("w", "AXWindow", {{"AXDescription", kAlert}},
                         {node("", "AXTextField", {{"AXValue", std::string("not static")}}),
                          node("", "AXStaticText", {{"AXValue", std::string("a\0b", 3)}})}));
        cases.push_back({"role decides; NUL kept", std::move(w), {{"w", std::string("a\0b", 3)}}});
    }
    return cases;
}

TEST(AlertText, FindsTheFirstAlertWithAMessage) {
    for (AlertCase& c : alertCases()) {
        SCOPED_TRACE(c.what);
        const platform::Element root = installWindows(std::move(c.windows));
        const auto match = target::alertText(root);
        ASSERT_EQ(match.has_value(), c.expected.has_value());
        if (match) {
            EXPECT_EQ(fake::labelOf(match->window), c.expected->first);
            EXPECT_EQ(match->text, c.expected->second);
        }
    }
}

TEST(AlertText, UnreadableWindowListIsNoAlert) {
    fake::Desktop desktop = corelDesktopWith({});
    desktop.applications[0].windows.push_back(alertWindow("w", "hello"));
    desktop.applications[0].attributes.push_back({"AXWindows", fake::Failing{platform::kCannotComplete, {}}});
    fake::install(std::move(desktop));
    const platform::Element root = platform::createApplicationElement(kCorelPid);
    EXPECT_FALSE(target::alertText(root));
}

TEST(AlertText, ReadsEveryRoleThenEveryCandidateTextAndReleasesAllButTheWindow) {
    std::vector<fake::Node> w;
    w.push_back(node("plain", "AXWindow", {{"AXDescription", std::string("Scripts")}}));
    w.push_back(node("w", "AXWindow", {{"AXDescription", kAlert}},
                     {node("t1", "AXStaticText", {{"AXValue", std::string("")}}), node("b", "AXButton"),
                      node("t2", "AXStaticText", {{"AXValue", std::string("msg")}})}));
    const platform::Element root = installWindows(std::move(w));
    const int before = fake::liveElements();
    {
        const auto match = target::alertText(root);
        ASSERT_TRUE(match);
        EXPECT_EQ(fake::liveElements(), before + 1);  // the match's window only
    }
    EXPECT_EQ(fake::liveElements(), before);
    EXPECT_EQ(fake::recordOf({"get"}),
              (std::vector<std::string>{"get app AXWindows", "get plain AXDescription", "get w AXDescription",
                                        "get w AXChildren", "get t1 AXChildren", "get b AXChildren", "get t2 AXChildren",
                                        "get w AXRole", "get t1 AXRole", "get b AXRole", "get t2 AXRole", "get t1 AXValue",
                                        "get t2 AXValue"}));
}

// Every static text's value is read before the message is chosen, wherever the message stands.
TEST(AlertText, ReadsEveryTextBeforeChoosingTheFirstThatIsNotEmpty) {
    struct Case {
        const char* what;
        std::vector<std::string> texts;
        std::string message;
    };
    const Case cases[] = {
        {"the message first", {"message", "", "later"}, "message"},
        {"the message between", {"", "message", "later"}, "message"},
        {"the message last", {"", "", "message"}, "message"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<fake::Node> texts;
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            texts.push_back(node("t" + std::to_string(i + 1), "AXStaticText", {{"AXValue", c.texts[i]}}));
        }
        std::vector<fake::Node> windows;
        windows.push_back(node("w", "AXWindow", {{"AXDescription", kAlert}}, std::move(texts)));
        const platform::Element root = installWindows(std::move(windows));
        const auto match = target::alertText(root);
        ASSERT_TRUE(match);
        EXPECT_EQ(match->text, c.message);
        std::vector<std::string> valueReads;
        for (const std::string& line : fake::recordOf({"get"})) {
            if (line.ends_with(" AXValue")) valueReads.push_back(line);
        }
        EXPECT_EQ(valueReads, (std::vector<std::string>{"get t1 AXValue", "get t2 AXValue", "get t3 AXValue"}));
    }
}

// The walk of an alert window reaches 12 levels below it and not 13.
TEST(AlertText, TextWithinTwelveLevelsOfTheWindow) {
    for (const auto& [level, found] : {std::pair{12, true}, std::pair{13, false}}) {
        SCOPED_TRACE(level);
        std::vector<fake::Node> windows;
        windows.push_back(alertHolding(node("t", "AXStaticText", {{"AXValue", std::string("deep")}}), level));
        const platform::Element root = installWindows(std::move(windows));
        EXPECT_EQ(target::alertText(root).has_value(), found);
    }
}

// One look after a failed OK press: "closed" needs the window list and every listed window's
// description answered. No value, not supported and a window that is gone are answers; any
// other failed read leaves the look unanswered; a window described "警告" is open whatever its
// content and whatever can be read of it.
TEST(LookForAlert, ClosedOnlyWhenTheListAndEveryDescriptionWereAnswered) {
    using Look = target::AlertLook;
    const auto window = [](std::string label, fake::Attribute description) {
        return node(std::move(label), "AXWindow", {{"AXDescription", std::move(description)}},
                    {node(label + "-text", "AXStaticText", {{"AXValue", std::string("a message")}})});
    };
    const auto failing = [](std::int32_t code) { return fake::Attribute(fake::Failing{code, {}}); };
    struct Case {
        std::string what;
        std::vector<fake::Node> windows;
        std::optional<fake::Attribute> windowList;  // the application's own "AXWindows" answer
        std::vector<std::string> gone;              // listed, but gone before the look
        Look expected;
    };
    std::vector<Case> cases;
    cases.push_back({"no window at all", {}, {}, {}, Look::closed});
    cases.push_back({"the window list unanswered", {}, failing(platform::kCannotComplete), {}, Look::unanswered});
    cases.push_back({"the window list of another kind", {}, std::string("w"), {}, Look::unanswered});
    {
        std::vector<fake::Node> w;
        w.push_back(window("scripts", std::string("Scripts")));
        w.push_back(window("empty", std::string("")));
        w.push_back(window("other", fake::Number{3}));
        w.push_back(window("stored", fake::Failing{platform::kSuccess, {}}));
        cases.push_back({"descriptions that are not the alert's", std::move(w), {}, {}, Look::closed});
    }
    for (const auto& [name, code] : {std::pair{"no value", platform::kNoValue}, std::pair{"not supported", platform::kAttributeUnsupported},
                                     std::pair{"gone", platform::kInvalidElement}}) {
        std::vector<fake::Node> w;
        w.push_back(window("w", failing(code)));
        cases.push_back({std::string("a description: ") + name, std::move(w), {}, {}, Look::closed});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(window("w", std::string(kAlert)));
        w.push_back(window("scripts", std::string("Scripts")));
        cases.push_back({"a listed window that is gone, even one that was the alert", std::move(w), fake::ElementsAt{{"w", "scripts"}},
                         {"w"}, Look::closed});
    }
    for (const std::int32_t code : {platform::kFailure, platform::kIllegalArgument, platform::kCannotComplete,
                                    platform::kActionUnsupported, platform::kApiDisabled, std::int32_t{-25208}, std::int32_t{1}}) {
        std::vector<fake::Node> w;
        w.push_back(window("scripts", std::string("Scripts")));
        w.push_back(window("w", fake::Failing{code, std::string(kAlert)}));
        cases.push_back({"a description failing with " + std::to_string(code), std::move(w), {}, {}, Look::unanswered});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(window("w", std::string(kAlert)));
        cases.push_back({"the alert with its message", std::move(w), {}, {}, Look::open});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(node("w", "AXWindow", {{"AXDescription", kAlert}, {"AXChildren", fake::Failing{platform::kCannotComplete, {}}}},
                         {node("t", "AXStaticText", {{"AXValue", std::string("a message")}})}));
        cases.push_back({"the alert, its walk failing", std::move(w), {}, {}, Look::open});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(node("w", "AXWindow", {{"AXDescription", kAlert}},
                         {node("t", "AXStaticText", {{"AXValue", fake::Failing{platform::kCannotComplete, {}}}})}));
        cases.push_back({"the alert, its message unreadable", std::move(w), {}, {}, Look::open});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(node("w", "AXWindow", {{"AXDescription", kAlert}}, {}));
        cases.push_back({"the alert, nothing in it", std::move(w), {}, {}, Look::open});
    }
    {
        std::vector<fake::Node> w;
        w.push_back(window("scripts", std::string("Scripts")));
        w.push_back(window("w", std::string("\u8B66\u544A")));
        cases.push_back({"the alert behind another window", std::move(w), {}, {}, Look::open});
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = corelDesktopWith(std::move(c.windows));
        if (c.windowList) desktop.applications[0].attributes.push_back({"AXWindows", *c.windowList});
        fake::install(std::move(desktop));
        for (const std::string& label : c.gone) fake::vanish(label);
        const platform::Element root = platform::createApplicationElement(kCorelPid);
        const int before = fake::liveElements();
        EXPECT_EQ(target::lookForAlert(root), c.expected);
        EXPECT_EQ(fake::liveElements(), before);
        // No message is read and nothing is pressed: the description decides.
        for (const std::string& line : fake::recordOf({"get", "press"})) {
            EXPECT_TRUE(line == "get app AXWindows" || line.ends_with(" AXDescription")) << line;
        }
    }
}

struct DismissCase {
    const char* what;
    fake::Node alert;
    std::vector<std::string> presses;
};

TEST(DismissAlert, PressesTheFirstOkButtonOnce) {
    auto ok = [](std::string label, std::string title) {
        return node(std::move(label), "AXButton", {{"AXTitle", std::move(title)}});
    };
    DismissCase cases[] = {
        {"one OK", node("w", "AXWindow", {}, {ok("cancel", "Cancel"), ok("ok", "OK")}), {"press ok AXPress"}},
        {"two OKs", node("w", "AXWindow", {}, {node("", "AXGroup", {}, {ok("ok1", "OK")}), ok("ok2", "OK")}), {"press ok1 AXPress"}},
        {"kelvin sign", node("w", "AXWindow", {}, {ok("ok", "O\u212A")}), {"press ok AXPress"}},
        {"other case", node("w", "AXWindow", {}, {ok("ok", "Ok"), ok("ok2", "ok")}), {}},
        {"no button", node("w", "AXWindow", {}, {node("", "AXStaticText", {{"AXTitle", std::string("OK")}})}), {}},
    };
    for (DismissCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<fake::Node> windows;
        windows.push_back(std::move(c.alert));
        const platform::Element root = installWindows(std::move(windows));
        platform::ElementList found = ax::elementList(ax::attribute(root, "AXWindows"));
        EXPECT_TRUE(target::dismissAlert(found.at(0)));
        EXPECT_EQ(fake::recordOf({"press"}), c.presses);
    }
}

TEST(DismissAlert, ReadsTitlesOnlyOfButtons) {
    std::vector<fake::Node> windows;
    windows.push_back(node("w", "AXWindow", {}, {node("t", "AXStaticText"), node("ok", "AXButton", {{"AXTitle", std::string("OK")}})}));
    const platform::Element root = installWindows(std::move(windows));
    platform::ElementList found = ax::elementList(ax::attribute(root, "AXWindows"));
    EXPECT_TRUE(target::dismissAlert(found.at(0)));
    EXPECT_EQ(fake::recordOf({"get", "press"}),
              (std::vector<std::string>{"get app AXWindows", "get w AXChildren", "get t AXChildren", "get ok AXChildren",
                                        "get w AXRole", "get t AXRole", "get ok AXRole", "get ok AXTitle", "press ok AXPress"}));
}

// The walk for the OK button reaches 12 levels below the window and not 13.
TEST(DismissAlert, ButtonWithinTwelveLevelsOfTheWindow) {
    for (const auto& [level, presses] : {std::pair{12, std::vector<std::string>{"press ok AXPress"}},
                                         std::pair{13, std::vector<std::string>{}}}) {
        SCOPED_TRACE(level);
        std::vector<fake::Node> windows;
        windows.push_back(alertHolding(node("ok", "AXButton", {{"AXTitle", std::string("OK")}}), level));
        const platform::Element root = installWindows(std::move(windows));
        platform::ElementList found = ax::elementList(ax::attribute(root, "AXWindows"));
        EXPECT_TRUE(target::dismissAlert(found.at(0)));
        EXPECT_EQ(fake::recordOf({"press"}), presses);
    }
}

// A press that does not report success may still have happened (AppKit applications answer
// failure codes for presses they performed): every such code is reported for the caller to look
// whether the alert is gone, and nothing fails here. Either way the press is made once and
// nothing more is asked.
TEST(DismissAlert, EveryPressThatDoesNotSucceedIsReportedForTheCallerToCheck) {
    struct Case {
        const char* what;
        std::int32_t code;
        bool done;  // what dismissAlert returns
    };
    const Case cases[] = {
        {"pressed", platform::kSuccess, true},
        {"failure", platform::kFailure, false},
        {"invalid element", platform::kInvalidElement, false},
        {"timed out", platform::kCannotComplete, false},
        {"attribute unsupported", platform::kAttributeUnsupported, false},
        {"action unsupported", platform::kActionUnsupported, false},
        {"api disabled", platform::kApiDisabled, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Node alert = alertWindow("w", "the answer");
        alert.children[1].pressResult = c.code;
        std::vector<fake::Node> windows;
        windows.push_back(std::move(alert));
        const platform::Element root = installWindows(std::move(windows));
        platform::ElementList found = ax::elementList(ax::attribute(root, "AXWindows"));
        const std::size_t before = fake::record().size();
        testing::internal::CaptureStderr();
        std::optional<bool> done;
        try {
            done = target::dismissAlert(found.at(0));
        } catch (const tessary::Failure&) {
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(done, std::optional(c.done));
        const std::vector<std::string> after(fake::record().begin() + static_cast<long>(before), fake::record().end());
        EXPECT_EQ(fake::linesOf(after, {"press", "sleep"}), std::vector<std::string>{"press w-ok AXPress"});
        EXPECT_EQ(fake::linesOf(after, {"get"}).back(), "get w-ok AXTitle");
    }
}

}  // namespace
