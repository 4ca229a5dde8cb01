// The fake desktop's own promises, which every other unit test relies on: a handle used or
// released after its release stops the test at once; the record keeps every line of a long run,
// in order; and a handle of an earlier desktop leaves no line in the record of the one installed
// after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_desktop.h"
#include "support/desktops.h"

namespace {

// The fake's own message; under AddressSanitizer, where each handle is a heap block of its own,
// the sanitizer's report of the freed block comes first.
constexpr const char* kUsedAfterRelease = "used after its release|heap-use-after-free";

TEST(FakeDesktopDeathTest, AHandleUsedOrReleasedAfterItsReleaseStopsTheTest) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto releasedHandle = [] {
        fake::install(corelDesktop(""));
        platform::Element element = platform::createApplicationElement(kCorelPid);
        void* reference = element.get();
        element = platform::Element{};
        return reference;
    };
    EXPECT_DEATH(
        {
            const platform::Element stale(releasedHandle());
            platform::copyAttributeValue(stale, "AXRole");
        },
        kUsedAfterRelease);
    EXPECT_DEATH(
        {
            const platform::Element stale(releasedHandle());
            platform::performAction(stale, "AXPress");
        },
        kUsedAfterRelease);
    EXPECT_DEATH(platform::releaseElement(releasedHandle()), kUsedAfterRelease);
}

// A released handle is a line of its own, and a handle that is not released is still counted.
TEST(FakeDesktop, AReleaseOfThisDesktopsHandleIsRecordedOnce) {
    fake::install(corelDesktop(""));
    platform::Element element = platform::createApplicationElement(kCorelPid);
    EXPECT_EQ(fake::liveElements(), 1);
    element = platform::Element{};
    EXPECT_EQ(fake::recordOf({"release-element"}), std::vector<std::string>{"release-element app"});
    EXPECT_EQ(fake::liveElements(), 0);
}

// A handle held across install() and released afterwards still counts as live until then, and
// its release belongs to the earlier desktop: the new desktop records nothing.
TEST(FakeDesktop, AnEarlierDesktopsHandleLeavesNoLineInTheNewRecord) {
    fake::install(corelDesktop(""));
    platform::Element held = platform::createApplicationElement(kCorelPid);
    fake::install(corelDesktop(""));
    EXPECT_EQ(fake::liveElements(), 1);
    held = platform::Element{};
    EXPECT_EQ(fake::record(), std::vector<std::string>{});
    EXPECT_EQ(fake::liveElements(), 0);
}

// A long run's record: every noted line, in order, well past the first few thousand.
TEST(FakeDesktop, TheRecordOfALongRunKeepsEveryLineInOrder) {
    fake::install(corelDesktop(""));
    const platform::Element application = platform::createApplicationElement(kCorelPid);
    std::vector<std::string> expected{"application-element 4242"};
    for (int i = 1; i <= 10000; ++i) {
        platform::sleepMicroseconds(i);
        expected.push_back("sleep " + std::to_string(i));
        if (i % 1000 == 0) {
            platform::copyAttributeValue(application, "AXRole");
            expected.push_back("get app AXRole");
        }
    }
    const std::vector<std::string>& record = fake::record();
    ASSERT_EQ(record.size(), expected.size());
    for (std::size_t i = 0; i < record.size(); ++i) {
        ASSERT_EQ(record[i], expected[i]) << "line " << i;
    }
}

}  // namespace
