// ApplicationServices (the Accessibility part of HIServices, with CoreFoundation and
// CoreGraphics) as the macOS implementation uses it (see ../README.md).
//
// Apple's AX reference pages render from AXUIElement.h, AXValue.h and AXError.h; the pages
// cited here reproduce those headers' declarations and documentation comments.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// https://docs.rs/objc2-application-services/latest/objc2_application_services/struct.AXUIElement.html
typedef const struct __AXUIElement* AXUIElementRef;
typedef const struct __AXValue* AXValueRef;

// https://developer.apple.com/documentation/applicationservices/axerror
// https://docs.rs/crate/objc2-application-services/0.3.2/source/src/generated/HIServices/AXError.rs
enum AXError : int32_t {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorInvalidUIElementObserver = -25203,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorActionUnsupported = -25206,
    kAXErrorNotificationUnsupported = -25207,
    kAXErrorNotImplemented = -25208,
    kAXErrorNotificationAlreadyRegistered = -25209,
    kAXErrorNotificationNotRegistered = -25210,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
    kAXErrorParameterizedAttributeUnsupported = -25213,
    kAXErrorNotEnoughPrecision = -25214,
};
typedef enum AXError AXError;

// https://developer.apple.com/documentation/applicationservices/axvaluetype
// https://docs.rs/objc2-application-services/0.3.2/src/objc2_application_services/generated/HIServices/AXValue.rs.html
enum AXValueType : UInt32 {
    kAXValueTypeCGPoint = 1,
    kAXValueTypeCGSize = 2,
    kAXValueTypeCGRect = 3,
    kAXValueTypeCFRange = 4,
    kAXValueTypeAXError = 5,
    kAXValueTypeIllegal = 0,
};
typedef enum AXValueType AXValueType;

// https://docs.rs/objc2-application-services/latest/objc2_application_services/fn.AXIsProcessTrusted.html
// True when the current process is a trusted accessibility client; it never prompts.
Boolean AXIsProcessTrusted(void);

// https://docs.rs/accessibility-sys/0.1.1/accessibility_sys/fn.AXUIElementCreateApplication.html
// The top-level element of the application with this process id; the caller owns it.
AXUIElementRef AXUIElementCreateApplication(pid_t pid);

// https://docs.rs/accessibility-sys/0.1.3/accessibility_sys/fn.AXUIElementCopyAttributeValue.html
// On success the value holds one reference that the caller owns (the Copy rule).
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);

// https://docs.rs/accessibility-sys/0.1.1/accessibility_sys/fn.AXUIElementPerformAction.html
AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);

// https://developer.apple.com/documentation/applicationservices/1462095-axuielementcreatesystemwide
// The element for the system as a whole, whose hit test is not restricted to one application;
// the caller owns it.
AXUIElementRef AXUIElementCreateSystemWide(void);

// https://docs.rs/accessibility-sys/0.1.3/accessibility_sys/fn.AXUIElementCopyElementAtPosition.html
// https://developer.apple.com/documentation/applicationservices/1462077-axuielementcopyelementatposition
// The element at a position in top-left relative screen coordinates, hit-tested by window
// z-order; on success the element holds one reference that the caller owns (the Copy rule).
AXError AXUIElementCopyElementAtPosition(AXUIElementRef application, float x, float y,
                                         AXUIElementRef* element);

// https://docs.rs/accessibility-sys/0.1.3/accessibility_sys/fn.AXUIElementGetPid.html
// The process id of the application that owns the element.
AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);

// https://docs.rs/accessibility-sys/latest/accessibility_sys/fn.AXUIElementGetTypeID.html
CFTypeID AXUIElementGetTypeID(void);

// https://docs.rs/accessibility-sys/0.1.1/src/accessibility_sys/value.rs.html
CFTypeID AXValueGetTypeID(void);

// https://docs.rs/objc2-application-services/latest/objc2_application_services/struct.AXValue.html
// "Decodes the structure stored in value and copies it into valuePtr. If the structure stored
// in value is not the same as requested by theType, the function returns false."
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

#ifdef __cplusplus
}
#endif
