// A time limit on the blocking system calls of this thread: SIGALRM after a time-out.
#pragma once

#include <chrono>
#include <csignal>
#include <sys/time.h>

namespace platform::linux_desktop {

// Calls `handler` on SIGALRM once `timeout` has passed, and again every `repeat` after that when
// it is not zero, for as long as it lives. The handler is installed without SA_RESTART, so a
// blocking system call that the signal interrupts fails with EINTR; the handler must be
// async-signal-safe. The previous handler, timer and signal mask come back when it ends.
struct ScopedAlarm {
    struct sigaction previousAction {};
    itimerval previousTimer{};
    sigset_t previousMask{};

    ScopedAlarm(std::chrono::milliseconds timeout, void (*handler)(int),
                std::chrono::milliseconds repeat = std::chrono::milliseconds::zero());
    ~ScopedAlarm();
    ScopedAlarm(const ScopedAlarm&) = delete;
    ScopedAlarm& operator=(const ScopedAlarm&) = delete;
};

}  // namespace platform::linux_desktop
