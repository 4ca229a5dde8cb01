// Whole runs as the host sees them, over desktops built for each case.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "support/child_run.h"
#include "support/desktops.h"

namespace {

using fake::node;
using platform::Point;
using platform::Size;

bool isRequest(const std::string& line) {
    return line.starts_with("get ") || line.starts_with("press ") || line.starts_with("look ");
}

// The record without attribute reads, event creations and releases: binding, activation, input,
// sleeps and presses.
std::vector<std::string> timeline(const Outcome& outcome) {
    std::vector<std::string> lines;
    for (const std::string& line : outcome.record) {
        if (!line.starts_with("get ") && !line.starts_with("create ") && !line.starts_with("release ") &&
            !line.starts_with("release-element ")) {
            lines.push_back(line);
        }
    }
    return lines;
}

long requestCount(const Outcome& outcome) { return std::count_if(outcome.record.begin(), outcome.record.end(), isRequest); }

std::vector<std::string> repeated(std::vector<std::string> lines, int times) {
    std::vector<std::string> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), lines.begin(), lines.end());
    return out;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The run lock, taken right after the argument checks, then the binding.
const std::vector<std::string> kBinding{"lock", "trust", "applications com.corel.coreldrawsuite.2022.coreldraw",
                                        "application-element 4242"};
const std::vector<std::string> kActivation{"activate 4242", "sleep 200000"};
const std::vector<std::string> kRowClick{"look 110,160", "post mouse-down 110,160", "sleep 50000", "post mouse-up 110,160",
                                         "sleep 50000"};
const std::vector<std::string> kClicks{"look 110,160", "post mouse-down 110,160", "sleep 50000", "post mouse-up 110,160", "sleep 50000",
                                       "sleep 100000",
                                       "look 66,486", "post mouse-down 66,486",  "sleep 50000", "post mouse-up 66,486",  "sleep 50000"};

TEST(Run, ACompleteExchange) {
    const std::string path = scratchDirectory() + "/result";
    const std::string answer = relayAnswer("cmd-1", "line one\nline two");
    const Outcome outcome = runTessary(corelDesktop(answer), {"cmd-1", path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, path + "\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(readFile(path), answer);
    EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation, kClicks, {"press alert-ok AXPress"}}));
    // Virtual time: 200 ms after activation, two clicks of 100 ms, 100 ms between them; the
    // answer is there at the first poll.
    EXPECT_EQ(outcome.clock, 500000);
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(Run, RequestsOfAWholeRunAreExactlyThoseTheAlgorithmAsks) {
    // The shared inspector: window, list, outline, row-other and its cell e1, row and its cell
    // name, run: 8 elements. Requests, with nothing cached and nothing skipped:
    //   open-alert refusal: AXWindows, the inspector's AXDescription                       2
    //   after the activation: the application's AXFrontmost                                  1
    //   locate: AXWindows 1; the window's walk 8 AXChildren;
    //     scroll area: roles of inspector, list (2), list's own walk 6 AXChildren, roles of
    //     list, outline until the outline is seen (2);                                        10
    //     row: roles of inspector, list, outline, row-other (4), row-other's walk 2, values 2;
    //     role of e1, of row (2), row's walk 2, values of row and name (2)                   14
    //                                                                                  total 33
    //   rename test: the row's walk 2 AXChildren, roles of row and name 2                       4
    //   geometry: row position and size, list position, window position and size,
    //     list size                                                                          6
    //   a look at each click point before the click                                           2
    //   after the row click: the row's AXSelected                                             1
    //   first poll: AXWindows, the alert's AXDescription (it is in front), its walk of 3,
    //     3 roles, the one static text's value                                               9
    //   dismissal: the alert's walk of 3, 3 roles, the OK button's title, the press           8
    //                                                                                        66
    const Outcome outcome = runTessary(corelDesktop(relayAnswer("1")), {"1", scratchDirectory() + "/result"});
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(requestCount(outcome), 66);
}

TEST(Run, AnOpenAlertRefusesTheRunBeforeCorelDrawIsTouched) {
    std::vector<fake::Node> windows;
    windows.push_back(inspectorWindow());
    windows.push_back(alertWindow("old", "an older answer"));
    const Outcome outcome = runTessary(corelDesktopWith(std::move(windows), relayAnswer("1")), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "TESSARY: CorelDRAW has an open alert\n");
    EXPECT_EQ(timeline(outcome), kBinding);
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(Run, AnAlertWithoutAMessageDoesNotBlockTheRun) {
    std::vector<fake::Node> windows;
    windows.push_back(node("empty", "AXWindow", {{"AXDescription", std::string("\u8B66\u544A")}}, {}));
    windows.push_back(inspectorWindow());
    const Outcome outcome = runTessary(corelDesktopWith(std::move(windows), relayAnswer("1")), {"1", scratchDirectory() + "/r"});
    EXPECT_EQ(outcome.status, 0);
}

TEST(Run, NoScriptRowAfterActivation) {
    std::vector<fake::Node> rows;
    rows.push_back(scriptRow("row-other", "OtherScript", 130));
    std::vector<fake::Node> windows;
    windows.push_back(inspectorWindow(std::move(rows)));
    const Outcome outcome = runTessary(corelDesktopWith(std::move(windows), relayAnswer("1")), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "TESSARY: RelayTransportProbe is not visible in the Scripts inspector\n");
    EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation}));
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(Run, EachMissingGeometryReadStopsBeforeAnyClick) {
    struct Case {
        const char* label;
        const char* attribute;
        int readsMade;  // geometry reads up to and including the failing one
    };
    const Case cases[] = {{"row", "AXPosition", 1},       {"row", "AXSize", 2},       {"list", "AXPosition", 3},
                          {"inspector", "AXPosition", 4}, {"inspector", "AXSize", 5}, {"list", "AXSize", 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.attribute);
        const Outcome outcome = runTessary(corelDesktop(relayAnswer("1")), {"1", "/tmp/never-written"}, [&] {
            // The geometry reads are requests 41 to 46 of the run (see the derivation above).
            const int failing = 40 + c.readsMade;
            fake::failRequest(failing, platform::kAttributeUnsupported);
        });
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, "TESSARY: cannot locate the script row and Run button\n");
        EXPECT_EQ(recordOf(outcome, {"get"}).back(), std::string("get ") + c.label + " " + c.attribute);
        EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation}));
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

