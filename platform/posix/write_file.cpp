// The product's one atomic file write: the result's, shared by every implementation on a POSIX
// file system, and the page that tessary-replay draws.
//
// Only a regular file (or a symbolic link, which is replaced itself) is ever replaced: a device,
// a FIFO, a socket or a directory at the path is left alone and reported, since a host that
// passed /dev/null by mistake must not lose the system's /dev/null.
//
// The text goes to an auxiliary file in the path's directory (so on the same file system), with
// the rights of the regular file it replaces (a private file stays private) or, for a new path,
// those of any new file (0666 less the umask), is flushed to stable storage and then renamed
// over the path in one step: a reader of the path sees the earlier state or the whole new text,
// never a part.
//
// Where the system offers unnamed files (Linux O_TMPFILE), the auxiliary file has no name while
// the text is written and flushed, so a run killed at any of those moments, even by SIGKILL,
// leaves nothing behind: the kernel drops the file with the process. It is named, under an
// unpredictable name, only after the flush, and renamed over the path at once. Elsewhere, or
// where the file system refuses unnamed files, the auxiliary file is created exclusively under an
// unpredictable name from the start. On every failure the auxiliary file is removed and the path
// is left as it was.
#include "platform/posix/write_file_internal.h"
#include "platform/posix/write_file.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <sys/random.h>  // getentropy
#endif

namespace platform {
namespace file_internal {
namespace {

// Names tried before giving up: a clash of 128 random bits means someone is planting names.
constexpr int kNameAttempts = 8;

std::string describe(int error) { return std::strerror(error); }

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string auxiliaryPath(const std::string& directory, const std::string& name) {
    return (directory == "/" ? "" : directory) + "/.tessary-" + name + ".tmp";
}

// What stands at the path: whether it may be replaced, and the permission bits the new file
// takes over. A symbolic link is replaced as it is; it passes on the bits of the regular file it
// points to, if any. Anything that cannot be looked at is left to the write, which reports it.
struct Standing {
    std::optional<std::string> refusal;
    std::optional<mode_t> mode;
};

Standing standingAt(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return {};
    if (S_ISREG(status.st_mode)) return {std::nullopt, status.st_mode & 0777};
    if (S_ISLNK(status.st_mode)) {
        if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return {std::nullopt, status.st_mode & 0777};
        return {};
    }
    const char* kind = S_ISDIR(status.st_mode)    ? "a directory"
                       : S_ISCHR(status.st_mode)  ? "a character device"
                       : S_ISBLK(status.st_mode)  ? "a block device"
                       : S_ISFIFO(status.st_mode) ? "a FIFO"
                       : S_ISSOCK(status.st_mode) ? "a socket"
                                                  : "a file of another kind";
    return {std::string("not a regular file: ") + kind, std::nullopt};
}

// Gives the auxiliary file the permission bits of the file it replaces (fchmod is not subject to
// the umask); a new path keeps the rights it was created with.
bool takeOverMode(int fd, std::optional<mode_t> mode) { return !mode || ::fchmod(fd, *mode) == 0; }

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename itself durable. The new text already stands at the path, so a failure here
// changes nothing for the reader and is not reported.
void flushDirectory(const std::string& directory, Flush flushFolder) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        flushFolder(fd);
        ::close(fd);
    }
}

std::optional<std::string> writeNamed(const std::string& path, const std::string& directory, std::string_view text,
                                      std::optional<mode_t> mode, NameSource names, Flush flush, Flush flushFolder) {
    std::string auxiliary;
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        const auto name = names();
        if (!name) return describe(errno);
        auxiliary = auxiliaryPath(directory, *name);
        // O_EXCL with O_CREAT never follows a link at the name, O_NOFOLLOW says so twice.
        fd = ::open(auxiliary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return describe(errno);
    }
    if (fd < 0) return describe(EEXIST);

    int error = 0;
    if (!takeOverMode(fd, mode) || !writeAll(fd, text) || !flush(fd)) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(auxiliary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(auxiliary.c_str());
        return describe(error);
    }
    flushDirectory(directory, flushFolder);
    return std::nullopt;
}

#ifdef O_TMPFILE

struct UnnamedResult {
    // The system or the file system has no unnamed files here: write a named one instead.
    bool refused = false;
    std::optional<std::string> error;
};

UnnamedResult refused() { return {true, std::nullopt}; }
UnnamedResult failed(int error) { return {false, describe(error)}; }

// Gives the unnamed file behind `fd` a fresh unpredictable name in the directory. Returns the
// name's path, or nothing with errno set.
std::optional<std::string> linkUnnamed(int fd, const std::string& directory, NameSource names) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const auto name = names();
        if (!name) return std::nullopt;
        std::string auxiliary = auxiliaryPath(directory, *name);
        // linkat never follows a link at the new name: a planted one makes it fail with EEXIST.
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, auxiliary.c_str(), AT_SYMLINK_FOLLOW) == 0) return auxiliary;
        if (errno != EEXIST) return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

