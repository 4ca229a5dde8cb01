// Desktops the tests share: a CorelDRAW whose Scripts inspector lists the relay script.
//
// Geometry of the inspector (screen points):
//   window "inspector"   at (0, 100), 300 x 400
//   scroll area "list"   at (50, 120), 240 x 300, holding outline "outline"
//   row "row-other"      at (50, 130), 200 x 20: "OtherScript"
//   row "row"            at (50, 150), 200 x 20: cell "name" = "RelayTransportProbe"
//   button "run"         at (50, 470), 60 x 24, titled "Run"
// So the row click lands at (110, 160) and the Run click at (66, 486).
#pragma once

#include <string>

#include "platform/fake/fake_desktop.h"

inline constexpr std::int64_t kCorelPid = 4242;
inline constexpr const char* kCorelBundle = "com.corel.coreldrawsuite.2022.coreldraw";

fake::Node scriptRow(std::string label, std::string name, double y, std::vector<fake::Node> more = {});
fake::Node inspectorWindow(std::vector<fake::Node> rows);
fake::Node inspectorWindow();
// An open alert window with a message and an OK button.
fake::Node alertWindow(std::string label, std::string message);

// CorelDRAW with the inspector, whose relay script answers `answer` after `delay` microseconds.
fake::Desktop corelDesktop(std::string answer, std::int64_t delayMicroseconds = 0);
fake::Desktop corelDesktopWith(std::vector<fake::Node> windows, std::string answer = "");

// The answer a relay script gives for a command id.
std::string relayAnswer(const std::string& commandId, const std::string& body = "payload");
