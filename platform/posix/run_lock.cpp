// The lock that serializes runs of one user, shared by every POSIX implementation.
//
// Two runs at once would click into each other's exchange and could take each other's answer,
// so a run holds an exclusive flock on a file of its own user for as long as it lives. The
// kernel drops a flock with the last descriptor, so a run that is killed releases it too, and
// the next run waiting for it goes on. The file is never deleted: deleting it could let a
// waiting run lock a file that a newer run no longer sees.
//
// The lock is a courtesy between cooperating runs, never a reason to fail: when the file cannot
// be had safely (another user planted it, it is a link or not a regular file, the directory is
// not writable, flock is refused), the run goes on unserialized.
#include "platform/posix/run_lock_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::lock_internal {

std::string temporaryDirectory(const char* tmpdir) {
    if (tmpdir != nullptr && tmpdir[0] == '/') return tmpdir;
    return "/tmp";
}

std::string lockPath(std::string_view directory, uid_t user) {
    std::string path(directory);
    if (!path.ends_with('/')) path.push_back('/');
    return path + "tessary-" + std::to_string(user) + ".lock";
}

bool holdLockAt(const std::string& path, uid_t owner) {
    // O_NONBLOCK keeps a FIFO or device planted at the path from holding up the open; it does
    // not make flock give up, which only LOCK_NB does.
    const int descriptor = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (descriptor < 0) return false;
    // Ours alone: a lock file that others may open could be held by them (flock needs no more
    // than a read) and block every run for ever.
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != owner ||
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        close(descriptor);
        return false;
    }
    int locked;
    do {
        locked = flock(descriptor, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        close(descriptor);
        return false;
    }
    // The descriptor stays open until the process ends: that is the lock.
    return true;
}

}  // namespace platform::lock_internal
