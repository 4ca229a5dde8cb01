// Fake CorelDRAW desktops of a chosen size for the benchmarks, with their element counts.
//
// The Scripts inspector of `rows` script rows (2 * rows + 4 elements):
//   window "inspector"                 at (0, 100), 300 x (20 * rows + 200)
//     scroll area "list"               at (50, 120), holding
//       outline "outline"
//         row, name cell  x rows       at (50, 130 + 20 * i), 200 x 20; the relay script last
//     button "run"                     30 points above the window's bottom edge, titled "Run"
// So the run sequence's clicks select the relay script's row and press Run, and every row
// before it is a candidate that the locator walks and rejects.
//
// A tool window of `buttons` buttons (buttons + 2 elements): a scroll area without an outline,
// a candidate whose own walk the locator makes and rejects before it passes the window over.
//
// An alert of `lines` static texts and an OK button (lines + 3 elements).
#pragma once

#include <cstdint>
#include <string>

#include "platform/fake/fake_desktop.h"

namespace bench {

inline constexpr std::int64_t kCorelPid = 4242;
inline constexpr const char* kCorelBundle = "com.corel.coreldrawsuite.2022.coreldraw";

fake::Node inspectorWindow(std::int64_t rows);
fake::Node toolWindow(std::int64_t buttons);
fake::Node alertWindow(std::int64_t lines);

inline constexpr std::int64_t inspectorElements(std::int64_t rows) { return 2 * rows + 4; }
inline constexpr std::int64_t toolElements(std::int64_t buttons) { return buttons + 2; }
inline constexpr std::int64_t alertElements(std::int64_t lines) { return lines + 3; }

// CorelDRAW with these windows, in this order; its relay script answers `answer` at once.
fake::Desktop corelDesktop(std::vector<fake::Node> windows, std::string answer);

// The answer of the relay script for a command id.
std::string relayAnswer(const std::string& commandId);

}  // namespace bench
