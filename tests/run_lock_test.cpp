// The per-user lock that serializes runs: one holder at a time, held until the holder's process
// ends however it ends, and skipped, never failed on, when the file cannot be had safely.
#include "platform/posix/run_lock_internal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <optional>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/child_run.h"

namespace {

using platform::lock_internal::flockHolderIn;
using platform::lock_internal::holdLockAt;
using platform::lock_internal::lockPath;
using platform::lock_internal::temporaryDirectory;
using platform::lock_internal::testLockAt;

// A child that takes the lock, reports the answer as one byte on a pipe and then waits to be
// killed, holding whatever it got.
struct Holder {
    pid_t pid = -1;
    int report = -1;
};

Holder startHolder(const std::string& path, uid_t owner) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const char answer = holdLockAt(path, owner) ? '1' : '0';
        if (write(fds[1], &answer, 1) != 1) _exit(2);
        for (;;) pause();
    }
    close(fds[1]);
    return {pid, fds[0]};
}

// The holder's answer, or nothing when it gives none within `milliseconds`.
std::optional<char> answerOf(const Holder& holder, int milliseconds) {
    pollfd entry{holder.report, POLLIN, 0};
    if (poll(&entry, 1, milliseconds) != 1) return std::nullopt;
    char answer = 0;
    if (read(holder.report, &answer, 1) != 1) return std::nullopt;
    return answer;
}

void endHolder(const Holder& holder) {
    kill(holder.pid, SIGKILL);
    waitpid(holder.pid, nullptr, 0);
    close(holder.report);
}

bool lockedByOther(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool busy = flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(descriptor);
    return busy;
}

TEST(RunLock, OneHolderAtATimeUntilItsProcessEnds) {
    const std::string path = lockPath(scratchDirectory(), geteuid());
    const Holder first = startHolder(path, geteuid());
    ASSERT_EQ(answerOf(first, 10000), '1');
    EXPECT_TRUE(lockedByOther(path));

    const Holder second = startHolder(path, geteuid());
    // While the first holds the lock, the second waits for it and has nothing to say.
    EXPECT_EQ(answerOf(second, 300), std::nullopt);
    // SIGKILL leaves no chance to unlock: the kernel drops the lock with the process.
    endHolder(first);
    EXPECT_EQ(answerOf(second, 10000), '1');
    EXPECT_TRUE(lockedByOther(path));
    endHolder(second);
    EXPECT_FALSE(lockedByOther(path));

    // The file stays, the user's own, readable and writable by nobody else.
    struct stat status {};
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_uid, geteuid());
    EXPECT_EQ(status.st_mode & 0077, 0u);
}

