// The process table as macOS gives it (libproc): a process's parent and its executable's path.
#include "platform/platform.h"

#include <libproc.h>

#include <cstring>

namespace platform {

std::optional<ProcessEntry> processEntry(std::int64_t processId) {
    if (processId <= 0) return std::nullopt;
    const int pid = static_cast<int>(processId);
    struct proc_bsdinfo info;
    std::memset(&info, 0, sizeof info);
    if (proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, static_cast<int>(sizeof info)) != static_cast<int>(sizeof info)) {
        return std::nullopt;
    }
    ProcessEntry entry;
    entry.parentId = info.pbi_ppid;
    char path[PROC_PIDPATHINFO_MAXSIZE];
    const int length = proc_pidpath(pid, path, sizeof path);
    if (length > 0) {
        entry.path.assign(path, static_cast<std::size_t>(length));
    } else {
        // Another user's process: only its short name is given.
        entry.path.assign(info.pbi_comm, strnlen(info.pbi_comm, sizeof info.pbi_comm));
    }
    return entry;
}

}  // namespace platform
