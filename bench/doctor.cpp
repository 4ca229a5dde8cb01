// tessary-doctor beside a run, against the stand-in: the doctor's wall time and requests, and a
// complete exchange's, each run with TESSARY_TRACE so that its requests are counted from its own
// trace. Run it inside the headless desktop:
//   scripts/headless tessary_bench_doctor --tessary PATH --doctor PATH [--runs 20] [--rows-file FILE]
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/rows.h"
#include "process.h"

namespace {

struct Counts {
    long requests = 0;  // attribute reads and actions
    long looks = 0;     // looks at a click point
    long other = 0;     // every other line between start and end
    long changes = 0;   // events created or posted, activations, presses, the lock taken, writes
};

Counts countsIn(const std::string& traceFile) {
    std::ifstream trace(traceFile);
    Counts counts;
    for (std::string line; std::getline(trace, line);) {
        std::istringstream fields(line);
        std::string milliseconds, pid, event;
        if (!(fields >> milliseconds >> pid >> event) || event == "start" || event == "end") continue;
        if (event == "create-event" || event == "post" || event == "activate" || event == "press" ||
            event == "run-lock" || event == "write") {
            ++counts.changes;
        }
        if (event == "get" || event == "press") {
            ++counts.requests;
        } else if (event == "owner-at") {
            ++counts.looks;
        } else {
            ++counts.other;
        }
    }
    return counts;
}

struct Timed {
    int status = -1;
    double milliseconds = 0;
    Counts counts;
};

Timed timedRun(const std::vector<std::string>& argv, const std::string& directory) {
    const std::string trace = directory + "/bench.trace";
    ::unlink(trace.c_str());
    const auto start = std::chrono::steady_clock::now();
    const standin::ProcessResult result = standin::runProcess(argv, {"TESSARY_TRACE=" + trace, "TMPDIR=" + directory});
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return {result.exitStatus, took.count(), countsIn(trace)};
}

std::string countsText(const Counts& counts) {
    return std::to_string(counts.requests) + " requests, " + std::to_string(counts.looks) + " looks, " +
           std::to_string(counts.other) + " other seam calls";
}

}  // namespace

int main(int argc, char** argv) {
    const bench::ToolOptions options = bench::toolOptions(argc, argv, 20);
    std::string doctor;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--doctor") == 0) doctor = argv[i + 1];
    }
    if (options.tessary.empty() || doctor.empty()) {
        std::cerr << "usage: tessary_bench_doctor --tessary PATH --doctor PATH [--runs N] [--rows-file FILE]\n";
        return 2;
    }
    auto standIn = standin::start({"--delay-ms", "0"});
    if (!standIn) {
        std::cerr << "doctor: the stand-in did not become ready\n";
        return 1;
    }
    std::vector<double> doctorTimes;
    std::vector<double> runTimes;
    Counts doctorCounts;
    Counts runCounts;
    bool allOk = true;
    bool unchanged = true;
    for (int i = 0; i < options.runs; ++i) {
        const Timed checked = timedRun({doctor}, standIn->directory);
        const std::string id = "bench-" + std::to_string(i);
        standin::setCommandId(*standIn, id);
        const Timed exchange = timedRun({options.tessary, id, standIn->directory + "/result"}, standIn->directory);
        // The private desktop has no window manager: "in front" cannot tell, and no line fails.
        allOk = allOk && checked.status == 0 && exchange.status == 0;
        unchanged = unchanged && checked.counts.changes == 0;
        doctorTimes.push_back(checked.milliseconds);
        runTimes.push_back(exchange.milliseconds);
        doctorCounts = checked.counts;
        runCounts = exchange.counts;
        std::cerr << "doctor " << i << ": " << bench::fixed(checked.milliseconds, 1) << " ms, status " << checked.status
                  << ", " << countsText(checked.counts) << "; exchange: " << bench::fixed(exchange.milliseconds, 1)
                  << " ms, status " << exchange.status << ", " << countsText(exchange.counts) << "\n";
    }
    standin::stop(*standIn);
    const std::string n = std::to_string(options.runs) + " runs each, traced";
    bench::appendRows(options.rowsFile, {
        {"9 doctor", "tessary-doctor against the stand-in, wall time, " + n,
         bench::spreadText(bench::spread(doctorTimes), 1, "ms"), "", ""},
        {"9 doctor", "  beside a complete exchange, wall time", bench::spreadText(bench::spread(runTimes), 1, "ms"), "", ""},
        {"9 doctor", "  the doctor's seam calls", countsText(doctorCounts), "no event, activation, press, lock or write",
         bench::verdict(unchanged)},
        {"9 doctor", "  a complete exchange's seam calls", countsText(runCounts), "", ""},
    });
    return allOk && unchanged ? 0 : 1;
}
