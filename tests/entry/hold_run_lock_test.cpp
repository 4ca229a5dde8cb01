// platform::holdRunLock as every POSIX implementation takes it: in the user's temporary
// directory, and never handed on to a program that a holder starts.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// What the forked holder reports: 'h' when it took the lock, then, with `exec`, the targets of
// every descriptor that a program it starts holds, one a line.
std::string holdInChild(const std::string& tmpdir, bool exec) {
    int report[2];
    int hold[2];  // never written: the holder waits on it until it is killed
    if (pipe2(report, O_CLOEXEC) != 0 || pipe2(hold, O_CLOEXEC) != 0) return "?";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(report[1], STDOUT_FILENO);
        setenv("TMPDIR", tmpdir.c_str(), 1);
        const bool held = platform::holdRunLock();
        if (write(STDOUT_FILENO, held ? "h\n" : "-\n", 2) != 2) _exit(2);
        if (exec) {
            execl("/bin/sh", "sh", "-c", "for f in /proc/self/fd/*; do readlink \"$f\"; done; true", static_cast<char*>(nullptr));
            _exit(3);
        }
        // Holds the lock until its parent has looked and ends it.
        char byte = 0;
        (void)read(hold[0], &byte, 1);
        _exit(0);
    }
    close(report[1]);
    close(hold[0]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
        if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
        if (!exec && text == "h\n") break;
    }
    if (!exec) {
        // The lock is taken now: nobody else can have it.
        const std::string path = tmpdir + "/tessary-" + std::to_string(geteuid()) + ".lock";
        const int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool free = other >= 0 && flock(other, LOCK_EX | LOCK_NB) == 0;
        if (other >= 0) close(other);
        text += free ? "free\n" : "taken\n";
        kill(pid, SIGKILL);
    }
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
    const std::string text = holdInChild(directory, true);
    EXPECT_TRUE(text.starts_with("h\n")) << text;
    EXPECT_EQ(text.find("tessary-"), std::string::npos) << text;
    std::filesystem::remove_all(directory);
}

}  // namespace
