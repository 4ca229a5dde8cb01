#include "ax/query.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_desktop.h"

namespace {

using fake::node;
using platform::Point;
using platform::Size;

// One element "probe" whose attribute "X" (and "AXChildren", "AXPosition", "AXSize") hold the
// value under test, and two plain elements to point at.
platform::Element probeWith(fake::Attribute value) {
    fake::Desktop desktop;
    desktop.applications.push_back(
        {"app.id", 1,
         {node("probe", "AXGroup",
               {{"X", value}, {"AXChildren", value}, {"AXPosition", value}, {"AXSize", value}}),
          node("a", "AXButton"), node("b", "AXButton")},
         {}});
    fake::install(std::move(desktop));
    platform::Element app = platform::createApplicationElement(1);
    platform::ElementList windows = ax::children(app);
    return std::move(windows.at(0));
}

struct Expectation {
    const char* what;
    fake::Attribute value;
    std::string text;                    // what `string` gives
    std::vector<std::string> children;  // what `children` gives
    std::optional<Point> point;
    std::optional<Size> size;
};

TEST(Query, EachKindOfValueReadsAsItsCallerNeedsIt) {
    const Expectation cases[] = {
        {"text", std::string("hello"), "hello", {}, {}, {}},
        {"empty text", std::string(""), "", {}, {}, {}},
        {"number", fake::Number{7}, "", {}, {}, {}},
        {"other kind", fake::Other{}, "", {}, {}, {}},
        {"point", Point{3.5, -4.25}, "", {}, Point{3.5, -4.25}, {}},
        {"origin is present", Point{0, 0}, "", {}, Point{0, 0}, {}},
        {"size", Size{10, 20}, "", {}, {}, Size{10, 20}},
        {"zero size is present", Size{0, 0}, "", {}, {}, Size{0, 0}},
        {"single element is no list", fake::ElementAt{"a"}, "", {}, {}, {}},
        {"list", fake::ElementsAt{{"b", "a"}}, "", {"b", "a"}, {}, {}},
        {"failure", fake::Failing{platform::kAttributeUnsupported, {}}, "", {}, {}, {}},
        {"failure with a value stored", fake::Failing{platform::kCannotComplete, "stale"}, "", {}, {}, {}},
        {"no value", fake::Failing{platform::kNoValue, {}}, "", {}, {}, {}},
        {"api disabled", fake::Failing{platform::kApiDisabled, {}}, "", {}, {}, {}},
    };
    for (const Expectation& c : cases) {
        SCOPED_TRACE(c.what);
        const platform::Element probe = probeWith(c.value);
        EXPECT_EQ(ax::string(probe, "X"), c.text);
        EXPECT_EQ(fake::labelsOf(ax::children(probe)), c.children);
        EXPECT_EQ(ax::point(probe), c.point);
        EXPECT_EQ(ax::size(probe), c.size);
        // One request per query, each for its own attribute.
        EXPECT_EQ(fake::recordOf({"get"}), (std::vector<std::string>{"get app AXChildren", "get probe X", "get probe AXChildren",
                                                                   "get probe AXPosition", "get probe AXSize"}));
    }
    EXPECT_EQ(fake::liveElements(), 0);
}

TEST(Query, APositionHoldingASizeOrTheOtherWayRoundIsAbsent) {
    const platform::Element probe = probeWith(Size{1, 2});
    EXPECT_EQ(ax::point(probe), std::nullopt);
    const platform::Element other = probeWith(Point{1, 2});
    EXPECT_EQ(ax::size(other), std::nullopt);
}

TEST(Query, AttributeGivesTheRawValueOnlyOnSuccess) {
    const platform::Element probe = probeWith(fake::Failing{platform::kCannotComplete, "stale"});
    EXPECT_TRUE(std::holds_alternative<platform::Absent>(ax::attribute(probe, "X")));
    const platform::Element text = probeWith(std::string("t"));
    EXPECT_EQ(std::get<std::string>(ax::attribute(text, "X")), "t");
    EXPECT_TRUE(std::holds_alternative<platform::Absent>(ax::attribute(text, "AXUnsupported")));
}

TEST(Query, AVanishedElementReadsAbsentEverywhere) {
    const platform::Element probe = probeWith(std::string("here"));
    fake::vanish("probe");
    EXPECT_EQ(ax::string(probe, "X"), "");
    EXPECT_TRUE(ax::children(probe).empty());
    EXPECT_EQ(ax::point(probe), std::nullopt);
    EXPECT_EQ(ax::size(probe), std::nullopt);
}

TEST(Query, NothingIsCached) {
    const platform::Element probe = probeWith(std::string("v"));
    const int before = fake::requests();
    ax::string(probe, "X");
    ax::string(probe, "X");
    EXPECT_EQ(fake::requests() - before, 2);
}

TEST(Query, ElementListOfAnythingButAListIsEmpty) {
    EXPECT_TRUE(ax::elementList(platform::Absent{}).empty());
    EXPECT_TRUE(ax::elementList(std::string("x")).empty());
    EXPECT_TRUE(ax::elementList(platform::OtherValue{}).empty());
    EXPECT_TRUE(ax::elementList(Point{1, 1}).empty());
}

// answeredString tells an application that answered (with a value, with none, or with an element
// that is gone) from a request that went unanswered; a text stored beside a failure code is not
// taken for an answer.
TEST(Query, AnsweredStringTellsAnAnswerFromARequestThatFailed) {
    struct Case {
        const char* what;
        fake::Attribute value;
        bool answered;
        std::string text;
    };
    const Case cases[] = {
        {"text", std::string("\u8B66\u544A"), true, "\u8B66\u544A"},
        {"empty text", std::string(""), true, ""},
        {"a value of another kind", fake::Number{7}, true, ""},
        {"success, nothing stored", fake::Failing{platform::kSuccess, {}}, true, ""},
        {"no value", fake::Failing{platform::kNoValue, {}}, true, ""},
        {"not supported", fake::Failing{platform::kAttributeUnsupported, {}}, true, ""},
        {"invalid element", fake::Failing{platform::kInvalidElement, {}}, true, ""},
        {"cannot complete, a text stored", fake::Failing{platform::kCannotComplete, std::string("stale")}, false, ""},
        {"failure", fake::Failing{platform::kFailure, {}}, false, ""},
        {"illegal argument", fake::Failing{platform::kIllegalArgument, {}}, false, ""},
        {"api disabled", fake::Failing{platform::kApiDisabled, {}}, false, ""},
        {"action unsupported", fake::Failing{platform::kActionUnsupported, {}}, false, ""},
        {"an unknown code", fake::Failing{-1, {}}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const platform::Element probe = probeWith(c.value);
        const ax::AnsweredText read = ax::answeredString(probe, "X");
        EXPECT_EQ(read.answered, c.answered);
        EXPECT_EQ(read.text, c.text);
        EXPECT_EQ(fake::recordOf({"get"}).back(), "get probe X");
    }
    // An element that has vanished answers as gone.
    const platform::Element probe = probeWith(std::string("here"));
    fake::vanish("probe");
    const ax::AnsweredText gone = ax::answeredString(probe, "X");
    EXPECT_TRUE(gone.answered);
    EXPECT_EQ(gone.text, "");
}

TEST(Query, StringEqualsUsesCanonicalEquivalence) {
    const platform::Element probe = probeWith(std::string("O\u212A"));
    EXPECT_TRUE(ax::stringEquals(probe, "X", "OK"));
    EXPECT_FALSE(ax::stringEquals(probe, "X", "ok"));
}

}  // namespace
