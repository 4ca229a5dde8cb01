#include "support/desktops.h"

using fake::node;
using platform::Point;
using platform::Size;

fake::Node scriptRow(std::string label, std::string name, double y, std::vector<fake::Node> more) {
    std::vector<fake::Node> cells{node(label == "row" ? "name" : "", "AXStaticText",
                                       {{"AXValue", std::move(name)}, {"AXPosition", Point{50, y}}, {"AXSize", Size{200, 20}}})};
    for (fake::Node& cell : more) cells.push_back(std::move(cell));
    return node(std::move(label), "AXRow", {{"AXPosition", Point{50, y}}, {"AXSize", Size{200, 20}}}, std::move(cells));
}

fake::Node inspectorWindow(std::vector<fake::Node> rows) {
    return node("inspector", "AXWindow", {{"AXTitle", std::string("Scripts")}, {"AXPosition", Point{0, 100}}, {"AXSize", Size{300, 400}}},
                {node("list", "AXScrollArea", {{"AXPosition", Point{50, 120}}, {"AXSize", Size{240, 300}}},
                      {node("outline", "AXOutline", {{"AXPosition", Point{50, 120}}, {"AXSize", Size{240, 300}}}, std::move(rows))}),
                 node("run", "AXButton", {{"AXTitle", std::string("Run")}, {"AXPosition", Point{50, 470}}, {"AXSize", Size{60, 24}}})});
}

fake::Node inspectorWindow() {
    std::vector<fake::Node> rows;
    rows.push_back(scriptRow("row-other", "OtherScript", 130));
    rows.push_back(scriptRow("row", "RelayTransportProbe", 150));
    return inspectorWindow(std::move(rows));
}

fake::Node alertWindow(std::string label, std::string message) {
    return node(label, "AXWindow", {{"AXDescription", std::string("\u8B66\u544A")}},
                {node(label + "-text", "AXStaticText", {{"AXValue", std::move(message)}}),
                 node(label + "-ok", "AXButton", {{"AXTitle", std::string("OK")}})});
}

fake::Desktop corelDesktopWith(std::vector<fake::Node> windows, std::string answer) {
    fake::Desktop desktop;
    desktop.applications.push_back({kCorelBundle, kCorelPid, std::move(windows), {}});
    desktop.script = fake::Script{std::move(answer), 0, true, platform::kSuccess};
    return desktop;
}

fake::Desktop corelDesktop(std::string answer, std::int64_t delayMicroseconds) {
    std::vector<fake::Node> windows;
    windows.push_back(inspectorWindow());
    fake::Desktop desktop = corelDesktopWith(std::move(windows), std::move(answer));
    desktop.script->delayMicroseconds = delayMicroseconds;
    return desktop;
}

std::string relayAnswer(const std::string& commandId, const std::string& body) {
    return "TALVO_RELAY_BEGIN_" + commandId + "\n" + body + "\nTALVO_RELAY_END_" + commandId;
}
