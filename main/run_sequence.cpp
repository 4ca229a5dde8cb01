#include "ax/query.h"
#include "ax/walk.h"
#include "input/input.h"
#include "main/fail.h"
#include "main/preconditions.h"
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
// After a "no" from CorelDRAW the question is read again this far apart, up to 2 s in all for the
// activation and 1 s for the row's selection.
constexpr std::uint32_t kBetweenReadings = 100000;
constexpr int kFrontmostRereads = 20;
constexpr int kSelectedRereads = 10;

// The rename check, the click points and the look at a point are in main/preconditions.h.

// The application and the row answer yes-or-no questions. A first reading that cannot tell (no
// value, an error, a value of another kind) lets the run go on: an answer that is absent is no
// error. A first "no" stops it unless a "yes" follows.
//
// A question reaches CorelDRAW's main thread on a channel of its own, not in order with the input
// events posted before it, and an activation completes only once CorelDRAW's run loop has taken
// it: a busy CorelDRAW answers with the state it had before. So after a "no" the question is
// asked again, 100 ms later, up to `rereads` times, and only a "yes" lets the run go on: once
// CorelDRAW has said "no", a reading that cannot tell counts as "no" too (a CorelDRAW too busy to
// answer has not taken the click either). A run whose answers come at once asks once and waits
// for nothing more.
void failUnlessShown(const platform::Element& element, std::string_view attribute, int rereads, std::string_view message) {
    if (ax::boolean(element, attribute) != false) return;
    for (int reread = 0; reread < rereads; ++reread) {
        traced::sleepMicroseconds(kBetweenReadings);
        if (ax::boolean(element, attribute) == true) return;
    }
    fail(message);
}

constexpr std::string_view kNotInFront = "CorelDRAW is not in front at the Scripts inspector";

// One look at what lies at a click point, right before the click: a window of another process
// there, or no window at all, would take the click. When the platform cannot tell, the click
// goes ahead.
void clickInCorelDraw(const Run& run, platform::Point point) {
    if (!clickGoesAhead(run, traced::ownerAt(point))) fail(kNotInFront);
    input::click(point);
}

}  // namespace

target::AlertMatch runSequence(const Run& run) {
    // An alert already open would be taken for the answer.
    if (target::alertText(run.root)) fail("CorelDRAW has an open alert");

    // Whether the system allowed the request goes to the trace only: the run asks CorelDRAW itself.
    traced::activate(run.application);
    traced::sleepMicroseconds(kAfterActivation);
    // Activation is a request that the system may refuse without a word, and a click into an
    // application that is not active only activates it: it would select nothing, and Run would
    // run whatever script was selected before.
    failUnlessShown(run.root, "AXFrontmost", kFrontmostRereads, kNotInFront);

    std::optional<target::ScriptWindowMatch> tuple = target::findScriptWindow(run.root);
    if (!tuple) fail("RelayTransportProbe is not visible in the Scripts inspector");
    if (isRenaming(tuple->row)) {
        input::escape();
        traced::sleepMicroseconds(kAfterEscape);
        tuple = target::findScriptWindow(run.root);
    }

    const std::optional<Geometry> located = geometry(tuple);
    if (!located) fail("cannot locate the script row and Run button");
    if (!inside(located->points.row, located->list)) {
        fail("RelayTransportProbe is not visible in the Scripts inspector");
    }
    // Only the row is kept: it is asked once more, after its click.
    const platform::Element row = std::move(tuple->row);
    tuple.reset();

    clickInCorelDraw(run, located->points.row);
    traced::sleepMicroseconds(kBetweenClicks);
    // Run runs whatever is selected: without the row selected, the click went elsewhere or was
    // taken as activation only.
    failUnlessShown(row, "AXSelected", kSelectedRereads, kNotInFront);
    clickInCorelDraw(run, located->points.runButton);

    for (int poll = 0; poll < kPolls; ++poll) {
        if (std::optional<target::AlertMatch> response = target::alertText(run.root)) return std::move(*response);
        traced::sleepMicroseconds(kPollInterval);
    }
    fail("CorelDRAW did not return an alert within 10 seconds");
}

}  // namespace tessary
