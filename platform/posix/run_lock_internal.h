// The per-user lock behind platform::holdRunLock, in parts that tests can reach: where the lock
// file lives and how it is taken. Nothing outside platform/posix and its tests uses this.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/platform.h"

namespace platform::lock_internal {

// TMPDIR when it names an absolute directory, else "/tmp".
std::string temporaryDirectory(const char* tmpdir);

// "<directory>/tessary-<user>.lock": one lock file per user id.
std::string lockPath(std::string_view directory, uid_t user);

// Opens the file at `path`, creating it with the rights 0600 and never following a symbolic
// link, and takes an exclusive flock on it, waiting while another process holds it. The
// descriptor is then kept open, so the lock is held until the process ends, whatever ends it;
// the file is never deleted. False, with nothing held, when the file is not a regular file
// owned by `owner`, or when opening or locking it fails.
bool holdLockAt(const std::string& path, uid_t owner);

// What `holdLockAt` would meet at `path` now, found without taking the lock and without creating
// the file: free (also when the file is not there yet and its directory lets a run make it),
// held (with the holder where the system says: /proc/locks on Linux, F_GETLK elsewhere, which
// sees a flock and names no process for it), unusable (a link, not a regular file, not `owner`'s
// alone, or no way to make it), or unknown (the system does not say).
LockTest testLockAt(const std::string& path, uid_t owner);

// A file as Linux's table of file locks (/proc/locks) names it.
struct FileIdentity {
    unsigned deviceMajor = 0;
    unsigned deviceMinor = 0;
    unsigned long long inode = 0;
};

// What that table's text says of the lock of `file` at `path`: held, with the process id of the
// flock that holds it (-1 where the line names none), or free. Waiters, record locks and other
// files' locks are no holders. The table is read, on Linux, by testLockAt.
LockTest flockHolderIn(std::string_view table, const FileIdentity& file, const std::string& path);

}  // namespace platform::lock_internal
