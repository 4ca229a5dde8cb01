// The atomic result write, shared by every implementation on a POSIX file system.
//
// The text goes to an auxiliary file beside the result path (same directory, so the same file
// system), created exclusively under an unpredictable name with the rights of any new file
// (0666 less the umask). It is flushed to stable storage and then renamed over the path in one
// step. On any failure the auxiliary file is removed, so a reader of the path only ever sees
// the earlier state or the whole new text, and nothing is left behind.
#include "platform/platform.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

std::string describe(int error) { return std::strerror(error); }

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// 128 random bits as hex: nobody can plant a file or link at the name in advance.
std::optional<std::string> randomSuffix() {
    std::array<unsigned char, 16> bytes{};
    if (getentropy(bytes.data(), bytes.size()) != 0) return std::nullopt;
    static constexpr char digits[] = "0123456789abcdef";
    std::string suffix;
    for (const unsigned char byte : bytes) {
        suffix += digits[byte >> 4];
        suffix += digits[byte & 0xf];
    }
    return suffix;
}

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

bool flushToStorage(int fd) {
#ifdef F_FULLFSYNC
    // On macOS fsync only reaches the drive's cache; F_FULLFSYNC reaches the medium.
    if (::fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
    return ::fsync(fd) == 0;
}

}  // namespace

std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text) {
    const std::string directory = directoryOf(path);
    std::string auxiliary;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        const auto suffix = randomSuffix();
        if (!suffix) return describe(errno);
        auxiliary = (directory == "/" ? "" : directory) + "/.tessary-" + *suffix + ".tmp";
        // O_EXCL with O_CREAT never follows a link at the name, O_NOFOLLOW says so twice.
        fd = ::open(auxiliary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return describe(errno);
    }
    if (fd < 0) return describe(EEXIST);

    int error = 0;
    if (!writeAll(fd, text) || !flushToStorage(fd)) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(auxiliary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(auxiliary.c_str());
        return describe(error);
    }
    // Make the rename itself durable; the result already stands, so a failure here is moot.
    const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd >= 0) {
        ::fsync(directoryFd);
        ::close(directoryFd);
    }
    return std::nullopt;
}

}  // namespace platform
