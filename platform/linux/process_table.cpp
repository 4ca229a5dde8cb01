// The process table as Linux shows it in /proc: a process's parent and its executable.
#include "platform/platform.h"

#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>

namespace platform {

std::optional<ProcessEntry> processEntry(std::int64_t processId) {
    if (processId <= 0) return std::nullopt;
    const std::string directory = "/proc/" + std::to_string(processId);
    // "pid (name) state ppid ...": the name may hold spaces and parentheses, so the fields are
    // read after its last ")".
    std::ifstream statFile(directory + "/stat");
    std::string stat;
    if (!statFile || !std::getline(statFile, stat)) return std::nullopt;
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    long long parent = -1;
    fields >> state >> parent;
    ProcessEntry entry;
    entry.parentId = fields ? parent : -1;
    char path[PATH_MAX];
    const ssize_t length = readlink((directory + "/exe").c_str(), path, sizeof path);
    if (length > 0) {
        entry.path.assign(path, static_cast<std::size_t>(length));
    } else {
        // Another user's process: only its name is given.
        entry.path = stat.substr(stat.find('(') + 1, close - stat.find('(') - 1);
    }
    return entry;
}

}  // namespace platform
