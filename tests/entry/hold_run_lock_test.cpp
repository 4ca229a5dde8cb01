// platform::holdRunLock as every POSIX implementation takes it: in the user's temporary
// directory, and never handed on to a program that a holder starts. Both are read from the lock
// itself (flock), as on Linux so on macOS.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace {

std::string scratch() {
    char pattern[] = "/tmp/tessary-lock-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? made : "";
}

// A pipe whose ends no program started from here inherits (macOS has no pipe2). The test
// starts its programs from this one thread.
bool closeOnExecPipe(int ends[2]) {
    if (pipe(ends) != 0) return false;
    if (fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0) return true;
    close(ends[0]);
    close(ends[1]);
    return false;
}

// Whether anyone holds the lock file in this directory now: "free" when this process can take
// it (and lets it go again at once), "taken" when it cannot.
std::string lockStateIn(const std::string& tmpdir) {
    const std::string path = tmpdir + "/tessary-" + std::to_string(geteuid()) + ".lock";
    const int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = other >= 0 && flock(other, LOCK_EX | LOCK_NB) == 0;
    if (other >= 0) close(other);
    return free ? "free\n" : "taken\n";
}

// What a forked holder reports, 'h' when it took the lock, and what the lock's state is then.
// Without `exec` the holder keeps running; with it the holder replaces itself by a program that
// says "exec" once it runs and then waits. A flock belongs to the open file, so whichever
// process still has the lock's descriptor open holds it: the state read while that program
// runs is the program's.
std::string holdInChild(const std::string& tmpdir, bool exec) {
    int report[2];
    int hold[2];  // never written: the holder, or its program, waits on it until it is killed
    if (!closeOnExecPipe(report)) return "?";
    if (!closeOnExecPipe(hold)) {
        close(report[0]);
        close(report[1]);
        return "?";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(report[1], STDOUT_FILENO);
        setenv("TMPDIR", tmpdir.c_str(), 1);
        const bool held = platform::holdRunLock();
        if (write(STDOUT_FILENO, held ? "h\n" : "-\n", 2) != 2) _exit(2);
        if (exec) {
            dup2(hold[0], STDIN_FILENO);
            execl("/bin/sh", "sh", "-c", "echo exec; read line", static_cast<char*>(nullptr));
            _exit(3);
        }
        char byte = 0;
        (void)read(hold[0], &byte, 1);
        _exit(0);
    }
    close(report[1]);
    close(hold[0]);
    // Read until the holder has said all it says before it waits (or has ended).
    const std::size_t lines = exec ? 2 : 1;
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
        if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) break;
    }
    text += lockStateIn(tmpdir);
    kill(pid, SIGKILL);
    close(report[0]);
    close(hold[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return text;
}

TEST(HoldRunLock, TheLockLiesInTheTemporaryDirectoryThatTmpdirNames) {
    const std::string directory = scratch();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(holdInChild(directory, false), "h\ntaken\n");
    const std::string path = directory + "/tessary-" + std::to_string(geteuid()) + ".lock";
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    std::filesystem::remove_all(directory);
}

TEST(HoldRunLock, AProgramThatTheHolderStartsDoesNotHoldTheLock) {
    const std::string directory = scratch();
    ASSERT_FALSE(directory.empty());
    // The program runs in the holder's place: had it the lock's descriptor, the lock would be taken.
    EXPECT_EQ(holdInChild(directory, true), "h\nexec\nfree\n");
    std::filesystem::remove_all(directory);
}

}  // namespace
