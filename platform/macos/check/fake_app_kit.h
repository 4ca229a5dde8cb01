// A stand-in for the Objective-C runtime and for the Foundation and AppKit classes that
// running_application.mm messages (NSString, NSArray, NSRunningApplication, NSWorkspace), and
// for usleep, so that the macOS implementation's one Objective-C file, compiled by clang for the
// GNUstep runtime's ABI, runs here beside thread_sleep.cpp.
//
// The stand-in keeps the contracts that the file relies on: ARC's reference counting (alloc and
// init hand over one reference, init consumes the receiver, other methods return autoreleased or
// unowned objects), autorelease pools that release what they hold when popped, a message to nil
// answering zero. It records each message that reaches AppKit and each sleep as a text line, and
// each breach as a fault: a message to an object that is gone, a selector no stand-in class
// answers, an object autoreleased outside a pool. What it cannot show is how AppKit behaves;
// that needs a Mac.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace fake_app_kit {

// Forgets the running applications, records and faults. Objects still alive stay counted.
void reset();

// The applications running with this bundle identifier, by process id, in the order AppKit
// lists them.
void setRunning(const std::string& bundleIdentifier, std::vector<pid_t> processIds);
// The application that receives key events, or none.
void setFrontmost(std::optional<pid_t> processId);
// What both activation messages answer (default: YES, the system allowed the request).
void setActivationAllowed(bool allowed);

std::vector<std::string> calls();
std::vector<std::string> faults();
// Objects created and not yet deallocated.
std::size_t liveObjects();

}  // namespace fake_app_kit
