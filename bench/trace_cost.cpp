// What a trace costs: the locator (target::findScriptWindow) over an inspector of many rows on
// the bare seam, timed with TESSARY_TRACE unset and with it naming a file, calls of the two
// kinds taking turns. The difference per request is what writing one trace line costs; the
// file's growth per request is the trace's size.
//
// usage: tessary_bench_trace_cost [--rows N] [--calls N] [--rows-file FILE]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "bench/fake_trees.h"
#include "bench/rows.h"
#include "target/script_window.h"
#include "trace/trace.h"
#include "trace/traced.h"

namespace {

struct Figures {
    std::vector<double> seconds;
    std::int64_t requests = 0;
};

// One locate over the installed desktop, with the trace as TESSARY_TRACE says.
double locate(const char* const* argv, std::int64_t& requests) {
    trace::start(2, argv);
    const platform::Element root = traced::createApplicationElement(bench::kCorelPid);
    const int before = fake::requests();
    const auto start = std::chrono::steady_clock::now();
    {
        const auto found = target::findScriptWindow(root);
        if (!found) std::cerr << "trace_cost: the locator found nothing\n";
    }
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    requests = fake::requests() - before;
    trace::finish(0);
    return spent.count();
}

off_t sizeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t rows = 10000;
    int calls = 20;
    std::string rowsFile;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--calls") == 0) calls = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rows-file") == 0) rowsFile = argv[i + 1];
    }
    char directory[] = "/tmp/tessary-trace-cost-XXXXXX";
    if (mkdtemp(directory) == nullptr) return 1;
    const std::string path = std::string(directory) + "/trace";

    std::vector<fake::Node> windows;
    windows.push_back(bench::inspectorWindow(rows));
    fake::install(bench::corelDesktop(std::move(windows), bench::relayAnswer("1")));
    const char* const args[] = {"tessary_bench_trace_cost", "bench", nullptr};

    Figures off, on;
    off_t bytes = 0;
    for (int call = 0; call < 2 * calls + 2; ++call) {
        const bool traced = call % 2 == 1;
        if (traced) {
            ::setenv("TESSARY_TRACE", path.c_str(), 1);
        } else {
            ::unsetenv("TESSARY_TRACE");
        }
        std::int64_t requests = 0;
        const off_t sizeBefore = sizeOf(path);
        const double seconds = locate(args, requests);
        if (call < 2) continue;  // one warm-up call of each kind
        Figures& figures = traced ? on : off;
        figures.seconds.push_back(seconds);
        figures.requests = requests;
        if (traced) bytes = sizeOf(path) - sizeBefore;
        ::unlink(path.c_str());
    }
    ::rmdir(directory);

    const double perRequestOff = bench::spread(off.seconds).median / static_cast<double>(off.requests) * 1e9;
    const double perRequestOn = bench::spread(on.seconds).median / static_cast<double>(on.requests) * 1e9;
    const std::string what = "locator on a bare seam, " + std::to_string(bench::inspectorElements(rows)) + " elements, " +
                             std::to_string(off.requests) + " requests, median of " + std::to_string(calls);
    bench::appendRows(rowsFile, {
        {"6 trace", what + ": per request, TESSARY_TRACE unset", bench::fixed(perRequestOff, 1) + " ns", "", ""},
        {"6 trace", "  the same with TESSARY_TRACE set (a file on " + std::string(directory).substr(0, 4) + ")",
         bench::fixed(perRequestOn, 1) + " ns", "", ""},
        {"6 trace", "  tracing cost per request (one line, one write)", bench::fixed(perRequestOn - perRequestOff, 1) + " ns",
         "", ""},
        {"6 trace", "  trace bytes per request",
         bench::fixed(static_cast<double>(bytes) / static_cast<double>(on.requests), 1) + " bytes", "", ""},
    });
    return 0;
}
