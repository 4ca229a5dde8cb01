// The AppKit calls behind the seam's activation, one message each, reached from plain C++.
// running_application.mm sends them; activation.cpp decides which to send. Nothing outside
// platform/macos (and its compile check) uses this.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform::macos {

// NSWorkspace.sharedWorkspace.frontmostApplication: the application that receives key events,
// held by the handle; an empty handle when there is none.
Application frontmostApplication();

// [application activateFromApplication:frontmost options:options] (macOS 14 and later): asks for
// `application` to be activated, naming `frontmost`, the active application, as the one that
// gives up activation. The BOOL it answers: whether the system allowed the request.
bool activateFromApplication(const Application& application, const Application& frontmost, std::uint64_t options);

// [application activateWithOptions:options]. The BOOL it answers: whether the system allowed the
// request.
bool activateWithOptions(const Application& application, std::uint64_t options);

}  // namespace platform::macos
