// AppKit as the macOS implementation uses it (see ../README.md). Objective-C only.
#pragma once

#import <Foundation/Foundation.h>
#include <sys/types.h>

// https://developer.apple.com/documentation/appkit/nsapplication/activationoptions.md
// NS_OPTIONS in C++: the option set is the integer type itself; no bits is the empty set.
typedef NSUInteger NSApplicationActivationOptions;
enum : NSUInteger {
    NSApplicationActivateAllWindows = 1 << 0,
    NSApplicationActivateIgnoringOtherApps = 1 << 1,
};

@interface NSRunningApplication : NSObject
// https://developer.apple.com/documentation/appkit/nsrunningapplication/runningapplications(withbundleidentifier:).md
// The running applications with the bundle identifier, or an empty array.
+ (NSArray<NSRunningApplication*>*)runningApplicationsWithBundleIdentifier:
    (NSString*)bundleIdentifier;
// https://developer.apple.com/documentation/appkit/nsrunningapplication/processidentifier.md
@property(readonly) pid_t processIdentifier;
// https://developer.apple.com/documentation/appkit/nsrunningapplication/activate(options:).md
- (BOOL)activateWithOptions:(NSApplicationActivationOptions)options;
@end
