// The atomic result write, both ways of holding the text before it takes the path's place: an
// unnamed auxiliary file (Linux) and a named one (macOS, and file systems without unnamed files).
#include "platform/posix/write_file_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifdef __linux__
// makedev: <sys/types.h> declares it on macOS, <sys/sysmacros.h> on Linux.
#include <sys/sysmacros.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include "support/child_run.h"

namespace platform::file_internal {

// How a test's name and its failures show the way under test.
void PrintTo(Auxiliary auxiliary, std::ostream* out) { *out << (auxiliary == Auxiliary::named ? "named" : "unnamed"); }

}  // namespace platform::file_internal

namespace {

using platform::file_internal::Auxiliary;
using platform::file_internal::flushToStorage;
using platform::file_internal::randomName;
using platform::file_internal::writeAtomically;
using namespace std::string_literals;

std::optional<std::string> writeThrough(Auxiliary auxiliary, const std::string& path, std::string_view text) {
    return writeAtomically(path, text, auxiliary, randomName);
}

void put(const std::string& path, const std::string& text) {
    ASSERT_EQ(writeThrough(Auxiliary::named, path, text), std::nullopt);
}

bool isAuxiliary(const std::string& name) { return name.starts_with(".tessary-") && name.ends_with(".tmp"); }

// A text that names its own version and size and whose every byte follows from both, so a
// reader can tell a whole text from a torn or mixed one.
std::string versionText(int version, std::size_t size) {
    std::string text = "version " + std::to_string(version) + " size " + std::to_string(size) + "\n";
    const std::size_t header = text.size();
    text.resize(size);
    const auto shift = static_cast<std::size_t>(version) * 13;
    for (std::size_t i = header; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + shift) % 26);
    return text;
}

// The version of a whole text, or -1.
int versionOf(const std::string& text) {
    int version = 0;
    std::size_t size = 0;
    if (std::sscanf(text.c_str(), "version %d size %zu\n", &version, &size) != 2) return -1;
    return size == text.size() && text == versionText(version, size) ? version : -1;
}

class WriteFile : public ::testing::TestWithParam<Auxiliary> {
protected:
    std::optional<std::string> write(const std::string& path, std::string_view text) {
        return writeThrough(GetParam(), path, text);
    }
};

INSTANTIATE_TEST_SUITE_P(BothWays, WriteFile, ::testing::Values(Auxiliary::unnamedFirst, Auxiliary::named),
                         [](const auto& info) { return info.param == Auxiliary::named ? "Named" : "Unnamed"; });

TEST_P(WriteFile, TheWholeTextReplacesWhatStandsAtThePath) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    const std::string elsewhere = directory + "/elsewhere";
    put(elsewhere, "the target of a link");
    struct Case {
        const char* what;
        std::string before;  // "": nothing, "file": an older text, "link": a link to `elsewhere`
        std::string text;
    };
    const Case cases[] = {
        {"a new file", "", "TALVO_RELAY_BEGIN_1 \0 \xFF kept as given, no newline added"s},
        {"over an older, longer file", "file", "short"},
        {"an empty text", "file", ""},
        {"several MiB", "file", versionText(3, 5 << 20)},
        {"over a link, which is replaced, not followed", "link", "instead of the link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(path.c_str());
        if (c.before == "file") put(path, std::string(1000, 'o'));
        if (c.before == "link") {
            ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0);
        }
        EXPECT_EQ(write(path, c.text), std::nullopt);
        EXPECT_EQ(readFile(path), c.text);
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(readFile(elsewhere), "the target of a link");
        EXPECT_EQ(listDirectory(directory), (std::vector<std::string>{"elsewhere", "result"}));
    }
}

TEST_P(WriteFile, ANewFileHasTheRightsOfAnyNewFile) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}, mode_t{0}}) {
        SCOPED_TRACE(mask);
        ::unlink(path.c_str());
        const mode_t previous = ::umask(mask);
        const auto error = write(path, "new");
        ::umask(previous);
        EXPECT_EQ(error, std::nullopt);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
    }
}

