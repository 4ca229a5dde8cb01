// The Linux platform against a real GTK application: the CorelDRAW stand-in, started for each
// test inside the private desktop of scripts/headless.
#include "desktop_support.h"
#include "process.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/time.h>

namespace {

using namespace desktop_support;
using platform::Element;

struct Rectangle {
    double x = 0, y = 0, width = 0, height = 0;
};

std::map<std::string, Rectangle> gtkGeometry(const standin::StandIn& standIn) {
    std::map<std::string, Rectangle> rectangles;
    std::ifstream stream(standIn.geometryFile);
    std::string name;
    Rectangle rectangle;
    while (stream >> name >> rectangle.x >> rectangle.y >> rectangle.width >> rectangle.height) {
        rectangles[name] = rectangle;
    }
    return rectangles;
}

class StandInTest : public ::testing::Test {
protected:
    void launch(const std::vector<std::string>& options = {}) {
        auto started = standin::start(options);
        ASSERT_TRUE(started) << "the stand-in did not become ready";
        standIn = *started;
        auto applications = platform::runningApplications(kBundleIdentifier);
        ASSERT_EQ(applications.size(), 1u);
        application = std::move(applications.front());
        root = platform::createApplicationElement(platform::processIdentifier(application));
    }
    void TearDown() override { standin::stop(standIn); }

    Element inspector() {
        auto window = windowTitled(root, "Scripts");
        EXPECT_TRUE(window);
        return window ? std::move(*window) : Element{};
    }

    // RelayTransportProbe's row: the row whose subtree holds the script's name.
    Element probeRow() {
        for (auto& row : descendants(inspector())) {
            if (text(row, "AXRole") != "AXRow") continue;
            if (find(row, "AXStaticText", "RelayTransportProbe")) return std::move(row);
        }
        ADD_FAILURE() << "no row of RelayTransportProbe";
        return Element{};
    }

