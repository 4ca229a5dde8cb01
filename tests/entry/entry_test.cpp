// The tool's entry point itself (main), over the fake desktop: a standard descriptor that the
// host left closed never reaches a file that the run opens; started under the name
// tessary-doctor it is the doctor, whose permission answer is the run's own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
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

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the entry point as `program` (argv[0], the path started) with these arguments, the trust
// answer of the fake desktop, and its standard output and error captured.
Ran runAs(const std::string& program, const std::vector<std::string>& arguments, bool trusted,
          const std::filesystem::path& directory) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    environment.push_back("TESSARY_TEST_OPENED_FILE=" + (directory / "opened").string());
    environment.push_back(std::string("TESSARY_TEST_TRUSTED=") + (trusted ? "1" : "0"));
    std::vector<char*> environmentPointers;
    for (std::string& entry : environment) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argvPointers;
    for (std::string& argument : argv) argvPointers.push_back(argument.data());
    argvPointers.push_back(nullptr);

    const std::string out = (directory / "stdout").string();
    const std::string err = (directory / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argvPointers.data(), environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    Ran ran;
    if (failed != 0) return ran;
    int status = 0;
    waitpid(pid, &status, 0);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ran.out = contentOf(out);
    ran.err = contentOf(err);
    return ran;
}

// A scratch directory with the entry point under two more names: tessary-doctor, a symbolic
// link as installed, and another name.
struct Names {
    std::filesystem::path directory;
    std::string doctor;
    std::string other;
    Names() {
        directory = std::filesystem::temp_directory_path() / ("tessary-entry-names-" + std::to_string(getpid()));
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
        doctor = (directory / "tessary-doctor").string();
        other = (directory / "tessary-doctor-not").string();
        std::filesystem::create_symlink(TESSARY_OVER_FAKE, doctor);
        std::filesystem::create_symlink(TESSARY_OVER_FAKE, other);
    }
    ~Names() { std::filesystem::remove_all(directory); }
};

std::string permissionLine(const std::string& report) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > 12 && line.substr(12).starts_with("permission: ")) return line;
    }
    return {};
}

// The doctor and a run cannot disagree about the permission: the doctor is the same executable
// started under another name, so it asks the same process's question of the same desktop. For
// each trust answer, the doctor's permission line and the run's outcome say the same.
TEST(Entry, TheDoctorsPermissionIsTheRunsOwn) {
    const Names names;
    EXPECT_TRUE(std::filesystem::equivalent(names.doctor, TESSARY_OVER_FAKE)) << "the doctor is the same file";
    for (const bool trusted : {true, false}) {
        SCOPED_TRACE(trusted ? "trusted" : "not trusted");
        const Ran doctor = runAs(names.doctor, {}, trusted, names.directory);
        const std::string line = permissionLine(doctor.out);
        ASSERT_FALSE(line.empty()) << doctor.out << doctor.err;
        EXPECT_EQ(doctor.err, "");
        const std::string result = (names.directory / "result").string();
        const Ran run = runAs(TESSARY_OVER_FAKE, {"1", result}, trusted, names.directory);
        if (trusted) {
            EXPECT_TRUE(line.starts_with("ok          permission: ")) << line;
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, result + "\n");
        } else {
            EXPECT_TRUE(line.starts_with("fail        permission: ")) << line;
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "TESSARY: macOS accessibility permission is missing\n");
        }
        std::filesystem::remove(result);
    }
}

// Under the name tessary-doctor, --version prints the doctor's name, version and commit; under
// every other name the program is tessary, whose command line has no options: --version is a
// usage error there, with tessary's own message, whatever the program's name.
TEST(Entry, OnlyTheNameTessaryDoctorMakesTheDoctor) {
    const Names names;
    const Ran version = runAs(names.doctor, {"--version"}, true, names.directory);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.err, "");
    EXPECT_TRUE(std::regex_match(version.out, std::regex("tessary-doctor [0-9]+\\.[0-9]+\\.[0-9]+ \\(([0-9a-f]{4,}|unknown)\\)\n")))
        << version.out;
    const std::string usage = "TESSARY: usage: tessary <command-id> <absolute-result-path>\n";
    for (const std::string& program : {std::string(TESSARY_OVER_FAKE), names.other}) {
        SCOPED_TRACE(program);
        for (const std::vector<std::string>& arguments :
             std::vector<std::vector<std::string>>{{"--version"}, {"--help"}, {}}) {
            const Ran ran = runAs(program, arguments, true, names.directory);
            EXPECT_EQ(ran.status, 1);
            EXPECT_EQ(ran.out, "");
            EXPECT_EQ(ran.err, usage);
        }
    }
}

}  // namespace
