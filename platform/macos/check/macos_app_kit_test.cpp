// The macOS implementation's Objective-C file and its sleep, run over fake_app_kit.cpp: which
// instances the seam hands out and in what order, what reaches AppKit when the application is
// brought to the front, and how long each sleep is.
#include "fake_app_kit.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kBundle = "com.corel.coreldrawsuite.2022.coreldraw";

class MacosAppKit : public testing::Test {
protected:
    void SetUp() override { fake_app_kit::reset(); }
    void TearDown() override {
        EXPECT_EQ(fake_app_kit::liveObjects(), 0u) << "objects left alive";
        EXPECT_EQ(fake_app_kit::faults(), std::vector<std::string>{});
    }
};

// Every instance, in the order AppKit lists them, each handle holding its own reference; the
// binding takes the first of them.
TEST_F(MacosAppKit, RunningApplicationsInTheOrderAppKitListsThem) {
    struct Case {
        const char* what;
        std::vector<pid_t> listed;
    };
    const Case cases[] = {
        {"none", {}},
        {"one", {4242}},
        {"three, the newest not first", {30, 10, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_app_kit::reset();
        fake_app_kit::setRunning(kBundle, c.listed);
        fake_app_kit::setRunning("com.corel.other", {99});
        std::vector<pid_t> handedOut;
        {
            const std::vector<platform::Application> running = platform::runningApplications(kBundle);
            for (const platform::Application& application : running) handedOut.push_back(platform::processIdentifier(application));
            EXPECT_EQ(fake_app_kit::liveObjects(), c.listed.size()) << "the list is gone, the applications stay";
        }
        EXPECT_EQ(handedOut, c.listed);
        EXPECT_EQ(fake_app_kit::calls().front(), std::string("running applications ") + kBundle);
        EXPECT_EQ(fake_app_kit::liveObjects(), 0u);
    }
}

TEST_F(MacosAppKit, ABundleIdentifierThatIsNotUtf8FindsNothingAndAsksNothing) {
    fake_app_kit::setRunning(kBundle, {4242});
    EXPECT_TRUE(platform::runningApplications("com.corel\xFF").empty());
    EXPECT_EQ(fake_app_kit::calls(), std::vector<std::string>{});
}

// Whichever message brings the application to the front, it carries the empty option set and
// the right applications.
TEST_F(MacosAppKit, ActivationCarriesNoOptions) {
    struct Case {
        const char* what;
        std::optional<pid_t> frontmost;
        std::string activation;
    };
    const Case cases[] = {
        {"another application in front", 777, "activate 4242 activateFromApplication: 777 options: 0"},
        {"no application in front", std::nullopt, "activate 4242 activateWithOptions: 0"},
        {"CorelDRAW itself in front", 4242, "activate 4242 activateWithOptions: 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_app_kit::reset();
        fake_app_kit::setRunning(kBundle, {4242});
        fake_app_kit::setFrontmost(c.frontmost);
        {
            const std::vector<platform::Application> running = platform::runningApplications(kBundle);
            ASSERT_EQ(running.size(), 1u);
            platform::activate(running.front());
        }
        std::vector<std::string> activations;
        for (const std::string& line : fake_app_kit::calls()) {
            if (line.starts_with("activate ")) activations.push_back(line);
        }
        EXPECT_EQ(activations, std::vector<std::string>{c.activation});
    }
}

// The BOOL of whichever message was sent is the seam's answer: the system allowed the request,
// or refused it.
TEST_F(MacosAppKit, ActivationReportsWhatAppKitAnswered) {
    struct Case {
        const char* what;
        std::optional<pid_t> frontmost;
        bool answer;
        platform::Activation activation;
    };
    const Case cases[] = {
        {"activateFromApplication: YES", 777, true, platform::Activation::allowed},
        {"activateFromApplication: NO", 777, false, platform::Activation::refused},
        {"activateWithOptions: YES", std::nullopt, true, platform::Activation::allowed},
        {"activateWithOptions: NO", std::nullopt, false, platform::Activation::refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_app_kit::reset();
        fake_app_kit::setRunning(kBundle, {4242});
        fake_app_kit::setFrontmost(c.frontmost);
        fake_app_kit::setActivationAllowed(c.answer);
        const std::vector<platform::Application> running = platform::runningApplications(kBundle);
        ASSERT_EQ(running.size(), 1u);
        EXPECT_EQ(platform::activate(running.front()), c.activation);
    }
}

// Each wait of the tool reaches usleep as the microseconds given.
TEST_F(MacosAppKit, SleepsExactlyAsLongAsAsked) {
    for (const std::uint32_t microseconds : {200000u, 100000u, 50000u}) platform::sleepMicroseconds(microseconds);
    EXPECT_EQ(fake_app_kit::calls(), (std::vector<std::string>{"usleep 200000", "usleep 100000", "usleep 50000"}));
}

}  // namespace
