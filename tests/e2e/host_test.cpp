// What an unlucky or careless host may do to the real tessary binary, inside a private desktop
// (scripts/headless): a missing X authority, a file-size limit, a device or FIFO as the result
// path, a thousand open descriptors, an X server that stops in the middle of Xlib's own set-up,
// a trace file or a lock file that others may use, a private result file. Whatever it does, the
// run ends with exactly one TESSARY line (or succeeds where the host did nothing wrong), within
// a bound, and destroys nothing.
#include "process.h"
#include "stall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#ifdef __linux__
// makedev: <sys/types.h> declares it on macOS, <sys/sysmacros.h> on Linux.
#include <sys/sysmacros.h>
#endif
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Every row ends within this: one request time-out of 6 s, the run's own waits, and slack for a
// loaded machine.
constexpr auto kBound = 20s;

struct HostRun {
    int status = -1;  // the exit status, or 128 + the signal that ended the process
    std::string out;
    std::string err;
    std::chrono::milliseconds took{};
};

// What the host does to the process it starts.
struct Start {
    std::vector<std::string> environment;  // "NAME=value" set, "NAME" removed
    std::optional<rlim_t> fileSizeLimit;   // ulimit -f, in bytes
    int openUpTo = -1;                     // descriptors 3..openUpTo left open (on /dev/null)
    bool alarmBlocked = false;             // SIGALRM blocked, as the tool inherits its mask
};

// A host that changes only the environment.
Start withEnvironment(std::vector<std::string> changes) {
    Start start;
    start.environment = std::move(changes);
    return start;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('='));
        std::erase_if(environment, [&](const std::string& entry) { return entry.starts_with(name + "="); });
        if (change.find('=') != std::string::npos) environment.push_back(change);
    }
    return environment;
}

void readInto(int fd, std::string& text, bool& open) {
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
        open = false;
    }
}

// Runs tessary as the host would, and ends it after 60 s at the latest.
HostRun runTessary(const Start& host, const std::vector<std::string>& arguments) {
    int out[2];
    int err[2];
    if (!standin::closeOnExecPipe(out)) return {};
    if (!standin::closeOnExecPipe(err)) {
        close(out[0]);
        close(out[1]);
        return {};
    }
    std::vector<std::string> argv{TESSARY_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = environmentWith(host.environment);
    std::vector<char*> argvPointers;
    for (std::string& argument : argv) argvPointers.push_back(argument.data());
    argvPointers.push_back(nullptr);
    std::vector<char*> environmentPointers;
    for (std::string& entry : environment) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (null > STDERR_FILENO) close(null);
        if (host.fileSizeLimit) {
            const rlimit limit{*host.fileSizeLimit, *host.fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
        }
        if (host.openUpTo >= 0) {
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(125);
            // Every number up to openUpTo is taken (open() takes the lowest free one).
            for (int fd = open("/dev/null", O_RDONLY); fd >= 0 && fd < host.openUpTo; fd = open("/dev/null", O_RDONLY)) {
            }
            if (fcntl(host.openUpTo, F_GETFD) == -1) _exit(125);
            // And every one of them stays open in the tool: none closes on exec.
            for (int fd = STDERR_FILENO + 1; fd <= host.openUpTo; ++fd) fcntl(fd, F_SETFD, 0);
        }
        if (host.alarmBlocked) {
            sigset_t alarm;
            sigemptyset(&alarm);
            sigaddset(&alarm, SIGALRM);
            sigprocmask(SIG_BLOCK, &alarm, nullptr);
        }
        execve(argvPointers[0], argvPointers.data(), environmentPointers.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    HostRun run;
    bool outOpen = true;
    bool errOpen = true;
    const auto deadline = start + 60s;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) continue;
        if (fds[0].revents != 0) readInto(out[0], run.out, outOpen);
        if (fds[1].revents != 0) readInto(err[0], run.err, errOpen);
    }
    if (outOpen || errOpen) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    close(out[0]);
    close(err[0]);
    std::cout << "[ bounded  ] " << run.took.count() << " ms" << std::endl;
    return run;
}

void expectOneLine(const HostRun& run, const std::string& message) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "TESSARY: " + message + "\n");
    EXPECT_LT(run.took, kBound);
}

class Host : public ::testing::Test {
protected:
    void launch(const std::vector<std::string>& options = {}) {
        auto started = standin::start(options);
        ASSERT_TRUE(started) << "the stand-in did not become ready";
        standIn = *started;
    }
    void TearDown() override { end(); }
    void end() {
        if (standIn.pid > 0) standin::stop(standIn);
        standIn = {};
    }
    // A private directory of the test, for result paths and lock files.
    std::string scratch() {
        char pattern[] = "/tmp/tessary-host-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        directories.emplace_back(made != nullptr ? made : "");
        return directories.back();
    }
    ~Host() override {
        for (const std::string& directory : directories) std::filesystem::remove_all(directory);
    }

