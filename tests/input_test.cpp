#include "input/input.h"

#include <gtest/gtest.h>

#include "main/fail.h"
#include "platform/fake/fake_desktop.h"

namespace {

// Each event's life: created (with its button), posted, released; and the sleeps between.
std::vector<std::string> inputLines() { return fake::recordOf({"create", "post", "sleep", "release"}); }

// Both events are created before either is posted, so that a button-down is never posted
// without its button-up; each is released once the click is over.
TEST(Click, DownThenUpAtTheExactPointWithTheLeftButtonAndTheirPauses) {
    fake::install({});
    input::click({140.5, 310.25});
    EXPECT_EQ(inputLines(), (std::vector<std::string>{
                                "create mouse-down 140.5,310.25 button 0", "create mouse-up 140.5,310.25 button 0",
                                "post mouse-down 140.5,310.25", "sleep 50000", "post mouse-up 140.5,310.25", "sleep 50000",
                                "release mouse-up 140.5,310.25", "release mouse-down 140.5,310.25"}));
    EXPECT_EQ(fake::now(), 100000);
}

TEST(Click, NegativeCoordinatesPassUnchanged) {
    fake::install({});
    input::click({-1280, -0.5});
    EXPECT_EQ(fake::recordOf({"post"}).front(), "post mouse-down -1280,-0.5");
}

// Both key events are created before either is posted, so a key is never left down; no pause
// anywhere.
TEST(Escape, KeyDownThenUpWithoutPause) {
    fake::install({});
    input::escape();
    EXPECT_EQ(inputLines(), (std::vector<std::string>{"create key-down 53", "create key-up 53", "post key-down 53",
                                                      "post key-up 53", "release key-up 53", "release key-down 53"}));
    EXPECT_EQ(fake::now(), 0);
}

struct EventFailure {
    const char* what;
    int failMouseAt;
    int failKeyAt;
    bool mouse;
    std::vector<std::string> lines;  // of inputLines(): the failed creation is the last
    std::string message;
};

// Whichever event cannot be created, nothing is posted: no button or key is left held.
TEST(InputFailure, AnEventThatCannotBeCreatedEndsTheRunWithNothingPosted) {
    const EventFailure cases[] = {
        {"button-down", 1, 0, true, {"create mouse-down 1,2 button 0"}, "TESSARY: cannot create mouse event\n"},
        {"button-up", 2, 0, true,
         {"create mouse-down 1,2 button 0", "create mouse-up 1,2 button 0", "release mouse-down 1,2"},
         "TESSARY: cannot create mouse event\n"},
        {"key-down", 0, 1, false, {"create key-down 53"}, "TESSARY: cannot create keyboard event\n"},
        {"key-up", 0, 2, false, {"create key-down 53", "create key-up 53", "release key-down 53"},
         "TESSARY: cannot create keyboard event\n"},
    };
    for (const EventFailure& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Desktop desktop;
        desktop.failMouseEventAt = c.failMouseAt;
        desktop.failKeyboardEventAt = c.failKeyAt;
        fake::install(std::move(desktop));
        testing::internal::CaptureStderr();
        EXPECT_THROW(c.mouse ? input::click({1, 2}) : input::escape(), tessary::Failure);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(inputLines(), c.lines);
    }
}

}  // namespace
