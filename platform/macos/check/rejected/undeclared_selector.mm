// Rejected: a message NSRunningApplication does not declare.
#import <AppKit/AppKit.h>

void bringForward(NSRunningApplication* application) {
    [application activateIgnoringOtherApps:true];
}
