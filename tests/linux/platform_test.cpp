// The Linux platform against a real GTK application: the CorelDRAW stand-in, started for each
// test inside the private desktop of scripts/headless.
#include "desktop_support.h"
#include "process.h"
#include "stall.h"

#include "platform/linux/alarm.h"
#include "platform/linux/bus.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "platform/linux/display.h"  // after gtest, as Xlib is

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// The Scripts inspector of the stand-in with its five scripts, as `dump` shows it.
constexpr const char* kInspectorDump =
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
    "    AXButton [Run]\n";

// The requests that the Linux implementation sent while `work` ran: all of them, and those
// that travelled on an application's direct connection.
struct Requests {
    std::uint64_t all = 0;
    std::uint64_t direct = 0;
};

template <typename Work>
Requests requestsOf(Work work) {
    const auto all = platform::linux_desktop::requestCount();
    const auto direct = platform::linux_desktop::directRequestCount();
    work();
    return {platform::linux_desktop::requestCount() - all,
            platform::linux_desktop::directRequestCount() - direct};
}

// The sockets that this process holds open: the accessibility bus, the direct connections.
std::size_t openSockets() {
    std::size_t sockets = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code unreadable;
        const auto target = std::filesystem::read_symlink(entry.path(), unreadable);
        if (!unreadable && target.string().starts_with("socket:")) ++sockets;
    }
    return sockets;
}

// The stand-in without a direct connection to offer: its bridge cannot make the directory of
// its socket.
const std::vector<std::string> kNoDirectConnection{"XDG_RUNTIME_DIR=/dev/null/none"};

// A yes-or-no answer: the boolean of a successful request, nothing otherwise.
std::optional<bool> yesOrNo(const platform::AttributeResult& result) {
    const bool* yes = std::get_if<bool>(&result.value);
    if (result.code != platform::kSuccess || yes == nullptr) return std::nullopt;
    return *yes;
}

