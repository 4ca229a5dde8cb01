// The running-application operations of the seam over AppKit's NSRunningApplication: the only
// Objective-C of the tool, behind the plain C++ seam header. Built with ARC; a handle keeps its
// application retained (__bridge_retained) until `releaseApplication` hands it back to ARC.
// Every call runs inside its own autorelease pool, so nothing autoreleased outlives the call.
#include "platform/platform.h"

#import <AppKit/AppKit.h>

namespace platform {
namespace {

NSRunningApplication* applicationOf(const Application& application) {
    return (__bridge NSRunningApplication*)application.get();
}

}  // namespace

void releaseApplication(void* reference) noexcept {
    @autoreleasepool {
        NSRunningApplication* released = (__bridge_transfer NSRunningApplication*)reference;
        (void)released;
    }
}

std::vector<Application> runningApplications(std::string_view bundleIdentifier) {
    std::vector<Application> applications;
    @autoreleasepool {
        NSString* identifier = [[NSString alloc] initWithBytes:bundleIdentifier.data()
                                                        length:bundleIdentifier.size()
                                                      encoding:NSUTF8StringEncoding];
        if (identifier != nil) {
            NSArray<NSRunningApplication*>* running =
                [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier];
            const NSUInteger count = running.count;
            for (NSUInteger index = 0; index < count; ++index) {
                applications.emplace_back((__bridge_retained void*)[running objectAtIndex:index]);
            }
        }
    }
    return applications;
}

std::int64_t processIdentifier(const Application& application) {
    @autoreleasepool {
        return applicationOf(application).processIdentifier;
    }
}

// Placeholder until the look at the screen is built: cannot tell.
PointOwner ownerAt(Point) { return {}; }

void activate(const Application& application) {
    @autoreleasepool {
        const NSApplicationActivationOptions noOptions = 0;
        (void)[applicationOf(application) activateWithOptions:noOptions];
    }
}

}  // namespace platform