TEST(Run, GeometryOfTheWrongKindIsMissingToo) {
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    // The list's position reads as a size.
    desktop.applications[0].windows[0].children[0].attributes[1].second = Size{50, 120};
    const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.err, "TESSARY: cannot locate the script row and Run button\n");
    EXPECT_EQ(recordOf(outcome, {"get"}).back(), "get list AXPosition");
}

// An inspector whose script row holds an open rename: the name shows only in the text field,
// which has the keyboard focus, and Escape closes it. A second inspector window, lower in the
// window order, lists the script at another place.
fake::Desktop renamingDesktop(bool secondInspector) {
    std::vector<fake::Node> renamingRows;
    renamingRows.push_back(node("renaming", "AXRow", {{"AXPosition", Point{50, 150}}, {"AXSize", Size{200, 20}}},
                                {node("field", "AXTextField", {{"AXValue", std::string("RelayTransportProbe")}})}));
    std::vector<fake::Node> windows;
    windows.push_back(inspectorWindow(std::move(renamingRows)));
    if (secondInspector) {
        fake::Node second = inspectorWindow();
        second.label = "inspector2";
        second.attributes[2].second = Point{400, 100};       // AXPosition
        second.children[0].label = "list2";
        second.children[0].attributes[1].second = Point{450, 120};
        second.children[0].children[0].label = "outline2";
        second.children[0].children[0].children[1].label = "row2";
        second.children[0].children[0].children[1].attributes[1].second = Point{450, 170};
        second.children[0].children[0].children[1].children[0].label = "name2";
        second.children[1].label = "run2";
        second.children[1].attributes[2].second = Point{450, 470};
        windows.push_back(std::move(second));
    }
    fake::Desktop desktop = corelDesktopWith(std::move(windows), relayAnswer("1"));
    desktop.focus = "field";
    return desktop;
}

TEST(Run, ARenameIsCancelledAndTheSecondLocateDecidesWhereToClick) {
    const std::string path = scratchDirectory() + "/result";
    const Outcome outcome = runTessary(renamingDesktop(true), {"1", path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(readFile(path), relayAnswer("1"));
    EXPECT_EQ(timeline(outcome),
              joined({kBinding, kActivation, {"post key-down 53", "post key-up 53", "sleep 100000"},
                      {"look 510,180", "post mouse-down 510,180", "sleep 50000", "post mouse-up 510,180", "sleep 50000",
                       "sleep 100000", "look 466,486", "post mouse-down 466,486", "sleep 50000", "post mouse-up 466,486",
                       "sleep 50000"},
                      {"press alert-ok AXPress"}}));
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(Run, ASecondLocateThatFindsNothingCannotLocate) {
    const Outcome outcome = runTessary(renamingDesktop(false), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "TESSARY: cannot locate the script row and Run button\n");
    EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation, {"post key-down 53", "post key-up 53", "sleep 100000"}}));
    EXPECT_EQ(outcome.liveElements, 0);
}

// The rename test walks the row down to 12 levels below it, not 13.
TEST(Run, ATextFieldWithinTwelveLevelsOfTheRowIsARename) {
    for (const auto& [level, escapes] : {std::pair{12, std::vector<std::string>{"post key-down 53", "post key-up 53"}},
                                         std::pair{13, std::vector<std::string>{}}}) {
        SCOPED_TRACE(level);
        fake::Node field = node("field", "AXTextField");
        for (int above = level - 1; above >= 1; --above) field = node("", "AXGroup", {}, {std::move(field)});
        std::vector<fake::Node> rows;
        rows.push_back(scriptRow("row", "RelayTransportProbe", 150, {std::move(field)}));
        std::vector<fake::Node> windows;
        windows.push_back(inspectorWindow(std::move(rows)));
        fake::Desktop desktop = corelDesktopWith(std::move(windows), relayAnswer("1"));
        desktop.focus = "field";
        const Outcome outcome = runTessary(std::move(desktop), {"1", scratchDirectory() + "/r"});
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(recordOf(outcome, {"post"}).size(), escapes.size() + 4);
        std::vector<std::string> keys;
        for (const std::string& line : recordOf(outcome, {"post"})) {
            if (line.starts_with("post key")) keys.push_back(line);
        }
        EXPECT_EQ(keys, escapes);
    }
}

