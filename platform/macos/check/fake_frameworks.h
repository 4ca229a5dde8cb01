// An in-memory stand-in for the C functions of CoreFoundation, Accessibility and Quartz Event
// Services that the macOS implementation calls, so that its plain C++ files run here.
//
// The stand-in keeps Apple's documented contracts, as the declarations in apple_sdk/ cite them:
// reference counts with the Create/Copy and Get rules, AXUIElementCopyAttributeValue storing one
// owned reference, CFStringGetBytes stopping at a code unit it cannot convert, AXValueGetValue
// answering false for another structure type. It records each request as a text line and each
// breach of those contracts as a fault: a release of a dead object, a use of one, an out value
// that was not null before a copy, a record that was not zeroed, an argument the tool never
// passes. What it cannot show is how the real frameworks behave; that needs a Mac.
#pragma once

#include <ApplicationServices/ApplicationServices.h>
#include <Security/Security.h>

#include "platform/platform.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fake_apple {

// Forgets answers, records and faults, and frees every object still alive.
void reset();

// New objects, each with one reference that the caller owns.
CFTypeRef string(std::u16string_view units);
CFTypeRef array(const std::vector<CFTypeRef>& items);  // retains its items
CFTypeRef element(std::string name);
CFTypeRef axValue(AXValueType type, double first, double second);
// A CFNumber of this type holding this value (an integer type holds it as given).
CFTypeRef number(CFNumberType type, double value);
CFTypeRef boolean(bool value);

// What AXUIElementCopyAttributeValue answers for the element of this name and this attribute:
// the code, and one reference to `value` stored in the out value (none when null). The answer
// takes over the caller's reference. Unanswered attributes give kAXErrorAttributeUnsupported.
void answer(const std::string& elementName, const std::string& attribute, AXError code,
            CFTypeRef value);
// What AXUIElementPerformAction answers for this element and action (default: success).
void answerAction(const std::string& elementName, const std::string& action, AXError code);
// Drops the answers and the references they hold.
void releaseAnswers();

// What the system-wide hit test (AXUIElementCopyElementAtPosition) answers: the code, and one
// reference to `element` stored in the out value (none when null). The answer takes over the
// caller's reference. Unanswered, the hit test fails with kAXErrorCannotComplete.
void answerElementAt(AXError code, CFTypeRef element);
// What AXUIElementGetPid answers for the element of this name (default: kAXErrorInvalidUIElement).
void answerPid(const std::string& elementName, AXError code, pid_t pid);
// What CGGetDisplaysWithPoint answers: the code and the number of displays that hold the point
// (default: success, one display).
void answerDisplays(CGError code, uint32_t count);

// AppKit, as app_kit.h reaches it: a running application with this process id, and what
// NSWorkspace.sharedWorkspace.frontmostApplication answers (nothing: nil).
platform::Application runningApplication(pid_t pid);
void setFrontmost(std::optional<pid_t> pid);
// What both activation messages answer (default: true, the system allowed the request).
void setActivationAllowed(bool allowed);

void setTrusted(bool trusted);
// What CGPreflightPostEventAccess answers (default: true).
void setMayPostEvents(bool may);
void failEventCreation(bool fail);

// What Code Signing Services answer for this process's own code: SecCodeCopySelf's status, then
// SecCodeCopySigningInformation's status and dictionary, whose entries are there only when set
// (no identifier: unsigned code). Default: both succeed, with no entries.
struct Signing {
    OSStatus selfStatus = errSecSuccess;
    OSStatus informationStatus = errSecSuccess;
    std::optional<std::u16string> identifier;
    std::optional<std::u16string> team;
    std::optional<double> flags;  // kSecCodeInfoFlags, a CFNumber
    bool notADictionary = false;  // the information is some other object
};
void answerSigning(const Signing& signing);

// The name the element was created with, or "?" for anything else.
std::string nameOf(const void* element);

std::vector<std::string> calls();
std::vector<std::string> faults();
std::size_t liveObjects();
// The reference count of a live object, 0 for anything else.
long retainCountOf(const void* object);

}  // namespace fake_apple
