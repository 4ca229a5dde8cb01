#include "bench/fake_trees.h"

#include <utility>

namespace bench {
namespace {

using fake::node;
using platform::Point;
using platform::Size;

constexpr double kRowHeight = 20;

}  // namespace

fake::Node inspectorWindow(std::int64_t rows) {
    std::vector<fake::Node> rowNodes;
    rowNodes.reserve(static_cast<std::size_t>(rows));
    for (std::int64_t i = 0; i < rows; ++i) {
        const bool relay = i == rows - 1;
        const Point at{50, 130 + kRowHeight * static_cast<double>(i)};
        std::string name = relay ? std::string("RelayTransportProbe") : "Script" + std::to_string(i);
        rowNodes.push_back(node(relay ? "row" : "", "AXRow", {{"AXPosition", at}, {"AXSize", Size{200, kRowHeight}}},
                                {node("", "AXStaticText",
                                      {{"AXValue", std::move(name)}, {"AXPosition", at}, {"AXSize", Size{200, kRowHeight}}})}));
    }
    const double listHeight = kRowHeight * static_cast<double>(rows) + 20;
    const double windowHeight = kRowHeight * static_cast<double>(rows) + 200;
    return node("inspector", "AXWindow",
                {{"AXTitle", std::string("Scripts")}, {"AXPosition", Point{0, 100}}, {"AXSize", Size{300, windowHeight}}},
                {node("list", "AXScrollArea", {{"AXPosition", Point{50, 120}}, {"AXSize", Size{240, listHeight}}},
                      {node("outline", "AXOutline", {{"AXPosition", Point{50, 120}}, {"AXSize", Size{240, listHeight}}},
                            std::move(rowNodes))}),
                 node("run", "AXButton",
                      {{"AXTitle", std::string("Run")}, {"AXPosition", Point{50, 100 + windowHeight - 30}}, {"AXSize", Size{60, 24}}})});
}

fake::Node toolWindow(std::int64_t buttons) {
    std::vector<fake::Node> buttonNodes;
    buttonNodes.reserve(static_cast<std::size_t>(buttons));
    for (std::int64_t i = 0; i < buttons; ++i) {
        buttonNodes.push_back(node("", "AXButton", {{"AXTitle", "Tool" + std::to_string(i)}}));
    }
    return node("tools", "AXWindow", {{"AXTitle", std::string("Tools")}},
                {node("palette", "AXScrollArea", {}, std::move(buttonNodes))});
}

fake::Node alertWindow(std::int64_t lines) {
    std::vector<fake::Node> texts;
    texts.reserve(static_cast<std::size_t>(lines));
    for (std::int64_t i = 0; i < lines; ++i) {
        texts.push_back(node("", "AXStaticText", {{"AXValue", "answer line " + std::to_string(i)}}));
    }
    return node("alert", "AXWindow", {{"AXDescription", std::string("\u8B66\u544A")}},
                {node("alert-body", "AXGroup", {}, std::move(texts)),
                 node("alert-ok", "AXButton", {{"AXTitle", std::string("OK")}})});
}

fake::Desktop corelDesktop(std::vector<fake::Node> windows, std::string answer) {
    fake::Desktop desktop;
    desktop.applications.push_back({kCorelBundle, kCorelPid, std::move(windows), {}});
    desktop.script = fake::Script{std::move(answer), 0, true, platform::kSuccess};
    // A display tall enough for an inspector of any length, so that both click points lie on
    // it: these desktops measure the tool's requests, not the screen's size.
    desktop.display = Size{1920, 1e12};
    return desktop;
}

std::string relayAnswer(const std::string& commandId) {
    return "TALVO_RELAY_BEGIN_" + commandId + "\npayload\nTALVO_RELAY_END_" + commandId;
}

}  // namespace bench