// A rename field that survives Escape: the test is made once, one Escape is posted, and the
// second locate's row is clicked with the field still open. A second Escape could not even be
// created here, so a repeated test would end the run instead of looping.
TEST(Run, TheRenameTestIsMadeOnceEvenWhenTheFieldSurvivesEscape) {
    fake::Desktop desktop = renamingDesktop(false);
    desktop.applications[0].windows[0].children[0].children[0].children[0].children[0].survivesEscape = true;
    desktop.failKeyboardEventAt = 3;
    const std::string path = scratchDirectory() + "/result";
    const Outcome outcome = runTessary(std::move(desktop), {"1", path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation, {"post key-down 53", "post key-up 53", "sleep 100000"},
                                         kClicks, {"press alert-ok AXPress"}}));
    // Windows listed for the open-alert refusal, two locates and the first poll; the field's role
    // read by the one rename test (the locates stop at the row).
    EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), "get app AXWindows"), 1 + 2 + 1);
    EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), "get field AXRole"), 1);
}

// Some window managers list a new window last: the poll finds the answer behind the inspector.
TEST(Run, AnAnswerListedAfterTheInspectorIsFound) {
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    desktop.script->alertLast = true;
    const Outcome outcome = runTessary(std::move(desktop), {"1", scratchDirectory() + "/r"});
    EXPECT_EQ(outcome.status, 0);
    const std::vector<std::string> reads = recordOf(outcome, {"get"});
    const auto poll = std::find(reads.rbegin(), reads.rend(), "get app AXWindows").base();
    ASSERT_LE(poll + 2, reads.end());
    EXPECT_EQ(std::vector<std::string>(poll, poll + 2), (std::vector<std::string>{"get inspector AXDescription", "get alert AXDescription"}));
}

TEST(Run, NoAnswerEndsAfterAHundredPollsAndAHundredSleeps) {
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    desktop.script.reset();  // Run does nothing
    const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "TESSARY: CorelDRAW did not return an alert within 10 seconds\n");
    EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation, kClicks, repeated({"sleep 100000"}, 100)}));
    // Each poll asks for the window list and the inspector's description, and nothing else.
    const std::vector<std::string> reads = recordOf(outcome, {"get"});
    ASSERT_GE(reads.size(), 200u);
    EXPECT_EQ(std::vector<std::string>(reads.end() - 200, reads.end()),
              repeated({"get app AXWindows", "get inspector AXDescription"}, 100));
    EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), "get app AXWindows"), 1 + 1 + 100);
    EXPECT_EQ(outcome.clock, 200000 + 300000 + 100 * 100000);
    EXPECT_EQ(outcome.liveElements, 0);
}

TEST(Run, AnAnswerIsSeenUpToTheHundredthPollAndNotAfter) {
    // The script starts at the Run button-up, 450 ms into the run; the click returns 50 ms
    // later and poll k comes (k - 1) x 100 ms after that: the 100th poll sees an answer that
    // takes up to 9.95 s.
    struct Case {
        std::int64_t delay;
        int status;
    };
    const Case cases[] = {{0, 0}, {100000, 0}, {9950000, 0}, {9950001, 1}, {20000000, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delay);
        const Outcome outcome = runTessary(corelDesktop(relayAnswer("1"), c.delay), {"1", scratchDirectory() + "/r"});
        EXPECT_EQ(outcome.status, c.status);
        if (c.status == 1) {
            EXPECT_EQ(outcome.err, "TESSARY: CorelDRAW did not return an alert within 10 seconds\n");
        }
    }
}

TEST(Run, AClickThatMissesShowsAsTheTimeout) {
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    desktop.applications[0].windows[0].children[1].attributes[2].second = Point{200, 470};  // Run moved away
    const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.err, "TESSARY: CorelDRAW did not return an alert within 10 seconds\n");
}

TEST(Run, AnyAlertDuringThePollsGoesToTheAnswerCheck) {
    const Outcome outcome = runTessary(corelDesktop("Script error: line 3"), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "TESSARY: CorelDRAW returned an unexpected alert: Script error: line 3\n");
    EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation, kClicks}));
    EXPECT_EQ(outcome.liveElements, 0);
}

