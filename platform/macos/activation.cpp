// Bringing the bound application to the front on macOS 14 and later, where activation is
// cooperative: a bare activation request from a process that is not itself active may be
// refused, silently. The request that names the application now in front as the one that
// hands activation over is honoured where the bare one is refused, so it is used whenever some
// other application is in front; with none, or with the application itself in front, the bare
// request is all there is to ask. Either request answers whether the system allowed it; the run
// does not act on the answer, the trace shows it.
#include "platform/macos/app_kit.h"
#include "platform/platform.h"

namespace platform {
namespace {

// The empty NSApplicationActivationOptions set.
constexpr std::uint64_t kNoOptions = 0;

}  // namespace

Activation activate(const Application& application) {
    const Application frontmost = macos::frontmostApplication();
    const bool allowed = frontmost && processIdentifier(frontmost) != processIdentifier(application)
                             ? macos::activateFromApplication(application, frontmost, kNoOptions)
                             : macos::activateWithOptions(application, kNoOptions);
    return allowed ? Activation::allowed : Activation::refused;
}

std::int64_t frontmostProcess() {
    const Application frontmost = macos::frontmostApplication();
    return frontmost ? processIdentifier(frontmost) : -1;
}

}  // namespace platform
