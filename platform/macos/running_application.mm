// The running-application operations of the seam over AppKit's NSRunningApplication, and the
// AppKit messages that activation.cpp chooses among (app_kit.h): the only Objective-C of the
// tool, behind plain C++ headers. Built with ARC; a handle keeps its
// application retained (__bridge_retained) until `releaseApplication` hands it back to ARC.
// Every call runs inside its own autorelease pool, so nothing autoreleased outlives the call.
#include "platform/macos/app_kit.h"
#include "platform/platform.h"

#import <AppKit/AppKit.h>

// The handles' ownership (__bridge_retained out, __bridge_transfer back) is ARC's: compiled
// without it, every application handed out would leak or be freed early.
#if !__has_feature(objc_arc)
#error "running_application.mm must be compiled with ARC (-fobjc-arc)"
#endif

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

namespace macos {

Application frontmostApplication() {
    @autoreleasepool {
        NSRunningApplication* frontmost = NSWorkspace.sharedWorkspace.frontmostApplication;
        if (frontmost == nil) return Application{};
        return Application((__bridge_retained void*)frontmost);
    }
}

bool activateFromApplication(const Application& application, const Application& frontmost, std::uint64_t options) {
    @autoreleasepool {
        const BOOL allowed = [applicationOf(application) activateFromApplication:applicationOf(frontmost)
                                                                         options:static_cast<NSApplicationActivationOptions>(options)];
        return allowed;
    }
}

bool activateWithOptions(const Application& application, std::uint64_t options) {
    @autoreleasepool {
        const BOOL allowed = [applicationOf(application) activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
        return allowed;
    }
}

}  // namespace macos

}  // namespace platform