// What lies at each click point is looked at right before that click (requests 47 and 49 of
// the run): a window of another process, or no window at all, ends the run without that click.
TEST(Run, AClickPointThatCorelDrawDoesNotHoldStopsTheRunBeforeThatClick) {
    const fake::ScreenWindow overRow{777, Point{80, 140}, Size{100, 40}};
    const fake::ScreenWindow overRun{777, Point{40, 460}, Size{100, 60}};
    const std::vector<std::string> kNoClick = joined({kBinding, kActivation, {"look 110,160"}});
    const std::vector<std::string> kRowOnly = joined({kBinding, kActivation, kRowClick, {"sleep 100000", "look 66,486"}});
    struct Case {
        const char* what;
        std::function<void(fake::Desktop&)> arrange;
        std::function<void()> duringRun;
        std::vector<std::string> timeline;
    };
    const Case cases[] = {
        {"another process's window over the row", [&](fake::Desktop& d) { d.frontWindows = {overRow}; }, {}, kNoClick},
        {"another process's window over Run", [&](fake::Desktop& d) { d.frontWindows = {overRun}; }, {}, kRowOnly},
        {"another process's window comes over Run after the row click", {},
         [&] { fake::beforeRequest(49, [&] { fake::raise(overRun); }); }, kRowOnly},
        {"the row off the display", [](fake::Desktop& d) { d.display = Size{100, 1080}; }, {}, kNoClick},
        {"Run off the display", [](fake::Desktop& d) { d.display = Size{1920, 480}; }, {}, kRowOnly},
        {"no window at Run: the inspector closed after the row click", {},
         [] { fake::beforeRequest(49, [] { fake::vanish("inspector"); }); }, kRowOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = corelDesktop(relayAnswer("1"));
        if (c.arrange) c.arrange(desktop);
        const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"}, c.duringRun);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "TESSARY: CorelDRAW is not in front at the Scripts inspector\n");
        EXPECT_EQ(timeline(outcome), c.timeline);
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

TEST(Run, ClicksGoAheadWhereCorelDrawIsInFrontOrThePlatformCannotTell) {
    struct Case {
        const char* what;
        std::vector<fake::ScreenWindow> frontWindows;
        bool ownerUnknown;
        int status;
        std::string err;
        std::vector<std::string> timeline;
    };
    const std::vector<fake::ScreenWindow> corelPanel{{kCorelPid, Point{0, 0}, Size{1920, 1080}}};
    const std::vector<fake::ScreenWindow> otherWindow{{777, Point{0, 0}, Size{1920, 1080}}};
    const std::string notInFront = "TESSARY: CorelDRAW is not in front at the Scripts inspector\n";
    const std::vector<std::string> rowClickOnly =
        joined({kBinding, kActivation, kRowClick, {"sleep 100000"}, repeated({"sleep 100000"}, 10)});
    const Case cases[] = {
        // A window of CorelDRAW itself lies there: the row click goes ahead but selects nothing, so
        // Run is never clicked.
        {"CorelDRAW's own window over both points", corelPanel, false, 1, notInFront, rowClickOnly},
        {"unknown, nothing in the way", {}, true, 0, "", joined({kBinding, kActivation, kClicks, {"press alert-ok AXPress"}})},
        // Unknown clicks as before, blind: here the row click lands on the other window, and the
        // row, not selected, stops the run before Run.
        {"unknown, another process's window over both points", otherWindow, true, 1, notInFront, rowClickOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = corelDesktop(relayAnswer("1"));
        desktop.frontWindows = c.frontWindows;
        desktop.ownerUnknown = c.ownerUnknown;
        const Outcome outcome = runTessary(std::move(desktop), {"1", scratchDirectory() + "/r"});
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(timeline(outcome), c.timeline);
    }
}

// ---- The wrong script never runs ----------------------------------------------------------
//
// Another script is selected in the inspector before each of these runs: a Run click that
// CorelDRAW takes while the relay script's row is not selected runs that other script.

const std::string kNotInFrontLine = "TESSARY: CorelDRAW is not in front at the Scripts inspector\n";
const std::string kNotVisibleLine = "TESSARY: RelayTransportProbe is not visible in the Scripts inspector\n";

fake::Desktop otherScriptSelected() {
    fake::Desktop desktop = corelDesktop(relayAnswer("1"));
    desktop.selected = "row-other";
    return desktop;
}

std::vector<std::string> posted(const Outcome& outcome) { return recordOf(outcome, {"post"}); }

// Requests of the complete exchange (see the derivation above): the application's AXFrontmost
// after the activation, and the row's AXSelected between the two looks.
constexpr int kFrontmostRead = 3;
constexpr int kSelectedRead = 48;

// Activation that the system refuses leaves CorelDRAW behind: nothing is clicked, no key pressed.
TEST(WrongScript, RefusedActivationClicksNothing) {
    for (const bool renaming : {false, true}) {
        SCOPED_TRACE(renaming ? "a rename open" : "no rename");
        fake::Desktop desktop = renaming ? renamingDesktop(false) : otherScriptSelected();
        desktop.selected = "row-other";
        desktop.refuseActivation = true;
        const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, kNotInFrontLine);
        // A "no" at each of 21 readings, 100 ms apart after the first.
        EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation, repeated({"sleep 100000"}, 20)}));
        EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), "get app AXFrontmost"), 21);
        EXPECT_EQ(recordOf(outcome, {"get"}).back(), "get app AXFrontmost");
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

// Where the platform cannot say whether CorelDRAW is in front, the row click goes ahead; taken
// as activation only, it selects nothing, and Run is never clicked.
TEST(WrongScript, AnInactiveApplicationsFirstClickNeverLeadsToRun) {
    fake::Desktop desktop = otherScriptSelected();
    desktop.refuseActivation = true;
    desktop.applications[0].attributes.push_back({"AXFrontmost", fake::Failing{platform::kCannotComplete, {}}});
    const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, kNotInFrontLine);
    EXPECT_EQ(posted(outcome), (std::vector<std::string>{"post mouse-down 110,160", "post mouse-up 110,160"}));
    EXPECT_EQ(recordOf(outcome, {"get"}).back(), "get row AXSelected");
    EXPECT_EQ(outcome.liveElements, 0);
}

