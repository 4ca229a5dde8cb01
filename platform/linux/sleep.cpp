#include "platform/platform.h"

#include <cerrno>
#include <ctime>

namespace platform {

void sleepMicroseconds(std::uint32_t microseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(microseconds / 1000000U);
    remaining.tv_nsec = static_cast<long>(microseconds % 1000000U) * 1000L;
    // A signal cuts the sleep short; the rest is slept after it.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
