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
// https://developer.apple.com/documentation/appkit/nsrunningapplication/activate(from:options:).md
// macOS 14 and later: a request to activate the receiver, with `application` named as the one
// that yields activation. True if the system allows the request; activation is not guaranteed.
- (BOOL)activateFromApplication:(NSRunningApplication*)application
                        options:(NSApplicationActivationOptions)options;
@end

@interface NSWorkspace : NSObject
// https://developer.apple.com/documentation/appkit/nsworkspace/shared.md
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
// https://developer.apple.com/documentation/appkit/nsworkspace/frontmostapplication.md
// The app that receives key events, or nil.
@property(nullable, readonly, strong) NSRunningApplication* frontmostApplication;
@end