// A replaced file keeps its permission bits whatever the umask: a private answer (a path made
// 0600 by mktemp) stays private. A link passes on the bits of the regular file it points to.
TEST_P(WriteFile, AReplacedFileKeepsItsPermissionBits) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    const std::string target = directory + "/target";
    struct Case {
        mode_t old;
        mode_t mask;
        bool throughLink;
    };
    const Case cases[] = {{0600, 022, false}, {0604, 077, false}, {0640, 0, false}, {0666, 022, false},
                          {0400, 022, false}, {0600, 022, true},  {0644, 077, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.old) + (c.throughLink ? " through a link" : ""));
        ::unlink(path.c_str());
        ::unlink(target.c_str());
        put(c.throughLink ? target : path, "old");
        ASSERT_EQ(::chmod((c.throughLink ? target : path).c_str(), c.old), 0);
        if (c.throughLink) {
            ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
        }
        const mode_t previous = ::umask(c.mask);
        const auto error = write(path, "new");
        ::umask(previous);
        EXPECT_EQ(error, std::nullopt);
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, c.old);
        EXPECT_EQ(readFile(path), "new");
    }
}

// Only the permission bits are taken over: set-user-id, set-group-id and the sticky bit of the
// replaced file never reach the answer (a set-id answer file would be a program anyone may run
// with its owner's rights), whether the path is the file or a link to it.
TEST_P(WriteFile, SetIdAndStickyBitsAreNeverCarriedOver) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    const std::string target = directory + "/target";
    struct Case {
        mode_t old;
        bool throughLink;
    };
    const Case cases[] = {{04755, false}, {02750, false}, {01644, false}, {07700, false}, {04755, true}, {03640, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.old) + (c.throughLink ? " through a link" : ""));
        const std::string file = c.throughLink ? target : path;
        ::unlink(path.c_str());
        ::unlink(target.c_str());
        put(file, "old");
        struct stat before {};
        if (::chmod(file.c_str(), c.old) != 0 || ::stat(file.c_str(), &before) != 0 || (before.st_mode & 07777) != c.old) {
            // Where only root may set a file's sticky bit (macOS: EFTYPE), or the set-group-id bit
            // of a group that is not the user's, no such file can stand at the user's path. The
            // owner may always set the set-user-id bit, and root every bit.
            ASSERT_NE(c.old & 07000, mode_t{04000}) << "the system did not set the bits to replace";
            ASSERT_NE(::geteuid(), 0u) << "the system did not set the bits to replace";
            continue;
        }
        if (c.throughLink) {
            ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
        }
        EXPECT_EQ(write(path, "new"), std::nullopt);
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, c.old & 0777);
        EXPECT_EQ(readFile(path), "new");
    }
}

// A link to something that is no regular file is replaced as any link is, and the new file gets
// the rights of any new file: a device's, a FIFO's or a directory's bits say nothing about who may
// read an answer. What the link pointed to stays as it was.
TEST_P(WriteFile, ALinkToWhatIsNoRegularFilePassesOnNoBits) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    const std::string fifo = directory + "/fifo";
    const std::string folder = directory + "/folder";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    struct Case {
        const char* what;
        std::string target;
        mode_t kind;
    };
    const Case cases[] = {
        {"a character device", "/dev/null", S_IFCHR},
        {"a FIFO", fifo, S_IFIFO},
        {"a directory", folder, S_IFDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        struct stat targetBefore {};
        ASSERT_EQ(::stat(c.target.c_str(), &targetBefore), 0);
        ASSERT_NE(targetBefore.st_mode & 0777, 0666 & ~mode_t{022}) << "the target's bits would not show";
        ::unlink(path.c_str());
        ASSERT_EQ(::symlink(c.target.c_str(), path.c_str()), 0);
        const mode_t previous = ::umask(022);
        const auto error = write(path, "new");
        ::umask(previous);
        EXPECT_EQ(error, std::nullopt);
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0644);
        EXPECT_EQ(readFile(path), "new");
        struct stat targetAfter {};
        ASSERT_EQ(::stat(c.target.c_str(), &targetAfter), 0);
        EXPECT_EQ(targetAfter.st_ino, targetBefore.st_ino);
        EXPECT_EQ(targetAfter.st_mode, targetBefore.st_mode);
        EXPECT_EQ(targetAfter.st_mode & S_IFMT, c.kind);
    }
}

