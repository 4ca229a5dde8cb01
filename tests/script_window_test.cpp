#include "target/script_window.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_desktop.h"
#include "support/desktops.h"

namespace {

using fake::node;
using platform::Point;
using platform::Size;

std::optional<std::vector<std::string>> locate(std::vector<fake::Node> windows) {
    fake::install(corelDesktopWith(std::move(windows)));
    const platform::Element root = platform::createApplicationElement(kCorelPid);
    const auto match = target::findScriptWindow(root);
    if (!match) return std::nullopt;
    return std::vector<std::string>{fake::labelOf(match->window), fake::labelOf(match->scrollArea), fake::labelOf(match->row)};
}

fake::Node scrollWith(std::string label, std::string inner, std::vector<fake::Node> rows) {
    return node(std::move(label), "AXScrollArea", {}, {node("", std::move(inner), {}, std::move(rows))});
}

fake::Node row(std::string label, std::string name) {
    return node(std::move(label), "AXRow", {}, {node("", "AXStaticText", {{"AXValue", std::move(name)}})});
}

std::vector<fake::Node> windows(std::initializer_list<fake::Node> list) {
    std::vector<fake::Node> out;
    for (const fake::Node& n : list) out.push_back(n);
    return out;
}

TEST(FindScriptWindow, WhichWindowScrollAreaAndRowAreFound) {
    using Labels = std::optional<std::vector<std::string>>;
    struct Case {
        const char* what;
        std::vector<fake::Node> windows;
        Labels expected;
    };
    const Case cases[] = {
        {"no windows", {}, std::nullopt},
        {"the inspector", windows({inspectorWindow()}), Labels({{"inspector", "list", "row"}})},
        {"first of two qualifying windows",
         windows({node("w1", "AXWindow", {}, {scrollWith("s1", "AXOutline", {row("r1", "RelayTransportProbe")})}),
                  node("w2", "AXWindow", {}, {scrollWith("s2", "AXOutline", {row("r2", "RelayTransportProbe")})})}),
         Labels({{"w1", "s1", "r1"}})},
        {"a table is no outline",
         windows({node("w1", "AXWindow", {}, {scrollWith("s1", "AXTable", {row("r1", "RelayTransportProbe")})})}), std::nullopt},
        {"a window with the row but no outline is passed over",
         windows({node("w1", "AXWindow", {}, {scrollWith("s1", "AXTable", {row("r1", "RelayTransportProbe")})}),
                  node("w2", "AXWindow", {}, {scrollWith("s2", "AXOutline", {row("r2", "RelayTransportProbe")})})}),
         Labels({{"w2", "s2", "r2"}})},
        {"first scroll area with an outline, even when the row is in the second",
         windows({node("w", "AXWindow", {},
                       {scrollWith("s0", "AXList", {}), scrollWith("s1", "AXOutline", {row("a", "Other")}),
                        scrollWith("s2", "AXOutline", {row("r", "RelayTransportProbe")})})}),
         Labels({{"w", "s1", "r"}})},
        {"the row need not lie in a scroll area",
         windows({node("w", "AXWindow", {}, {scrollWith("s", "AXOutline", {}), row("r", "RelayTransportProbe")})}),
         Labels({{"w", "s", "r"}})},
        {"name with trailing space, other case, longer name",
         windows({node("w", "AXWindow", {},
                       {scrollWith("s", "AXOutline",
                                   {row("r1", "RelayTransportProbe "), row("r2", "relaytransportprobe"),
                                    row("r3", "RelayTransportProbe2")})})}),
         std::nullopt},
        {"a row whose own value is the name",
         windows({node("w", "AXWindow", {},
                       {scrollWith("s", "AXOutline", {node("r", "AXRow", {{"AXValue", std::string("RelayTransportProbe")}})})})}),
         Labels({{"w", "s", "r"}})},
        {"the name in a non-row element only",
         windows({node("w", "AXWindow", {}, {scrollWith("s", "AXOutline", {row("r", "Other")}),
                                             node("", "AXCell", {{"AXValue", std::string("RelayTransportProbe")}})})}),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(locate(c.windows), c.expected);
    }
    EXPECT_EQ(fake::liveElements(), 0);
}

// A window whose script row sits at `rowLevel` below it (its name one level further down).
fake::Node windowWithRowAt(int rowLevel) {
    fake::Node inner = row("r", "RelayTransportProbe");
    for (int level = rowLevel - 1; level >= 1; --level) inner = node("", "AXGroup", {}, {std::move(inner)});
    return node("w", "AXWindow", {}, {scrollWith("s", "AXOutline", {}), std::move(inner)});
}

TEST(FindScriptWindow, RowWithinTheDepthLimitOfTheWindow) {
    // The row's own walk starts afresh at the row, so its name may lie below level 12 of the
    // window; the row itself must be in the window's walk.
    EXPECT_TRUE(locate(windows({windowWithRowAt(1)})));
    EXPECT_TRUE(locate(windows({windowWithRowAt(12)})));
    EXPECT_FALSE(locate(windows({windowWithRowAt(13)})));
}

TEST(FindScriptWindow, NameDeeperThanTheLimitBelowTheRow) {
    fake::Node name = node("", "AXStaticText", {{"AXValue", std::string("RelayTransportProbe")}});
    for (int level = 12; level >= 2; --level) name = node("", "AXGroup", {}, {std::move(name)});
    // The name now sits 12 levels below the row: still found. One more level hides it.
    fake::Node reachable = node("r", "AXRow", {}, {name});
    fake::Node hidden = node("r", "AXRow", {}, {node("", "AXGroup", {}, {name})});
    EXPECT_TRUE(locate(windows({node("w", "AXWindow", {}, {scrollWith("s", "AXOutline", {}), reachable})})));
    EXPECT_FALSE(locate(windows({node("w", "AXWindow", {}, {scrollWith("s", "AXOutline", {}), hidden})})));
}

TEST(FindScriptWindow, AnElementWhoseRoleChangesMidLookupCanBeBothParts) {
    // "x" is a scroll area when the scroll area is sought and a row when the row is sought:
    // request 14 is the second read of its role (see the count in the comment below).
    std::vector<fake::Node> w;
    w.push_back(node("w", "AXWindow", {},
                     {node("x", "AXScrollArea", {},
                           {node("", "AXOutline"), node("", "AXStaticText", {{"AXValue", std::string("RelayTransportProbe")}})})}));
    fake::install(corelDesktopWith(std::move(w)));
    // 1 windows; 2-5 the window's walk; 6-7 roles of w, x; 8-10 x's walk; 11-12 roles of x and
    // the outline; 13-14 roles of w and x again, now for the row.
    fake::answerRequest(14, std::string("AXRow"));
    const platform::Element root = platform::createApplicationElement(kCorelPid);
    const auto match = target::findScriptWindow(root);
    ASSERT_TRUE(match);
    ASSERT_TRUE(match->scrollArea);
    ASSERT_TRUE(match->row);
    EXPECT_EQ(fake::labelOf(match->scrollArea), "x");
    EXPECT_EQ(fake::labelOf(match->row), "x");
}

TEST(FindScriptWindow, UnreadableWindowsOrRolesQualifyNothing) {
    fake::Desktop desktop = corelDesktop("");
    desktop.applications[0].attributes.push_back({"AXWindows", fake::ElementAt{"inspector"}});
    fake::install(std::move(desktop));
    const platform::Element root = platform::createApplicationElement(kCorelPid);
    EXPECT_FALSE(target::findScriptWindow(root));
}

TEST(FindScriptWindow, ReleasesEverythingButTheMatch) {
    fake::install(corelDesktop(""));
    const platform::Element root = platform::createApplicationElement(kCorelPid);
    const int before = fake::liveElements();
    {
        const auto match = target::findScriptWindow(root);
        ASSERT_TRUE(match);
        EXPECT_EQ(fake::liveElements(), before + 3);
    }
    EXPECT_EQ(fake::liveElements(), before);
}

TEST(ClickPoints, RowClickPoint) {
    struct Case {
        Point position;
        Size size;
        Point expected;
    };
    const Case cases[] = {
        {{100, 300}, {200, 20}, {160, 310}},
        {{100, 300}, {70, 20}, {140, 310}},
        {{100, 300}, {90, 20}, {160, 310}},
        {{100, 300}, {20, 20}, {90, 310}},  // narrower than 30: left of the row
        {{100.5, 300.25}, {200, 21}, {160.5, 310.75}},
        {{-500, -40}, {200, 20}, {-440, -30}},
    };
    for (const Case& c : cases) EXPECT_EQ(target::rowClickPoint(c.position, c.size), c.expected);
}

TEST(ClickPoints, RunButtonPoint) {
    EXPECT_EQ(target::runButtonPoint({50, 999}, {999, 100}, {999, 400}), (Point{66, 486}));
    EXPECT_EQ(target::runButtonPoint({-20.5, 0}, {0, -300}, {0, 200.5}), (Point{-4.5, -113.5}));
}

}  // namespace