    standin::StandIn standIn;
    platform::Application application;
    Element root;
};

// ---- Applications --------------------------------------------------------------------------

TEST_F(StandInTest, ApplicationIsFoundByItsNameWithItsProcessId) {
    launch();
    EXPECT_EQ(platform::processIdentifier(application), standIn.pid);
    EXPECT_EQ(text(root, "AXRole"), "AXApplication");
    EXPECT_EQ(text(root, "AXTitle"), kBundleIdentifier);
    EXPECT_TRUE(platform::runningApplications("com.corel.coreldrawsuite.2021.coreldraw").empty());
    EXPECT_TRUE(platform::runningApplications("").empty());
}

TEST_F(StandInTest, ApplicationThatEndedIsGoneAndItsElementsAreInvalid) {
    launch();
    auto window = inspector();
    standin::stop(standIn);
    EXPECT_TRUE(eventually([] { return platform::runningApplications(kBundleIdentifier).empty(); }));
    for (const Element* element : {&root, &window}) {
        const auto role = platform::copyAttributeValue(*element, "AXRole");
        EXPECT_EQ(role.code, platform::kInvalidElement);
        EXPECT_TRUE(std::holds_alternative<platform::Absent>(role.value));
    }
    EXPECT_EQ(platform::copyAttributeValue(root, "AXWindows").code, platform::kInvalidElement);
}

TEST(Applications, ElementForAProcessWithoutApplicationFindsNothing) {
    const Element nowhere = platform::createApplicationElement(999999999);
    ASSERT_TRUE(nowhere);
    for (const char* attribute : {"AXRole", "AXWindows", "AXChildren", "AXTitle", "AXPosition"}) {
        const auto result = platform::copyAttributeValue(nowhere, attribute);
        EXPECT_EQ(result.code, platform::kInvalidElement) << attribute;
        EXPECT_TRUE(std::holds_alternative<platform::Absent>(result.value)) << attribute;
    }
    EXPECT_EQ(platform::performAction(nowhere, "AXPress"), platform::kInvalidElement);
}

// ---- The tree as the tool reads it -----------------------------------------------------------

TEST_F(StandInTest, InspectorReadsAsAScrollAreaWithAnOutlineOfRows) {
    launch();
    EXPECT_EQ(dump(inspector()),
              "AXWindow [Scripts]\n"
              "  atspi:panel\n"
              "    AXScrollArea\n"
              "      atspi:viewport\n"
              "        AXOutline [Scripts]\n"
              "          AXRow\n"
              "            atspi:filler\n"
              "              AXStaticText \"AutoSaveBackup\" [AutoSaveBackup]\n"
              "          AXRow\n"
              "            atspi:filler\n"
              "              AXStaticText \"BatchExportPNG\" [BatchExportPNG]\n"
              "          AXRow\n"
              "            atspi:filler\n"
              "              AXStaticText \"RelayTransportProbe\" [RelayTransportProbe]\n"
              "          AXRow\n"
              "            atspi:filler\n"
              "              AXStaticText \"RenumberPages\" [RenumberPages]\n"
              "          AXRow\n"
              "            atspi:filler\n"
              "              AXStaticText \"TrimMarks\" [TrimMarks]\n"
              "      atspi:scroll bar\n"
              "      atspi:scroll bar\n"
              "    AXButton [Run]\n");
}

TEST_F(StandInTest, AlertIsAWindowDescribedAsWarningWithItsTextAndOk) {
    launch({"--alert-at-start", "an earlier answer"});
    const auto windows = list(root, "AXWindows");
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(text(windows[0], "AXTitle"), "Scripts");
    EXPECT_EQ(dump(windows[1]),
              "AXWindow [CorelDRAW] {\xE8\xAD\xA6\xE5\x91\x8A}\n"
              "  atspi:filler\n"
              "    AXStaticText \"an earlier answer\" [an earlier answer]\n"
              "    atspi:filler\n"
              "      AXButton [OK]\n");
}

TEST_F(StandInTest, RenameFieldIsATextFieldInTheRow) {
    launch({"--rename"});
    const auto field = find(probeRow(), "AXTextField");
    ASSERT_TRUE(field);
    EXPECT_EQ(text(*field, "AXValue"), "RelayTransportProbe");
}

TEST_F(StandInTest, AttributesThatAreNotTextOrNotSupported) {
    launch();
    const Element row = probeRow();
    struct Case {
        const char* attribute;
        std::int32_t code;
        bool otherValue;  // else Absent
    };
    const Case cases[] = {
        {"AXValue", platform::kSuccess, true},  // a row has no Text interface
        {"AXSelected", platform::kAttributeUnsupported, false},
        {"AXWindows", platform::kAttributeUnsupported, false},  // only the application lists them
        {"", platform::kAttributeUnsupported, false},
    };
    for (const auto& c : cases) {
        const auto result = platform::copyAttributeValue(row, c.attribute);
        EXPECT_EQ(result.code, c.code) << c.attribute;
        EXPECT_EQ(std::holds_alternative<platform::OtherValue>(result.value), c.otherValue)
            << c.attribute;
        EXPECT_EQ(std::holds_alternative<platform::Absent>(result.value), !c.otherValue)
            << c.attribute;
    }
    // The application element has no Component: no position, no size.
    for (const char* attribute : {"AXPosition", "AXSize"}) {
        const auto result = platform::copyAttributeValue(root, attribute);
        EXPECT_EQ(result.code, platform::kAttributeUnsupported) << attribute;
        EXPECT_TRUE(std::holds_alternative<platform::Absent>(result.value)) << attribute;
    }
}

// ---- Geometry --------------------------------------------------------------------------------

TEST_F(StandInTest, PositionsAndSizesAreTheScreenRectanglesGtkReports) {
    launch();
    const auto gtk = gtkGeometry(standIn);
    const Element window = inspector();
    const auto list = find(window, "AXScrollArea");
    const auto run = find(window, "AXButton");
    const Element row = probeRow();
    const auto label = find(row, "AXStaticText");
    ASSERT_TRUE(list && run && label);
    const std::pair<const char*, const Element*> widgets[] = {
        {"inspector", &window}, {"list", &*list}, {"run", &*run}, {"row", &row}, {"label", &*label}};
    for (const auto& [name, element] : widgets) {
        ASSERT_TRUE(gtk.count(name)) << name;
        const Rectangle& expected = gtk.at(name);
        EXPECT_EQ(position(*element), (platform::Point{expected.x, expected.y})) << name;
        EXPECT_EQ(size(*element), (platform::Size{expected.width, expected.height})) << name;
    }
    // The window stands where the stand-in put it on the screen, not at the origin.
    EXPECT_EQ(position(window), (platform::Point{120, 90}));
}

TEST_F(StandInTest, RunPointLiesOnTheRunButton) {
    launch();
    const Element window = inspector();
    const auto list = find(window, "AXScrollArea");
    const auto run = find(window, "AXButton");
    ASSERT_TRUE(list && run);
    const auto listAt = position(*list);
    const auto windowAt = position(window);
    const auto windowSize = size(window);
    const auto runAt = position(*run);
    const auto runSize = size(*run);
    ASSERT_TRUE(listAt && windowAt && windowSize && runAt && runSize);
    const platform::Point point{listAt->x + 16, windowAt->y + windowSize->height - 14};
    EXPECT_GE(point.x, runAt->x);
    EXPECT_LT(point.x, runAt->x + runSize->width);
    EXPECT_GE(point.y, runAt->y);
    EXPECT_LT(point.y, runAt->y + runSize->height);
}

// ---- Input -----------------------------------------------------------------------------------

TEST_F(StandInTest, ClickInTheRowSelectsItAndRunOpensTheAnswer) {
    launch();
    standin::setCommandId(standIn, "cmd-7");
    const Element row = probeRow();
    const auto rowAt = position(row);
    const auto rowSize = size(row);
    ASSERT_TRUE(rowAt && rowSize);
    // Fractions land in the pixel that holds them.
    ASSERT_TRUE(click({rowAt->x + 60.75, rowAt->y + rowSize->height / 2 + 0.5}));
    ASSERT_TRUE(standin::waitForEvent(standIn, "select RelayTransportProbe"));

    const Element window = inspector();
    const auto list = find(window, "AXScrollArea");
    ASSERT_TRUE(list);
    ASSERT_TRUE(click({position(*list)->x + 16,
                       position(window)->y + size(window)->height - 14}));
    ASSERT_TRUE(standin::waitForEvent(standIn, "alert opened"));
    EXPECT_EQ(standin::events(standIn),
              (std::vector<std::string>{"ready", "select RelayTransportProbe",
                                        "run RelayTransportProbe", "alert opened"}));
    std::optional<Element> alert;
    ASSERT_TRUE(eventually([&] {
        alert = windowTitled(root, "CorelDRAW");
        return alert.has_value();
    }));
    const auto message = find(*alert, "AXStaticText");
    ASSERT_TRUE(message);
    EXPECT_EQ(text(*message, "AXValue"), standin::readFile(standIn.answerFile).value_or("?"));
    EXPECT_EQ(text(*message, "AXValue").rfind("TALVO_RELAY_BEGIN_cmd-7\n", 0), 0u);
}

TEST_F(StandInTest, EscapeAfterActivationReachesTheRenameFieldAndClosesIt) {
    launch({"--rename"});
    platform::activate(application);
    platform::sleepMicroseconds(200000);
    ASSERT_TRUE(find(probeRow(), "AXTextField"));
    ASSERT_TRUE(escape());
    EXPECT_TRUE(standin::waitForEvent(standIn, "rename cancelled"));
    EXPECT_TRUE(eventually([&] { return !find(probeRow(), "AXTextField"); }));
    // The row and its name are still there.
    EXPECT_EQ(text(*find(probeRow(), "AXStaticText"), "AXValue"), "RelayTransportProbe");
}

// ---- Actions ---------------------------------------------------------------------------------

TEST_F(StandInTest, PressOnOkClosesTheAlertAndItsElementsThenBecomeInvalid) {
    launch({"--alert-at-start", "an earlier answer"});
    auto alert = windowTitled(root, "CorelDRAW");
    ASSERT_TRUE(alert);
    auto ok = find(*alert, "AXButton");
    ASSERT_TRUE(ok);
    ASSERT_EQ(text(*ok, "AXTitle"), "OK");
    EXPECT_EQ(platform::performAction(*ok, "AXPress"), platform::kSuccess);
    EXPECT_TRUE(standin::waitForEvent(standIn, "alert closed by OK"));
    EXPECT_TRUE(eventually([&] { return list(root, "AXWindows").size() == 1; }));
    // GTK's bridge keeps answering for the objects of closed widgets for a while (it leases
    // every object it has handed out for about 15 s); once it lets them go, they are invalid.
    EXPECT_TRUE(eventually(
        [&] { return platform::copyAttributeValue(*ok, "AXTitle").code == platform::kInvalidElement; },
        std::chrono::seconds(40)));
    const auto children = platform::copyAttributeValue(*alert, "AXChildren");
    EXPECT_EQ(children.code, platform::kInvalidElement);
    EXPECT_TRUE(std::holds_alternative<platform::Absent>(children.value));
    EXPECT_EQ(platform::performAction(*ok, "AXPress"), platform::kInvalidElement);
}

TEST_F(StandInTest, ActionsThatTheElementDoesNotOffer) {
    launch();
    const Element window = inspector();
    const auto label = find(window, "AXStaticText");
    const auto run = find(window, "AXButton");
    ASSERT_TRUE(label && run);
    EXPECT_EQ(platform::performAction(*label, "AXPress"), platform::kActionUnsupported);
    EXPECT_EQ(platform::performAction(*run, "AXShowMenu"), platform::kActionUnsupported);
    EXPECT_EQ(platform::performAction(*run, ""), platform::kActionUnsupported);
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready"}));
}

// ---- Processes without a desktop -------------------------------------------------------------

struct ProbeCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    int exitStatus;
};

