#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

#ifndef TESSARY_STANDIN_SCRIPT
#error "TESSARY_STANDIN_SCRIPT must name tests/standin/standin.py"
#endif

namespace standin {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Held while a program is started, and while the pipes for it are made (closeOnExecPipe).
std::mutex startingPrograms;

std::vector<std::string> changedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    for (const auto& change : changes) {
        const auto equals = change.find('=');
        const std::string name = change.substr(0, equals);
        std::erase_if(environment, [&](const std::string& entry) {
            return entry.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (equals != std::string::npos) environment.push_back(change);
    }
    return environment;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

pid_t spawn(std::vector<std::string> argv, const std::vector<std::string>& environmentChanges,
            int outputFd, int errorFd) {
    auto environment = changedEnvironment(environmentChanges);
    auto argvPointers = pointers(argv);
    auto environmentPointers = pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    if (errorFd >= 0) posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(),
                                   environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool closeOnExecPipe(int ends[2]) {
    if (pipe(ends) != 0) return false;
    if (fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0) return true;
    close(ends[0]);
    close(ends[1]);
    return false;
}

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environmentChanges) {
    ProcessResult result;
    int output[2];
    int error[2];
    pid_t pid = -1;
    {
        // The pipes' ends are marked close-on-exec only after they exist: no other thread of the
        // test starts a program meanwhile (two runs at once), which would keep them open.
        const std::lock_guard<std::mutex> starting(startingPrograms);
        if (!closeOnExecPipe(output)) return result;
        if (!closeOnExecPipe(error)) {
            close(output[0]);
            close(output[1]);
            return result;
        }
        pid = spawn(argv, environmentChanges, output[1], error[1]);
    }
    close(output[1]);
    close(error[1]);
    pollfd streams[2] = {{output[0], POLLIN, 0}, {error[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.standardOutput, &result.standardError};
    int open = pid > 0 ? 2 : 0;
    while (open > 0) {
        if (poll(streams, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t count = read(streams[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                close(streams[i].fd);
                streams[i].fd = -1;
                --open;
            }
        }
    }
    for (const auto& stream : streams) {
        if (stream.fd >= 0) close(stream.fd);
    }
    if (pid > 0) result.exitStatus = waitForExit(pid);
    return result;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

std::optional<StandIn> start(const std::vector<std::string>& options,
                             std::chrono::milliseconds patience) {
    std::string pattern = (std::filesystem::temp_directory_path() / "standin.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return std::nullopt;
    StandIn standIn;
    standIn.directory = pattern;
    standIn.commandFile = pattern + "/command-id";
    standIn.eventLog = pattern + "/events";
    standIn.answerFile = pattern + "/answer";
    standIn.geometryFile = pattern + "/geometry";
    const std::string readyFile = pattern + "/ready";

    std::vector<std::string> argv{kPython, TESSARY_STANDIN_SCRIPT,
                                  "--ready-file", readyFile,
                                  "--command-file", standIn.commandFile,
                                  "--event-log", standIn.eventLog,
                                  "--answer-file", standIn.answerFile,
                                  "--geometry-file", standIn.geometryFile};
    argv.insert(argv.end(), options.begin(), options.end());
    // The stand-in's own chatter (GTK, D-Bus activation) stays in a file of its directory.
    const int log = ::open((pattern + "/standin.log").c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    {
        const std::lock_guard<std::mutex> starting(startingPrograms);
        standIn.pid = spawn(argv, {}, log, log);
    }
    if (log >= 0) close(log);
    if (standIn.pid <= 0) {
        stop(standIn);
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(readyFile)) return standIn;
        int status = 0;
        if (waitpid(standIn.pid, &status, WNOHANG) == standIn.pid) {
            standIn.pid = -1;  // it ended before it was ready
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop(standIn);
    return std::nullopt;
}

void stop(StandIn& standIn) {
    if (standIn.pid > 0) {
        // SIGTERM, and SIGCONT for a stand-in that a test left stopped; one that has not ended
        // within the bound (a loaded machine gets room) is killed, so that stopping never hangs.
        kill(standIn.pid, SIGTERM);
        kill(standIn.pid, SIGCONT);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool ended = false;
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t waited = waitpid(standIn.pid, &status, WNOHANG);
            ended = waited == standIn.pid || (waited < 0 && errno != EINTR);
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!ended) {
            kill(standIn.pid, SIGKILL);
            waitForExit(standIn.pid);
        }
        standIn.pid = -1;
    }
    if (!standIn.directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(standIn.directory, ignored);
        standIn.directory.clear();
    }
}

void setCommandId(const StandIn& standIn, const std::string& commandId) {
    std::ofstream(standIn.commandFile, std::ios::binary | std::ios::trunc) << commandId;
}

std::vector<std::string> events(const StandIn& standIn) {
    std::vector<std::string> lines;
    std::ifstream stream(standIn.eventLog);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool waitForEvent(const StandIn& standIn, const std::string& line, std::size_t times,
                  std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    do {
        const auto lines = events(standIn);
        if (static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line)) >= times) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::vector<std::filesystem::path> directSockets() {
    std::vector<std::filesystem::path> sockets;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr) return sockets;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(runtime, ignored)) {
        if (entry.is_socket(ignored) && entry.path().string().find("/at-spi2-") != std::string::npos) {
            sockets.push_back(entry.path());
        }
    }
    return sockets;
}

std::map<std::string, WidgetFrame> widgetFrames(const StandIn& standIn) {
    std::map<std::string, WidgetFrame> widgets;
    std::istringstream lines(readFile(standIn.geometryFile).value_or(""));
    std::string name;
    WidgetFrame frame;
    while (lines >> name >> frame.x >> frame.y >> frame.width >> frame.height) widgets[name] = frame;
    return widgets;
}

}  // namespace standin