// Only a regular file is replaced: a FIFO, a socket, a device or a directory at the path stays
// exactly where it is (the same node), and the write reports what stands there.
TEST_P(WriteFile, WhatIsNoRegularFileIsNeverReplaced) {
    const std::string directory = scratchDirectory();
    struct Case {
        const char* what;
        std::function<bool(const std::string&)> make;
        std::string description;
    };
    const std::vector<Case> cases{
        {"a FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, "not a regular file: a FIFO"},
        {"a socket",
         [](const std::string& p) {
             const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::strncpy(address.sun_path, p.c_str(), sizeof address.sun_path - 1);
             const bool bound = ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
             ::close(s);
             return bound;
         },
         "not a regular file: a socket"},
        {"a directory", [](const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0; }, "not a regular file: a directory"},
        // A copy of /dev/null (character device 1,3): only root may make one.
        {"a character device", [](const std::string& p) { return ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
         "not a regular file: a character device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = directory + "/" + c.what;
        if (!c.make(path)) {
            ASSERT_NE(::geteuid(), 0u) << "root could not make " << c.what;
            continue;  // a device node needs root; the unprivileged pass has no such node
        }
        struct stat before {};
        ASSERT_EQ(::lstat(path.c_str(), &before), 0);
        EXPECT_EQ(write(path, "new"), c.description);
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        for (const std::string& name : listDirectory(directory)) EXPECT_FALSE(isAuxiliary(name)) << name;
    }
}

// A reader polls the path while it is replaced a thousand times by texts of 200 to 300 KiB,
// each far more than one read or write call moves at once. It must always find the path, and
// always a whole text.
TEST_P(WriteFile, AReaderSeesOnlyWholeTexts) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    auto sizeOf = [](int version) { return std::size_t{200 << 10} + std::size_t(version) * 97 % (100 << 10); };
    put(path, versionText(0, sizeOf(0)));

    constexpr int kReplacements = 1000;
    std::atomic<bool> done{false};
    int reads = 0;
    int missing = 0;
    std::vector<std::string> torn;
    std::vector<int> seen;
    std::thread reader([&] {
        std::string content;
        char buffer[16384];
        while (!done.load()) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                ++missing;
                continue;
            }
            content.clear();
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) content.append(buffer, std::size_t(n));
            ::close(fd);
            ++reads;
            const int version = versionOf(content);
            if (version < 0) {
                const std::string size = std::to_string(content.size());
                if (torn.size() < 3) torn.push_back(content.substr(0, 40) + "... (" + size + " bytes)");
            } else if (seen.empty() || seen.back() != version) {
                seen.push_back(version);
            }
        }
    });
    for (int version = 1; version <= kReplacements; ++version) {
        const auto error = write(path, versionText(version, sizeOf(version)));
        if (error) {
            ADD_FAILURE() << "replacement " << version << ": " << *error;
        }
    }
    done = true;
    reader.join();

    EXPECT_EQ(missing, 0) << "the path was missing for a reader";
    EXPECT_EQ(torn, std::vector<std::string>{}) << "texts read that are no whole version";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "versions went back";
    EXPECT_GT(seen.size(), 1u) << "the reader saw only one version in " << reads << " reads";
    EXPECT_EQ(readFile(path), versionText(kReplacements, sizeOf(kReplacements)));
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"result"});
    std::printf("%d replacements, %d whole reads, %zu versions seen\n", kReplacements, reads, seen.size());
}

