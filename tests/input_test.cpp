#include "input/input.h"

#include <gtest/gtest.h>

#include "main/fail.h"
#include "platform/fake/fake_desktop.h"

namespace {

std::vector<std::string> inputLines() { return fake::recordOf({"post", "sleep"}); }

TEST(Click, DownThenUpAtTheExactPointWithTheirPauses) {
    fake::install({});
    input::click({140.5, 310.25});
    EXPECT_EQ(inputLines(), (std::vector<std::string>{"post mouse-down 140.5,310.25", "sleep 50000",
                                                      "post mouse-up 140.5,310.25", "sleep 50000"}));
    EXPECT_EQ(fake::now(), 100000);
}

TEST(Click, NegativeCoordinatesPassUnchanged) {
    fake::install({});
    input::click({-1280, -0.5});
    EXPECT_EQ(inputLines().front(), "post mouse-down -1280,-0.5");
}

TEST(Escape, KeyDownThenUpWithoutPause) {
    fake::install({});
    input::escape();
    EXPECT_EQ(inputLines(), (std::vector<std::string>{"post key-down 53", "post key-up 53"}));
    EXPECT_EQ(fake::now(), 0);
}

struct EventFailure {
    const char* what;
    int failMouseAt;
    int failKeyAt;
    bool mouse;
    std::vector<std::string> posted;
    std::string message;
};

TEST(InputFailure, AnEventThatCannotBeCreatedEndsTheRunAfterWhatWasPosted) {
    const EventFailure cases[] = {
        {"button-down", 1, 0, true, {}, "TESSARY: cannot create mouse event\n"},
        {"button-up", 2, 0, true, {"post mouse-down 1,2", "sleep 50000"}, "TESSARY: cannot create mouse event\n"},
        {"key-down", 0, 1, false, {}, "TESSARY: cannot create keyboard event\n"},
        {"key-up", 0, 2, false, {"post key-down 53"}, "TESSARY: cannot create keyboard event\n"},
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
        EXPECT_EQ(inputLines(), c.posted);
    }
}

}  // namespace