    standin::StandIn standIn;
    std::vector<std::string> directories;
};

// ---- The display ---------------------------------------------------------------------------------

TEST_F(Host, AMissingXAuthorityGivesOneLineAndNothingOfXlib) {
    // The X server refuses a client without its cookie; Xlib says so on standard error.
    const HostRun run = runTessary(withEnvironment({"XAUTHORITY=/nonexistent/.Xauthority"}), {"cmd-1", scratch() + "/result"});
    expectOneLine(run, "macOS accessibility permission is missing");
}

TEST_F(Host, AThousandOpenDescriptorsStillBoundTheWaitForAStoppedXServer) {
    const pid_t server = stall::xServerProcess();
    ASSERT_GT(server, 0);
    const std::string directory = scratch();
    HostRun run;
    {
        const stall::ResumedAtEnd resumed{server};
        const stall::Stopped stopped(server);
        run = runTessary({{"TMPDIR=" + directory}, std::nullopt, 1023}, {"cmd-1", directory + "/result"});
    }
    expectOneLine(run, "macOS accessibility permission is missing");
}

TEST_F(Host, SigalrmBlockedByTheHostStillBoundsTheWaitForAStoppedXServer) {
    const pid_t server = stall::xServerProcess();
    ASSERT_GT(server, 0);
    const std::string directory = scratch();
    Start host = withEnvironment({"TMPDIR=" + directory});
    host.alarmBlocked = true;
    HostRun run;
    {
        const stall::ResumedAtEnd resumed{server};
        const stall::Stopped stopped(server);
        run = runTessary(host, {"cmd-1", directory + "/result"});
    }
    expectOneLine(run, "macOS accessibility permission is missing");
}

// A display number whose two addresses both listen and never accept, each with a full queue, so
// that connecting to either waits: its socket in /tmp/.X11-unix, and the TCP port on the loopback
// interface that Xlib tries when the socket fails. The first wait ends at the time-out, the
// second at the alarm that comes again soon after, so the whole opening costs one time-out.
TEST_F(Host, ADisplayWhoseTwoAddressesNeverAcceptCostsOneTimeOut) {
    int number = -1;
    int tcpListener = -1;
    int tcpWaiting = -1;
    for (int candidate = 900; candidate < 1000 && number < 0; ++candidate) {
        if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(candidate))) continue;
        const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(6000 + candidate));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && listen(s, 0) == 0) {
            // The one place in the queue taken: the next connection waits.
            tcpWaiting = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(tcpWaiting, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
                number = candidate;
                tcpListener = s;
                break;
            }
            close(tcpWaiting);
        }
        close(s);
    }
    ASSERT_GE(number, 0) << "no free display number";
    std::filesystem::create_directories("/tmp/.X11-unix");
    HostRun run;
    {
        const stall::SilentListener fileSocket("/tmp/.X11-unix/X" + std::to_string(number), true);
        ASSERT_TRUE(stall::queueFull(fileSocket.path));
        const std::string directory = scratch();
        run = runTessary(withEnvironment({"TMPDIR=" + directory, "DISPLAY=:" + std::to_string(number)}),
                         {"cmd-1", directory + "/result"});
    }
    close(tcpWaiting);
    close(tcpListener);
    expectOneLine(run, "macOS accessibility permission is missing");
    EXPECT_GE(run.took, 5500ms);
}