class StandInTest : public ::testing::Test {
protected:
    // Starts the stand-in, with these "NAME=value" changes to its environment, and makes its
    // application element.
    void launch(const std::vector<std::string>& options = {},
                const std::vector<std::string>& environment = {}) {
        std::vector<std::pair<std::string, std::optional<std::string>>> saved;
        for (const auto& change : environment) {
            const auto equals = change.find('=');
            const std::string name = change.substr(0, equals);
            const char* before = std::getenv(name.c_str());
            saved.emplace_back(name, before != nullptr ? std::optional<std::string>(before) : std::nullopt);
            setenv(name.c_str(), change.substr(equals + 1).c_str(), 1);
        }
        auto started = standin::start(options);
        for (const auto& [name, before] : saved) {
            if (before) setenv(name.c_str(), before->c_str(), 1);
            else unsetenv(name.c_str());
        }
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
    // Its direct connection closes with it; through the bus its name has no owner any more.
    for (const auto& [channel, environment] : {std::pair{"direct connection", std::vector<std::string>{}},
                                               std::pair{"bus", kNoDirectConnection}}) {
        launch({}, environment);
        auto window = inspector();
        standin::stop(standIn);
        EXPECT_TRUE(eventually([] { return platform::runningApplications(kBundleIdentifier).empty(); }));
        for (const Element* element : {&root, &window}) {
            const auto role = platform::copyAttributeValue(*element, "AXRole");
            EXPECT_EQ(role.code, platform::kInvalidElement) << channel;
            EXPECT_TRUE(std::holds_alternative<platform::Absent>(role.value)) << channel;
        }
        EXPECT_EQ(platform::copyAttributeValue(root, "AXWindows").code, platform::kInvalidElement)
            << channel;
        EXPECT_EQ(platform::performAction(window, "AXPress"), platform::kInvalidElement) << channel;
    }
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
    EXPECT_EQ(dump(inspector()), kInspectorDump);
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
        {"AXFocused", platform::kAttributeUnsupported, false},
        {"AXWindows", platform::kAttributeUnsupported, false},  // only the application lists them
        {"AXFrontmost", platform::kAttributeUnsupported, false},  // only the application is
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

// ---- What lies at a point ---------------------------------------------------------------------

// Plain X windows of this test's own connection: with or without a _NET_WM_PID, and a frame
// without one around a client with one, as a reparenting window manager makes them.
class ScreenWindows {
public:
    ScreenWindows() : display_(XOpenDisplay(nullptr)) {}
    ~ScreenWindows() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    ScreenWindows(const ScreenWindows&) = delete;
    ScreenWindows& operator=(const ScreenWindows&) = delete;

    Display* display() const { return display_; }

    // A window on top of all others; the client of a frame when `parent` is given.
    Window open(int x, int y, int width, int height, std::optional<long> pid, Window parent = None) {
        const Window window = XCreateSimpleWindow(display_, parent == None ? DefaultRootWindow(display_) : parent, x,
                                                  y, static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0, 0);
        if (pid) {
            const Atom atom = XInternAtom(display_, "_NET_WM_PID", False);
            const unsigned long value = static_cast<unsigned long>(*pid);
            XChangeProperty(display_, window, atom, XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&value), 1);
        }
        XMapRaised(display_, window);
        XSync(display_, False);
        return window;
    }

private:
    Display* display_;
};

bool sameOwner(const platform::PointOwner& a, const platform::PointOwner& b) {
    return a.occupant == b.occupant && (a.occupant != platform::Occupant::process || a.processId == b.processId);
}

std::string describe(const platform::PointOwner& owner) {
    switch (owner.occupant) {
        case platform::Occupant::process: return "process " + std::to_string(owner.processId);
        case platform::Occupant::nothing: return "nothing";
        case platform::Occupant::unknown: return "unknown";
    }
    return "?";
}

TEST_F(StandInTest, OwnerAtAPointIsTheProcessOfTheTopmostWindowThere) {
    launch();
    const auto geometry = gtkGeometry(standIn);
    ASSERT_TRUE(geometry.contains("row") && geometry.contains("run"));
    const Rectangle row = geometry.at("row");
    const Rectangle run = geometry.at("run");
    const platform::Point rowPoint{row.x + 10, row.y + row.height / 2};
    const platform::Point runPoint{run.x + 10, run.y + run.height / 2};
    const platform::PointOwner standInOwner{platform::Occupant::process, standIn.pid};
    const platform::PointOwner nothing{platform::Occupant::nothing, -1};
    const platform::PointOwner unknown{platform::Occupant::unknown, -1};

    ScreenWindows screen;
    ASSERT_NE(screen.display(), nullptr);
    // The stand-in's inspector under both click points before anything covers them.
    EXPECT_EQ(describe(platform::ownerAt(rowPoint)), describe(standInOwner));
    EXPECT_EQ(describe(platform::ownerAt(runPoint)), describe(standInOwner));

    // Another process's window over the Run point only; a window without the property beside
    // it; a frame without the property around a client with one.
    screen.open(static_cast<int>(run.x), static_cast<int>(run.y), static_cast<int>(run.width),
                static_cast<int>(run.height), 4321);
    screen.open(1000, 700, 50, 50, std::nullopt);
    const Window frame = screen.open(1100, 700, 100, 100, std::nullopt);
    screen.open(20, 20, 60, 60, 5555, frame);

    struct Case {
        const char* what;
        platform::Point point;
        platform::PointOwner owner;
    };
    const Case cases[] = {
        {"the row, still uncovered", rowPoint, standInOwner},
        {"the Run point under the other process's window", runPoint, {platform::Occupant::process, 4321}},
        {"no window there", {5, 1000}, nothing},
        {"left of the screen", {-1, 300}, nothing},
        {"above the screen", {300, -0.5}, nothing},
        {"right of the screen", {1280, 300}, nothing},
        {"far below the screen", {300, 54071}, nothing},
        {"a window without a process id", {1025, 725}, unknown},
        {"the client inside a frame", {1130, 730}, {platform::Occupant::process, 5555}},
        {"the frame beside its client", {1105, 705}, unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const platform::PointOwner owner = platform::ownerAt(c.point);
        EXPECT_EQ(describe(owner), describe(c.owner));
        EXPECT_TRUE(sameOwner(owner, c.owner));
    }
}

// ---- Input -----------------------------------------------------------------------------------

TEST_F(StandInTest, ClickInTheRowSelectsItAndRunOpensTheAnswer) {
    launch();
    standin::setCommandId(standIn, "cmd-7");
    const Element row = probeRow();
    const auto rowAt = position(row);
    const auto rowSize = size(row);
    ASSERT_TRUE(rowAt && rowSize);
    // The row's state set answers "AXSelected": no before the click, yes after it.
    const auto selected = [&] { return yesOrNo(platform::copyAttributeValue(row, "AXSelected")); };
    EXPECT_EQ(selected(), std::optional(false));
    // Fractions land in the pixel that holds them.
    ASSERT_TRUE(click({rowAt->x + 60.75, rowAt->y + rowSize->height / 2 + 0.5}));
    ASSERT_TRUE(standin::waitForEvent(standIn, "select RelayTransportProbe"));
    EXPECT_TRUE(eventually([&] { return selected() == std::optional(true); }));

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

// A busy stand-in (--selection-lag-ms): the row shows as selected only some time after its click,
// and a Run click made meanwhile is taken after the row click, in order, as a busy application
// takes its queued events: the relay script runs, not the script selected before.
TEST_F(StandInTest, ALaggingSelectionShowsLateAndTakesRunAfterTheRowClick) {
    launch({"--selection-lag-ms", "1500", "--selected", "AutoSaveBackup"});
    standin::setCommandId(standIn, "cmd-8");
    const Element row = probeRow();
    const auto rowAt = position(row);
    const auto rowSize = size(row);
    ASSERT_TRUE(rowAt && rowSize);
    const auto selected = [&] { return yesOrNo(platform::copyAttributeValue(row, "AXSelected")); };
    ASSERT_TRUE(click({rowAt->x + 60, rowAt->y + rowSize->height / 2}));
    // Well within the lag, the row still reads as not selected.
    EXPECT_EQ(selected(), std::optional(false));
    const Element window = inspector();
    const auto list = find(window, "AXScrollArea");
    ASSERT_TRUE(list);
    ASSERT_TRUE(click({position(*list)->x + 16, position(window)->y + size(window)->height - 14}));
    EXPECT_EQ(selected(), std::optional(false));
    EXPECT_EQ(standin::events(standIn), (std::vector<std::string>{"ready"}));
    ASSERT_TRUE(standin::waitForEvent(standIn, "alert opened"));
    EXPECT_EQ(selected(), std::optional(true));
    EXPECT_EQ(standin::events(standIn),
              (std::vector<std::string>{"ready", "select RelayTransportProbe", "run RelayTransportProbe",
                                        "alert opened"}));
}

// "AXFrontmost" of the application: whether one of its windows is the active one. Activation
// gives the stand-in's inspector the keyboard focus; another application's activation takes it.
TEST_F(StandInTest, FrontmostFollowsTheActiveWindow) {
    launch();
    const auto frontmost = [&] { return yesOrNo(platform::copyAttributeValue(root, "AXFrontmost")); };
    platform::activate(application);
    EXPECT_TRUE(eventually([&] { return frontmost() == std::optional(true); }));

    auto cover = standin::start({"--cover", "900 700 100 100"});
    ASSERT_TRUE(cover);
    std::vector<platform::Application> others;
    EXPECT_TRUE(eventually([&] {
        others = platform::runningApplications("tessary-test-cover");
        return !others.empty();
    }));
    if (!others.empty()) {
        platform::activate(others.front());
        EXPECT_TRUE(eventually([&] { return frontmost() == std::optional(false); }));
    }
    standin::stop(*cover);
}

// X grants or refuses no activation: the answer is "unknown", for an application with a window
// and for one whose windows are all withdrawn, which has nothing to bring to the front; nothing
// refused it.
TEST_F(StandInTest, ActivationAnswersUnknownWithAWindowAndWithNone) {
    launch();
    EXPECT_EQ(platform::activate(application), platform::Activation::unknown);

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Window rootReturn = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    ASSERT_NE(XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count), 0);
    int withdrawn = 0;
    for (unsigned int i = 0; i < count; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &remaining,
                               &data) == Success &&
            data != nullptr && format == 32 && items == 1 &&
            static_cast<std::int64_t>(*reinterpret_cast<const unsigned long*>(data)) == standIn.pid) {
            XUnmapWindow(display, children[i]);
            ++withdrawn;
        }
        if (data != nullptr) XFree(data);
    }
    if (children != nullptr) XFree(children);
    XSync(display, False);
    XCloseDisplay(display);
    ASSERT_GT(withdrawn, 0);
    EXPECT_EQ(platform::activate(application), platform::Activation::unknown);
    // The application is still there, only without a window.
    EXPECT_EQ(platform::runningApplications(kBundleIdentifier).size(), 1u);
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

// ---- Connections -----------------------------------------------------------------------------

TEST_F(StandInTest, RequestsTravelOnTheDirectConnectionWhenTheApplicationOffersOne) {
    struct Case {
        const char* name;
        std::vector<std::string> environment;  // of the stand-in
        bool socketRemoved;  // the socket of its direct connection is gone before the element is made
        bool direct;
    };
    const Case cases[] = {
        {"offered", {}, false, true},
        {"no address offered", kNoDirectConnection, false, false},
        {"an address that cannot be opened", {}, true, false},
    };
    for (const auto& c : cases) {
        const auto socketsBefore = standin::directSockets();
        launch({}, c.environment);
        if (c.socketRemoved) {
            // The stand-in's socket is the one that its element's making added (earlier
            // stand-ins, ended by a signal, leave theirs behind).
            auto sockets = standin::directSockets();
            std::erase_if(sockets, [&](const auto& socket) {
                return std::find(socketsBefore.begin(), socketsBefore.end(), socket) != socketsBefore.end();
            });
            ASSERT_EQ(sockets.size(), 1u) << c.name;
            std::filesystem::remove(sockets.front());
            root = platform::createApplicationElement(standIn.pid);
        }
        const Requests walk = requestsOf([&] { EXPECT_EQ(dump(inspector()), kInspectorDump) << c.name; });
        EXPECT_GT(walk.all, 0u) << c.name;
        EXPECT_EQ(walk.direct, c.direct ? walk.all : 0u) << c.name;
        standin::stop(standIn);
    }
}

TEST_F(StandInTest, DirectConnectionClosesWithTheLastElementOfItsApplication) {
    launch();
    const std::size_t withConnection = openSockets();
    Element window = inspector();
    root = Element{};
    EXPECT_EQ(openSockets(), withConnection);
    const Requests title = requestsOf([&] { EXPECT_EQ(text(window, "AXTitle"), "Scripts"); });
    EXPECT_EQ(title.direct, 1u);
    Element retained = platform::retainElement(window);
    window = Element{};
    EXPECT_EQ(openSockets(), withConnection);
    retained = Element{};
    EXPECT_EQ(openSockets(), withConnection - 1);
    // Each application element opens a connection of its own: a GetApplicationBusAddress
    // through the bus and a Ping on the new connection.
    const Requests opening = requestsOf([&] { root = platform::createApplicationElement(standIn.pid); });
    EXPECT_EQ(opening.direct, 1u);
    EXPECT_EQ(openSockets(), withConnection);
    EXPECT_EQ(text(root, "AXRole"), "AXApplication");
}

// The address comes from the application: one that names a program to start or a host to
// reach must not be followed.
TEST(DirectConnection, OnlyLocalSocketAddressesAreOpened) {
    const std::pair<const char*, bool> cases[] = {
        {"unix:path=/run/user/1000/at-spi2-Q1X2/socket", true},
        {"unix:path=/tmp/headless-runtime.a/at-spi2-socket-42", true},
        {"unix:abstract=/tmp/dbus-XYZ", true},
        {"unix:path=/a/socket;unix:abstract=b", true},
        {"unixexec:path=/bin/sh,argv1=-c,argv2=true", false},
        {"autolaunch:", false},
        {"tcp:host=localhost,port=4711", false},
        {"nonce-tcp:host=localhost,port=4711", false},
        {"launchd:env=DBUS_LAUNCHD_SESSION_BUS_SOCKET", false},
        {"unix:path=/a/socket;unixexec:path=/bin/sh", false},
        {"", false},
        {"not an address", false},
    };
    for (const auto& [address, opened] : cases) {
        EXPECT_EQ(platform::linux_desktop::isLocalSocketAddress(address), opened) << address;
    }
}

// ---- Bounded waits ---------------------------------------------------------------------------

constexpr std::chrono::milliseconds kRequestTimeout{platform::linux_desktop::kRequestTimeoutMilliseconds};

// A wait that ended because the request time-out passed: not at once, and well before a second
// time-out would have passed.
void expectOneTimeOut(std::chrono::milliseconds took, const std::string& name) {
    EXPECT_GE(took, kRequestTimeout - std::chrono::milliseconds(500)) << name;
    EXPECT_LT(took, 2 * kRequestTimeout) << name;
}

TEST(BoundedWaits, OpeningEndsAfterTheRequestTimeOutWhenTheListenerNeverAnswers) {
    const std::string directory = std::filesystem::temp_directory_path() /
                                  ("tessary-silent-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    // Connecting succeeds and the wait is for the answer to authentication; with a full queue
    // the wait is in connecting itself.
    for (const bool full : {false, true}) {
        const std::string name = full ? "queue full, connect blocks" : "never accepts, no answer";
        const stall::SilentListener silent(directory + "/socket", full);
        if (full) {
            ASSERT_TRUE(stall::queueFull(silent.path));
        }
        platform::linux_desktop::PrivateConnection opened;
        const auto took = stall::timed(name, [&] {
            opened = platform::linux_desktop::openPrivateConnection("unix:path=" + silent.path);
        });
        EXPECT_FALSE(opened) << name;
        expectOneTimeOut(took, name);
    }
    std::filesystem::remove_all(directory);
}

TEST_F(StandInTest, StoppedApplicationCostsOneRequestTimeOutPerWait) {
    const auto socketsBefore = standin::directSockets();
    launch();
    // The socket of the direct connection that the application element opened.
    auto sockets = standin::directSockets();
    std::erase_if(sockets, [&](const auto& socket) {
        return std::find(socketsBefore.begin(), socketsBefore.end(), socket) != socketsBefore.end();
    });
    ASSERT_EQ(sockets.size(), 1u);
    ASSERT_EQ(text(root, "AXRole"), "AXApplication");

    const stall::Stopped stopped(standIn.pid);
    // Its socket still takes connections (the kernel queues them), but nothing answers there.
    platform::linux_desktop::PrivateConnection opened;
    const auto connecting = stall::timed("stopped application: connect to its direct address", [&] {
        opened = platform::linux_desktop::openPrivateConnection("unix:path=" + sockets.front().string());
    });
    EXPECT_FALSE(opened);
    expectOneTimeOut(connecting, "connect");
    // A request on the direct connection that is already open.
    platform::AttributeResult role;
    const auto request = stall::timed("stopped application: one request", [&] {
        role = platform::copyAttributeValue(root, "AXRole");
    });
    EXPECT_EQ(role.code, platform::kCannotComplete);
    expectOneTimeOut(request, "request");
    // A new application element: the address request through the bus goes unanswered, and the
    // element is made without a direct connection.
    Element again;
    const auto making = stall::timed("stopped application: new application element", [&] {
        again = platform::createApplicationElement(standIn.pid);
    });
    EXPECT_TRUE(again);
    expectOneTimeOut(making, "application element");
}

// The process at the other end of a connection's socket.
pid_t peerProcess(DBusConnection* connection) {
    int socket = -1;
    if (!dbus_connection_get_unix_fd(connection, &socket)) return -1;
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return -1;
    return credentials.pid;
}

// The process that owns a name on the bus of this connection.
pid_t ownerOf(DBusConnection* bus, const char* name) {
    const platform::linux_desktop::Message call{dbus_message_new_method_call(
        DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID")};
    dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    const platform::linux_desktop::Message reply{
        dbus_connection_send_with_reply_and_block(bus, call.get(), 5000, nullptr)};
    dbus_uint32_t pid = 0;
    if (!reply || !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &pid, DBUS_TYPE_INVALID)) {
        return -1;
    }
    return static_cast<pid_t>(pid);
}

TEST(BoundedWaits, HelloAndTheSessionBusQuestionEachEndAfterOneRequestTimeOut) {
    using namespace platform::linux_desktop;
    // The first use starts the accessibility bus; its launcher publishes the address on the
    // root window.
    ASSERT_NE(accessibilityBus(), nullptr);
    const std::string address = accessibilityBusAddress();
    ASSERT_TRUE(isLocalSocketAddress(address)) << address;

    // Hello: the bus daemon authenticated the connection, then stopped.
    const PrivateConnection connection = openPrivateConnection(address);
    ASSERT_TRUE(connection);
    {
        const stall::Stopped daemon(peerProcess(connection.get()));
        ASSERT_GT(daemon.pid, 0);
        bool registered = true;
        const auto took = stall::timed("bus daemon stopped: Hello", [&] { registered = sayHello(connection.get()); });
        EXPECT_FALSE(registered);
        expectOneTimeOut(took, "Hello");
    }

    // The session bus's question, with neither the environment nor the root window naming the
    // bus: the service that answers it (the bus's launcher) stopped.
    const char* sessionAddress = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(sessionAddress, nullptr);
    const PrivateConnection session = openPrivateConnection(sessionAddress);
    ASSERT_TRUE(session && sayHello(session.get()));
    Display* display = platform::linux_desktop::xDisplay();
    ASSERT_NE(display, nullptr);
    const Atom property = XInternAtom(display, "AT_SPI_BUS", False);
    XDeleteProperty(display, DefaultRootWindow(display), property);
    XSync(display, False);
    {
        const stall::Stopped launcher(ownerOf(session.get(), "org.a11y.Bus"));
        ASSERT_GT(launcher.pid, 0);
        std::string found = "?";
        const auto took = stall::timed("bus launcher stopped: address from the session bus",
                                       [&] { found = accessibilityBusAddress(); });
        EXPECT_EQ(found, "");
        expectOneTimeOut(took, "address from the session bus");
    }
    // Resumed, the launcher answers the same question at once.
    EXPECT_EQ(accessibilityBusAddress(), address);
}

// The accessibility bus's sources in their order: the root window's property comes before the
// session bus's question, so a stopped launcher costs nothing while the property names the bus.
TEST(BusAddress, TheRootWindowIsAskedBeforeTheSessionBus) {
    using namespace platform::linux_desktop;
    ASSERT_NE(accessibilityBus(), nullptr);
    const std::string address = accessibilityBusAddress();
    ASSERT_TRUE(isLocalSocketAddress(address)) << address;
    const char* sessionAddress = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(sessionAddress, nullptr);
    const PrivateConnection session = openPrivateConnection(sessionAddress);
    ASSERT_TRUE(session && sayHello(session.get()));
    const stall::Stopped launcher(ownerOf(session.get(), "org.a11y.Bus"));
    ASSERT_GT(launcher.pid, 0);
    std::string found;
    const auto took = stall::timed("bus launcher stopped, root window names the bus", [&] { found = accessibilityBusAddress(); });
    EXPECT_EQ(found, address);
    EXPECT_LT(took, std::chrono::milliseconds(kRequestTimeoutMilliseconds / 2));
}

// An address of two entries whose listeners never accept, each queue full: the second connect
// waits too, and the alarm that comes again after the time-out ends it, so the whole opening
// costs one time-out.
TEST(BoundedWaits, AnAddressOfTwoFullListenersCostsOneTimeOut) {
    const std::string directory = std::filesystem::temp_directory_path() / ("tessary-two-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    {
        const stall::SilentListener first(directory + "/first", true);
        const stall::SilentListener second(directory + "/second", true);
        ASSERT_TRUE(stall::queueFull(first.path) && stall::queueFull(second.path));
        platform::linux_desktop::PrivateConnection opened;
        const auto took = stall::timed("two full listeners", [&] {
            opened = platform::linux_desktop::openPrivateConnection("unix:path=" + first.path + ";unix:path=" + second.path);
        });
        EXPECT_FALSE(opened);
        expectOneTimeOut(took, "two full listeners");
    }
    std::filesystem::remove_all(directory);
}

// Nothing stays queued on the bus connection after a request: the bus's NameAcquired, which
// arrives after Hello, is read and dropped with the answer.
TEST(BusConnection, NoMessageStaysQueuedAfterARequestAndTheUniqueNameIsKnown) {
    using namespace platform::linux_desktop;
    DBusConnection* bus = accessibilityBus();
    ASSERT_NE(bus, nullptr);
    const char* name = dbus_bus_get_unique_name(bus);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name[0], ':');
    const ObjectRef registry{kRegistryBusName, kApplicationRootPath, nullptr};
    ASSERT_EQ(send(registry, newCall(registry, DBUS_INTERFACE_PEER, "Ping")).code, platform::kSuccess);
    DBusMessage* queued = dbus_connection_pop_message(bus);
    EXPECT_EQ(queued, nullptr) << (queued != nullptr ? dbus_message_get_member(queued) : "");
    if (queued != nullptr) dbus_message_unref(queued);
}

// The session bus of $XDG_RUNTIME_DIR/bus is taken only from a socket of the user's own: another
// user's socket there is never connected to. As root, the socket is handed to nobody.
TEST(BusAddress, AnotherUsersSessionSocketIsNeverConnectedTo) {
    using namespace platform::linux_desktop;
    ASSERT_EQ(geteuid(), 0u) << "handing a socket to another user needs root";
    const std::string runtime = std::filesystem::temp_directory_path() / ("tessary-runtime-" + std::to_string(getpid()));
    std::filesystem::create_directories(runtime);
    // Neither the environment nor the root window names the bus, and no session bus variable.
    Display* display = xDisplay();
    ASSERT_NE(display, nullptr);
    XDeleteProperty(display, DefaultRootWindow(display), XInternAtom(display, "AT_SPI_BUS", False));
    XSync(display, False);
    unsetenv("AT_SPI_BUS_ADDRESS");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    for (const bool ours : {false, true}) {
        SCOPED_TRACE(ours ? "the user's own socket" : "another user's socket");
        const stall::SilentListener listener(runtime + "/bus", false);
        if (!ours) {
            ASSERT_EQ(chown(listener.path.c_str(), 65534, 65534), 0);
        }
        EXPECT_EQ(accessibilityBusAddress(), "");
        // Whether anyone connected: a connection waits in the listener's queue.
        const int flags = fcntl(listener.listener, F_GETFL);
        fcntl(listener.listener, F_SETFL, flags | O_NONBLOCK);
        const int accepted = accept(listener.listener, nullptr, nullptr);
        EXPECT_EQ(accepted >= 0, ours);
        if (accepted >= 0) close(accepted);
    }
    std::filesystem::remove_all(runtime);
}

// The alarm that bounds a wait leaves the process as it found it: the handler, the timer and
// the signal mask that were there before come back when it ends.
TEST(ScopedAlarm, ThePreviousHandlerTimerAndMaskComeBack) {
    using platform::linux_desktop::ScopedAlarm;
    static volatile sig_atomic_t sentinelCalls = 0;
    struct sigaction sentinel {};
    sentinel.sa_handler = [](int) { sentinelCalls = sentinelCalls + 1; };
    sigemptyset(&sentinel.sa_mask);
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGALRM, &sentinel, &before), 0);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGALRM);
    sigset_t maskBefore;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &maskBefore), 0);
    {
        const ScopedAlarm alarm(std::chrono::milliseconds(5000), [](int) {});
        // Inside, SIGALRM is let through.
        sigset_t inside;
        pthread_sigmask(SIG_SETMASK, nullptr, &inside);
        EXPECT_FALSE(sigismember(&inside, SIGALRM));
    }
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGALRM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, sentinel.sa_handler);
    sigset_t maskAfter;
    pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
    EXPECT_TRUE(sigismember(&maskAfter, SIGALRM));
    itimerval timer{};
    getitimer(ITIMER_REAL, &timer);
    EXPECT_EQ(timer.it_value.tv_sec, 0);
    EXPECT_EQ(timer.it_value.tv_usec, 0);
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
    sigaction(SIGALRM, &before, nullptr);
}

