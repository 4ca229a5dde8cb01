// The X display connection through which input is posted and windows are raised: opened once,
// on first use, and kept for the life of the process.
#pragma once

#include <X11/Xlib.h>

namespace platform::linux_desktop {

// The display with the XTEST extension, or nullptr when no display can be opened, it lacks
// XTEST, or its connection has broken. Xlib reports nothing on the standard streams, and a
// broken connection does not end the process.
Display* xDisplay();

}  // namespace platform::linux_desktop
