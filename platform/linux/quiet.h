// Keeps the libraries that the Linux implementation calls (GLib, libatspi, libdbus, Xlib)
// off the tool's standard streams: standard output carries only the result path and standard
// error only the tool's own failure line.
#pragma once

namespace platform::linux_desktop {

// Routes GLib's log output (libatspi's warnings included) into nothing. Safe to call often;
// only the first call acts.
void silenceLibraries();

}  // namespace platform::linux_desktop
