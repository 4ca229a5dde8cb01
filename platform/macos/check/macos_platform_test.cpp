// The macOS implementation's plain C++ files, run over the fake frameworks: conversions,
// ownership and the arguments that reach each service.
#include "fake_frameworks.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using platform::Value;

// A compact text of a converted value; text bytes outside printable ASCII as \xNN.
std::string describe(const Value& value) {
    struct Describer {
        std::string operator()(const platform::Absent&) const { return "absent"; }
        std::string operator()(const std::string& text) const {
            std::string out = "text:";
            for (const unsigned char byte : text) {
                if (byte >= 0x20 && byte < 0x7F) {
                    out += static_cast<char>(byte);
                } else {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    out += hex;
                }
            }
            return out;
        }
        std::string operator()(const platform::ElementList& list) const {
            std::string out = "elements:[";
            for (const auto& element : list) {
                if (&element != &list.front()) out += ",";
                out += fake_apple::nameOf(element.get());
            }
            return out + "]";
        }
        std::string operator()(const platform::Element& element) const {
            return "element:" + fake_apple::nameOf(element.get());
        }
        std::string operator()(const platform::Point& p) const {
            return "point:" + std::to_string(p.x) + "," + std::to_string(p.y);
        }
        std::string operator()(const platform::Size& s) const {
            return "size:" + std::to_string(s.width) + "," + std::to_string(s.height);
        }
        std::string operator()(bool yes) const { return yes ? "boolean:yes" : "boolean:no"; }
        std::string operator()(const platform::OtherValue&) const { return "other"; }
    };
    return std::visit(Describer{}, value);
}

constexpr const char* kRoot = "application 4242";

class MacosPlatform : public testing::Test {
protected:
    void SetUp() override { fake_apple::reset(); }
    void TearDown() override {
        fake_apple::releaseAnswers();
        EXPECT_EQ(fake_apple::liveObjects(), 0u) << "references left unreleased";
        EXPECT_EQ(fake_apple::faults(), std::vector<std::string>{});
        fake_apple::reset();
    }
};