// A display of its own that relays to the private desktop's X server: it passes on the
// connection set-up and then `replies` replies, and nothing after that, like an X server that
// stops in the middle of Xlib's own set-up requests. It listens on the abstract socket of a
// display number that no server uses (which Xlib tries first), and an X authority file of its
// own carries the desktop's cookie for that number.
class StoppingXServer {
public:
    explicit StoppingXServer(std::size_t replies, const std::string& directory) : replies_(replies) {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || display[0] != ':') return;
        const std::string real = std::string(display + 1).substr(0, std::string(display + 1).find('.'));
        realSocket_ = "/tmp/.X11-unix/X" + real;
        for (int number = 900; number < 1000 && listener_ < 0; ++number) {
            if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) continue;
            const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
            std::memcpy(address.sun_path + 1, name.data(), name.size());
            const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
            if (bind(s, reinterpret_cast<const sockaddr*>(&address), length) == 0 && listen(s, 4) == 0) {
                listener_ = s;
                number_ = number;
            } else {
                close(s);
            }
        }
        if (listener_ < 0) return;
        authority_ = directory + "/Xauthority";
        const char* realAuthority = std::getenv("XAUTHORITY");
        std::filesystem::copy_file(realAuthority != nullptr ? realAuthority : "", authority_);
        const std::string list = "xauth -f '" + authority_ + "' list :" + real;
        std::FILE* listing = popen(list.c_str(), "r");
        char host[256] = {};
        char protocol[64] = {};
        char cookie[256] = {};
        const bool listed = listing != nullptr && std::fscanf(listing, "%255s %63s %255s", host, protocol, cookie) == 3;
        if (listing != nullptr) pclose(listing);
        const std::string add = "xauth -f '" + authority_ + "' add :" + std::to_string(number_) + " " + protocol + " " + cookie;
        ready_ = listed && std::system(add.c_str()) == 0;
        relay_ = std::thread([this] { relay(); });
    }
    ~StoppingXServer() {
        done_ = true;
        if (relay_.joinable()) relay_.join();
        if (listener_ >= 0) close(listener_);
    }
    StoppingXServer(const StoppingXServer&) = delete;
    StoppingXServer& operator=(const StoppingXServer&) = delete;

    bool ready() const { return ready_; }
    std::vector<std::string> environment() const {
        return {"DISPLAY=:" + std::to_string(number_), "XAUTHORITY=" + authority_};
    }

private:
    void relay() {
        int client = -1;
        while (!done_ && client < 0) {
            pollfd wait{listener_, POLLIN, 0};
            if (poll(&wait, 1, 50) > 0) client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (client < 0) return;
        const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, realSocket_.c_str(), sizeof address.sun_path - 1);
        if (connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(server);
            close(client);
            return;
        }
        std::string fromServer;  // what the server said that is not passed on yet
        bool setUp = false;
        bool stopped = false;
        std::size_t passed = 0;
        while (!done_) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(fds, 2, 50) <= 0) continue;
            char buffer[65536];
            if (fds[0].revents != 0) {
                const ssize_t got = read(client, buffer, sizeof buffer);
                if (got <= 0) break;
                if (write(server, buffer, static_cast<std::size_t>(got)) != got) break;
            }
            if (fds[1].revents != 0) {
                const ssize_t got = read(server, buffer, sizeof buffer);
                if (got <= 0) break;
                if (stopped) continue;
                fromServer.append(buffer, static_cast<std::size_t>(got));
                // Whole units only: the set-up answer, then 32-byte events, errors and replies
                // (a reply carries 4 x its length field more). Little-endian, as the client asks.
                for (;;) {
                    std::size_t size = 0;
                    bool reply = false;
                    if (!setUp) {
                        if (fromServer.size() < 8) break;
                        const auto units = static_cast<std::size_t>(static_cast<unsigned char>(fromServer[6]) |
                                                                    static_cast<unsigned char>(fromServer[7]) << 8);
                        size = 8 + 4 * units;
                    } else {
                        if (fromServer.size() < 32) break;
                        reply = fromServer[0] == 1;
                        std::uint32_t extra = 0;
                        if (reply) std::memcpy(&extra, fromServer.data() + 4, 4);
                        size = 32 + 4 * std::size_t{extra};
                    }
                    if (fromServer.size() < size) break;
                    if (setUp && reply && passed == replies_) {
                        stopped = true;
                        break;
                    }
                    if (write(client, fromServer.data(), size) != static_cast<ssize_t>(size)) break;
                    fromServer.erase(0, size);
                    if (!setUp) {
                        setUp = true;
                    } else if (reply) {
                        ++passed;
                    }
                }
            }
        }
        close(server);
        close(client);
    }

    std::size_t replies_;
    std::string realSocket_;
    std::string authority_;
    int listener_ = -1;
    int number_ = -1;
    bool ready_ = false;
    std::atomic<bool> done_{false};
    std::thread relay_;
};

class StoppingDuringSetUp : public Host, public ::testing::WithParamInterface<std::size_t> {};

// Whatever the reply after which the server stops: one line, status 1, within the bound. Without
// a display the run lacks the permission; with one it goes on and finds no CorelDRAW.
TEST_P(StoppingDuringSetUp, OneLineWithinTheBound) {
    const std::string directory = scratch();
    const StoppingXServer server(GetParam(), directory);
    ASSERT_TRUE(server.ready()) << "no display of its own could be set up";
    std::vector<std::string> environment = server.environment();
    environment.push_back("TMPDIR=" + directory);
    const HostRun run = runTessary(withEnvironment(environment), {"cmd-1", directory + "/result"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err == "TESSARY: macOS accessibility permission is missing\n" ||
                run.err == "TESSARY: CorelDRAW is not running\n")
        << run.err;
    EXPECT_LT(run.took, kBound);
}

INSTANTIATE_TEST_SUITE_P(AfterReplies, StoppingDuringSetUp, ::testing::Values(0, 2, 8, 16),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return "After" + std::to_string(info.param);
                         });