TEST(Probe, TrustEventsAndABrokenDisplayLeaveTheStandardStreamsEmpty) {
    const ProbeCase cases[] = {
        {"trusted in the desktop", {"trust"}, {}, 0},
        {"not trusted without a display", {"trust"}, {"DISPLAY"}, 3},
        {"not trusted without an accessibility bus", {"trust"},
         {"AT_SPI_BUS_ADDRESS=unix:path=/nonexistent/bus", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/session"}, 3},
        {"events in the desktop", {"events"}, {}, 0},
        {"no events without a display", {"events"}, {"DISPLAY"}, 3},
        {"no events after the display broke", {"broken-display"}, {}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{TESSARY_LINUX_PROBE};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const auto result = standin::runProcess(argv, c.environment);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(result.standardOutput, "") << c.name;
        EXPECT_EQ(result.standardError, "") << c.name;
    }
}

// ---- Sleep -----------------------------------------------------------------------------------

void ignoreAlarm(int) {}

TEST(Sleep, ResumesAfterASignalForTheRemainingTime) {
    struct sigaction action {};
    action.sa_handler = ignoreAlarm;  // no SA_RESTART: the signal interrupts the sleep
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 50000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const auto start = std::chrono::steady_clock::now();
    platform::sleepMicroseconds(200000);
    const auto slept = std::chrono::steady_clock::now() - start;
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(slept, std::chrono::microseconds(200000));
}

}  // namespace
