// Wall time of one complete exchange of the real tessary binary against the stand-in, which
// answers at once (no delay of its own). Run it inside the headless desktop:
//   scripts/headless build/default/tests/e2e/tessary_exchange_benchmark [runs]
// Prints every run and the median, minimum and maximum in milliseconds.
#include "process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    auto standIn = standin::start({"--delay-ms", "0"});
    if (!standIn) {
        std::fprintf(stderr, "the stand-in did not become ready\n");
        return 1;
    }
    std::vector<double> milliseconds;
    for (int run = 0; run < runs; ++run) {
        const std::string commandId = "bench-" + std::to_string(run);
        standin::setCommandId(*standIn, commandId);
        const std::string resultPath = standIn->directory + "/result";
        const auto start = std::chrono::steady_clock::now();
        const auto result = standin::runProcess({TESSARY_BINARY, commandId, resultPath});
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (result.exitStatus != 0) {
            std::fprintf(stderr, "run %d failed: %s", run, result.standardError.c_str());
            standin::stop(*standIn);
            return 1;
        }
        milliseconds.push_back(took.count());
        std::printf("run %d: %.1f ms\n", run, took.count());
        // The alert closes on the OK press; the next run must not find it still open.
        const auto closed = [&] {
            const auto lines = standin::events(*standIn);
            return std::count(lines.begin(), lines.end(), "alert closed by OK") > run;
        };
        for (int wait = 0; wait < 500 && !closed(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    standin::stop(*standIn);
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("complete exchange over %d runs: median %.1f ms, min %.1f ms, max %.1f ms\n", runs,
                milliseconds[milliseconds.size() / 2], milliseconds.front(), milliseconds.back());
    return 0;
}