TEST_F(MacosPlatform, ConvertsWhateverThePlatformStored) {
    using fake_apple::axValue;
    using fake_apple::element;
    using fake_apple::string;
    std::u16string longText(100000, u'x');
    longText[50000] = 0xDC00;
    std::string longExpected = "text:" + std::string(50000, 'x') + "\\xEF\\xBF\\xBD" +
                               std::string(49999, 'x');
    struct Case {
        const char* what;
        AXError code;
        std::function<CFTypeRef()> stored;  // null: nothing stored
        std::int32_t expectedCode;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"text", kAXErrorSuccess, [] { return string(u"Run"); }, 0, "text:Run"},
        {"empty text", kAXErrorSuccess, [] { return string(u""); }, 0, "text:"},
        {"embedded U+0000", kAXErrorSuccess, [] { return string(std::u16string(u"a\0b", 3)); }, 0,
         "text:a\\x00b"},
        {"alert description", kAXErrorSuccess, [] { return string(u"\u8B66\u544A"); }, 0,
         "text:\\xE8\\xAD\\xA6\\xE5\\x91\\x8A"},
        {"surrogate pair", kAXErrorSuccess, [] { return string(u"\U0001F600"); }, 0,
         "text:\\xF0\\x9F\\x98\\x80"},
        {"unpaired high surrogate at the end", kAXErrorSuccess,
         [] { return string(std::u16string{u'A', char16_t(0xD800)}); }, 0, "text:A\\xEF\\xBF\\xBD"},
        {"unpaired low surrogate at the start", kAXErrorSuccess,
         [] { return string(std::u16string{char16_t(0xDC00), u'B'}); }, 0, "text:\\xEF\\xBF\\xBDB"},
        {"high surrogate before a pair", kAXErrorSuccess,
         [] { return string(std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}); },
         0, "text:\\xEF\\xBF\\xBD\\xF0\\x9F\\x98\\x80"},
        {"two unpaired in a row", kAXErrorSuccess,
         [] { return string(std::u16string{char16_t(0xDFFF), char16_t(0xD800), u'C'}); }, 0,
         "text:\\xEF\\xBF\\xBD\\xEF\\xBF\\xBDC"},
        {"long text", kAXErrorSuccess, [&] { return string(longText); }, 0, longExpected},
        {"list with other items", kAXErrorSuccess,
         [] {
             const CFTypeRef row = element("row");
             const CFTypeRef text = string(u"not an element");
             const CFTypeRef cell = element("cell");
             const CFTypeRef list = fake_apple::array({row, text, cell});
             CFRelease(row);
             CFRelease(text);
             CFRelease(cell);
             return list;
         },
         0, "elements:[row,cell]"},
        {"empty list", kAXErrorSuccess, [] { return fake_apple::array({}); }, 0, "elements:[]"},
        {"single element", kAXErrorSuccess, [] { return element("window"); }, 0, "element:window"},
        {"point", kAXErrorSuccess, [] { return axValue(kAXValueTypeCGPoint, 140.5, -310.25); }, 0,
         "point:140.500000,-310.250000"},
        {"size", kAXErrorSuccess, [] { return axValue(kAXValueTypeCGSize, 300, 0); }, 0,
         "size:300.000000,0.000000"},
        {"rectangle", kAXErrorSuccess, [] { return axValue(kAXValueTypeCGRect, 1, 2); }, 0, "other"},
        // A yes-or-no attribute boxed as an integer: exactly 0 or 1 is the boolean, any other
        // number stays a value the tool does not read.
        {"integer 1", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberSInt32Type, 1); }, 0, "boolean:yes"},
        {"integer 0", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberSInt64Type, 0); }, 0, "boolean:no"},
        {"char 1", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberCharType, 1); }, 0, "boolean:yes"},
        {"float 1.0", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberFloat64Type, 1.0); }, 0, "boolean:yes"},
        {"integer 2", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberSInt32Type, 2); }, 0, "other"},
        {"integer -1", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberSInt32Type, -1); }, 0, "other"},
        {"float 0.5", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberFloat64Type, 0.5); }, 0, "other"},
        {"float 1 plus a bit", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberDoubleType, 1.0000001); }, 0, "other"},
        {"float NaN", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberDoubleType, std::nan("")); }, 0, "other"},
        {"integer 2^63 as float", kAXErrorSuccess, [] { return fake_apple::number(kCFNumberFloat64Type, 9223372036854775808.0); }, 0, "other"},
        {"true", kAXErrorSuccess, [] { return fake_apple::boolean(true); }, 0, "boolean:yes"},
        {"false", kAXErrorSuccess, [] { return fake_apple::boolean(false); }, 0, "boolean:no"},
        {"success without a value", kAXErrorSuccess, nullptr, 0, "absent"},
        {"no value", kAXErrorNoValue, nullptr, -25212, "absent"},
        {"a value stored although the call failed", kAXErrorCannotComplete,
         [] { return string(u"late"); }, -25204, "text:late"},
    };
    const platform::Element root = platform::createApplicationElement(4242);
    for (const Case& c : cases) {
        fake_apple::answer(kRoot, "AXValue", c.code, c.stored ? c.stored() : nullptr);
        const platform::AttributeResult result = platform::copyAttributeValue(root, "AXValue");
        EXPECT_EQ(result.code, c.expectedCode) << c.what;
        EXPECT_EQ(describe(result.value), c.expected) << c.what;
    }
    const platform::AttributeResult unanswered = platform::copyAttributeValue(root, "AXTitle");
    EXPECT_EQ(unanswered.code, platform::kAttributeUnsupported);
    EXPECT_EQ(describe(unanswered.value), "absent");
}

TEST_F(MacosPlatform, ElementsOutliveTheListAndTheValueTheyCameFrom) {
    const platform::Element root = platform::createApplicationElement(4242);
    {
        const CFTypeRef row = fake_apple::element("row");
        const CFTypeRef list = fake_apple::array({row});
        CFRelease(row);
        fake_apple::answer(kRoot, "AXChildren", kAXErrorSuccess, list);
    }
    platform::AttributeResult children = platform::copyAttributeValue(root, "AXChildren");
    fake_apple::releaseAnswers();  // the list and its own references are gone now

    auto& list = std::get<platform::ElementList>(children.value);
    ASSERT_EQ(list.size(), 1u);
    const platform::Element kept = platform::retainElement(list.front());
    EXPECT_EQ(fake_apple::retainCountOf(kept.get()), 2);
    children = {};
    EXPECT_EQ(fake_apple::retainCountOf(kept.get()), 1);

    fake_apple::answer("row", "AXRole", kAXErrorSuccess, fake_apple::string(u"AXRow"));
    EXPECT_EQ(describe(platform::copyAttributeValue(kept, "AXRole").value), "text:AXRow");
    EXPECT_FALSE(platform::retainElement(platform::Element{}));
}

