// AT-SPI requests and time of walking the Scripts inspector of a stand-in with many rows, the
// way the tool walks a window: "AXChildren" of every element in pre-order, 13 levels, and then
// once more reading "AXRole" of every element as the searches do. Run it inside the headless
// desktop:
//   scripts/headless build/default/tests/linux/tessary_walk_benchmark [rows]
// Requests are counted where they are sent (one D-Bus method call each, answered before the
// next is sent), with how many of them travelled on the application's direct connection; a
// dbus-monitor on the accessibility bus sees only the others.
#include "desktop_support.h"
#include "process.h"

#include "platform/linux/bus.h"
#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Figures {
    std::size_t elements = 0;
    std::uint64_t requests = 0;
    std::uint64_t direct = 0;
    double milliseconds = 0;
};

template <typename Walk>
Figures measure(Walk walk) {
    const auto requestsBefore = platform::linux_desktop::requestCount();
    const auto directBefore = platform::linux_desktop::directRequestCount();
    const auto start = std::chrono::steady_clock::now();
    Figures figures;
    figures.elements = walk();
    figures.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    figures.requests = platform::linux_desktop::requestCount() - requestsBefore;
    figures.direct = platform::linux_desktop::directRequestCount() - directBefore;
    return figures;
}

void print(const char* what, const Figures& figures) {
    std::printf("%-28s %6zu elements %7llu requests (%llu direct)  %.2f requests/element  %8.1f ms  %.3f ms/element\n",
                what, figures.elements, static_cast<unsigned long long>(figures.requests),
                static_cast<unsigned long long>(figures.direct),
                double(figures.requests) / double(figures.elements), figures.milliseconds,
                figures.milliseconds / double(figures.elements));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string rows = argc > 1 ? argv[1] : "2000";
    auto standIn = standin::start({"--rows", rows}, std::chrono::seconds(120));
    if (!standIn) {
        std::fprintf(stderr, "the stand-in did not become ready\n");
        return 1;
    }
    auto applications = platform::runningApplications(desktop_support::kBundleIdentifier);
    if (applications.empty()) return 1;
    const auto root = platform::createApplicationElement(platform::processIdentifier(applications[0]));
    const auto inspector = desktop_support::windowTitled(root, "Scripts");
    if (!inspector) return 1;

    std::printf("Scripts inspector with %s rows\n", rows.c_str());
    // The first walk also makes GTK create the accessible objects of every row.
    print("first walk (children)", measure([&] { return desktop_support::descendants(*inspector).size() + 1; }));
    print("walk (children)", measure([&] { return desktop_support::descendants(*inspector).size() + 1; }));
    print("walk + AXRole of each", measure([&] {
        const auto walk = desktop_support::descendants(*inspector);
        for (const auto& element : walk) (void)desktop_support::text(element, "AXRole");
        return walk.size() + 1;
    }));
    standin::stop(*standIn);
    return 0;
}
