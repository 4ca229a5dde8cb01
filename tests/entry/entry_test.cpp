// The tool's entry point itself (main), over the fake desktop: a standard descriptor that the
// host left closed never reaches a file that the run opens.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string contentOf(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

// Runs the entry point with one standard descriptor closed; the other two on /dev/null.
int runWithClosed(int closed, bool trusted, const std::string& opened, const std::string& result) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    environment.push_back("TESSARY_TEST_OPENED_FILE=" + opened);
    environment.push_back(std::string("TESSARY_TEST_TRUSTED=") + (trusted ? "1" : "0"));
    std::vector<char*> environmentPointers;
    for (std::string& entry : environment) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);
    std::vector<std::string> argv{TESSARY_OVER_FAKE, "1", result};
    std::vector<char*> argvPointers;
    for (std::string& argument : argv) argvPointers.push_back(argument.data());
    argvPointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd) {
        if (fd == closed) {
            posix_spawn_file_actions_addclose(&actions, fd);
        } else {
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
        }
    }
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(), environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Entry, AClosedStandardDescriptorNeverReachesAFileOfTheRun) {
    struct Case {
        int closed;
        bool trusted;  // a complete exchange writes standard output, a failure standard error
        int status;
    };
    const Case cases[] = {{STDOUT_FILENO, true, 0}, {STDERR_FILENO, false, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("descriptor " + std::to_string(c.closed) + " closed");
        const std::filesystem::path directory = std::filesystem::temp_directory_path() /
                                                ("tessary-entry-" + std::to_string(getpid()) + "-" + std::to_string(c.closed));
        std::filesystem::create_directories(directory);
        const std::string opened = (directory / "opened").string();
        const std::string result = (directory / "result").string();
        EXPECT_EQ(runWithClosed(c.closed, c.trusted, opened, result), c.status);
        ASSERT_TRUE(std::filesystem::exists(opened)) << "the desktop opened no file";
        EXPECT_EQ(contentOf(opened), "");
        std::filesystem::remove_all(directory);
    }
}

}  // namespace