TEST(RunLock, AFileThatCannotBeHadSafelyIsSkipped) {
    struct Case {
        const char* what;
        std::function<std::string(const std::string&)> plant;  // given a directory, the path to lock
        uid_t owner;
    };
    const uid_t me = geteuid();
    const Case cases[] = {
        {"a symbolic link to the user's own file",
         [](const std::string& directory) {
             const std::string target = directory + "/target";
             close(open(target.c_str(), O_WRONLY | O_CREAT, 0600));
             const std::string link = directory + "/tessary.lock";
             return symlink(target.c_str(), link.c_str()) == 0 ? link : std::string();
         },
         me},
        {"a symbolic link to nowhere",
         [](const std::string& directory) {
             const std::string link = directory + "/tessary.lock";
             return symlink((directory + "/missing").c_str(), link.c_str()) == 0 ? link : std::string();
         },
         me},
        {"a directory", [](const std::string& directory) { return directory; }, me},
        {"a FIFO",
         [](const std::string& directory) {
             const std::string fifo = directory + "/tessary.lock";
             return mkfifo(fifo.c_str(), 0600) == 0 ? fifo : std::string();
         },
         me},
        {"a directory that does not exist", [](const std::string& directory) { return directory + "/no/tessary.lock"; },
         me},
        {"a file of another user",
         [](const std::string& directory) {
             const std::string file = directory + "/tessary.lock";
             close(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
             return file;
         },
         me + 1},
    };
    // The user's own file, but open to others in some way: another user could hold it (a read is
    // all flock needs) and keep every run waiting.
    std::vector<Case> opened(std::begin(cases), std::end(cases));
    for (const mode_t mode : {0640, 0604, 0620, 0602, 0610, 0601, 0644, 0666}) {
        opened.push_back({"a file that others may use",
                          [mode](const std::string& directory) {
                              const std::string file = directory + "/tessary.lock";
                              close(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
                              return chmod(file.c_str(), mode) == 0 ? file : std::string();
                          },
                          me});
    }
    for (const Case& c : opened) {
        SCOPED_TRACE(c.what);
        const std::string path = c.plant(scratchDirectory());
        ASSERT_FALSE(path.empty());
        const Holder holder = startHolder(path, c.owner);
        EXPECT_EQ(answerOf(holder, 10000), '0');
        endHolder(holder);
    }
    // Nothing was created where a link pointed.
    const std::string directory = scratchDirectory();
    ASSERT_EQ(symlink((directory + "/missing").c_str(), (directory + "/tessary.lock").c_str()), 0);
    const Holder holder = startHolder(directory + "/tessary.lock", me);
    EXPECT_EQ(answerOf(holder, 10000), '0');
    endHolder(holder);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"tessary.lock"});
}

// tessary-doctor's test of the lock: what a run would meet, found without creating the file and
// with nothing held afterwards; a holder named by its process id where the system says (Linux).
TEST(RunLock, ATestSeesTheHolderAndTakesNothing) {
    const std::string directory = scratchDirectory();
    const std::string path = lockPath(directory, geteuid());
    const platform::LockTest missing = testLockAt(path, geteuid());
    EXPECT_EQ(missing.state, platform::LockState::free);
    EXPECT_EQ(missing.path, path);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{}) << "the test made the lock file";

    const Holder holder = startHolder(path, geteuid());
    ASSERT_EQ(answerOf(holder, 10000), '1');
    const platform::LockTest held = testLockAt(path, geteuid());
    EXPECT_EQ(held.state, platform::LockState::held);
#ifdef __linux__
    EXPECT_EQ(held.holder, holder.pid);
#endif
    // A second run waiting for the lock is no holder.
    const Holder waiting = startHolder(path, geteuid());
    EXPECT_EQ(answerOf(waiting, 200), std::nullopt);
    EXPECT_EQ(testLockAt(path, geteuid()).holder, held.holder);
    endHolder(waiting);
    endHolder(holder);

    EXPECT_EQ(testLockAt(path, geteuid()).state, platform::LockState::free);
    EXPECT_FALSE(lockedByOther(path)) << "the test left the lock held";
}

