#include "support/child_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "main/run.h"

extern char** environ;

#ifdef TESSARY_REPLAY_EACH_RUN
#include <gtest/gtest.h>
#endif

namespace {

std::string readAll(int fd) {
    std::string data;
    lseek(fd, 0, SEEK_SET);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

int scratchFile() {
    char name[] = "/tmp/tessary-test-XXXXXX";
    const int fd = mkstemp(name);
    unlink(name);
    return fd;
}

// What the child reports about the fake desktop, one item a line; record lines never hold a
// newline, since the tests build no label or attribute name with one.
void writeReport(int fd) {
    std::ostringstream report;
    report << fake::liveElements() << "\n" << fake::now() << "\n";
    for (const std::string& line : fake::record()) report << line << "\n";
    const std::string text = report.str();
    [[maybe_unused]] ssize_t written = ::write(fd, text.data(), text.size());
}

}  // namespace

Outcome runInChild(const std::function<int()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int out = scratchFile();
    const int err = scratchFile();
    const int report = scratchFile();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        const int status = body();
        std::fflush(stdout);
        std::fflush(stderr);
        writeReport(report);
        _exit(status);
    }
    int wait = 0;
    waitpid(child, &wait, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    outcome.out = readAll(out);
    outcome.err = readAll(err);
    std::istringstream lines(readAll(report));
    std::string line;
    if (std::getline(lines, line)) outcome.liveElements = std::stoi(line);
    if (std::getline(lines, line)) outcome.clock = std::stoll(line);
    while (std::getline(lines, line)) outcome.record.push_back(line);
    close(out);
    close(err);
    close(report);
    return outcome;
}

std::vector<std::string> recordOf(const Outcome& outcome, std::initializer_list<std::string_view> kinds) {
    return fake::linesOf(outcome.record, kinds);
}

#ifdef TESSARY_REPLAY_EACH_RUN
namespace {

// Replays a run's trace with tessary-replay: every run of the unit tests must replay, over the
// replay desktop, to the end it had over the fake desktop. A failure names the run's report.
void expectReplays(const std::string& trace, const std::vector<std::string>& arguments) {
    const std::string report = trace + ".replay";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, report.c_str(), O_WRONLY | O_APPEND, 0600);
    // Where the build tree cannot be reached (the unprivileged pass runs a copy), a copy of
    // tessary-replay is named by TESSARY_REPLAY_BINARY.
    const char* copied = std::getenv("TESSARY_REPLAY_BINARY");
    std::string binary = copied != nullptr && *copied != '\0' ? copied : TESSARY_REPLAY;
    std::string quiet = "--quiet";
    std::string path = trace;
    char* argv[] = {binary.data(), quiet.data(), path.data(), nullptr};
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) == 0) {
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::string command;
    for (const std::string& argument : arguments) command += " " + argument;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the trace of tessary" << command << " does not replay:\n" << readFile(report).value_or("?");
}

}  // namespace
#endif

Outcome runTessary(fake::Desktop desktop, const std::vector<std::string>& arguments,
                   const std::function<void()>& prepare) {
#ifdef TESSARY_REPLAY_EACH_RUN
    // Each run is traced, unless its test traces it itself, and then replayed.
    const std::string trace = scratchDirectory() + "/run.trace";
#endif
    Outcome outcome = runInChild([&] {
        fake::install(std::move(desktop));
#ifdef TESSARY_REPLAY_EACH_RUN
        setenv("TESSARY_TRACE", trace.c_str(), 1);
#endif
        if (prepare) prepare();
        std::vector<const char*> argv{"tessary"};
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        return tessary::runTool(static_cast<int>(argv.size() - 1), argv.data());
    });
#ifdef TESSARY_REPLAY_EACH_RUN
    if (std::filesystem::exists(trace)) expectReplays(trace, arguments);
#endif
    return outcome;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string scratchDirectory() {
    char name[] = "/tmp/tessary-dir-XXXXXX";
    const std::string path = mkdtemp(name);
    static std::vector<std::string> made;
    static const bool cleanup = [] {
        std::atexit([] {
            for (const std::string& directory : made) std::filesystem::remove_all(directory);
        });
        return true;
    }();
    (void)cleanup;
    made.push_back(path);
    return path;
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}
