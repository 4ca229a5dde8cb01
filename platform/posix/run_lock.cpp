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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif

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

namespace {

LockTest unusable(const std::string& path, std::string reason) {
    return {LockState::unusable, -1, path, std::move(reason)};
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

#ifdef __linux__
// The kernel's table of file locks, read whole and searched for this file's flock.
LockTest holderOf(const std::string& path, const struct stat& status) {
    std::ifstream table("/proc/locks");
    if (!table) return {LockState::unknown, -1, path, "/proc/locks cannot be read"};
    std::ostringstream text;
    text << table.rdbuf();
    return flockHolderIn(text.str(), {major(status.st_dev), minor(status.st_dev), status.st_ino}, path);
}
#else
// F_GETLK asks for the lock that would block an exclusive lock of the whole file. On BSD kernels
// a flock and a record lock share the file's one list, so it sees a flock too, with the process
// id -1: a flock belongs to an open file, not to a process.
LockTest holderOf(int descriptor, const std::string& path) {
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    if (fcntl(descriptor, F_GETLK, &query) != 0) {
        return {LockState::unknown, -1, path, std::string("F_GETLK: ") + std::strerror(errno)};
    }
    if (query.l_type == F_UNLCK) return {LockState::free, -1, path, ""};
    return {LockState::held, query.l_pid > 0 ? query.l_pid : -1, path, ""};
}
#endif

}  // namespace

// A line per lock, "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF", where the numbers are the
// taker's process id, the device (hexadecimal major:minor) and the inode. Lines with "->" are
// processes waiting for a lock, not holding it.
LockTest flockHolderIn(std::string_view table, const FileIdentity& file, const std::string& path) {
    std::istringstream lines{std::string(table)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string number, kind, advisory, mode, device, pid;
        fields >> number >> kind;
        if (kind == "->") continue;
        fields >> advisory >> mode >> pid >> device;
        unsigned deviceMajor = 0;
        unsigned deviceMinor = 0;
        unsigned long long inode = 0;
        if (kind != "FLOCK" || std::sscanf(device.c_str(), "%x:%x:%llu", &deviceMajor, &deviceMinor, &inode) != 3) continue;
        if (deviceMajor != file.deviceMajor || deviceMinor != file.deviceMinor || inode != file.inode) continue;
        char* end = nullptr;
        const long long holder = std::strtoll(pid.c_str(), &end, 10);
        return {LockState::held, end != pid.c_str() && holder > 0 ? holder : -1, path, ""};
    }
    return {LockState::free, -1, path, ""};
}

LockTest testLockAt(const std::string& path, uid_t owner) {
    // Without O_CREAT: the test makes no file. O_NONBLOCK: a FIFO planted there does not hold
    // up the open.
    const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        const int error = errno;
        if (error == ELOOP) return unusable(path, "it is a symbolic link");
        if (error != ENOENT) return unusable(path, std::strerror(error));
        const std::size_t slash = path.rfind('/');
        const std::string directory = slash == 0 ? "/" : path.substr(0, slash);
        if (faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
            return unusable(path, "it cannot be made in " + directory + ": " + std::strerror(errno));
        }
        return {LockState::free, -1, path, "not made yet"};
    }
    struct stat status {};
    LockTest test;
    if (fstat(descriptor, &status) != 0) {
        test = unusable(path, std::strerror(errno));
    } else if (!S_ISREG(status.st_mode)) {
        test = unusable(path, "it is not a regular file");
    } else if (status.st_uid != owner) {
        test = unusable(path, "it belongs to user " + std::to_string(status.st_uid));
    } else if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        test = unusable(path, "others may open it (mode " + octal(status.st_mode) + ")");
    } else {
#ifdef __linux__
        test = holderOf(path, status);
#else
        test = holderOf(descriptor, path);
#endif
    }
    close(descriptor);
    return test;
}

}  // namespace platform::lock_internal