TEST(RunLock, ATestCallsUnusableWhatARunWouldSkip) {
    struct Case {
        const char* what;
        std::function<std::string(const std::string&)> plant;
        uid_t owner;
        std::string reason;
    };
    const uid_t me = geteuid();
    const auto file = [](mode_t mode) {
        return [mode](const std::string& directory) {
            const std::string path = directory + "/tessary.lock";
            close(open(path.c_str(), O_WRONLY | O_CREAT, 0600));
            return chmod(path.c_str(), mode) == 0 ? path : std::string();
        };
    };
    const Case cases[] = {
        {"a symbolic link",
         [](const std::string& directory) {
             const std::string link = directory + "/tessary.lock";
             return symlink((directory + "/missing").c_str(), link.c_str()) == 0 ? link : std::string();
         },
         me, "it is a symbolic link"},
        {"a directory", [](const std::string& directory) { return directory; }, me, "it is not a regular file"},
        {"a FIFO",
         [](const std::string& directory) {
             const std::string fifo = directory + "/tessary.lock";
             return mkfifo(fifo.c_str(), 0600) == 0 ? fifo : std::string();
         },
         me, "it is not a regular file"},
        {"a file of another user", file(0600), me + 1, "it belongs to user " + std::to_string(me)},
        {"a file that others may read", file(0644), me, "others may open it (mode 0644)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.plant(scratchDirectory());
        ASSERT_FALSE(path.empty());
        const platform::LockTest test = testLockAt(path, c.owner);
        EXPECT_EQ(test.state, platform::LockState::unusable);
        EXPECT_EQ(test.reason, c.reason);
    }
    const platform::LockTest nowhere = testLockAt(scratchDirectory() + "/no/tessary.lock", me);
    EXPECT_EQ(nowhere.state, platform::LockState::unusable);
    EXPECT_TRUE(nowhere.reason.starts_with("it cannot be made in ")) << nowhere.reason;
}

TEST(RunLock, OneFilePerUserInTheTemporaryDirectory) {
    EXPECT_EQ(temporaryDirectory("/var/folders/xy/T/"), "/var/folders/xy/T/");
    EXPECT_EQ(temporaryDirectory(nullptr), "/tmp");
    EXPECT_EQ(temporaryDirectory(""), "/tmp");
    EXPECT_EQ(temporaryDirectory("relative/dir"), "/tmp");
    EXPECT_EQ(lockPath("/tmp", 501), "/tmp/tessary-501.lock");
    EXPECT_EQ(lockPath("/var/folders/xy/T/", 0), "/var/folders/xy/T/tessary-0.lock");
}

// The kernel's table of file locks, as testLockAt reads it on Linux: only a flock on this very
// file (its device, major and minor, and its inode) holds the lock; a waiter holds nothing.
TEST(RunLock, TheTableOfLocksNamesTheHolderOfThisFileAlone) {
    // The lock file: device fd:01 (253:1), inode 1234.
    const platform::lock_internal::FileIdentity file{0xfd, 0x01, 1234};
    struct Case {
        const char* what;
        std::string table;
        std::string found;  // "held <pid>" or "free"
    };
    const Case cases[] = {
        {"a flock on this file", "1: FLOCK  ADVISORY  WRITE 4242 fd:01:1234 0 EOF\n", "held 4242"},
        {"among other files' locks",
         "1: POSIX  ADVISORY  WRITE 311 08:01:77 0 EOF\n"
         "2: FLOCK  ADVISORY  WRITE 512 08:01:1235 0 EOF\n"
         "3: FLOCK  ADVISORY  WRITE 4242 fd:01:1234 0 EOF\n",
         "held 4242"},
        {"the same inode on another device's major", "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF\n", "free"},
        {"the same inode on another device's minor", "1: FLOCK  ADVISORY  WRITE 4242 fd:02:1234 0 EOF\n", "free"},
        {"another inode on this device", "1: FLOCK  ADVISORY  WRITE 4242 fd:01:12345 0 EOF\n", "free"},
        {"a record lock on this file, not a flock", "1: POSIX  ADVISORY  WRITE 4242 fd:01:1234 0 EOF\n", "free"},
        {"a waiter listed under the holder",
         "1: FLOCK  ADVISORY  WRITE 4242 fd:01:1234 0 EOF\n"
         "1: -> FLOCK  ADVISORY  WRITE 4343 fd:01:1234 0 EOF\n",
         "held 4242"},
        {"a holder whose process the table does not name", "1: FLOCK  ADVISORY  WRITE -1 fd:01:1234 0 EOF\n", "held -1"},
        {"no locks at all", "", "free"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const platform::LockTest test = flockHolderIn(c.table, file, "/tmp/tessary-501.lock");
        const std::string found =
            test.state == platform::LockState::held ? "held " + std::to_string(test.holder)
            : test.state == platform::LockState::free ? std::string("free")
                                                      : std::string("neither");
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(test.path, "/tmp/tessary-501.lock");
        EXPECT_EQ(test.reason, "");
    }
}

}  // namespace