TEST_F(MacosPlatform, PassesNamesExactlyAndRefusesWhatThePlatformWouldRefuse) {
    const platform::Element root = platform::createApplicationElement(4242);
    fake_apple::answerAction(kRoot, "AXPress", kAXErrorActionUnsupported);
    EXPECT_EQ(platform::copyAttributeValue(root, "AXDescription").code,
              platform::kAttributeUnsupported);
    EXPECT_EQ(platform::performAction(root, "AXPress"), platform::kActionUnsupported);
    EXPECT_EQ(platform::performAction(root, "AXShowMenu"), platform::kSuccess);

    // Not UTF-8, or no element: refused before any request.
    EXPECT_EQ(platform::copyAttributeValue(root, "AX\xFF").code, platform::kIllegalArgument);
    EXPECT_EQ(platform::copyAttributeValue(platform::Element{}, "AXRole").code,
              platform::kIllegalArgument);
    EXPECT_EQ(platform::performAction(platform::Element{}, "AXPress"), platform::kIllegalArgument);

    EXPECT_EQ(fake_apple::calls(), (std::vector<std::string>{
                                       "create application 4242",
                                       "copy AXDescription of application 4242",
                                       "perform AXPress on application 4242",
                                       "perform AXShowMenu on application 4242",
                                   }));
}

// Trusted only with both permissions: accessibility, and posting events (without which every
// click would be dropped silently). Nothing else is asked, and nothing asks the user.
TEST_F(MacosPlatform, TrustedOnlyWithAccessibilityAndEventPosting) {
    struct Case {
        bool accessibility;
        bool postEvents;
        bool trusted;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {true, true, true, {"is trusted", "may post events"}},
        {true, false, false, {"is trusted", "may post events"}},
        {false, true, false, {"is trusted"}},
        {false, false, false, {"is trusted"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.accessibility) + " " + std::to_string(c.postEvents));
        fake_apple::reset();
        fake_apple::setTrusted(c.accessibility);
        fake_apple::setMayPostEvents(c.postEvents);
        EXPECT_EQ(platform::isProcessTrusted(), c.trusted);
        EXPECT_EQ(fake_apple::calls(), c.calls);
    }
}

TEST_F(MacosPlatform, PostsEventsAsCreatedAtTheHidTap) {
    using platform::MouseButton;
    using platform::MouseEventType;
    for (const auto type : {MouseEventType::leftMouseDown, MouseEventType::leftMouseUp}) {
        const auto event = platform::createMouseEvent(type, {140.5, 310.25}, MouseButton::left);
        ASSERT_TRUE(event.has_value());
        platform::postEvent(*event);
    }
    const auto offScreenLeft =
        platform::createMouseEvent(MouseEventType::leftMouseDown, {-1280.75, -20}, MouseButton::left);
    ASSERT_TRUE(offScreenLeft.has_value());
    for (const bool down : {true, false}) {
        const auto key = platform::createKeyboardEvent(53, down);
        ASSERT_TRUE(key.has_value());
        platform::postEvent(*key);
    }
    EXPECT_EQ(fake_apple::calls(), (std::vector<std::string>{
                                       "create mouse-event 1 at 140.5,310.25 button 0",
                                       "post mouse-event 1 at 140.5,310.25 button 0 at tap 0",
                                       "create mouse-event 2 at 140.5,310.25 button 0",
                                       "post mouse-event 2 at 140.5,310.25 button 0 at tap 0",
                                       "create mouse-event 1 at -1280.75,-20 button 0",
                                       "create key-event 53 down",
                                       "post key-event 53 down at tap 0",
                                       "create key-event 53 up",
                                       "post key-event 53 up at tap 0",
                                   }));
}

TEST_F(MacosPlatform, ActivatesFromTheFrontmostApplicationWhenAnotherIsInFront) {
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
        fake_apple::reset();
        fake_apple::setFrontmost(c.frontmost);
        {
            const platform::Application corelDraw = fake_apple::runningApplication(4242);
            platform::activate(corelDraw);
        }
        EXPECT_EQ(fake_apple::calls(), (std::vector<std::string>{"frontmost application", c.activation}));
        EXPECT_EQ(fake_apple::liveObjects(), 0u) << "an application left retained";
        EXPECT_EQ(fake_apple::faults(), std::vector<std::string>{});
    }
}

