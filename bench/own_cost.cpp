// Our own cost per element: the walk (ax::descendants), the locator (target::findScriptWindow)
// and the alert reader (target::alertText) over fake trees of one size, under Google Benchmark.
//
// One process per size, so that its peak resident set belongs to that size alone. On the fake
// desktop each iteration installs a fresh copy of the desktop, untimed (the fake records every
// request, and a record that grew over the iterations would be measured too); the bare seam
// (bench/bare_desktop.cpp) records nothing and is installed once. Each iteration times the call
// and the release of its result. A counting allocator gives the heap that one more call, made
// untimed, holds at its peak beyond what was live before it.
//
// usage: tessary_bench_cost --elements N [--rows-file FILE] [--figures-file FILE] [--iterations N]
//                           [Google Benchmark flags]
//        tessary_bench_cost --summarise FIGURES-FILE [--rows-file FILE]
// --iterations fixes the count of timed calls, for profiling under callgrind.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "ax/query.h"
#include "ax/walk.h"
#include "bench/fake_trees.h"
#include "bench/rows.h"
#include "target/alert.h"
#include "target/script_window.h"

// ---- Counting allocator ---------------------------------------------------------------------

namespace {

// Counting is on only around the one call per benchmark whose heap is measured, outside the
// timed calls. A block allocated while counting and freed while not (or the other way round)
// never happens: each measured call frees what it allocated before counting ends, except its
// result, which is freed while counting too.
bool heapCounting = false;
std::size_t heapLive = 0;
std::size_t heapPeak = 0;

void* allocate(std::size_t bytes) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) throw std::bad_alloc();
    if (heapCounting) {
        heapLive += malloc_usable_size(block);
        heapPeak = std::max(heapPeak, heapLive);
    }
    return block;
}

void deallocate(void* block) noexcept {
    if (block == nullptr) return;
    if (heapCounting) heapLive -= std::min(heapLive, malloc_usable_size(block));
    std::free(block);
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate(bytes); }
void* operator new[](std::size_t bytes) { return allocate(bytes); }
void operator delete(void* block) noexcept { deallocate(block); }
void operator delete[](void* block) noexcept { deallocate(block); }
void operator delete(void* block, std::size_t) noexcept { deallocate(block); }
void operator delete[](void* block, std::size_t) noexcept { deallocate(block); }

// ---- Benchmarks -----------------------------------------------------------------------------