// A row scrolled partly out of the list reports its whole frame: its click point may lie outside
// the list, where the click would reach something else. Left and top edges of the list belong to
// it, right and bottom edges do not.
TEST(WrongScript, ARowWhoseClickPointLiesOutsideTheListIsNotClicked) {
    struct Case {
        const char* what;
        Point rowPosition;  // the row is 200 x 20; its click point is 60 right, 10 down
        bool visible;
    };
    // The list: (50, 120), 240 x 300.
    const Case cases[] = {
        {"cut at the top, middle above the list", Point{50, 109.5}, false},
        {"cut at the top, middle on the top edge", Point{50, 110}, true},
        {"cut at the bottom, middle on the bottom edge", Point{50, 410}, false},
        {"cut at the bottom, middle just inside", Point{50, 409.5}, true},
        {"scrolled left, middle left of the list", Point{-11, 150}, false},
        {"scrolled right, middle on the right edge", Point{230, 150}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = otherScriptSelected();
        fake::Node& row = desktop.applications[0].windows[0].children[0].children[0].children[1];
        row.attributes[1].second = c.rowPosition;
        row.children[0].attributes[2].second = c.rowPosition;
        const Outcome outcome = runTessary(std::move(desktop), {"1", scratchDirectory() + "/r"});
        if (c.visible) {
            EXPECT_EQ(outcome.err, "");
            EXPECT_EQ(outcome.status, 0);
        } else {
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.err, kNotVisibleLine);
            EXPECT_EQ(posted(outcome), std::vector<std::string>{});
            EXPECT_EQ(recordOf(outcome, {"get"}).back(), "get list AXSize");
        }
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

// A row click that selects nothing (here the row takes no selection) leaves the other script
// selected: Run is never clicked.
TEST(WrongScript, ARowClickThatSelectsNothingNeverLeadsToRun) {
    fake::Desktop desktop = otherScriptSelected();
    desktop.applications[0].windows[0].children[0].children[0].children[1].refusesSelection = true;
    const Outcome outcome = runTessary(std::move(desktop), {"1", "/tmp/never-written"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, kNotInFrontLine);
    // A "no" at each of 11 readings, 100 ms apart after the first.
    EXPECT_EQ(timeline(outcome), joined({kBinding, kActivation, kRowClick, {"sleep 100000"}, repeated({"sleep 100000"}, 10)}));
    EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), "get row AXSelected"), 11);
    EXPECT_EQ(recordOf(outcome, {"get"}).back(), "get row AXSelected");
    EXPECT_EQ(outcome.liveElements, 0);
}

// Only a definite "no" stops a run: an answer that is missing, failed or of another kind lets it
// go on as before, for the application's AXFrontmost and the row's AXSelected alike.
TEST(WrongScript, AYesOrNoReadWithoutAnAnswerGoesOn) {
    struct Answer {
        const char* what;
        std::function<void(int)> inject;
        int readings;  // of the attribute: an answer that cannot tell is not asked again
    };
    const Answer answers[] = {
        {"no value", [](int n) { fake::failRequest(n, platform::kNoValue); }, 1},
        {"cannot complete", [](int n) { fake::failRequest(n, platform::kCannotComplete); }, 1},
        {"unsupported", [](int n) { fake::failRequest(n, platform::kAttributeUnsupported); }, 1},
        {"false beside an error code", [](int n) { fake::answerRequest(n, fake::Failing{platform::kFailure, {}}); }, 1},
        {"success, nothing stored", [](int n) { fake::answerRequest(n, fake::Failing{platform::kSuccess, {}}); }, 1},
        {"a number other than 0 or 1", [](int n) { fake::answerRequest(n, fake::Number{2}); }, 1},
        {"a text", [](int n) { fake::answerRequest(n, std::string("no")); }, 1},
        {"yes", [](int n) { fake::answerRequest(n, true); }, 1},
        {"yes as the number 1", [](int n) { fake::answerRequest(n, fake::Number{1}); }, 1},
    };
    for (const int read : {kFrontmostRead, kSelectedRead}) {
        const std::string readLine = read == kFrontmostRead ? "get app AXFrontmost" : "get row AXSelected";
        for (const Answer& a : answers) {
            SCOPED_TRACE(std::string(a.what) + " at request " + std::to_string(read));
            const std::string path = scratchDirectory() + "/r";
            const Outcome outcome = runTessary(otherScriptSelected(), {"1", path}, [&] { a.inject(read); });
            EXPECT_EQ(outcome.err, "");
            EXPECT_EQ(outcome.status, 0);
            EXPECT_EQ(outcome.out, path + "\n");
            EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), readLine), a.readings);
            EXPECT_EQ(requestCount(outcome), 66 + a.readings - 1);
        }
        // And a definite "no" at the same request and at every reading after it, as a boolean or
        // as the number 0, stops the run before any click that follows.
        const int readings = read == kFrontmostRead ? 21 : 11;
        for (const fake::Attribute& no : {fake::Attribute(false), fake::Attribute(fake::Number{0})}) {
            SCOPED_TRACE("no at request " + std::to_string(read) + " and after");
            const Outcome outcome = runTessary(otherScriptSelected(), {"1", "/tmp/never-written"}, [&] {
                for (int n = read; n < read + readings; ++n) fake::answerRequest(n, no);
            });
            EXPECT_EQ(outcome.err, kNotInFrontLine);
            EXPECT_EQ(posted(outcome).size(), read == kFrontmostRead ? 0u : 2u);
            EXPECT_EQ(requestCount(outcome), read + readings - 1);
        }
    }
}

