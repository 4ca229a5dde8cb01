// Synthetic input, posted system-wide where hardware input enters, so that it is routed exactly
// like a person's: a click goes to whatever lies under the point, a key to the focused window.
#pragma once

#include "platform/platform.h"

namespace input {

// Virtual key code of the Escape key.
inline constexpr std::uint16_t kEscapeKey = 53;
// Pause after each posted mouse event.
inline constexpr std::uint32_t kMousePauseMicroseconds = 50000;

// One left click at a screen point, passed on exactly as given: button down, 50 ms, button up,
// 50 ms. Both events are created before either is posted, so a button is never left held: when
// one cannot be created, nothing is posted and the run ends with "cannot create mouse event".
void click(platform::Point point);

// One press of Escape: key down, key up, no pause. Both events are created before either is
// posted: when one cannot be created, nothing is posted and the run ends with "cannot create
// keyboard event".
void escape();

}  // namespace input
