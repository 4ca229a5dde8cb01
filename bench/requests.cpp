// Requests of whole runs on fake desktops of growing size, beside the count that the
// algorithms imply for the desktop's shape.
//
// The desktop: CorelDRAW with a tool window of T buttons (a scroll area without an outline)
// and then the Scripts inspector of R rows, the relay script's row last (bench/fake_trees.h);
// 2R + T + 7 elements with the application element. The relay script answers at once.
//
// usage: tessary_bench_requests [rows-file [elements ...]]   (elements: from 20, instead of 10,
//        1,000 and 100,000)
#include <cstdio>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "bench/fake_trees.h"
#include "bench/rows.h"
#include "main/run.h"
#include "tessary-doctor/doctor.h"
#include "support/child_run.h"

namespace {

struct Shape {
    std::int64_t elements;
    std::int64_t rows;     // R
    std::int64_t buttons;  // T
};

// Every request of one run, from the algorithms alone: one request per query, "AXChildren" of
// every element that a walk lists (none of these trees reaches the depth limit), nothing cached,
// and one look at what lies at each of the two click points.
std::int64_t impliedRequests(const Shape& shape) {
    const std::int64_t R = shape.rows;
    const std::int64_t T = shape.buttons;
    const std::int64_t windows = 2;

    // Open-alert refusal: "AXWindows", then "AXDescription" of each window; none is an alert.
    const std::int64_t refusal = 1 + windows;
    // After the activation: the application's "AXFrontmost".
    const std::int64_t frontmost = 1;

    // Locate: "AXWindows", then each window in turn.
    // Tool window: its walk (T + 2 elements); the roles of the window and of the scroll area,
    // a candidate whose own walk (T + 1 elements) is made and all of whose T + 1 roles are read
    // without finding an outline; then the roles of the T buttons: no other candidate.
    const std::int64_t toolWindow = (T + 2) + 2 + (T + 1) + (T + 1) + T;
    // Inspector: its walk (2R + 4 elements); the roles of the window and of the scroll area, a
    // candidate whose own walk (2R + 2) holds the outline second (2 roles read). The row search
    // starts again at the window: roles of window, scroll area and outline; then each row that
    // is not the relay script's: its role, its own walk (row and cell), both "AXValue"s, and
    // the cell's role in the window's walk; the relay row: role, walk, two "AXValue"s.
    const std::int64_t inspector = (2 * R + 4) + 2 + (2 * R + 2) + 2 + 3 + (R - 1) * (1 + 2 + 2 + 1) + (1 + 2 + 2);
    const std::int64_t locate = 1 + toolWindow + inspector;

    // Rename test: the row's walk (row, cell) and both roles.
    const std::int64_t renameTest = 2 + 2;
    // Geometry: row position and size, list position, window position and size, list size.
    const std::int64_t geometry = 6;
    // A look at the row click point, then one at the Run click point.
    const std::int64_t looks = 2;
    // Between the clicks: the row's "AXSelected".
    const std::int64_t selected = 1;
    // First poll: the answer is open, first among the windows: "AXWindows", its description,
    // its walk (window, text, button), three roles, the one static text's "AXValue".
    const std::int64_t poll = 1 + 1 + 3 + 3 + 1;
    // Dismissal: the alert's walk, three roles, the OK button's title, "AXPress".
    const std::int64_t dismissal = 3 + 3 + 1 + 1;
    return refusal + frontmost + locate + renameTest + geometry + looks + selected + poll + dismissal;
}

struct Counted {
    int status = -1;
    std::int64_t requests = -1;         // the fake's own count
    std::int64_t recordedRequests = 0;  // "get", "press" and "look" lines in its record
};

Counted countRun(const Shape& shape, const std::string& resultPath) {
    const std::string commandId = "bench";
    std::vector<fake::Node> windows;
    windows.push_back(bench::toolWindow(shape.buttons));
    windows.push_back(bench::inspectorWindow(shape.rows));
    fake::Desktop desktop = bench::corelDesktop(std::move(windows), bench::relayAnswer(commandId));
    const Outcome outcome = runInChild([&] {
        fake::install(std::move(desktop));
        const char* argv[] = {"tessary", commandId.c_str(), resultPath.c_str(), nullptr};
        const int status = tessary::runTool(3, argv);
        std::printf("%d\n", fake::requests());
        return status;
    });
    Counted counted;
    counted.status = outcome.status;
    const std::string expectedPath = resultPath + "\n";
    if (outcome.out.starts_with(expectedPath)) counted.requests = std::stoll(outcome.out.substr(expectedPath.size()));
    for (const std::string& line : outcome.record) {
        if (line.starts_with("get ") || line.starts_with("press ") || line.starts_with("look ")) ++counted.recordedRequests;
    }
    return counted;
}

// tessary-doctor on the same desktop: the run's requests up to its first click (the refusal,
// the frontmost reading, the locate, the rename test, the geometry and the two looks) and one
// more, the timed first "AXWindows"; none of the selection's reading, the poll or the dismissal.
std::int64_t impliedDoctorRequests(const Shape& shape) {
    const std::int64_t selected = 1;
    const std::int64_t poll = 1 + 1 + 3 + 3 + 1;
    const std::int64_t dismissal = 3 + 3 + 1 + 1;
    const std::int64_t timedFirst = 1;
    return impliedRequests(shape) - selected - poll - dismissal + timedFirst;
}

Counted countDoctor(const Shape& shape) {
    std::vector<fake::Node> windows;
    windows.push_back(bench::toolWindow(shape.buttons));
    windows.push_back(bench::inspectorWindow(shape.rows));
    fake::Desktop desktop = bench::corelDesktop(std::move(windows), "");
    const Outcome outcome = runInChild([&] {
        fake::install(std::move(desktop));
        const char* argv[] = {"tessary-doctor", nullptr};
        const int status = doctor::runDoctor(1, argv);
        std::printf("requests %d\n", fake::requests());
        return status;
    });
    Counted counted;
    counted.status = outcome.status;
    const std::size_t at = outcome.out.rfind("requests ");
    if (at != std::string::npos) counted.requests = std::stoll(outcome.out.substr(at + 9));
    for (const std::string& line : outcome.record) {
        if (line.starts_with("get ") || line.starts_with("press ") || line.starts_with("look ")) ++counted.recordedRequests;
    }
    return counted;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string rowsFile = argc > 1 ? argv[1] : "";
    const std::string resultPath = scratchDirectory() + "/result.txt";
    // 2R + T + 7 elements each.
    std::vector<Shape> shapes{{10, 1, 1}, {1000, 400, 193}, {100000, 40000, 19993}};
    // Other sizes when asked (for traces of about 5.2 lines an element): R = 2E/5 rows, the
    // rest tool buttons.
    if (argc > 2) shapes.clear();
    for (int i = 2; i < argc; ++i) {
        const std::int64_t elements = std::stoll(argv[i]);
        const std::int64_t rows = elements * 2 / 5;
        shapes.push_back({elements, rows, elements - 2 * rows - 7});
    }
    std::vector<bench::Row> rows;
    bool allEqual = true;
    for (const Shape& shape : shapes) {
        const Counted counted = countRun(shape, resultPath);
        const std::int64_t implied = impliedRequests(shape);
        const bool equal = counted.status == 0 && counted.requests == implied && counted.recordedRequests == implied;
        allEqual = allEqual && equal;
        std::cerr << "requests: " << shape.elements << " elements (R=" << shape.rows << ", T=" << shape.buttons
                  << "): exit " << counted.status << ", counted " << counted.requests << ", recorded "
                  << counted.recordedRequests << ", implied " << implied << "\n";
        rows.push_back({"2 requests",
                        "whole run, " + std::to_string(shape.elements) + " elements (R=" + std::to_string(shape.rows) +
                            " rows, T=" + std::to_string(shape.buttons) + " tool buttons)",
                        std::to_string(counted.requests) + " counted, " + std::to_string(implied) + " = 10R+4T+53",
                        "equal", bench::verdict(equal)});
    }
    for (const Shape& shape : shapes) {
        const Counted counted = countDoctor(shape);
        const std::int64_t implied = impliedDoctorRequests(shape);
        // The bench desktop has no application in front: "in front" cannot tell, no line fails.
        const bool equal = counted.status == 0 && counted.requests == implied && counted.recordedRequests == implied;
        allEqual = allEqual && equal;
        std::cerr << "doctor requests: " << shape.elements << " elements: exit " << counted.status << ", counted "
                  << counted.requests << ", recorded " << counted.recordedRequests << ", implied " << implied << "\n";
        rows.push_back({"2 requests",
                        "tessary-doctor, " + std::to_string(shape.elements) + " elements (R=" + std::to_string(shape.rows) +
                            ", T=" + std::to_string(shape.buttons) + ")",
                        std::to_string(counted.requests) + " counted, " + std::to_string(implied) +
                            " = 10R+4T+36 (a run's less 17)",
                        "equal", bench::verdict(equal)});
    }
    bench::appendRows(rowsFile, rows);
    return allEqual ? 0 : 1;
}