// A name source a test can predict: "planted" for the first `plantedCalls` names, then random.
int plantedCalls = 0;
std::optional<std::string> plantedFirst() {
    if (plantedCalls > 0) {
        --plantedCalls;
        return "planted";
    }
    return randomName();
}

// Whoever can guess the auxiliary file's name may plant a link there, to a file of theirs or to
// a name where they want a file to appear. The write never follows it: it moves on to another
// name, and when every name it is given is taken, it fails and changes nothing.
TEST_P(WriteFile, ALinkPlantedAtTheAuxiliaryNameIsNeverFollowed) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    const std::string planted = directory + "/.tessary-planted.tmp";
    const std::string victim = directory + "/victim";
    struct Case {
        const char* what;
        bool victimExists;
        int plantedNames;
        bool succeeds;
    };
    const Case cases[] = {
        {"a link to an existing file, then a free name", true, 1, true},
        {"a link to a missing file, then a free name", false, 1, true},
        {"a link to an existing file at every name", true, 1000, false},
        {"a link to a missing file at every name", false, 1000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(victim.c_str());
        if (c.victimExists) put(victim, "not yours");
        put(path, "old");
        ::unlink(planted.c_str());
        ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);

        plantedCalls = c.plantedNames;
        const auto error = writeAtomically(path, "new", GetParam(), plantedFirst);
        plantedCalls = 0;

        EXPECT_EQ(error, c.succeeds ? std::nullopt : std::optional<std::string>(std::strerror(EEXIST)));
        EXPECT_EQ(readFile(path), c.succeeds ? "new" : "old");
        EXPECT_EQ(readFile(victim), c.victimExists ? std::optional<std::string>("not yours") : std::nullopt);
        struct stat info {};
        ASSERT_EQ(::lstat(planted.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the planted link is left as it was";
        std::vector<std::string> expected{".tessary-planted.tmp", "result"};
        if (c.victimExists) expected.push_back("victim");
        EXPECT_EQ(listDirectory(directory), expected);
    }
}

// What a flush saw: the file it was given, how much of the text that file held, and whether
// the path already named it.
struct FlushSeen {
    ino_t file = 0;
    off_t size = -1;
    bool atThePath = false;
};
std::string flushWatched;
std::vector<FlushSeen> flushes;
int flushFails = 0;  // the errno of a flush that fails; 0: flushes succeed

bool recordingFlush(int fd) {
    struct stat file {};
    struct stat atPath {};
    ::fstat(fd, &file);
    const bool named = ::stat(flushWatched.c_str(), &atPath) == 0 && atPath.st_ino == file.st_ino && atPath.st_dev == file.st_dev;
    flushes.push_back({file.st_ino, file.st_size, named});
    if (flushFails != 0) {
        errno = flushFails;
        return false;
    }
    return flushToStorage(fd);
}

// The auxiliary file is flushed once, holding the whole text, before it takes the path's place;
// a flush that fails fails the write and changes nothing.
TEST_P(WriteFile, TheWholeTextIsFlushedBeforeItTakesThePath) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    put(path, "old");
    const std::string text = versionText(1, 300 << 10);
    flushWatched = path;
    flushes.clear();
    flushFails = 0;
    EXPECT_EQ(writeAtomically(path, text, GetParam(), randomName, recordingFlush), std::nullopt);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    ASSERT_EQ(flushes.size(), 1u);
    EXPECT_EQ(flushes[0].file, info.st_ino);
    EXPECT_EQ(flushes[0].size, static_cast<off_t>(text.size()));
    EXPECT_FALSE(flushes[0].atThePath);

    flushes.clear();
    flushFails = EIO;
    EXPECT_EQ(writeAtomically(path, "new", GetParam(), randomName, recordingFlush), std::strerror(EIO));
    flushFails = 0;
    EXPECT_EQ(flushes.size(), 1u);
    EXPECT_EQ(readFile(path), text);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"result"});
}

// The flush asks the system: a file flushes, a pipe cannot.
TEST(WriteFileFlush, AsksTheSystem) {
    const std::string path = scratchDirectory() + "/file";
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    EXPECT_TRUE(flushToStorage(file));
    ::close(file);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_FALSE(flushToStorage(ends[1]));
    ::close(ends[0]);
    ::close(ends[1]);
}