// ---- The look at a point: which windows count ------------------------------------------------

// Windows of made-up processes, made by the test on the private desktop's display: a look
// counts only what is viewable, a window's border is part of it, and a point off the screen
// lies on nothing, even where a window reaches beyond the screen's edge.
class LookAt : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(display, nullptr); }
    void TearDown() override {
        for (const Window window : windows) XDestroyWindow(display, window);
        XSync(display, False);
        XCloseDisplay(display);
    }
    Window window(long pid, int x, int y, int width, int height, int border, bool mapped) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        const Window made = XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                                          static_cast<unsigned>(height), static_cast<unsigned>(border), CopyFromParent,
                                          InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
        const unsigned long id = static_cast<unsigned long>(pid);
        XChangeProperty(display, made, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&id), 1);
        if (mapped) XMapRaised(display, made);
        XSync(display, False);
        windows.push_back(made);
        return made;
    }
    static std::string owner(platform::Point point) {
        const platform::PointOwner found = platform::ownerAt(point);
        switch (found.occupant) {
            case platform::Occupant::process: return "process " + std::to_string(found.processId);
            case platform::Occupant::nothing: return "nothing";
            case platform::Occupant::unknown: return "unknown";
        }
        return "?";
    }

    Display* display = XOpenDisplay(nullptr);
    std::vector<Window> windows;
};