// Once CorelDRAW has said "no", only a "yes" lets the run go on: a later reading that cannot tell
// (CorelDRAW busy, no value, a value of another kind) counts as "no", within the same bound of 21
// readings of "AXFrontmost" and 11 of "AXSelected", 100 ms apart. A first reading that cannot tell
// still lets the run go on at once.
TEST(WrongScript, AfterANoOnlyAYesGoesOn) {
    const fake::Attribute no = false;
    const fake::Attribute yes = true;
    const fake::Attribute busy = fake::Failing{platform::kCannotComplete, {}};
    const fake::Attribute noValue = fake::Failing{platform::kNoValue, {}};
    const fake::Attribute silences[] = {busy,
                                        noValue,
                                        fake::Failing{platform::kAttributeUnsupported, {}},
                                        fake::Failing{platform::kFailure, std::string("yes")},
                                        fake::Failing{platform::kSuccess, {}},
                                        fake::Number{2},
                                        std::string("yes")};
    struct Question {
        const char* label;
        const char* attribute;
        int firstRead;  // its request number in the complete exchange
        int bound;      // readings at most
        std::size_t postedBefore;
    };
    const Question questions[] = {{"app", "AXFrontmost", kFrontmostRead, 21, 0}, {"row", "AXSelected", kSelectedRead, 11, 2}};
    for (const Question& q : questions) {
        const int bound = q.bound;
        std::vector<fake::Attribute> everySilence{no};
        for (int i = 1; i < bound; ++i) everySilence.push_back(silences[static_cast<std::size_t>(i) % std::size(silences)]);
        std::vector<fake::Attribute> busyToTheLast{no};
        for (int i = 2; i < bound; ++i) busyToTheLast.push_back(busy);
        busyToTheLast.push_back(yes);
        std::vector<fake::Attribute> busyToTheBound(static_cast<std::size_t>(bound), busy);
        busyToTheBound.front() = no;
        struct Case {
            std::string what;
            std::vector<fake::Attribute> answers;  // the readings, in turn; then CorelDRAW's own answer
            bool goesOn;
            int readings;
        };
        const Case cases[] = {
            {"no, cannot complete, yes", {no, busy, yes}, true, 3},
            {"no, no value, yes", {no, noValue, yes}, true, 3},
            {"no, no, a value of another kind, yes", {no, no, fake::Number{2}, yes}, true, 4},
            {"no, then cannot complete up to the last reading, which says yes", busyToTheLast, true, bound},
            {"no, then cannot complete to the bound", busyToTheBound, false, bound},
            {"no, then every kind of answer that cannot tell, to the bound", everySilence, false, bound},
            {"cannot complete first, then no", {busy, no}, true, 1},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(q.attribute) + ": " + c.what);
            const std::string readLine = std::string("get ") + q.label + " " + q.attribute;
            const std::string path = scratchDirectory() + "/r";
            const Outcome outcome = runTessary(otherScriptSelected(), {"1", path}, [&] { fake::answerReads(q.label, q.attribute, c.answers); });
            EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), readLine), c.readings);
            if (c.goesOn) {
                EXPECT_EQ(outcome.err, "");
                EXPECT_EQ(outcome.status, 0);
                EXPECT_EQ(outcome.out, path + "\n");
                EXPECT_EQ(requestCount(outcome), 66 + c.readings - 1);
            } else {
                EXPECT_EQ(outcome.status, 1);
                EXPECT_EQ(outcome.err, kNotInFrontLine);
                EXPECT_EQ(readFile(path), std::nullopt);
                // Nothing is clicked after the question; the last request is its last reading.
                EXPECT_EQ(posted(outcome).size(), q.postedBefore);
                EXPECT_EQ(recordOf(outcome, {"get", "look", "press"}).back(), readLine);
                EXPECT_EQ(requestCount(outcome), q.firstRead + bound - 1);
            }
            // One 100 ms wait before each reading after the first.
            std::vector<std::string> lines = timeline(outcome);
            const std::vector<std::string> waits = repeated({"sleep 100000"}, c.readings - 1);
            const std::vector<std::string> before = q.firstRead == kFrontmostRead ? joined({kBinding, kActivation})
                                                                                  : joined({kBinding, kActivation, kRowClick, {"sleep 100000"}});
            if (c.goesOn && lines.size() > before.size() + waits.size()) lines.resize(before.size() + waits.size());
            EXPECT_EQ(lines, joined({before, waits}));
            EXPECT_EQ(outcome.liveElements, 0);
        }
    }
}

