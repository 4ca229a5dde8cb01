// The process table as macOS shows it to every user: one run of /bin/ps for one process, which
// gives its parent's id and its executable's whole path (`comm`), also for other users'
// processes. The tool links nothing but the frameworks and the C library, whose exec and pipe
// suffice for it.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {

std::optional<ProcessEntry> processEntry(std::int64_t processId) {
    if (processId <= 0) return std::nullopt;
    const std::string pid = std::to_string(processId);
    int output[2];
    if (pipe(output) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child < 0) {
        close(output[0]);
        close(output[1]);
        return std::nullopt;
    }
    if (child == 0) {
        // Only calls that are safe between fork and exec: the standard streams set, then ps.
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        char* const argv[] = {const_cast<char*>("ps"), const_cast<char*>("-o"), const_cast<char*>("ppid="),
                              const_cast<char*>("-o"), const_cast<char*>("comm="), const_cast<char*>("-p"),
                              const_cast<char*>(pid.c_str()), nullptr};
        execv("/bin/ps", argv);
        _exit(127);
    }
    close(output[1]);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(output[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // "  412 /System/Applications/Utilities/Terminal.app/Contents/MacOS/Terminal\n"
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    const std::size_t digits = text.find_first_not_of(' ');
    if (digits == std::string::npos) return std::nullopt;
    const std::size_t space = text.find(' ', digits);
    if (space == std::string::npos) return std::nullopt;
    ProcessEntry entry;
    std::int64_t parent = 0;
    for (std::size_t i = digits; i < space; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        parent = parent * 10 + (text[i] - '0');
    }
    entry.parentId = parent;
    std::size_t end = text.size();
    while (end > space && (text[end - 1] == '\n' || text[end - 1] == ' ')) --end;
    entry.path = text.substr(space + 1, end - space - 1);
    return entry;
}

}  // namespace platform
