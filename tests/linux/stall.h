// Peers that never answer, for the tests of bounded waits: a socket that listens and never
// accepts, a process held stopped, the X server of the display in use, and the time that a piece
// of work took.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace stall {

// A socket at `path` that listens and never accepts. With `full`, one connection already waits
// in its queue, which holds only that one, so that connecting to it blocks. Closed and removed
// when it ends.
struct SilentListener {
    std::string path;
    int listener = -1;
    int waiting = -1;

    SilentListener(std::string socketPath, bool full);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
};

// Whether a connection to the socket at `path` would have to wait: a non-blocking connect says
// so at once. When the queue has room, that connection takes a place in it.
bool queueFull(const std::string& path);

// Holds a process stopped (SIGSTOP) for as long as it lives; SIGCONT when it ends.
struct Stopped {
    pid_t pid;
    explicit Stopped(pid_t process);
    ~Stopped();
    Stopped(const Stopped&) = delete;
    Stopped& operator=(const Stopped&) = delete;
};

// Resumes (SIGCONT) a process when it ends, whoever stopped it meanwhile: a test that lets
// another process stop the X server still resumes it on every path, a failed assertion included.
struct ResumedAtEnd {
    pid_t pid;
    ~ResumedAtEnd();
};

// The process of the X server of $DISPLAY (":N" or ":N.S"), from the lock file that the server
// keeps, /tmp/.XN-lock; -1 when it cannot be read.
pid_t xServerProcess();

// How long the work took. Prints "[ bounded  ] <name>: <milliseconds> ms", so that a test's
// log shows each bounded wait it measured.
std::chrono::milliseconds timed(const std::string& name, const std::function<void()>& work);

}  // namespace stall