namespace {

constexpr double kTargetNanoseconds = 200;
constexpr double kTargetMebibytes = 64;
constexpr std::int64_t kTargetElements = 100000;
constexpr double kLinearSlope = 1.2;
// The fake desktop's cost beside the bare seam's, for the same operation and size.
constexpr double kFakeOverBare = 3;
// Which desktop answers behind the seam: "fake" (platform/fake) or "bare" (bench/bare_desktop.cpp).
const std::string kDesktop = TESSARY_BENCH_DESKTOP;
// The fake desktop records every request, so each iteration starts from a fresh install.
const bool kRecords = kDesktop == "fake";

struct Measured {
    std::vector<double> seconds;  // one per timed call
    std::size_t peakBytes = 0;    // the largest heap one call held beyond what was live before
    std::int64_t requests = 0;    // requests of one call
};

std::map<std::string, Measured>& measured() {
    static std::map<std::string, Measured> m;
    return m;
}

platform::Element rootOf() { return platform::createApplicationElement(bench::kCorelPid); }

platform::Element firstWindow(const platform::Element& root) {
    platform::ElementList windows = ax::elementList(ax::attribute(root, "AXWindows"));
    return std::move(windows.front());
}

// Times `call` over `desktop`, installed afresh for every call on the fake desktop and once on
// the bare seam. `call` gets the application element and returns whatever it found, which is
// released inside the timed span. Before the timed calls, one call is made with the heap counted.
template <typename Call>
void timeCalls(benchmark::State& state, const std::string& name, const fake::Desktop& desktop, std::int64_t elements,
               Call call) {
    Measured& m = measured()[name];
    if (m.requests == 0) {
        // Its heap at the peak beyond what was live before it, and its requests.
        fake::install(desktop);
        const platform::Element root = rootOf();
        const int requestsBefore = fake::requests();
        heapLive = 0;
        heapPeak = 0;
        heapCounting = true;
        {
            auto found = call(root);
            benchmark::DoNotOptimize(found);
        }
        heapCounting = false;
        m.peakBytes = heapPeak;
        m.requests = fake::requests() - requestsBefore;
    }
    // The bare seam records nothing: one install serves every iteration.
    if (!kRecords) fake::install(desktop);
    for (auto _ : state) {
        if (kRecords) fake::install(desktop);
        const platform::Element root = rootOf();
        const auto start = std::chrono::steady_clock::now();
        {
            auto found = call(root);
            benchmark::DoNotOptimize(found);
        }
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(spent.count());
        m.seconds.push_back(spent.count());
    }
    state.counters["elements"] = static_cast<double>(elements);
    state.counters["ns_per_element"] =
        benchmark::Counter(static_cast<double>(elements) * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                                     benchmark::Counter::kInvert);
    state.counters["peak_heap_MiB"] = static_cast<double>(m.peakBytes) / (1024.0 * 1024.0);
    state.counters["requests"] = static_cast<double>(m.requests);
}

void registerAll(std::int64_t elements, std::int64_t iterations) {
    const std::int64_t rows = (elements - 4) / 2;  // the inspector: 2R + 4 elements
    const std::int64_t lines = elements - 3;        // the alert: L + 3 elements

    static fake::Desktop inspectorDesktop;
    static fake::Desktop alertDesktop;
    {
        std::vector<fake::Node> windows;
        windows.push_back(bench::inspectorWindow(rows));
        inspectorDesktop = bench::corelDesktop(std::move(windows), "");
    }
    {
        std::vector<fake::Node> windows;
        windows.push_back(bench::alertWindow(lines));
        alertDesktop = bench::corelDesktop(std::move(windows), "");
    }
    const std::int64_t inspectorCount = bench::inspectorElements(rows);
    const std::int64_t alertCount = bench::alertElements(lines);

    std::vector<benchmark::internal::Benchmark*> registered;
    registered.push_back(benchmark::RegisterBenchmark(("walk/" + std::to_string(inspectorCount)).c_str(), [=](benchmark::State& state) {
        timeCalls(state, "walk", inspectorDesktop, inspectorCount, [](const platform::Element& root) {
            // The window is found outside the walk's own requests but inside the span: one
            // "AXWindows" request among N + 1.
            return ax::descendants(firstWindow(root));
        });
    }));
    registered.push_back(benchmark::RegisterBenchmark(("locate/" + std::to_string(inspectorCount)).c_str(), [=](benchmark::State& state) {
        timeCalls(state, "locate", inspectorDesktop, inspectorCount,
                  [](const platform::Element& root) { return target::findScriptWindow(root); });
    }));
    registered.push_back(benchmark::RegisterBenchmark(("alert/" + std::to_string(alertCount)).c_str(), [=](benchmark::State& state) {
        timeCalls(state, "alert", alertDesktop, alertCount,
                  [](const platform::Element& root) { return target::alertText(root); });
    }));
    for (benchmark::internal::Benchmark* b : registered) {
        b->UseManualTime()->Unit(benchmark::kMillisecond);
        if (iterations > 0) b->Iterations(iterations);
    }
}

std::string describe(const std::string& name, const std::string& desktop) {
    const std::string where = desktop == "fake" ? " on the fake desktop" : " on a bare seam";
    if (name == "walk") return "walk (ax::descendants)" + where;
    if (name == "locate") return "locator (findScriptWindow)" + where;
    return "alert reader (alertText)" + where;
}

}  // namespace