// An OK press that does not report success may still have happened: the run looks again for an
// open alert, up to 10 times, 100 ms apart. Only a window list that CorelDRAW gave without the
// alert counts as closed; a look whose "AXWindows" goes unanswered counts as nothing. Each code,
// with the alert gone or still there, and with "AXWindows" unreadable for some or all looks.
TEST(WrongScript, AnOkPressThatDidNotSucceedIsCheckedBeforeTheRunIsCalledFailed) {
    const std::int32_t codes[] = {platform::kFailure,  platform::kIllegalArgument,     platform::kInvalidElement,
                                  platform::kCannotComplete, platform::kAttributeUnsupported, platform::kActionUnsupported,
                                  platform::kApiDisabled, platform::kNoValue};
    struct Case {
        const char* what;
        bool closes;     // the press closed the alert all the same
        int unanswered;  // looks whose "AXWindows" goes unanswered
        int looks;       // "AXWindows" reads after the press
        bool succeeds;
    };
    const Case cases[] = {
        {"gone, seen at the first look", true, 0, 1, true},
        {"gone, seen after 4 unanswered looks", true, 4, 5, true},
        {"gone, seen at the last look", true, 9, 10, true},
        {"gone, but no look answered", true, 10, 10, false},
        {"still there", false, 0, 10, false},
        {"still there, 3 looks unanswered", false, 3, 10, false},
    };
    for (const std::int32_t code : codes) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(code) + ", " + c.what);
            fake::Desktop desktop = corelDesktop(relayAnswer("1"));
            desktop.script->okPressResult = code;
            desktop.script->okPressActsAnyway = c.closes;
            desktop.script->windowsUnansweredAfterOk = c.unanswered;
            const std::string path = scratchDirectory() + "/result";
            const Outcome outcome = runTessary(std::move(desktop), {"1", path});
            EXPECT_EQ(outcome.status, c.succeeds ? 0 : 1);
            EXPECT_EQ(outcome.out, c.succeeds ? path + "\n" : "");
            EXPECT_EQ(outcome.err, c.succeeds ? "" : "TESSARY: cannot dismiss CorelDRAW response\n");
            EXPECT_EQ(readFile(path), relayAnswer("1"));
            const std::vector<std::string> lines = timeline(outcome);
            const auto press = std::find(lines.begin(), lines.end(), "press alert-ok AXPress");
            ASSERT_NE(press, lines.end());
            EXPECT_EQ(std::vector<std::string>(press + 1, lines.end()), repeated({"sleep 100000"}, c.looks - 1));
            const std::vector<std::string> all = outcome.record;
            const auto pressed = std::find(all.begin(), all.end(), "press alert-ok AXPress");
            EXPECT_EQ(std::count(pressed, all.end(), "get app AXWindows"), c.looks);
            EXPECT_EQ(outcome.liveElements, 0);
        }
    }
}