UnnamedResult writeUnnamed(const std::string& path, const std::string& directory, std::string_view text,
                           std::optional<mode_t> mode, NameSource names, Flush flush, Flush flushFolder) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // EISDIR: a kernel without O_TMPFILE; EOPNOTSUPP or EINVAL: a file system without it.
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return refused();
        return failed(errno);
    }
    if (!takeOverMode(fd, mode) || !writeAll(fd, text) || !flush(fd)) {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }
    // From here to the rename the text has a name: a SIGKILL exactly between these two calls
    // leaves the auxiliary file (the whole new text, under its ".tessary-*.tmp" name) beside an
    // unchanged path. Nothing else runs in that window.
    const std::optional<std::string> auxiliary = linkUnnamed(fd, directory, names);
    if (!auxiliary) {
        const int error = errno;
        ::close(fd);
        // Without /proc there is no way to name the file: write a named one instead. Any other
        // reason (no space for the name, say) the named file meets again and reports.
        if (error == EEXIST) return failed(error);
        return refused();
    }
    if (::rename(auxiliary->c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(auxiliary->c_str());
        ::close(fd);
        return failed(error);
    }
    // The text was flushed before it got a name, so closing cannot lose it; the path is already
    // replaced and a late error here would be a failure reported after success.
    ::close(fd);
    flushDirectory(directory, flushFolder);
    return {};
}

#endif

}  // namespace

bool flushToStorage(int fd) {
#ifdef F_FULLFSYNC
    // On macOS fsync only reaches the drive's cache; F_FULLFSYNC reaches the medium.
    if (::fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
    return ::fsync(fd) == 0;
}

bool flushFolderToStorage(int fd) { return ::fsync(fd) == 0; }

std::optional<std::string> randomName() {
    std::array<unsigned char, 16> bytes{};
    if (getentropy(bytes.data(), bytes.size()) != 0) return std::nullopt;
    static constexpr char digits[] = "0123456789abcdef";
    std::string name;
    for (const unsigned char byte : bytes) {
        name += digits[byte >> 4];
        name += digits[byte & 0xf];
    }
    return name;
}

std::optional<std::string> writeAtomically(const std::string& path, std::string_view text, Auxiliary auxiliary,
                                           NameSource names, Flush flush, Flush flushFolder) {
    const std::string directory = directoryOf(path);
    const Standing standing = standingAt(path);
    if (standing.refusal) return standing.refusal;
#ifdef O_TMPFILE
    if (auxiliary == Auxiliary::unnamedFirst) {
        UnnamedResult result = writeUnnamed(path, directory, text, standing.mode, names, flush, flushFolder);
        if (!result.refused) return std::move(result.error);
    }
#else
    (void)auxiliary;
#endif
    return writeNamed(path, directory, text, standing.mode, names, flush, flushFolder);
}

}  // namespace file_internal

std::optional<std::string> posix::writeFileAtomically(const std::string& path, std::string_view text) {
    return file_internal::writeAtomically(path, text, file_internal::Auxiliary::unnamedFirst, file_internal::randomName,
                                          file_internal::flushToStorage, file_internal::flushFolderToStorage);
}

}  // namespace platform
