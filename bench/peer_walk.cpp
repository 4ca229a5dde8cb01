// tessary's walk beside a peer: the stand-in's Scripts inspector with many rows, walked by
// ax::descendants through the Linux implementation and by a Python program over pyatspi
// (bench/pyatspi_walk.py) that a user would write. Run it inside the headless desktop:
//   scripts/headless tessary_bench_peer [--rows 2000] [--walks 10] [--rows-file FILE]
//
// Time: the walks of the two alternate in rounds, after one walk that makes GTK create the
// accessible objects of every row.
//
// Round trips: one more walk of each, in a process of its own under strace, which marks its
// walk with a write of "tessary-bench-mark" to /dev/null before and after. Every D-Bus message
// that a walker sends between the marks is a method call whose answer it waits for before it
// sends the next: one round trip. Counting at the walker's sockets sees all of them, also those
// that libatspi sends over its direct connection to the application, which a dbus-monitor on
// the accessibility bus never sees.
//
// In its "--walk-once" role this program is that walker for tessary.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ax/query.h"
#include "ax/walk.h"
#include "bench/rows.h"
#include "platform/platform.h"
#include "process.h"

namespace {

constexpr const char* kBundleIdentifier = "com.corel.coreldrawsuite.2022.coreldraw";
constexpr const char* kMark = "tessary-bench-mark";
constexpr int kWalkRounds = 2;

struct Walk {
    double seconds = 0;
    std::size_t elements = 0;
};

std::optional<platform::Element> inspectorWindow() {
    auto applications = platform::runningApplications(kBundleIdentifier);
    if (applications.empty()) return std::nullopt;
    static const platform::Element root =
        platform::createApplicationElement(platform::processIdentifier(applications.front()));
    for (platform::Element& window : ax::elementList(ax::attribute(root, "AXWindows"))) {
        if (ax::string(window, "AXTitle") == "Scripts") return std::move(window);
    }
    return std::nullopt;
}

Walk tessaryWalk(const platform::Element& window) {
    const auto start = std::chrono::steady_clock::now();
    const platform::ElementList found = ax::descendants(window);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {took.count(), found.size()};
}

// The "--walk-once" role: one marked walk, its figures on standard output.
int walkOnce() {
    const std::optional<platform::Element> window = inspectorWindow();
    if (!window) return 1;
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    [[maybe_unused]] ssize_t written = write(sink, kMark, std::strlen(kMark));
    const Walk walk = tessaryWalk(*window);
    written = write(sink, kMark, std::strlen(kMark));
    close(sink);
    std::cout << "walk " << walk.seconds << ' ' << walk.elements << '\n';
    return 0;
}

std::vector<Walk> walksIn(const standin::ProcessResult& result) {
    std::vector<Walk> walks;
    std::istringstream lines(result.standardOutput);
    std::string word;
    Walk walk;
    while (lines >> word >> walk.seconds >> walk.elements) walks.push_back(walk);
    return walks;
}

std::vector<Walk> pythonWalks(const std::string& script, int repeat) {
    const auto result = standin::runProcess({"/usr/bin/python3", script, "--repeat", std::to_string(repeat)});
    std::vector<Walk> walks = walksIn(result);
    if (result.exitStatus != 0 || walks.size() != static_cast<std::size_t>(repeat)) {
        std::cerr << "peer: the pyatspi walk failed: " << result.standardError;
        return {};
    }
    return walks;
}

struct Count {
    long roundTrips = -1;  // messages sent between the marks; -1 when the marks are missing
    std::size_t elements = 0;
};

// Runs a walker under strace and counts the D-Bus messages it sends between its two marks.
Count countRoundTrips(std::vector<std::string> walker, const std::string& traceFile) {
    std::vector<std::string> argv{"/usr/bin/strace", "-f", "-qq", "-e", "trace=sendmsg,write", "-e", "signal=none",
                                  "-s", "32", "-o", traceFile, "--"};
    argv.insert(argv.end(), walker.begin(), walker.end());
    const auto result = standin::runProcess(argv);
    Count count;
    const std::vector<Walk> walks = walksIn(result);
    if (result.exitStatus != 0 || walks.size() != 1) {
        std::cerr << "peer: the traced walk failed: " << result.standardError;
        return count;
    }
    count.elements = walks.front().elements;
    int marks = 0;
    long sent = 0;
    std::ifstream trace(traceFile);
    for (std::string line; std::getline(trace, line);) {
        if (line.find(kMark) != std::string::npos) {
            ++marks;
            continue;
        }
        if (marks == 1 && line.find(" sendmsg(") != std::string::npos) ++sent;
    }
    if (marks == 2) count.roundTrips = sent;
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--walk-once") == 0) return walkOnce();

    std::string rows = "2000";
    std::string rowsFile;
    int walks = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--rows") rows = argv[++i];
        else if (flag == "--walks") walks = std::max(kWalkRounds, std::atoi(argv[++i]));
        else if (flag == "--rows-file") rowsFile = argv[++i];
    }
    const std::string script = TESSARY_BENCH_PYATSPI_WALK;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    self[length] = '\0';

