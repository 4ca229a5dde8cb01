// Faults injected into whole runs: every request of a complete exchange fails in turn, with
// every result code and with values of the wrong kind; events cannot be created; elements
// vanish. Each run must end with the exact message, post nothing after the failure, leave the
// result file untouched or complete with no auxiliary file, and release every element.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <set>

#include "support/child_run.h"
#include "support/desktops.h"

namespace {

using platform::Point;
using platform::Size;

const std::string kNotVisible = "TESSARY: RelayTransportProbe is not visible in the Scripts inspector\n";
const std::string kCannotLocate = "TESSARY: cannot locate the script row and Run button\n";
const std::string kCannotDismiss = "TESSARY: cannot dismiss CorelDRAW response\n";

bool isRequest(const std::string& line) {
    return line.starts_with("get ") || line.starts_with("press ") || line.starts_with("look ");
}

// The requests of the complete exchange on the shared desktop, numbered from 1 (the run test
// derives their count, 66):
//    1 get app AXWindows              open-alert refusal
//    2 get inspector AXDescription
//    3 get app AXFrontmost            after the activation
//    4 get app AXWindows              locate: the window list
//    5-12 AXChildren of inspector, list, outline, row-other, e1, row, name, run
//   13-14 AXRole of inspector, list   the scroll area
//   15-20 AXChildren of list, outline, row-other, e1, row, name   (the list's own walk)
//   21-22 AXRole of list, outline
//   23-26 AXRole of inspector, list, outline, row-other           the row
//   27-28 AXChildren of row-other, e1; 29-30 AXValue of row-other, e1
//   31-32 AXRole of e1, row; 33-34 AXChildren of row, name; 35-36 AXValue of row, name
//   37-40 rename test: AXChildren of row, name; AXRole of row, name
//   41-46 geometry: row position, size, list position, window position, size, list size
//   47    look at the row click point; 48 the row's AXSelected; 49 look at the Run click point
//   50-58 first poll: windows, the alert's description, its walk of 3, 3 roles, the text
//   59-66 dismissal: the alert's walk of 3, 3 roles, OK's title, the press
//
// What a read that comes back absent does there:
//   not visible:  4 (no windows), 5 (no walk below the window), 6, 7 (the rows drop out of the
//                 window's walk), 14 (no scroll area), 15 (the list's own walk holds no
//                 outline), 22 (the outline's role unread), 32 (the row's role unread),
//                 33 (the row's own walk loses its name), 36 (the name unread)
//   cannot locate: 41-46
//   cannot dismiss: 66 (a refused press, or one that timed out with the alert still open)
//   OK left open: 59 (no button below the alert), 64, 65 (the button not recognised)
//   everything else: the exchange completes (a poll that misses is followed by another; a look
//   that fails cannot tell, and the click goes ahead; a yes-or-no read that cannot answer lets
//   the run go on)
const std::set<int> kNotVisibleAt{4, 5, 6, 7, 14, 15, 22, 32, 33, 36};
const std::set<int> kCannotLocateAt{41, 42, 43, 44, 45, 46};
const std::set<int> kLeftOpenAt{59, 64, 65};
constexpr int kRequests = 66;
constexpr int kRowLook = 47;

struct Expected {
    int status;
    std::string err;
    bool fileWritten;
    bool pressed;
};

Expected expectedFor(int request) {
    if (kNotVisibleAt.contains(request)) return {1, kNotVisible, false, false};
    if (kCannotLocateAt.contains(request)) return {1, kCannotLocate, false, false};
    if (request == kRequests) return {1, kCannotDismiss, true, false};
    return {0, "", true, !kLeftOpenAt.contains(request)};
}

struct Fault {
    std::string name;
    std::function<void(int)> inject;
    bool appliesToActions;
};

std::vector<Fault> faults() {
    std::vector<Fault> list;
    const std::pair<const char*, std::int32_t> codes[] = {
        {"failure", platform::kFailure},
        {"illegal argument", platform::kIllegalArgument},
        {"invalid element", platform::kInvalidElement},
        {"cannot complete", platform::kCannotComplete},
        {"attribute unsupported", platform::kAttributeUnsupported},
        {"action unsupported", platform::kActionUnsupported},
        {"api disabled", platform::kApiDisabled},
        {"no value", platform::kNoValue},
        {"not implemented", -25208},
        {"positive code", 1},
        {"unknown code", -1},
    };
    for (const auto& [name, code] : codes) {
        list.push_back({name, [code = code](int n) { fake::failRequest(n, code); }, true});
    }
    const std::pair<const char*, fake::Attribute> wrongKinds[] = {
        {"a number", fake::Number{7}},
        {"a single element", fake::ElementAt{"inspector"}},
        {"a point", Point{1, 2}},
        {"a size", Size{3, 4}},
        {"a text", std::string("AXWindow")},
        {"an empty list", fake::ElementsAt{}},
    };
    for (const auto& [name, value] : wrongKinds) {
        list.push_back({name, [value = value](int n) { fake::answerRequest(n, value); }, false});
    }
    return list;
}

// The wrong-kind values that some reads take as right: a text where a text is read, a point
// where a position is read, a size where a size is read, a list where a list is read.
bool isRightKindFor(const std::string& fault, const std::string& line) {
    const bool text = line.ends_with("AXRole") || line.ends_with("AXValue") || line.ends_with("AXTitle") ||
                      line.ends_with("AXDescription");
    const bool list = line.ends_with("AXChildren") || line.ends_with("AXWindows");
    return (fault == "a text" && text) || (fault == "a point" && line.ends_with("AXPosition")) ||
           (fault == "a size" && line.ends_with("AXSize")) || (fault == "an empty list" && list);
}

std::vector<std::string> requestLines(const std::vector<std::string>& record) {
    std::vector<std::string> lines;
    std::copy_if(record.begin(), record.end(), std::back_inserter(lines), isRequest);
    return lines;
}

// One test for each fault, so that CTest runs the faults side by side: each is a whole run for
// every request, and the matrix is the longest test of the suite.
class EveryRequestFailing : public testing::TestWithParam<std::size_t> {};

TEST_P(EveryRequestFailing, InThisWay) {
    const Fault fault = faults()[GetParam()];
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    const std::string answer = relayAnswer("77");
    const std::vector<std::string> requests =
        requestLines(runTessary(corelDesktop(answer), {"77", directory + "/probe"}).record);
    std::remove((directory + "/probe").c_str());
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(kRequests));

