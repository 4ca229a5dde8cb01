// Where the time of a complete exchange goes: the real tessary binary against the stand-in,
// whose answer opens at once, run after run. Run it inside the headless desktop:
//   scripts/headless tessary_bench_exchange --tessary PATH [--runs 20] [--rows-file FILE]
//
// First the runs go through strace, which stops the process only at its sleeps (seccomp filter),
// so the waits that the tool sleeps are counted from the run's own sleep calls, empty polls
// included, and timed as the kernel served them. Then as many runs without strace give the wall
// time and the tool's own CPU time (user + system), untouched by the tracer's stops; they take
// turns with as many runs with TESSARY_TRACE naming a file, for what the tool's own trace costs.
// Every run goes through this same program in its "--timed" role: it starts tessary, waits for
// it with wait4 and writes the wall time and the CPU time, which a tracer's own CPU time cannot
// reach.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/rows.h"
#include "process.h"

extern char** environ;

namespace {

constexpr double kCpuShareTarget = 0.03;
constexpr long kPollMicroseconds = 100000;

// ---- The "--timed" role ----------------------------------------------------------------------

int timed(const std::string& statsFile, char** command) {
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, command[0], nullptr, nullptr, command, environ) != 0) return 127;
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return 127;
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const double user = static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) * 1e-6;
    const double system = static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) * 1e-6;
    std::ofstream(statsFile) << pid << ' ' << (WIFEXITED(status) ? WEXITSTATUS(status) : 128) << ' ' << wall.count()
                             << ' ' << user << ' ' << system << '\n';
    return 0;
}

// ---- One traced run -------------------------------------------------------------------------

struct Sleep {
    long requestedMicroseconds = 0;
    double seconds = 0;  // as the kernel served it
};

struct Run {
    int status = -1;
    std::string out;
    double wall = 0;
    double cpu = 0;
    std::vector<Sleep> sleeps;
};

// The sleeps of one process in an strace log written with -f -T:
//   1234 clock_nanosleep(CLOCK_REALTIME, 0, {tv_sec=0, tv_nsec=200000000}, 0x7ffd...) = 0 <0.200093>
std::vector<Sleep> sleepsOf(const std::string& traceFile, pid_t pid) {
    std::vector<Sleep> sleeps;
    std::ifstream trace(traceFile);
    for (std::string line; std::getline(trace, line);) {
        std::istringstream fields(line);
        pid_t linePid = -1;
        if (!(fields >> linePid) || linePid != pid) continue;
        if (line.find("nanosleep(") == std::string::npos) continue;
        const auto sec = line.find("tv_sec=");
        const auto nsec = line.find("tv_nsec=");
        const auto took = line.rfind('<');
        if (sec == std::string::npos || nsec == std::string::npos || took == std::string::npos) continue;
        Sleep sleep;
        sleep.requestedMicroseconds = std::stol(line.substr(sec + 7)) * 1000000 + std::stol(line.substr(nsec + 8)) / 1000;
        sleep.seconds = std::stod(line.substr(took + 1));
        sleeps.push_back(sleep);
    }
    return sleeps;
}

// One run through the "--timed" role, under strace when `traced`.
Run timedRun(bool traced, const std::string& self, const std::string& tessary, const std::string& commandId,
             const std::string& resultPath, const std::string& directory) {
    const std::string traceFile = directory + "/trace";
    const std::string statsFile = directory + "/stats";
    std::vector<std::string> argv;
    if (traced) {
        argv = {"/usr/bin/strace", "-f", "--seccomp-bpf", "-qq", "-T", "-e", "trace=nanosleep,clock_nanosleep",
                "-e", "signal=none", "-o", traceFile, "--"};
    }
    argv.insert(argv.end(), {self, "--timed", statsFile, tessary, commandId, resultPath});
    const auto result = standin::runProcess(argv);
    Run run;
    run.out = result.standardOutput;
    std::ifstream stats(statsFile);
    pid_t pid = -1;
    double user = 0;
    double system = 0;
    if (!(stats >> pid >> run.status >> run.wall >> user >> system)) {
        std::cerr << "exchange: no figures from the timed run; strace said: " << result.standardError;
        run.status = -1;
        return run;
    }
    run.cpu = user + system;
    if (traced) run.sleeps = sleepsOf(traceFile, pid);
    return run;
}

