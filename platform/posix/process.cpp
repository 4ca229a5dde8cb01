// This process's id and the monotonic clock, for every POSIX implementation.
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

std::int64_t ownProcessId() { return getpid(); }

std::int64_t monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace platform
