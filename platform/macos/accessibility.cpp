// The accessibility operations of the seam over macOS Accessibility (ApplicationServices).
//
// Every request goes to the target application with the platform's default messaging
// time-out: nothing here sets a time-out of its own.
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_string.h"
#include "platform/macos/value_conversion.h"
#include "platform/platform.h"

#include <ApplicationServices/ApplicationServices.h>

namespace platform {
namespace {

// The seam's result codes are the AXError values themselves, passed through unchanged: the run
// tells an answered "no value", "unsupported" or "gone" from a request CorelDRAW left unanswered.
static_assert(kFailure == kAXErrorFailure && kIllegalArgument == kAXErrorIllegalArgument &&
              kInvalidElement == kAXErrorInvalidUIElement && kCannotComplete == kAXErrorCannotComplete &&
              kAttributeUnsupported == kAXErrorAttributeUnsupported && kActionUnsupported == kAXErrorActionUnsupported &&
              kApiDisabled == kAXErrorAPIDisabled && kNoValue == kAXErrorNoValue);

AXUIElementRef elementOf(const Element& element) {
    return static_cast<AXUIElementRef>(element.get());
}

CFStringRef stringOf(const macos::CfRef& string) { return static_cast<CFStringRef>(string.get()); }

}  // namespace

void releaseElement(void* reference) noexcept { macos::CfRef::releaseReference(reference); }

// Both permissions: the accessibility interface, and posting events, without which every click
// and key of the run would be dropped silently.
bool isProcessTrusted() { return AXIsProcessTrusted() != 0 && CGPreflightPostEventAccess(); }

Element createApplicationElement(std::int64_t processId) {
    return Element(
        macos::CfRef::adopt(AXUIElementCreateApplication(static_cast<pid_t>(processId)))
            .handOver());
}

Element retainElement(const Element& element) {
    return Element(macos::CfRef::retain(element.get()).handOver());
}

AttributeResult copyAttributeValue(const Element& element, std::string_view attribute) {
    const macos::CfRef name = macos::cfStringFromUtf8(attribute);
    // A name that is not UTF-8, or no element, is an argument the platform would refuse.
    if (!element || !name) return {kIllegalArgument, Absent{}};
    CFTypeRef value = nullptr;  // never release what the call did not store
    const AXError code = AXUIElementCopyAttributeValue(elementOf(element), stringOf(name), &value);
    return {code, macos::valueFromCopy(macos::CfRef::adopt(value))};
}

std::int32_t performAction(const Element& element, std::string_view action) {
    const macos::CfRef name = macos::cfStringFromUtf8(action);
    if (!element || !name) return kIllegalArgument;
    return AXUIElementPerformAction(elementOf(element), stringOf(name));
}

}  // namespace platform