TEST_F(LookAt, AWindowThatIsNotViewableTakesNoClick) {
    window(555, 100, 100, 300, 200, 0, true);
    window(777, 150, 150, 100, 50, 0, false);  // over the other, never mapped
    EXPECT_TRUE(eventually([&] { return owner({160, 160}) == "process 555"; })) << owner({160, 160});
}

TEST_F(LookAt, AWindowsBorderIsPartOfIt) {
    window(555, 100, 100, 300, 200, 0, true);
    // Its inner area covers (210..259, 210..259); its 10-pixel border surrounds it, so the window
    // takes (200..269, 200..269).
    window(777, 200, 200, 50, 50, 10, true);
    EXPECT_TRUE(eventually([&] { return owner({205, 205}) == "process 777"; })) << owner({205, 205});
    // Every side of the border, the right and bottom ones too: the box is the inner size plus the
    // border on both sides.
    for (const platform::Point point : {platform::Point{205, 235}, platform::Point{235, 205}, platform::Point{265, 235},
                                        platform::Point{235, 265}, platform::Point{269, 269}}) {
        EXPECT_EQ(owner(point), "process 777") << point.x << "," << point.y;
    }
    for (const platform::Point point : {platform::Point{199, 199}, platform::Point{270, 235}, platform::Point{235, 270}}) {
        EXPECT_EQ(owner(point), "process 555") << point.x << "," << point.y;
    }
}