// What tessary-doctor asks: whether posting is allowed (the event-posting half of the trust, on
// its own, nothing asked of the user) and which process is in front (NSWorkspace, -1 for none).
TEST_F(MacosPlatform, AnswersTheDoctorsQuestionsWithOneCallEach) {
    for (const bool may : {true, false}) {
        fake_apple::reset();
        fake_apple::setMayPostEvents(may);
        EXPECT_EQ(platform::mayPostEvents(), may);
        EXPECT_EQ(fake_apple::calls(), std::vector<std::string>{"may post events"});
    }
    const std::pair<std::optional<pid_t>, std::int64_t> fronts[] = {{777, 777}, {std::nullopt, -1}};
    for (const auto& [front, pid] : fronts) {
        fake_apple::reset();
        fake_apple::setFrontmost(front);
        EXPECT_EQ(platform::frontmostProcess(), pid);
        EXPECT_EQ(fake_apple::calls(), std::vector<std::string>{"frontmost application"});
        EXPECT_EQ(fake_apple::liveObjects(), 0u) << "the frontmost application left retained";
        EXPECT_EQ(fake_apple::faults(), std::vector<std::string>{});
    }
}

// The running process's own signature from Code Signing Services: the signing information of
// SecCodeCopySelf's code, its identifier there exactly when signed, its flags telling ad-hoc
// from a certificate, its team where the certificate names one; every reference released.
TEST_F(MacosPlatform, ReadsItsOwnSignature) {
    using platform::SignatureKind;
    struct Case {
        const char* what;
        fake_apple::Signing signing;
        SignatureKind kind;
        std::string identifier;
        std::string team;
        std::size_t calls;
    };
    const auto signedAs = [](std::optional<std::u16string> team, std::optional<double> flags) {
        fake_apple::Signing signing;
        signing.identifier = u"com.tessary.tessary";
        signing.team = std::move(team);
        signing.flags = flags;
        return signing;
    };
    fake_apple::Signing selfFails;
    selfFails.selfStatus = -67050;
    fake_apple::Signing informationFails;
    informationFails.informationStatus = -67061;
    fake_apple::Signing other;
    other.notADictionary = true;
    const Case cases[] = {
        {"Developer ID, hardened runtime", signedAs(u"ABCDE12345", 0x10000), SignatureKind::certificate,
         "com.tessary.tessary", "ABCDE12345", 2},
        {"a self-signed certificate", signedAs(std::nullopt, 0), SignatureKind::certificate, "com.tessary.tessary", "", 2},
        {"the linker's ad-hoc signature", signedAs(std::nullopt, 0x20002), SignatureKind::adHoc, "com.tessary.tessary", "", 2},
        {"ad-hoc with the hardened runtime", signedAs(std::nullopt, 0x10002), SignatureKind::adHoc, "com.tessary.tessary", "",
         2},
        {"unsigned: no identifier", fake_apple::Signing{}, SignatureKind::unsignedCode, "", "", 2},
        {"signed, its flags not told", signedAs(u"ABCDE12345", std::nullopt), SignatureKind::unknown, "com.tessary.tessary",
         "ABCDE12345", 2},
        {"no code object", selfFails, SignatureKind::unknown, "", "", 1},
        {"no signing information", informationFails, SignatureKind::unknown, "", "", 2},
        {"information of another type", other, SignatureKind::unknown, "", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_apple::reset();
        fake_apple::answerSigning(c.signing);
        const platform::CodeSignature signature = platform::codeSignature();
        EXPECT_EQ(signature.kind, c.kind);
        EXPECT_EQ(signature.identifier, c.identifier);
        EXPECT_EQ(signature.team, c.team);
        const std::vector<std::string> calls = fake_apple::calls();
        ASSERT_EQ(calls.size(), c.calls);
        EXPECT_EQ(calls[0], "SecCodeCopySelf flags=0");
        if (c.calls > 1) {
            EXPECT_EQ(calls[1], "SecCodeCopySigningInformation flags=2");
        }
        EXPECT_EQ(fake_apple::liveObjects(), 0u) << "a reference left unreleased";
        EXPECT_EQ(fake_apple::faults(), std::vector<std::string>{});
    }
}

// The process table through /bin/ps, run here against this machine's ps (Debian procps), which
// takes the same options: this process's parent as the system has it, and nothing for a process
// that does not exist.
TEST_F(MacosPlatform, ReadsTheProcessTableThroughPs) {
    const std::optional<platform::ProcessEntry> own = platform::processEntry(getpid());
    ASSERT_TRUE(own.has_value());
    EXPECT_EQ(own->parentId, getppid());
    EXPECT_FALSE(own->path.empty());
    EXPECT_EQ(own->path.find('\n'), std::string::npos);
    EXPECT_EQ(platform::processEntry(0), std::nullopt);
    EXPECT_EQ(platform::processEntry(4194304 + 17), std::nullopt) << "beyond any process id";
    EXPECT_EQ(fake_apple::calls(), std::vector<std::string>{}) << "no framework is asked";
}

TEST_F(MacosPlatform, LooksAtTheDisplaysThenAtTheSystemWideHitTest) {
    const std::vector<std::string> kDisplaysOnly{"displays at -1280.75,310.25"};
    const std::vector<std::string> kHitTest{"displays at -1280.75,310.25", "create system-wide",
                                            "element at -1280.75,310.25 of system-wide"};
    std::vector<std::string> kHitTestAndPid = kHitTest;
    kHitTestAndPid.push_back("pid of hit");
    struct Case {
        const char* what;
        CGError displaysCode;
        uint32_t displays;
        AXError hitCode;
        bool element;       // the hit test stores an element named "hit"
        AXError pidCode;
        std::string owner;  // "process <pid>", "nothing" or "unknown"
        std::vector<std::string> calls;
        pid_t pid = 777;    // what AXUIElementGetPid answers for "hit"
    };
    const Case cases[] = {
        {"another process's window", kCGErrorSuccess, 1, kAXErrorSuccess, true, kAXErrorSuccess, "process 777", kHitTestAndPid},
        {"on two displays at once", kCGErrorSuccess, 2, kAXErrorSuccess, true, kAXErrorSuccess, "process 777", kHitTestAndPid},
        {"on no display", kCGErrorSuccess, 0, kAXErrorSuccess, true, kAXErrorSuccess, "nothing", kDisplaysOnly},
        {"the displays cannot be asked", kCGErrorFailure, 0, kAXErrorSuccess, true, kAXErrorSuccess, "process 777",
         kHitTestAndPid},
        {"the application there does not answer in time", kCGErrorSuccess, 1, kAXErrorCannotComplete, false,
         kAXErrorSuccess, "unknown", kHitTest},
        {"no element there", kCGErrorSuccess, 1, kAXErrorNoValue, false, kAXErrorSuccess, "unknown", kHitTest},
        {"accessibility disabled", kCGErrorSuccess, 1, kAXErrorAPIDisabled, false, kAXErrorSuccess, "unknown", kHitTest},
        {"success without an element", kCGErrorSuccess, 1, kAXErrorSuccess, false, kAXErrorSuccess, "unknown", kHitTest},
        {"the element has no process", kCGErrorSuccess, 1, kAXErrorSuccess, true, kAXErrorInvalidUIElement, "unknown",
         kHitTestAndPid},
        // No process has the id 0 (or a negative one): the answer tells nothing.
        {"the hit test reports process 0", kCGErrorSuccess, 1, kAXErrorSuccess, true, kAXErrorSuccess, "unknown",
         kHitTestAndPid, 0},
        {"the hit test reports process -1", kCGErrorSuccess, 1, kAXErrorSuccess, true, kAXErrorSuccess, "unknown",
         kHitTestAndPid, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_apple::reset();
        fake_apple::answerDisplays(c.displaysCode, c.displays);
        fake_apple::answerElementAt(c.hitCode, c.element ? fake_apple::element("hit") : nullptr);
        fake_apple::answerPid("hit", c.pidCode, c.pid);
        const platform::PointOwner owner = platform::ownerAt({-1280.75, 310.25});
        const std::string described = owner.occupant == platform::Occupant::process
                                          ? "process " + std::to_string(owner.processId)
                                          : owner.occupant == platform::Occupant::nothing ? "nothing" : "unknown";
        EXPECT_EQ(described, c.owner);
        EXPECT_EQ(fake_apple::calls(), c.calls);
        fake_apple::releaseAnswers();
        EXPECT_EQ(fake_apple::liveObjects(), 0u) << "a reference left unreleased";
        EXPECT_EQ(fake_apple::faults(), std::vector<std::string>{});
    }
}

TEST_F(MacosPlatform, ReportsEventsThatCannotBeCreated) {
    fake_apple::failEventCreation(true);
    EXPECT_FALSE(platform::createMouseEvent(platform::MouseEventType::leftMouseUp, {1, 2},
                                            platform::MouseButton::left));
    EXPECT_FALSE(platform::createKeyboardEvent(53, true));
    platform::postEvent(platform::Event{});  // nothing to post
    EXPECT_EQ(fake_apple::calls(), (std::vector<std::string>{
                                       "create mouse-event 2 at 1,2 button 0",
                                       "create key-event 53 down",
                                   }));
}

}  // namespace
