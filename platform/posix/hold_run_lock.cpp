// platform::holdRunLock for every POSIX implementation: the user's own lock file in the user's
// temporary directory.
#include <cstdlib>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/run_lock_internal.h"

namespace platform {

bool holdRunLock() {
    const uid_t user = geteuid();
    const std::string directory = lock_internal::temporaryDirectory(std::getenv("TMPDIR"));
    return lock_internal::holdLockAt(lock_internal::lockPath(directory, user), user);
}

LockTest testRunLock() {
    const uid_t user = geteuid();
    const std::string directory = lock_internal::temporaryDirectory(std::getenv("TMPDIR"));
    return lock_internal::testLockAt(lock_internal::lockPath(directory, user), user);
}

}  // namespace platform