// The requests (attribute reads and actions) in a trace file.
long requestsIn(const std::string& traceFile) {
    std::ifstream trace(traceFile);
    long requests = 0;
    for (std::string line; std::getline(trace, line);) {
        std::istringstream fields(line);
        std::string milliseconds, pid, event;
        if ((fields >> milliseconds >> pid >> event) && (event == "get" || event == "press")) ++requests;
    }
    return requests;
}

bool waitForClosedAlerts(const standin::StandIn& standIn, long count) {
    for (int wait = 0; wait < 500; ++wait) {
        const auto lines = standin::events(standIn);
        if (std::count(lines.begin(), lines.end(), "alert closed by OK") >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--timed") == 0) return timed(argv[2], argv + 3);

    const bench::ToolOptions options = bench::toolOptions(argc, argv, 20);
    const std::string& tessary = options.tessary;
    const std::string& rowsFile = options.rowsFile;
    const int runs = options.runs;
    if (tessary.empty()) {
        std::cerr << "usage: tessary_bench_exchange --tessary PATH [--runs N] [--rows-file FILE]\n";
        return 2;
    }
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    self[length] = '\0';

    auto standIn = standin::start({"--delay-ms", "0"});
    if (!standIn) {
        std::cerr << "exchange: the stand-in did not become ready\n";
        return 1;
    }
    std::vector<double> tracedWalls, sleeps, emptyPolls, sleepCounts;  // traced runs
    std::vector<double> walls, cpus, shares;                             // runs without strace
    std::vector<double> tracingCpus, tracingShares, tracedRequests;      // with TESSARY_TRACE
    const std::string toolTrace = standIn->directory + "/tessary-trace";
    // Runs under strace first, to show what tracing the sleeps costs; then as many without
    // strace and as many with the tool's own trace, taking turns, so that other work on the
    // machine weighs on both alike.
    for (int i = 0; i < 3 * runs; ++i) {
        const bool traced = i < runs;
        const bool tracing = !traced && (i - runs) % 2 == 1;
        if (tracing) ::setenv("TESSARY_TRACE", toolTrace.c_str(), 1);
        const std::string commandId = "bench-" + std::to_string(i);
        const std::string resultPath = standIn->directory + "/result";
        standin::setCommandId(*standIn, commandId);
        const Run run = timedRun(traced, self, tessary, commandId, resultPath, standIn->directory);
        if (run.status != 0 || run.out != resultPath + "\n") {
            std::cerr << "exchange: run " << i << " failed (status " << run.status << ")\n";
            standin::stop(*standIn);
            return 1;
        }
        const bool closed = waitForClosedAlerts(*standIn, i + 1);
        if (!closed) {
            std::cerr << "exchange: the alert of run " << i << " did not close\n";
            standin::stop(*standIn);
            return 1;
        }
        if (tracing) {
            ::unsetenv("TESSARY_TRACE");
            tracingCpus.push_back(run.cpu * 1e3);
            tracingShares.push_back(run.cpu / run.wall * 100);
            tracedRequests.push_back(static_cast<double>(requestsIn(toolTrace)));
            ::unlink(toolTrace.c_str());
            std::cerr << "exchange " << i << " (TESSARY_TRACE set): wall " << bench::fixed(run.wall * 1e3, 1)
                      << " ms, cpu " << bench::fixed(run.cpu * 1e3, 1) << " ms, " << tracedRequests.back()
                      << " requests\n";
            continue;
        }
        if (!traced) {
            walls.push_back(run.wall * 1e3);
            cpus.push_back(run.cpu * 1e3);
            shares.push_back(run.cpu / run.wall * 100);
            std::cerr << "exchange " << i << " (not traced): wall " << bench::fixed(run.wall * 1e3, 1) << " ms, cpu "
                      << bench::fixed(run.cpu * 1e3, 1) << " ms\n";
            continue;
        }
        double slept = 0;
        long polls = 0;
        std::string asked;
        for (const Sleep& sleep : run.sleeps) {
            slept += sleep.seconds;
            if (sleep.requestedMicroseconds == kPollMicroseconds) ++polls;
            if (!asked.empty()) asked += ' ';
            asked += std::to_string(sleep.requestedMicroseconds / 1000);
        }
        // One 100 ms sleep lies between the two clicks; every other one follows an empty poll.
        const long empty = std::max(0L, polls - 1);
        tracedWalls.push_back(run.wall * 1e3);
        sleeps.push_back(slept * 1e3);
        emptyPolls.push_back(static_cast<double>(empty));
        sleepCounts.push_back(static_cast<double>(run.sleeps.size()));
        std::cerr << "exchange " << i << ": wall " << bench::fixed(run.wall * 1e3, 1) << " ms, slept "
                  << bench::fixed(slept * 1e3, 1) << " ms [" << asked << " ms], cpu " << bench::fixed(run.cpu * 1e3, 1)
                  << " ms\n";
    }
    standin::stop(*standIn);

    const std::string n = std::to_string(runs) + " exchanges";
    const bench::Spread slept = bench::spread(sleeps);
    // The sleeps hardly vary (a few tenths of a millisecond), so the rest of an untraced run is
    // its wall time less the median of the traced runs' sleeps.
    std::vector<double> rests;
    for (const double wall : walls) rests.push_back(wall - slept.median);
    const bench::Spread share = bench::spread(shares);
    const bench::Spread polls = bench::spread(emptyPolls);
    const bench::Spread count = bench::spread(sleepCounts);
    bench::appendRows(rowsFile, {
        {"1 run time", "wall time of a complete exchange, " + n, bench::spreadText(bench::spread(walls), 1, "ms"), "", ""},
        {"1 run time", "  of it the tool's own sleeps (" + bench::fixed(count.median, 0) + " sleeps, " +
                           bench::fixed(polls.median, 0) + " empty polls at the median; " + n + " under strace)",
         bench::spreadText(slept, 1, "ms"), "", ""},
        {"1 run time", "  the rest: start-up, requests and answers", bench::spreadText(bench::spread(rests), 1, "ms"), "", ""},
        {"1 run time", "  (wall time under strace, for comparison)", bench::spreadText(bench::spread(tracedWalls), 1, "ms"), "",
         ""},
        {"1 run time", "tool CPU time, user + system", bench::spreadText(bench::spread(cpus), 1, "ms"), "", ""},
        {"1 run time", "tool CPU time / wall time", bench::spreadText(share, 2, "%"), "< 3% at the median",
         bench::verdict(share.median < kCpuShareTarget * 100)},
    });
    const bench::Spread tracingCpu = bench::spread(tracingCpus);
    const double requests = bench::spread(tracedRequests).median;
    // The CPU time of a run varies by milliseconds with other work on the machine, far more
    // than a trace adds; the fastest runs of each kind are the least disturbed.
    const double perRequest = requests > 0 ? (tracingCpu.min - bench::spread(cpus).min) * 1e3 / requests : 0;
    bench::appendRows(rowsFile, {
        {"6 trace", "tool CPU time with TESSARY_TRACE set, " + n + " (" + bench::fixed(requests, 0) + " requests each)",
         bench::spreadText(tracingCpu, 1, "ms"), "", ""},
        {"6 trace", "  CPU time / wall time with TESSARY_TRACE set", bench::spreadText(bench::spread(tracingShares), 2, "%"),
         "", ""},
        {"6 trace", "  tracing cost per request against the stand-in (CPU, difference of the fastest runs)",
         bench::fixed(perRequest, 1) + " us", "", ""},
    });
    return 0;
}