// After an OK press that did not succeed, a look counts "closed" only when CorelDRAW answered the
// window list and each listed window's description: a CorelDRAW that just failed a press is the
// one that fails reads. A description with no value or not supported, and a window that is gone,
// are answers (not the alert); any other failed read tells nothing; a window described "警告" is
// open whether or not its message can be read. Each case starts from a press that answers
// -25204; the alert stays open unless the case says otherwise.
TEST(WrongScript, ALookCountsClosedOnlyWhenEveryDescriptionWasAnswered) {
    // The press is the last of the 66 requests of the complete exchange: what the case changes
    // takes effect from the first look after it.
    constexpr int kFirstLook = 67;
    const auto failing = [](std::int32_t code) { return fake::Attribute(fake::Failing{code, {}}); };
    const auto always = [](fake::Attribute answer) { return std::vector<fake::Attribute>(10, answer); };
    struct Case {
        const char* what;
        bool closes;  // the press closed the alert all the same
        std::function<void()> afterPress;
        int looks;
        bool succeeds;
    };
    const Case cases[] = {
        {"the alert's description unanswered at every look", false,
         [&] { fake::answerReads("alert", "AXDescription", always(failing(platform::kCannotComplete))); }, 10, false},
        {"the alert's description unanswered once, then the alert is seen", false,
         [&] { fake::answerReads("alert", "AXDescription", {failing(platform::kCannotComplete)}); }, 10, false},
        {"the alert's description fails otherwise at every look", false,
         [&] {
             fake::answerReads("alert", "AXDescription",
                               {failing(platform::kFailure), failing(platform::kIllegalArgument), failing(platform::kApiDisabled),
                                failing(platform::kActionUnsupported), failing(-25208), failing(1), failing(-1),
                                failing(platform::kFailure), failing(platform::kCannotComplete), failing(platform::kFailure)});
         },
         10, false},
        {"the alert's message cannot be read", false,
         [&] { fake::answerReads("alert-text", "AXValue", always(failing(platform::kCannotComplete))); }, 10, false},
        {"the walk of the alert fails", false,
         [&] { fake::answerReads("alert", "AXChildren", always(failing(platform::kCannotComplete))); }, 10, false},
        {"the alert's message is empty", false, [&] { fake::answerReads("alert-text", "AXValue", always(std::string())); }, 10,
         false},
        {"the alert closed; another window's description unanswered once", true,
         [&] { fake::answerReads("inspector", "AXDescription", {failing(platform::kCannotComplete)}); }, 2, true},
        {"the alert closed; another window's description unanswered at every look", true,
         [&] { fake::answerReads("inspector", "AXDescription", always(failing(platform::kCannotComplete))); }, 10, false},
        {"the alert closed; CorelDRAW then lists no window at all", true, [] { fake::vanish("inspector"); }, 1, true},
        {"the alert closed", true, [] {}, 1, true},
        {"the alert's description has no value", false,
         [&] { fake::answerReads("alert", "AXDescription", {failing(platform::kNoValue)}); }, 1, true},
        {"the alert's description is not supported", false,
         [&] { fake::answerReads("alert", "AXDescription", {failing(platform::kAttributeUnsupported)}); }, 1, true},
        {"the alert is gone as its description is read", false,
         [&] { fake::answerReads("alert", "AXDescription", {failing(platform::kInvalidElement)}); }, 1, true},
        {"the alert's description is no text", false, [&] { fake::answerReads("alert", "AXDescription", {fake::Other{}}); }, 1,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = corelDesktop(relayAnswer("1"));
        desktop.script->okPressResult = platform::kCannotComplete;
        desktop.script->okPressActsAnyway = c.closes;
        const std::string path = scratchDirectory() + "/result";
        const Outcome outcome =
            runTessary(std::move(desktop), {"1", path}, [&] { fake::beforeRequest(kFirstLook, c.afterPress); });
        EXPECT_EQ(outcome.status, c.succeeds ? 0 : 1);
        EXPECT_EQ(outcome.out, c.succeeds ? path + "\n" : "");
        EXPECT_EQ(outcome.err, c.succeeds ? "" : "TESSARY: cannot dismiss CorelDRAW response\n");
        EXPECT_EQ(readFile(path), relayAnswer("1"));
        const std::vector<std::string>& all = outcome.record;
        const auto pressed = std::find(all.begin(), all.end(), "press alert-ok AXPress");
        ASSERT_NE(pressed, all.end());
        EXPECT_EQ(std::count_if(all.begin(), pressed + 1, isRequest), kFirstLook - 1);
        EXPECT_EQ(std::count(pressed, all.end(), "get app AXWindows"), c.looks);
        const std::vector<std::string> lines = timeline(outcome);
        const auto press = std::find(lines.begin(), lines.end(), "press alert-ok AXPress");
        EXPECT_EQ(std::vector<std::string>(press, lines.end()), joined({{"press alert-ok AXPress"}, repeated({"sleep 100000"}, c.looks - 1)}));
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

// ---- CorelDRAW answers late ---------------------------------------------------------------------
//
// A busy CorelDRAW answers "AXFrontmost" and "AXSelected" with its old state for a while: a "no" is
// read again 100 ms later, up to 2 s of such waits for the activation and 1 s for the selection.

// The activation shows `activationLate` after the request, the row's selection `selectionLate`
// after the row click's button-up (virtual time).
Outcome lateRun(std::int64_t activationLate, std::int64_t selectionLate, const std::string& path) {
    fake::Desktop desktop = otherScriptSelected();
    desktop.activationShowsAfterMicroseconds = activationLate;
    desktop.selectionShowsAfterMicroseconds = selectionLate;
    return runTessary(std::move(desktop), {"1", path});
}

TEST(LateAnswer, ARunWaitsForWhatCorelDrawShowsLateWithinItsBound) {
    struct Case {
        const char* what;
        std::int64_t activationLate;
        std::int64_t selectionLate;
        int frontmostSleeps;  // 100 ms waits after the 200 ms one
        int selectedSleeps;   // 100 ms waits after the 100 ms between the clicks
        bool completes;
    };
    // The first reading of "AXFrontmost" comes 200 ms after the activation, the k-th reread
    // k x 100 ms later; the first of "AXSelected" 150 ms after the row's button-up (the click's
    // own 50 ms, then 100 ms), the k-th reread k x 100 ms later.
    const Case cases[] = {
        {"both at once", 0, 0, 0, 0, true},
        {"in front 1.5 s late", 1500000, 0, 13, 0, true},
        {"selected 0.9 s late", 0, 900000, 0, 8, true},
        {"both late", 1500000, 900000, 13, 8, true},
        {"in front at the last reading", 2200000, 0, 20, 0, true},
        {"in front just after the last reading", 2200001, 0, 20, 0, false},
        {"selected at the last reading", 0, 1150000, 0, 10, true},
        {"selected just after the last reading", 0, 1150001, 0, 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = scratchDirectory() + "/result";
        const Outcome outcome = lateRun(c.activationLate, c.selectionLate, path);
        EXPECT_EQ(outcome.status, c.completes ? 0 : 1);
        EXPECT_EQ(outcome.err, c.completes ? "" : kNotInFrontLine);
        EXPECT_EQ(readFile(path), c.completes ? std::optional(relayAnswer("1")) : std::nullopt);
        const std::vector<std::string> frontmostWait = repeated({"sleep 100000"}, c.frontmostSleeps);
        const std::vector<std::string> selectedWait = repeated({"sleep 100000"}, c.selectedSleeps);
        const bool frontmostFails = !c.completes && c.activationLate > 0;
        std::vector<std::string> expected = joined({kBinding, kActivation, frontmostWait});
        if (!frontmostFails) {
            expected = joined({expected, kRowClick, {"sleep 100000"}, selectedWait});
            if (c.completes) {
                expected = joined({expected, {"look 66,486", "post mouse-down 66,486", "sleep 50000", "post mouse-up 66,486",
                                              "sleep 50000", "press alert-ok AXPress"}});
            }
        }
        EXPECT_EQ(timeline(outcome), expected);
        // One reading more than the waits between them; none of the other script ever ran.
        EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), "get app AXFrontmost"), c.frontmostSleeps + 1);
        EXPECT_EQ(std::count(outcome.record.begin(), outcome.record.end(), "get row AXSelected"),
                  frontmostFails ? 0 : c.selectedSleeps + 1);
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

}  // namespace
