#include "target/alert.h"

#include <gtest/gtest.h>

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
        target::dismissAlert(found.at(0));
        EXPECT_EQ(fake::recordOf({"press"}), c.presses);
    }
}

TEST(DismissAlert, ReadsTitlesOnlyOfButtons) {
    std::vector<fake::Node> windows;
    windows.push_back(node("w", "AXWindow", {}, {node("t", "AXStaticText"), node("ok", "AXButton", {{"AXTitle", std::string("OK")}})}));
    const platform::Element root = installWindows(std::move(windows));
    platform::ElementList found = ax::elementList(ax::attribute(root, "AXWindows"));
    target::dismissAlert(found.at(0));
    EXPECT_EQ(fake::recordOf({"get", "press"}),
              (std::vector<std::string>{"get app AXWindows", "get w AXChildren", "get t AXChildren", "get ok AXChildren",
                                        "get w AXRole", "get t AXRole", "get ok AXRole", "get ok AXTitle", "press ok AXPress"}));
}

TEST(DismissAlert, ButtonBelowTheDepthLimitIsNotFound) {
    fake::Node deep = node("ok", "AXButton", {{"AXTitle", std::string("OK")}});
    for (int level = 12; level >= 1; --level) deep = node("g" + std::to_string(level), "AXGroup", {}, {std::move(deep)});
    std::vector<fake::Node> windows;
    windows.push_back(node("w", "AXWindow", {}, {std::move(deep)}));
    const platform::Element root = installWindows(std::move(windows));
    platform::ElementList found = ax::elementList(ax::attribute(root, "AXWindows"));
    target::dismissAlert(found.at(0));
    EXPECT_TRUE(fake::recordOf({"press"}).empty());
}

TEST(DismissAlert, RefusedPressFails) {
    std::vector<fake::Node> windows;
    fake::Node ok = node("ok", "AXButton", {{"AXTitle", std::string("OK")}});
    ok.pressResult = platform::kCannotComplete;
    windows.push_back(node("w", "AXWindow", {}, {std::move(ok)}));
    const platform::Element root = installWindows(std::move(windows));
    platform::ElementList found = ax::elementList(ax::attribute(root, "AXWindows"));
    testing::internal::CaptureStderr();
    EXPECT_THROW(target::dismissAlert(found.at(0)), tessary::Failure);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TESSARY: cannot dismiss CorelDRAW response\n");
}

}  // namespace