    int runs = 0;
    for (int n = 1; n <= kRequests; ++n) {
        const std::string& line = requests[static_cast<std::size_t>(n - 1)];
        // A look has no value that could be of the wrong kind; it can only fail.
        if ((line.starts_with("press ") || line.starts_with("look ")) && !fault.appliesToActions) continue;
        if (isRightKindFor(fault.name, line)) continue;
        SCOPED_TRACE(fault.name + " at request " + std::to_string(n) + ": " + line);
        std::remove(path.c_str());
        const Outcome outcome = runTessary(corelDesktop(answer), {"77", path}, [&] { fault.inject(n); });
        ++runs;
        const Expected expected = expectedFor(n);
        EXPECT_EQ(outcome.status, expected.status);
        EXPECT_EQ(outcome.err, expected.err);
        EXPECT_EQ(outcome.out, expected.status == 0 ? path + "\n" : "");
        EXPECT_EQ(readFile(path), expected.fileWritten ? std::optional(answer) : std::nullopt);
        EXPECT_EQ(listDirectory(directory), expected.fileWritten ? std::vector<std::string>{"result"} : std::vector<std::string>{});
        const bool pressed = std::count(outcome.record.begin(), outcome.record.end(), "press alert-ok AXPress") == 1;
        EXPECT_EQ(pressed, expected.pressed || n == kRequests);
        // Nothing is posted after the failing request when the run fails before its clicks.
        if (expected.status == 1 && n < kRowLook) {
            EXPECT_TRUE(std::none_of(outcome.record.begin(), outcome.record.end(),
                                     [](const std::string& l) { return l.starts_with("post "); }));
        }
        EXPECT_EQ(outcome.liveElements, 0);
    }
    std::cout << "fault matrix, " << fault.name << ": " << runs << " whole runs over " << kRequests << " requests\n";
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryRequestFailing, testing::Range<std::size_t>(0, faults().size()),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             std::string name = faults()[info.param].name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST(FaultMatrix, EventsThatCannotBeCreated) {
    struct Case {
        const char* what;
        bool renaming;
        int mouseAt;
        int keyAt;
        std::string err;
        std::vector<std::string> posted;
    };
    const Case cases[] = {
        {"row button-down", false, 1, 0, "TESSARY: cannot create mouse event\n", {}},
        {"row button-up", false, 2, 0, "TESSARY: cannot create mouse event\n", {}},
        {"Run button-down", false, 3, 0, "TESSARY: cannot create mouse event\n", {"post mouse-down 110,160", "post mouse-up 110,160"}},
        {"Run button-up", false, 4, 0, "TESSARY: cannot create mouse event\n", {"post mouse-down 110,160", "post mouse-up 110,160"}},
        {"Escape key-down", true, 0, 1, "TESSARY: cannot create keyboard event\n", {}},
        {"Escape key-up", true, 0, 2, "TESSARY: cannot create keyboard event\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop = corelDesktop(relayAnswer("1"));
        if (c.renaming) {
            desktop.applications[0].windows[0].children[0].children[0].children[1].children.push_back(
                fake::node("field", "AXTextField"));
        }
        desktop.failMouseEventAt = c.mouseAt;
        desktop.failKeyboardEventAt = c.keyAt;
        const std::string path = scratchDirectory() + "/result";
        const Outcome outcome = runTessary(std::move(desktop), {"1", path});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, c.err);
        std::vector<std::string> posted;
        for (const std::string& line : outcome.record) {
            if (line.starts_with("post ")) posted.push_back(line);
        }
        EXPECT_EQ(posted, c.posted);
        EXPECT_EQ(readFile(path), std::nullopt);
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

TEST(FaultMatrix, ElementsThatVanishMidRun) {
    struct Case {
        const char* what;
        int beforeRequest;
        std::string label;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"the inspector closes before the locate", 4, "inspector", 1, kNotVisible},
        {"the list goes during the window's walk", 6, "list", 1, kNotVisible},
        {"the row goes during the window's walk", 10, "row", 1, kNotVisible},
        {"the row goes between the locate and the geometry", 41, "row", 1, kCannotLocate},
        {"the list goes before its position is read", 43, "list", 1, kCannotLocate},
        {"the inspector goes before its size is read", 45, "inspector", 1, kCannotLocate},
        {"the list goes before its size is read", 46, "list", 1, kCannotLocate},
        {"the answer's text goes before it is read", 58, "alert-text", 1,
         "TESSARY: CorelDRAW did not return an alert within 10 seconds\n"},
        {"the alert goes before it is dismissed", 59, "alert", 0, ""},
        {"the OK button goes before it is pressed", 66, "alert-ok", 1, kCannotDismiss},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = scratchDirectory() + "/result";
        const Outcome outcome = runTessary(corelDesktop(relayAnswer("1")), {"1", path}, [&] {
            fake::beforeRequest(c.beforeRequest, [label = c.label] { fake::vanish(label); });
        });
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(outcome.liveElements, 0);
    }
}

}  // namespace
