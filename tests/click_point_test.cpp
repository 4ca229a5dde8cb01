// The row's click point against the list's view, at the edges: the left edge belongs to the view,
// and a coordinate that is not a number lies nowhere, so such a row is never clicked.
#include <gtest/gtest.h>

#include <limits>

#include "support/child_run.h"
#include "support/desktops.h"

namespace {

using platform::Point;
using platform::Size;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Another script is selected before each run: a Run click while the relay script's row is not
// selected would run that one.
fake::Desktop otherScriptSelected() {
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    desktop.selected = "row-other";
    return desktop;
}

fake::Node& listOf(fake::Desktop& desktop) { return desktop.applications[0].windows[0].children[0]; }
fake::Node& rowOf(fake::Desktop& desktop) { return listOf(desktop).children[0].children[1]; }

// The row is 200 x 20 and its click point lies 60 right of its left edge and 10 below its top;
// the list lies at (50, 120), 240 x 300.
void moveRow(fake::Desktop& desktop, Point position) {
    fake::Node& row = rowOf(desktop);
    row.attributes[1].second = position;
    row.children[0].attributes[2].second = position;
}

TEST(ClickPoint, TheListsLeftEdgeIsInsideItsView) {
    fake::Desktop desktop = otherScriptSelected();
    moveRow(desktop, Point{-10, 150});  // click point (50, 160): on the list's left edge
    const std::string path = scratchDirectory() + "/r";
    const Outcome outcome = runTessary(std::move(desktop), {"1", path});
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, path + "\n");
    const std::vector<std::string> posted = recordOf(outcome, {"post"});
    ASSERT_EQ(posted.size(), 4u);
    EXPECT_EQ(posted[0], "post mouse-down 50,160");
}

TEST(ClickPoint, ACoordinateThatIsNotANumberIsNeverInside) {
    struct Case {
        const char* what;
        Point rowPosition;
        Size listSize;
    };
    const Case cases[] = {
        {"the row's x", Point{kNaN, 150}, Size{240, 300}},
        {"the row's y", Point{50, kNaN}, Size{240, 300}},
        {"the list's width", Point{50, 150}, Size{kNaN, 300}},
        {"the list's height", Point{50, 150}, Size{240, kNaN}},
        {"the row's x and the list's width", Point{kNaN, 150}, Size{kNaN, 300}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = otherScriptSelected();
        moveRow(desktop, c.rowPosition);
        listOf(desktop).attributes[2].second = c.listSize;
        const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, "TESSARY: RelayTransportProbe is not visible in the Scripts inspector\n");
        EXPECT_EQ(recordOf(outcome, {"post"}), std::vector<std::string>{});
        EXPECT_EQ(recordOf(outcome, {"look"}), std::vector<std::string>{});
        EXPECT_EQ(recordOf(outcome, {"get"}).back(), "get list AXSize");
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

}  // namespace