// ---- The result file ---------------------------------------------------------------------------

// A file-size limit makes the write fail, not the process die: the exchange ran, its alert
// stays open, and the path is as it was; a trace at the limit loses its lines and nothing else.
TEST_F(Host, AFileSizeLimitIsAFailedWrite) {
    for (const bool traced : {false, true}) {
        SCOPED_TRACE(traced ? "with a trace" : "without a trace");
        // A stand-in for each run: the alert left open by the first would refuse the second.
        end();
        launch();
        const std::string commandId = traced ? "cmd-traced" : "cmd-plain";
        standin::setCommandId(standIn, commandId);
        const std::string directory = scratch();
        Start host{{"TMPDIR=" + directory}, 0, -1};
        if (traced) host.environment.push_back("TESSARY_TRACE=" + directory + "/trace");
        const HostRun run = runTessary(host, {commandId, directory + "/result"});
        expectOneLine(run, "cannot write host result: File too large");
        EXPECT_FALSE(std::filesystem::exists(directory + "/result"));
        EXPECT_TRUE(standin::waitForEvent(standIn, "alert opened"));
        if (traced) {
            EXPECT_EQ(std::filesystem::file_size(directory + "/trace"), 0u);
        }
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            EXPECT_FALSE(entry.path().filename().string().starts_with(".tessary-")) << entry.path();
        }
    }
}

// Only a regular file is replaced: a device node (a copy of /dev/null, made as root), a FIFO or a
// socket at the result path stays exactly where it was.
TEST_F(Host, WhatIsNoRegularFileAtTheResultPathIsLeftAlone) {
    struct Case {
        std::string what;
        std::function<bool(const std::string&)> make;
        std::string commandId;
    };
    const std::vector<Case> cases{
        {"a character device", [](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
         "cmd-device"},
        {"a FIFO", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }, "cmd-fifo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        end();
        launch();
        const std::string& commandId = c.commandId;
        standin::setCommandId(standIn, commandId);
        const std::string directory = scratch();
        const std::string path = directory + "/result";
        ASSERT_TRUE(c.make(path)) << std::strerror(errno);
        struct stat before {};
        ASSERT_EQ(lstat(path.c_str(), &before), 0);
        const HostRun run = runTessary(withEnvironment({"TMPDIR=" + directory}), {commandId, path});
        expectOneLine(run, "cannot write host result: not a regular file: " + c.what);
        struct stat after {};
        ASSERT_EQ(lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_rdev, before.st_rdev);
    }
}

// A private result file (0600, as mktemp makes it) stays private once replaced, under umask 022.
TEST_F(Host, AReplacedPrivateFileStaysPrivate) {
    launch();
    standin::setCommandId(standIn, "cmd-private");
    const std::string directory = scratch();
    const std::string path = directory + "/result";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    const mode_t mask = umask(022);
    const HostRun run = runTessary(withEnvironment({"TMPDIR=" + directory}), {"cmd-private", path});
    umask(mask);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, path + "\n");
    EXPECT_EQ(run.err, "");
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(standin::readFile(path), standin::readFile(standIn.answerFile));
}

// ---- Files that others may use ---------------------------------------------------------------

// A trace file that another user made in a shared directory gets nothing of the run.
TEST_F(Host, ATraceFileOfAnotherUserReceivesNothing) {
    ASSERT_EQ(geteuid(), 0u) << "handing a file to another user needs root";
    launch();
    standin::setCommandId(standIn, "cmd-trace");
    const std::string directory = scratch();
    const std::string trace = directory + "/trace";
    const int fd = open(trace.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(chmod(trace.c_str(), 0666), 0);
    ASSERT_EQ(chown(trace.c_str(), 65534, 65534), 0);
    const HostRun run =
        runTessary(withEnvironment({"TMPDIR=" + directory, "TESSARY_TRACE=" + trace}), {"cmd-trace", directory + "/result"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(std::filesystem::file_size(trace), 0u);
}

// A run lock that others may open is not used: another process that holds it shared (as any user
// who can read it could) does not keep the run waiting.
TEST_F(Host, ALockOthersMayUseIsNotWaitedFor) {
    launch();
    standin::setCommandId(standIn, "cmd-lock");
    const std::string directory = scratch();
    const std::string lock = directory + "/tessary-" + std::to_string(geteuid()) + ".lock";
    const int fd = open(lock.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchmod(fd, 0644), 0);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
    const HostRun run = runTessary(withEnvironment({"TMPDIR=" + directory}), {"cmd-lock", directory + "/result"});
    close(fd);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_LT(run.took, kBound);
}

}  // namespace
