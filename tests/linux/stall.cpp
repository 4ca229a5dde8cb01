#include "stall.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace stall {
namespace {

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

bool connectTo(int socket, const std::string& path) {
    const sockaddr_un address = addressOf(path);
    return connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

SilentListener::SilentListener(std::string socketPath, bool full) : path(std::move(socketPath)) {
    const sockaddr_un address = addressOf(path);
    listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    // A queue of one (backlog 0) is full with the one waiting connection; otherwise it has room.
    listen(listener, full ? 0 : 16);
    if (full) {
        waiting = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connectTo(waiting, path);
    }
}

SilentListener::~SilentListener() {
    for (const int fd : {waiting, listener}) {
        if (fd >= 0) close(fd);
    }
    unlink(path.c_str());
}

bool queueFull(const std::string& path) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const bool full = !connectTo(probe, path) && errno == EAGAIN;
    close(probe);
    return full;
}

Stopped::Stopped(pid_t process) : pid(process) { kill(pid, SIGSTOP); }

Stopped::~Stopped() { kill(pid, SIGCONT); }

ResumedAtEnd::~ResumedAtEnd() {
    if (pid > 0) kill(pid, SIGCONT);
}

pid_t xServerProcess() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] != ':') return -1;
    const std::string number = std::string(display + 1).substr(0, std::string(display + 1).find('.'));
    std::ifstream lock("/tmp/.X" + number + "-lock");
    long pid = -1;
    if (!(lock >> pid) || pid <= 0) return -1;
    return static_cast<pid_t>(pid);
}

std::chrono::milliseconds timed(const std::string& name, const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::cout << "[ bounded  ] " << name << ": " << took.count() << " ms" << std::endl;
    return took;
}

}  // namespace stall
