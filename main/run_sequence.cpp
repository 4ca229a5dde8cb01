#include "ax/query.h"
#include "ax/walk.h"
#include "input/input.h"
#include "main/fail.h"
#include "main/run.h"
#include "target/script_window.h"
#include "trace/traced.h"

namespace tessary {
namespace {

constexpr std::uint32_t kAfterActivation = 200000;
constexpr std::uint32_t kAfterEscape = 100000;
constexpr std::uint32_t kBetweenClicks = 100000;
constexpr std::uint32_t kPollInterval = 100000;
constexpr int kPolls = 100;

// A rename open in the row shows as a text field anywhere in the row's walk.
bool isRenaming(const platform::Element& row) {
    for (const platform::Element& element : ax::descendants(row)) {
        if (ax::stringEquals(element, "AXRole", "AXTextField")) return true;
    }
    return false;
}

struct ClickPoints {
    platform::Point row;
    platform::Point runButton;
};

// The five reads, in this order, stopping at the first that has no answer.
std::optional<ClickPoints> clickPoints(const std::optional<target::ScriptWindowMatch>& tuple) {
    if (!tuple) return std::nullopt;
    const auto rowPosition = ax::point(tuple->row);
    if (!rowPosition) return std::nullopt;
    const auto rowSize = ax::size(tuple->row);
    if (!rowSize) return std::nullopt;
    const auto listPosition = ax::point(tuple->scrollArea);
    if (!listPosition) return std::nullopt;
    const auto windowPosition = ax::point(tuple->window);
    if (!windowPosition) return std::nullopt;
    const auto windowSize = ax::size(tuple->window);
    if (!windowSize) return std::nullopt;
    return ClickPoints{target::rowClickPoint(*rowPosition, *rowSize),
                       target::runButtonPoint(*listPosition, *windowPosition, *windowSize)};
}

// One look at what lies at a click point, right before the click: a window of another process
// there, or no window at all, would take the click. When the platform cannot tell, the click
// goes ahead.
void clickInCorelDraw(const Run& run, platform::Point point) {
    const platform::PointOwner owner = traced::ownerAt(point);
    const bool corelDraw = owner.occupant == platform::Occupant::process && owner.processId == run.processId;
    if (owner.occupant != platform::Occupant::unknown && !corelDraw) {
        fail("CorelDRAW is not in front at the Scripts inspector");
    }
    input::click(point);
}

}  // namespace

target::AlertMatch runSequence(const Run& run) {
    // One run at a time per user: another run's clicks and alerts would mix with ours. Held
    // until the process ends; without it the run goes on unserialized.
    (void)traced::holdRunLock();

    // An alert already open would be taken for the answer.
    if (target::alertText(run.root)) fail("CorelDRAW has an open alert");

    traced::activate(run.application);
    traced::sleepMicroseconds(kAfterActivation);

    std::optional<target::ScriptWindowMatch> tuple = target::findScriptWindow(run.root);
    if (!tuple) fail("RelayTransportProbe is not visible in the Scripts inspector");
    if (isRenaming(tuple->row)) {
        input::escape();
        traced::sleepMicroseconds(kAfterEscape);
        tuple = target::findScriptWindow(run.root);
    }

    const std::optional<ClickPoints> points = clickPoints(tuple);
    if (!points) fail("cannot locate the script row and Run button");
    tuple.reset();
    clickInCorelDraw(run, points->row);
    traced::sleepMicroseconds(kBetweenClicks);
    clickInCorelDraw(run, points->runButton);

    for (int poll = 0; poll < kPolls; ++poll) {
        if (std::optional<target::AlertMatch> response = target::alertText(run.root)) return std::move(*response);
        traced::sleepMicroseconds(kPollInterval);
    }
    fail("CorelDRAW did not return an alert within 10 seconds");
}

}  // namespace tessary