struct ErrorCase {
    const char* what;
    std::string path;         // relative to the scratch directory
    std::string description;  // as strerror gives it
    bool hasOldText = false;  // an older text stands at the path
};

// Every failure comes back with the file layer's description, leaves the path as it was and
// leaves no auxiliary file anywhere.
TEST_P(WriteFile, EveryFailureIsDescribedAndChangesNothing) {
    const std::string directory = scratchDirectory();
    ASSERT_EQ(::mkdir((directory + "/dir").c_str(), 0755), 0);
    put(directory + "/dir/inside", "kept");
    put(directory + "/file", "old");
    const ErrorCase cases[] = {
        {"a missing directory", "/missing/result", std::strerror(ENOENT)},
        {"a path that names a directory", "/dir", "not a regular file: a directory"},
        {"a path below a file", "/file/result", std::strerror(ENOTDIR)},
        {"a name too long", "/" + std::string(300, 'n'), std::strerror(ENAMETOOLONG)},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> before = listDirectory(directory);
        EXPECT_EQ(write(directory + c.path, "new"), c.description);
        EXPECT_EQ(listDirectory(directory), before);
        EXPECT_EQ(listDirectory(directory + "/dir"), std::vector<std::string>{"inside"});
        EXPECT_EQ(readFile(directory + "/dir/inside"), "kept");
        EXPECT_EQ(readFile(directory + "/file"), "old");
    }
}

// Failures that need another process: one whose files may not grow beyond 1 MiB (a full disk
// fails the same way, in the middle of the text), and one that may not write in the directory.
TEST_P(WriteFile, FailuresWhileWritingAndWithoutRightsChangeNothing) {
    const std::string directory = scratchDirectory();
    ::chmod(directory.c_str(), 0755);
    const std::string path = directory + "/result";
    const std::string locked = directory + "/locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    put(path, "old");
    put(locked + "/result", "old");
    ::chmod(locked.c_str(), 0555);
    const Auxiliary auxiliary = GetParam();

    const Outcome tooLarge = runInChild([&] {
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        std::printf("%s", writeThrough(auxiliary, path, std::string(2 << 20, 'x')).value_or("written").c_str());
        return 0;
    });
    EXPECT_EQ(tooLarge.out, std::strerror(EFBIG));
    EXPECT_EQ(readFile(path), "old");

    const Outcome withoutRights = runInChild([&] {
        // Root may write anywhere: the write runs as nobody.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
        std::printf("%s", writeThrough(auxiliary, locked + "/result", "new").value_or("written").c_str());
        return 0;
    });
    EXPECT_EQ(withoutRights.status, 0);
    EXPECT_EQ(withoutRights.out, std::strerror(EACCES));
    EXPECT_EQ(readFile(locked + "/result"), "old");

    EXPECT_EQ(listDirectory(directory), (std::vector<std::string>{"locked", "result"}));
    EXPECT_EQ(listDirectory(locked), std::vector<std::string>{"result"});
    ::chmod(locked.c_str(), 0755);
}

// Linux only: the refusal is made by a seccomp filter, which macOS has no counterpart of.
#ifdef __linux__
// Makes every fchmod of this process fail with EPERM, as a file system that keeps no Unix rights
// (a FAT or SMB mount, say) answers it.
bool refuseChmod() {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fchmod, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

// A file system that refuses to set the replaced file's bits: the write fails with what the
// system said, rather than leave a private answer readable by all under the rights of a new file.
TEST_P(WriteFile, BitsThatCannotBeTakenOverFailTheWrite) {
    const std::string directory = scratchDirectory();
    const std::string path = directory + "/result";
    put(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const Auxiliary auxiliary = GetParam();
    const Outcome outcome = runInChild([&] {
        if (!refuseChmod()) return 2;
        ::umask(022);
        std::printf("%s", writeThrough(auxiliary, path, "new").value_or("written").c_str());
        return 0;
    });
    ASSERT_EQ(outcome.status, 0) << "the child could not refuse fchmod";
    EXPECT_EQ(outcome.out, std::strerror(EPERM));
    EXPECT_EQ(readFile(path), "old");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"result"});
}
#endif

