// The X display connection through which input is posted and windows are raised: opened once,
// on first use, and kept for the life of the process.
//
// No wait on the X server is without limit: opening the display, and every section of requests
// made on it under a DisplayDeadline, end after the request time-out, so a stopped X server
// costs time but never hangs the run.
#pragma once

#include "platform/linux/alarm.h"

#include <X11/Xlib.h>

#include <optional>

namespace platform::linux_desktop {

// The display with the XTEST extension, or nullptr when no display can be opened, it lacks
// XTEST, or its connection has broken. Xlib reports nothing on the standard streams, and a
// broken connection does not end the process. Opening waits at most the request time-out for
// the server's answers, and an X server that gives none in time counts as no display.
Display* xDisplay();

// Bounds the requests made on the display while it lives by the request time-out: once that
// has passed, the display's connection is shut down. Xlib's wait for an answer then ends, the
// connection counts as broken, and every later request on it fails at once (xDisplay answers
// nullptr from then on). Nothing for a null display.
//   Display* display = xDisplay();
//   const DisplayDeadline deadline(display);
//   XSync(display, False);  // returns within the time-out, answered or not
struct DisplayDeadline {
    std::optional<ScopedAlarm> alarm;

    explicit DisplayDeadline(Display* display);
    ~DisplayDeadline();
    DisplayDeadline(const DisplayDeadline&) = delete;
    DisplayDeadline& operator=(const DisplayDeadline&) = delete;
};

}  // namespace platform::linux_desktop
