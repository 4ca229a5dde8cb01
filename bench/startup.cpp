// Start-up: the time from exec to the usage message (tessary with no arguments), over many
// runs, and the size of the binary, as built and stripped.
//   tessary_bench_startup --tessary PATH [--runs 200] [--rows-file FILE]
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "bench/rows.h"
#include "process.h"

extern char** environ;

namespace {

constexpr std::string_view kUsageLine = "TESSARY: usage: tessary <command-id> <absolute-result-path>\n";

// Milliseconds from the spawn to the usage line on standard error; negative when the line was
// not the usage line or the status was not 1.
double timeToUsage(const std::string& tessary) {
    int pipeFds[2];
    if (!standin::closeOnExecPipe(pipeFds)) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    char* argv[] = {const_cast<char*>(tessary.c_str()), nullptr};
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (failed != 0) {
        close(pipeFds[0]);
        return -1;
    }
    std::string line;
    char buffer[256];
    while (line.find('\n') == std::string::npos) {
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (line != kUsageLine || !WIFEXITED(status) || WEXITSTATUS(status) != 1) return -1;
    return took.count();
}

double fileKibibytes(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<double>(info.st_size) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::ToolOptions options = bench::toolOptions(argc, argv, 200);
    const std::string& tessary = options.tessary;
    const std::string& rowsFile = options.rowsFile;
    const int runs = options.runs;
    if (tessary.empty()) {
        std::cerr << "usage: tessary_bench_startup --tessary PATH [--runs N] [--rows-file FILE]\n";
        return 2;
    }
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = timeToUsage(tessary);
        if (ms < 0) {
            std::cerr << "startup: run " << i << " did not end with the usage line and status 1\n";
            return 1;
        }
        times.push_back(ms);
    }
    char stripped[] = "/tmp/tessary-stripped-XXXXXX";
    const int fd = mkstemp(stripped);
    if (fd >= 0) close(fd);
    const auto strip = standin::runProcess({"/usr/bin/strip", "-o", stripped, tessary});
    const double strippedKib = strip.exitStatus == 0 ? fileKibibytes(stripped) : -1;
    unlink(stripped);

    bench::appendRows(rowsFile, {
        {"5 start-up", "exec to the usage message, " + std::to_string(runs) + " runs",
         bench::spreadText(bench::spread(times), 2, "ms"), "", ""},
        {"5 start-up", "binary size (Release), as built / stripped",
         bench::fixed(fileKibibytes(tessary), 0) + " KiB / " + bench::fixed(strippedKib, 0) + " KiB", "", ""},
    });
    return 0;
}