TEST_F(LookAt, APointOffTheScreenLiesOnNothingWhereAWindowReachesBeyondIt) {
    window(555, -50, 100, 200, 100, 0, true);
    EXPECT_TRUE(eventually([&] { return owner({20, 150}) == "process 555"; })) << owner({20, 150});
    EXPECT_EQ(owner({-10, 150}), "nothing");
    const int width = DisplayWidth(display, DefaultScreen(display));
    window(777, width - 50, 300, 200, 100, 0, true);
    EXPECT_TRUE(eventually([&] { return owner({width - 10.0, 350}) == "process 777"; }));
    EXPECT_EQ(owner({width + 10.0, 350}), "nothing");
}

// The process in front: the X input focus (no window manager runs in the private desktop),
// climbing from a focused child window without _NET_WM_PID to the top-level window that has it,
// as a toolkit gives the focus to a child of its top-level window.
TEST_F(LookAt, TheFrontmostProcessIsTheFocusedWindowsTopLevelOwner) {
    const Window top = window(555, 100, 100, 300, 200, 0, true);
    const Window child = XCreateSimpleWindow(display, top, 10, 10, 200, 100, 0, 0, 0);
    const Window grandchild = XCreateSimpleWindow(display, child, 10, 10, 100, 50, 0, 0, 0);
    XMapWindow(display, child);
    XMapWindow(display, grandchild);
    const Window unowned = XCreateSimpleWindow(display, DefaultRootWindow(display), 500, 100, 100, 100, 0, 0, 0);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    XChangeWindowAttributes(display, unowned, CWOverrideRedirect, &attributes);
    XMapRaised(display, unowned);
    windows.push_back(unowned);
    XSync(display, False);
    struct Case {
        const char* what;
        Window focus;
        std::int64_t frontmost;
    };
    const Case cases[] = {
        {"the top-level window", top, 555},
        {"a child window without _NET_WM_PID", child, 555},
        {"a grandchild window without _NET_WM_PID", grandchild, 555},
        {"a top-level window without _NET_WM_PID", unowned, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        XSetInputFocus(display, c.focus, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
        EXPECT_TRUE(eventually([&] { return platform::frontmostProcess() == c.frontmost; }))
            << platform::frontmostProcess();
    }
    XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
}

// ---- The process table -----------------------------------------------------------------------

// A process's parent from /proc/<pid>/stat, whose command name may hold spaces and parentheses
// that look like the fields after it; and its executable.
TEST(ProcessTable, TheParentIsTheRealOneWhateverTheCommandName) {
    const std::optional<platform::ProcessEntry> own = platform::processEntry(getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(own->parentId, getppid());
    EXPECT_EQ(own->path, std::filesystem::read_symlink("/proc/self/exe").string());
    for (const std::string name : {"plain", "two words", "a) S 1 (b", ") 1 ) 2 )", "(x) (y) 7"}) {
        SCOPED_TRACE(name);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Its own session and process group: neither names the test's process.
            setsid();
            prctl(PR_SET_NAME, name.c_str());
            const char byte = 1;
            if (write(ready[1], &byte, 1) != 1) _exit(2);
            for (;;) pause();
        }
        close(ready[1]);
        char byte = 0;
        EXPECT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
        std::string shown;
        std::getline(comm, shown);
        EXPECT_EQ(shown, name) << "the command name was not set";
        const std::optional<platform::ProcessEntry> entry = platform::processEntry(child);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->parentId, getpid());
        EXPECT_EQ(entry->path, own->path);
    }
    EXPECT_EQ(platform::processEntry(0), std::nullopt);
    EXPECT_EQ(platform::processEntry(-1), std::nullopt);
}

// The X server stopped: opening the display, and each X operation on a display already open,
// end after one request time-out; the display then counts as none (or broken), and nothing is
// printed. Each case runs in a fresh probe process, as a display breaks once per process.
TEST_F(StandInTest, StoppedXServerCostsOneRequestTimeOutPerXOperation) {
    launch();
    const pid_t server = stall::xServerProcess();
    ASSERT_GT(server, 0);
    const stall::ResumedAtEnd resumed{server};
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        bool stoppedBeforeOpening;
        int exitStatus;
    };
    const std::string pid = std::to_string(server);
    const Case cases[] = {
        // Not trusted: no display, though the accessibility bus answers.
        {"X server stopped before the display opens: trust", {"trust"}, true, 3},
        {"X server stopped after the display opened: owner at a point", {"stalled-server", "owner", pid, kBundleIdentifier}, false, 0},
        {"X server stopped after the display opened: activate", {"stalled-server", "activate", pid, kBundleIdentifier}, false, 0},
        {"X server stopped after the display opened: click", {"stalled-server", "click", pid, kBundleIdentifier}, false, 0},
        {"X server stopped after the display opened: key event", {"stalled-server", "key", pid, kBundleIdentifier}, false, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{TESSARY_LINUX_PROBE};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        standin::ProcessResult result;
        const auto took = stall::timed(c.name, [&] {
            std::optional<stall::Stopped> stopped;
            if (c.stoppedBeforeOpening) stopped.emplace(server);
            result = standin::runProcess(argv);
        });
        kill(server, SIGCONT);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(result.standardOutput, "") << c.name;
        EXPECT_EQ(result.standardError, "") << c.name;
        expectOneTimeOut(took, c.name);
    }
    // Resumed, the X server serves a new process as before.
    EXPECT_EQ(standin::runProcess({TESSARY_LINUX_PROBE, "trust"}).exitStatus, 0);
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