// What became of the runs of killWhileWriting.
struct KillRuns {
    int killed = 0;
    int finished = 0;   // runs whose text stood whole at the path when the kill came
    int leftovers = 0;  // runs killed with all their data written, after which an auxiliary
                        // file holding the whole new text was found (and removed)
};

#ifdef __linux__
// Bytes the process has handed to write calls so far, or -1 once it cannot be read.
std::int64_t bytesWritten(pid_t process) {
    std::FILE* io = std::fopen(("/proc/" + std::to_string(process) + "/io").c_str(), "r");
    if (io == nullptr) return -1;
    long long value = -1;
    char key[32];
    long long number = 0;
    while (std::fscanf(io, "%31s %lld", key, &number) == 2) {
        if (std::strcmp(key, "wchar:") == 0) value = number;
    }
    std::fclose(io);
    return value;
}
#endif

// Writes `text` to the scratch directory's "result" in a child that is killed with SIGKILL at
// varied moments of the write. On Linux the kill comes once the child has written a drawn share
// (0 to 90 %) of the text, read from its I/O accounting, so every kill lands while data is still
// being written however loaded the machine is; elsewhere it comes after a delay drawn from the
// first half of the fastest whole write. Before each run the old text is put back; after it the
// path holds the old text or the whole new one, never anything else.
KillRuns killWhileWriting(Auxiliary auxiliary, const std::string& directory, const std::string& old,
                          const std::string& text, int kills) {
    const std::string path = directory + "/result";
    auto start = [&] {
        const pid_t child = ::fork();
        if (child == 0) _exit(writeThrough(auxiliary, path, text) ? 1 : 0);
        return child;
    };
    std::chrono::microseconds whole = std::chrono::hours(1);
    for (int i = 0; i < 3; ++i) {
        put(path, old);
        const auto begun = std::chrono::steady_clock::now();
        int status = 0;
        ::waitpid(start(), &status, 0);
        const auto took = std::chrono::steady_clock::now() - begun;
        whole = std::min(whole, std::chrono::duration_cast<std::chrono::microseconds>(took));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(readFile(path), text);
    }
    std::mt19937 random(20240517);
    [[maybe_unused]] std::uniform_int_distribution<std::int64_t> delay(0, whole.count() / 2);
    [[maybe_unused]] std::uniform_int_distribution<std::int64_t> share(0, static_cast<std::int64_t>(text.size()) * 9 / 10);
    KillRuns runs;
    for (int i = 0; i < kills; ++i) {
        put(path, old);
        const pid_t child = start();
        bool allWritten = false;
#ifdef __linux__
        const std::int64_t threshold = share(random);
        for (;;) {
            const std::int64_t written = bytesWritten(child);
            if (written < 0 || written >= threshold) {
                allWritten = written < 0 || written >= static_cast<std::int64_t>(text.size());
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        SCOPED_TRACE("killed after " + std::to_string(threshold) + " of " + std::to_string(text.size()) + " bytes");
#else
        const std::chrono::microseconds after{delay(random)};
        std::this_thread::sleep_for(after);
        allWritten = true;  // no way to tell here; a leftover is then not held against the run
        SCOPED_TRACE("killed " + std::to_string(after.count()) + " us after the start of a write that takes " +
                     std::to_string(whole.count()) + " us");
#endif
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const auto content = readFile(path);
        EXPECT_TRUE(content == old || content == text) << "the path holds the old text or the whole new one";
        if (WIFSIGNALED(status)) ++runs.killed;
        if (content == text) ++runs.finished;
        for (const std::string& name : listDirectory(directory)) {
            if (name == "result") continue;
            EXPECT_TRUE(isAuxiliary(name)) << name;
            // A named auxiliary file stays behind a kill. An unnamed one gets its name only after
            // the last byte is written, so only a kill in the instant between naming it and the
            // rename can leave it, holding the whole new text.
            const bool possible =
                auxiliary == Auxiliary::named || (allWritten && readFile(directory + "/" + name) == text);
            EXPECT_TRUE(possible) << "auxiliary file " << name << " left by a kill during the write";
            ++runs.leftovers;
            ::unlink((directory + "/" + name).c_str());
        }
    }
    std::printf("write of %zu MiB takes %lld us: %d runs killed, %d finished first, %d left an auxiliary file\n",
                text.size() >> 20, static_cast<long long>(whole.count()), runs.killed, runs.finished, runs.leftovers);
    return runs;
}

#ifdef O_TMPFILE
// Killed at any moment of the write, a run leaves the old text whole. With an unnamed auxiliary
// file it leaves nothing else either: the text has a name only for the instant between naming
// it and the rename, which these kills do not aim at. (Systems without unnamed files, macOS,
// have only the named way, tested below.)
TEST(WriteFileKilled, UnnamedLeavesTheOldTextAndNothingElse) {
    const std::string directory = scratchDirectory();
    const int probe = ::open(directory.c_str(), O_TMPFILE | O_WRONLY, 0600);
    ASSERT_GE(probe, 0) << "the file system of " << directory << " refuses unnamed files: " << std::strerror(errno);
    ::close(probe);
    const KillRuns runs =
        killWhileWriting(Auxiliary::unnamedFirst, directory, versionText(1, 1000), versionText(2, 48 << 20), 40);
    EXPECT_EQ(runs.leftovers, 0);
    EXPECT_GT(runs.killed, 0);
}
#endif

// A named auxiliary file cannot be removed by a process killed with SIGKILL, but the old text
// stays whole all the same, and anything left behind is an auxiliary file.
TEST(WriteFileKilled, NamedLeavesTheOldTextWhole) {
    const std::string directory = scratchDirectory();
    const KillRuns runs =
        killWhileWriting(Auxiliary::named, directory, versionText(1, 1000), versionText(2, 48 << 20), 20);
    EXPECT_GT(runs.killed, 0);
}

// Linux only: the unnamed way needs O_TMPFILE and the watch inotify, and macOS has neither (it
// writes by the named way alone, which every test above runs there).
#ifdef __linux__
// What the directory sees of one write: the names that were written to, and the names created.
struct DirectoryEvents {
    std::vector<std::string> modified;
    std::vector<std::string> created;
};

DirectoryEvents watchWrite(Auxiliary auxiliary, const std::string& directory) {
    DirectoryEvents events;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(watch, 0);
    EXPECT_GE(::inotify_add_watch(watch, directory.c_str(), IN_MODIFY | IN_CREATE), 0);
    EXPECT_EQ(writeThrough(auxiliary, directory + "/result", std::string(1 << 20, 'x')), std::nullopt);
    alignas(inotify_event) char buffer[1 << 16];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const std::string name = event->len > 0 ? event->name : "";
            if (isAuxiliary(name)) (event->mask & IN_CREATE ? events.created : events.modified).push_back(name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    return events;
}

// The unnamed way gives the text a name only after it is written: no write ever reaches a named
// auxiliary file, and the name appears once, for the rename.
TEST(WriteFileUnnamed, NoWriteReachesANamedAuxiliaryFile) {
    const std::string directory = scratchDirectory();
    const DirectoryEvents unnamed = watchWrite(Auxiliary::unnamedFirst, directory);
    EXPECT_EQ(unnamed.modified, std::vector<std::string>{});
    EXPECT_EQ(unnamed.created.size(), 1u);
    const DirectoryEvents named = watchWrite(Auxiliary::named, directory);
    EXPECT_FALSE(named.modified.empty()) << "the watch sees writes to a named auxiliary file";
    EXPECT_EQ(named.created.size(), 1u);
}
#endif

}  // namespace
