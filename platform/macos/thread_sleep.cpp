// The tool's waits: a plain blocking sleep of the only thread.
#include "platform/platform.h"

#include <unistd.h>

namespace platform {

void sleepMicroseconds(std::uint32_t microseconds) { ::usleep(microseconds); }

}  // namespace platform