// Growth from the figures of every size: per operation and desktop the time and the heap per
// size, and the slope of log(time) over log(elements), fitted over all sizes: 1.00 for a cost
// that grows linearly, 2.00 for one that grows with the square. Caches make an element of a
// large tree dearer than one of a small tree, so a linear cost shows a slope a little above 1;
// below kLinearSlope the time per element grows less than 2.5-fold over a 100-fold size. Then
// the ratio of the fake desktop's time to the bare seam's.
int summarise(const std::string& figuresFile, const std::string& rowsFile) {
    struct Figure {
        double nsPerElement = 0;
        double heapMebibytes = 0;
    };
    // (desktop, name) -> size -> figure
    std::map<std::pair<std::string, std::string>, std::map<std::int64_t, Figure>> figures;
    std::ifstream in(figuresFile);
    std::string name;
    std::string desktop;
    std::int64_t size = 0;
    Figure figure;
    while (in >> name >> desktop >> size >> figure.nsPerElement >> figure.heapMebibytes) {
        figures[{desktop, name}][size] = figure;
    }
    std::vector<bench::Row> rows;
    for (const auto& [key, sizes] : figures) {
        if (sizes.size() < 2) continue;
        // Least squares over all sizes: log(time) = slope * log(elements) + c.
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const auto& [n, f] : sizes) {
            const double x = std::log(static_cast<double>(n));
            const double y = std::log(f.nsPerElement * static_cast<double>(n));
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        const double k = static_cast<double>(sizes.size());
        const double slope = (k * sxy - sx * sy) / (k * sxx - sx * sx);
        std::string times;
        std::string heaps;
        for (const auto& [n, f] : sizes) {
            if (!times.empty()) times += " / ";
            if (!heaps.empty()) heaps += " / ";
            times += bench::fixed(f.nsPerElement, 0);
            heaps += bench::fixed(f.heapMebibytes, 2);
        }
        std::string sizeList;
        for (const auto& [n, f] : sizes) {
            if (!sizeList.empty()) sizeList += "/";
            sizeList += std::to_string(n / 1000);
            sizeList += "k";
        }
        rows.push_back({"3 own cost", describe(key.second, key.first) + ", " + sizeList + " elements",
                        times + " ns/element, slope " + bench::fixed(slope, 2) + "; heap " + heaps + " MiB",
                        "linear (slope < " + bench::fixed(kLinearSlope, 2) + ")", bench::verdict(slope < kLinearSlope)});
    }
    // The fake desktop beside the bare seam, operation by operation, at the largest size both
    // were measured at: what the fake desktop's own bookkeeping adds to our code.
    for (const auto& [key, fakeSizes] : figures) {
        if (key.first != "fake") continue;
        const auto bare = figures.find({"bare", key.second});
        if (bare == figures.end()) continue;
        for (auto size = fakeSizes.rbegin(); size != fakeSizes.rend(); ++size) {
            const auto bareFigure = bare->second.find(size->first);
            if (bareFigure == bare->second.end()) continue;
            const double ratio = size->second.nsPerElement / bareFigure->second.nsPerElement;
            const std::string name = describe(key.second, "bare");
            rows.push_back({"3 own cost",
                            name.substr(0, name.find(" on ")) + ", fake desktop over bare seam, " +
                                std::to_string(size->first) + " elements",
                            bench::fixed(ratio, 2) + "x (" + bench::fixed(size->second.nsPerElement, 0) + " against " +
                                bench::fixed(bareFigure->second.nsPerElement, 0) + " ns/element)",
                            "< " + bench::fixed(kFakeOverBare, 0) + "x at " + std::to_string(kTargetElements) + " elements",
                            size->first >= kTargetElements ? bench::verdict(ratio < kFakeOverBare) : ""});
            break;
        }
    }
    bench::appendRows(rowsFile, rows);
    return 0;
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::int64_t elements = 0;
    std::string rowsFile;
    std::string figuresFile;
    std::int64_t iterations = 0;  // 0: as many as Google Benchmark chooses
    bool summary = false;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--elements") elements = std::stoll(argv[++i]);
        else if (flag == "--rows-file") rowsFile = argv[++i];
        else if (flag == "--figures-file") figuresFile = argv[++i];
        else if (flag == "--iterations") iterations = std::stoll(argv[++i]);
        else if (flag == "--summarise") figuresFile = argv[++i], summary = true;
    }
    if (summary) return summarise(figuresFile, rowsFile);
    if (elements < 10) {
        std::cerr << "usage: tessary_bench_cost --elements N [--rows-file FILE] [--figures-file FILE] [--iterations N]\n"
                     "                          [benchmark flags]\n"
                     "       tessary_bench_cost --summarise FIGURES-FILE [--rows-file FILE]\n";
        return 2;
    }
    registerAll(elements, iterations);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double rssMebibytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    // The targets hold at the largest size; smaller sizes show the growth.
    const bool targetSize = elements >= kTargetElements;

    std::vector<bench::Row> rows;
    std::ofstream figures;
    if (!figuresFile.empty()) figures.open(figuresFile, std::ios::app);
    for (const auto& [name, m] : measured()) {
        if (m.seconds.empty()) continue;
        const bench::Spread s = bench::spread(m.seconds);
        const double nsPerElement = s.median * 1e9 / static_cast<double>(elements);
        const double heapMebibytes = static_cast<double>(m.peakBytes) / (1024.0 * 1024.0);
        const bool ok = nsPerElement < kTargetNanoseconds && heapMebibytes < kTargetMebibytes;
        if (figures.is_open()) figures << name << ' ' << kDesktop << ' ' << elements << ' ' << nsPerElement << ' ' << heapMebibytes << '\n';
        if (!targetSize) continue;
        rows.push_back({"3 own cost", describe(name, kDesktop) + ", " + std::to_string(elements) + " elements",
                        bench::fixed(nsPerElement, 1) + " ns/element (median of " + std::to_string(m.seconds.size()) +
                            "), " + std::to_string(m.requests) + " requests, heap peak " +
                            bench::fixed(heapMebibytes, 2) + " MiB",
                        "< 200 ns/element, < 64 MiB", bench::verdict(ok)});
    }
    if (targetSize) rows.push_back({"3 own cost", "process peak RSS, " + std::to_string(elements) + " elements (" + kDesktop +
                                      " desktop and its trees included)",
                    bench::fixed(rssMebibytes, 1) + " MiB", "", ""});
    bench::appendRows(rowsFile, rows);
    return 0;
}