    auto standIn = standin::start({"--rows", rows}, std::chrono::seconds(120));
    if (!standIn) {
        std::cerr << "peer: the stand-in did not become ready\n";
        return 1;
    }
    const auto finish = [&](int status) {
        standin::stop(*standIn);
        return status;
    };
    const std::optional<platform::Element> window = inspectorWindow();
    if (!window) {
        std::cerr << "peer: no Scripts inspector\n";
        return finish(1);
    }
    // GTK makes the accessible objects of the rows when they are first asked for.
    const std::size_t elements = tessaryWalk(*window).elements;

    std::vector<double> ours;
    std::vector<double> theirs;
    for (int round = 0; round < kWalkRounds; ++round) {
        const int count = walks / kWalkRounds;
        for (const Walk& walk : pythonWalks(script, count)) {
            if (walk.elements != elements) {
                std::cerr << "peer: pyatspi listed " << walk.elements << " elements, tessary " << elements << "\n";
                return finish(1);
            }
            theirs.push_back(walk.seconds * 1e3);
        }
        for (int i = 0; i < count; ++i) {
            const Walk walk = tessaryWalk(*window);
            if (walk.elements != elements) {
                std::cerr << "peer: the walk listed " << walk.elements << " elements, not " << elements << "\n";
                return finish(1);
            }
            ours.push_back(walk.seconds * 1e3);
        }
    }
    if (theirs.size() != ours.size()) return finish(1);

    const Count ourCount = countRoundTrips({self, "--walk-once"}, standIn->directory + "/tessary.trace");
    const Count theirCount =
        countRoundTrips({"/usr/bin/python3", script, "--repeat", "1", "--markers"}, standIn->directory + "/pyatspi.trace");
    if (ourCount.roundTrips < 0 || theirCount.roundTrips < 0 || ourCount.elements != elements ||
        theirCount.elements != elements) {
        std::cerr << "peer: the traced walks left no count\n";
        return finish(1);
    }

    const bench::Spread our = bench::spread(ours);
    const bench::Spread their = bench::spread(theirs);
    const double ratio = their.median / our.median;
    const double e = static_cast<double>(elements);
    const auto perElement = [&](long trips) { return bench::fixed(static_cast<double>(trips) / e, 2); };
    const std::string where = "Scripts inspector, " + rows + " rows, " + std::to_string(elements) + " elements";
    bench::appendRows(rowsFile, {
        {"4 peer walk", "tessary walk (ax::descendants, Linux), " + where,
         bench::spreadText(our, 1, "ms") + ", " + std::to_string(ours.size()) + " walks", "", ""},
        {"4 peer walk", "pyatspi walk (childCount / getChildAtIndex), same window",
         bench::spreadText(their, 1, "ms") + ", " + std::to_string(theirs.size()) + " walks", "", ""},
        {"4 peer walk", "pyatspi median / tessary median", bench::fixed(ratio, 2) + "x", "> 1x (aim 2x)",
         bench::verdict(ratio > 1)},
        {"4 peer walk", "D-Bus round trips of one walk: tessary / pyatspi",
         std::to_string(ourCount.roundTrips) + " / " + std::to_string(theirCount.roundTrips) + " = " +
             perElement(ourCount.roundTrips) + " / " + perElement(theirCount.roundTrips) + " per element",
         "tessary <= pyatspi", bench::verdict(ourCount.roundTrips <= theirCount.roundTrips)},
    });
    return finish(0);
}
