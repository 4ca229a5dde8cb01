// CoreGraphics (Quartz Event Services) as the macOS implementation uses it (see ../README.md).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

// CGBase.h / CGGeometry.h on 64-bit: CGFloat is double.
typedef double CGFloat;
struct CGPoint {
    CGFloat x;
    CGFloat y;
};
typedef struct CGPoint CGPoint;
struct CGSize {
    CGFloat width;
    CGFloat height;
};
typedef struct CGSize CGSize;

// https://developer.apple.com/documentation/coregraphics/cgevent.md
typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;

// https://developer.apple.com/documentation/coregraphics/cgeventtype.md
// https://developer.apple.com/documentation/coregraphics/cgeventtype/leftmousedown.md
// https://developer.apple.com/documentation/coregraphics/cgeventtype/leftmouseup.md
enum CGEventType : uint32_t {
    kCGEventNull = 0,
    kCGEventLeftMouseDown = 1,
    kCGEventLeftMouseUp = 2,
    kCGEventRightMouseDown = 3,
    kCGEventRightMouseUp = 4,
    kCGEventMouseMoved = 5,
    kCGEventKeyDown = 10,
    kCGEventKeyUp = 11,
};
typedef enum CGEventType CGEventType;

// https://developer.apple.com/documentation/coregraphics/cgmousebutton.md
// https://developer.apple.com/tutorials/data/documentation/coregraphics/cgmousebutton/left.md
enum CGMouseButton : uint32_t {
    kCGMouseButtonLeft = 0,
    kCGMouseButtonRight = 1,
    kCGMouseButtonCenter = 2,
};
typedef enum CGMouseButton CGMouseButton;

// https://developer.apple.com/documentation/coregraphics/cgeventtaplocation.md
// https://developer.apple.com/tutorials/data/documentation/coregraphics/cgeventtaplocation/cghideventtap.md
enum CGEventTapLocation : uint32_t {
    kCGHIDEventTap = 0,
    kCGSessionEventTap = 1,
    kCGAnnotatedSessionEventTap = 2,
};
typedef enum CGEventTapLocation CGEventTapLocation;

// https://developer.apple.com/documentation/coregraphics/cgkeycode.md
typedef uint16_t CGKeyCode;

// https://developer.apple.com/documentation/coregraphics/cgerror.md
// https://developer.apple.com/documentation/coregraphics/cgerror/success.md
enum CGError : int32_t {
    kCGErrorSuccess = 0,
    kCGErrorFailure = 1000,
    kCGErrorIllegalArgument = 1001,
    kCGErrorInvalidConnection = 1002,
    kCGErrorInvalidContext = 1003,
    kCGErrorCannotComplete = 1004,
    kCGErrorNotImplemented = 1006,
    kCGErrorRangeCheck = 1007,
    kCGErrorTypeCheck = 1008,
    kCGErrorInvalidOperation = 1010,
    kCGErrorNoneAvailable = 1011,
};
typedef enum CGError CGError;

// https://developer.apple.com/documentation/coregraphics/cgdirectdisplayid.md
typedef uint32_t CGDirectDisplayID;

// https://developer.apple.com/documentation/coregraphics/cggetdisplayswithpoint(_:_:_:_:).md
// "Provides a list of online displays with bounds that include the specified point." The point
// is in the global display coordinate space, origin at the upper-left corner of the main
// display. With a null `displays`, the count holds the total number of such displays.
CGError CGGetDisplaysWithPoint(CGPoint point, uint32_t maxDisplays, CGDirectDisplayID* displays,
                               uint32_t* matchingDisplayCount);

// https://developer.apple.com/documentation/coregraphics/cgevent/init(mouseeventsource:mousetype:mousecursorposition:mousebutton:).md
// A new event (release it with CFRelease), or NULL when it cannot be created.
CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton);
// https://developer.apple.com/documentation/coregraphics/cgevent/init(keyboardeventsource:virtualkey:keydown:).md
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
// https://developer.apple.com/tutorials/data/documentation/coregraphics/cgevent/post(tap:).md
void CGEventPost(CGEventTapLocation tap, CGEventRef event);
// https://developer.apple.com/documentation/coregraphics/cgpreflightposteventaccess().md
// (macOS 10.15+) Whether this process may post events; never asks the user. Without that
// access, posted events are dropped without a word.
bool CGPreflightPostEventAccess(void);

#ifdef __cplusplus
}
#endif
