#include "ax/walk.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_desktop.h"

namespace {

using fake::node;

// Installs one application whose only window is `tree`, and returns a handle to the window.
platform::Element install(fake::Node tree) {
    fake::Desktop desktop;
    desktop.applications.push_back({"app.id", 1, {}, {}});
    desktop.applications[0].windows.push_back(std::move(tree));
    fake::install(std::move(desktop));
    platform::Element app = platform::createApplicationElement(1);
    platform::ElementList windows = ax::children(app);
    return std::move(windows.at(0));
}

// A chain of `levels` nested elements named l0, l1, ...
fake::Node chain(int levels, int at = 0) {
    std::vector<fake::Node> below;
    if (at + 1 < levels) below.push_back(chain(levels, at + 1));
    return node("l" + std::to_string(at), "AXGroup", {}, std::move(below));
}

std::vector<std::string> labels(std::initializer_list<int> levels) {
    std::vector<std::string> out;
    for (int level : levels) out.push_back("l" + std::to_string(level));
    return out;
}

TEST(Walk, PreOrderEverySubtreeBeforeTheNextSibling) {
    const platform::Element a =
        install(node("A", "AXGroup", {}, {node("B", "AXGroup", {}, {node("D", "AXGroup")}), node("C", "AXGroup")}));
    const int before = fake::requests();
    EXPECT_EQ(fake::labelsOf(ax::descendants(a)), (std::vector<std::string>{"A", "B", "D", "C"}));
    // One "AXChildren" request per listed element, in walk order.
    EXPECT_EQ(fake::requests() - before, 4);
    const std::vector<std::string> reads = fake::recordOf({"get"});
    EXPECT_EQ(std::vector<std::string>(reads.end() - 4, reads.end()),
              (std::vector<std::string>{"get A AXChildren", "get B AXChildren", "get D AXChildren", "get C AXChildren"}));
}

TEST(Walk, DownToTwelveLevels) {
    const platform::Element top = install(chain(14));
    const int before = fake::requests();
    EXPECT_EQ(fake::labelsOf(ax::descendants(top)), labels({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // Level 12's children are read and dropped; level 13 is never asked.
    EXPECT_EQ(fake::requests() - before, 13);
    EXPECT_EQ(fake::recordOf({"get"}).back(), "get l12 AXChildren");
}

TEST(Walk, DepthArgumentShiftsTheBound) {
    const platform::Element top = install(chain(20));
    struct Case {
        std::int64_t depth;
        std::size_t listed;
        int requests;
    };
    const Case cases[] = {{12, 1, 1}, {13, 0, 0}, {100, 0, 0}, {INT64_MAX, 0, 0}, {0, 13, 13}, {-3, 16, 16}, {11, 2, 2}};
    for (const Case& c : cases) {
        const int before = fake::requests();
        EXPECT_EQ(ax::descendants(top, c.depth).size(), c.listed) << "depth " << c.depth;
        EXPECT_EQ(fake::requests() - before, c.requests) << "depth " << c.depth;
    }
}

TEST(Walk, ACycleIsBoundedByTheDepthLimit) {
    const platform::Element self = install(node("self", "AXGroup", {{"AXChildren", fake::ElementsAt{{"self"}}}}));
    const auto walk = ax::descendants(self);
    EXPECT_EQ(fake::labelsOf(walk), std::vector<std::string>(13, "self"));
}

TEST(Walk, AWideCycleStillEnds) {
    // Each level doubles: 2^13 - 1 elements, the depth limit the only bound.
    const platform::Element self = install(node("w", "AXGroup", {{"AXChildren", fake::ElementsAt{{"w", "w"}}}}));
    EXPECT_EQ(ax::descendants(self).size(), 8191u);
}

TEST(Walk, UnreadableChildrenMakeALeafAndLaterSiblingsContinue) {
    const platform::Element a = install(node("A", "AXGroup", {},
                                             {node("B", "AXGroup", {{"AXChildren", fake::Failing{platform::kCannotComplete, {}}}},
                                                   {node("hidden", "AXGroup")}),
                                              node("C", "AXGroup", {{"AXChildren", fake::ElementAt{"A"}}}),
                                              node("D", "AXGroup", {}, {node("E", "AXGroup")})}));
    EXPECT_EQ(fake::labelsOf(ax::descendants(a)), (std::vector<std::string>{"A", "B", "C", "D", "E"}));
}

TEST(Walk, ARootWithoutChildrenIsAListOfItself) {
    const platform::Element leaf = install(node("leaf", "AXGroup"));
    EXPECT_EQ(fake::labelsOf(ax::descendants(leaf)), std::vector<std::string>{"leaf"});
}

TEST(Walk, HoldsItsOwnReferencesAndReleasesThem) {
    const platform::Element a = install(node("A", "AXGroup", {}, {node("B", "AXGroup"), node("C", "AXGroup")}));
    const int held = fake::liveElements();
    {
        const auto walk = ax::descendants(a);
        EXPECT_EQ(fake::liveElements(), held + 3);
    }
    EXPECT_EQ(fake::liveElements(), held);
}

TEST(Walk, HundredThousandSiblings) {
    std::vector<fake::Node> many(100'000);
    for (auto& n : many) n = node("", "AXRow");
    const platform::Element list = install(node("list", "AXList", {}, std::move(many)));
    EXPECT_EQ(ax::descendants(list).size(), 100'001u);
}

}  // namespace
