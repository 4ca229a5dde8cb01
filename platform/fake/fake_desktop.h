// An in-memory desktop behind the platform seam, for tests. It holds applications with
// accessibility trees built from nested initialisers, behaves like CorelDRAW where the tool
// relies on it (a click in a row selects it, Run with the relay script's row selected opens the
// answer alert after a delay, Escape closes the rename field that has the keyboard focus, OK
// closes its alert) and like a Mac where it matters (activation can be refused; the first click
// into an application that is not frontmost only activates it; a scroll area shows only what
// lies inside its frame, so a click there reaches no row outside it; a busy application shows
// its activation and a row's selection late and leaves its window list unanswered), and records
// every request, action, activation, event created, posted and released, element released and
// sleep as a text line. A look at a screen point ("look x,y")
// counts as a request; taking the run lock is recorded ("lock") and always succeeds, with no
// file involved; a test of the lock is recorded apart ("lock-test").
//
// Time is virtual: sleeping advances the clock and returns at once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/platform.h"

namespace fake {

// A number, as an application that boxes a value as a number answers it. Exactly 0 or 1 reaches
// the seam as a boolean (false, true), as the macOS layer converts a CFNumber; any other number
// as a value of a kind no query of the tool reads.
struct Number {
    double value = 0;
};
// A value of another kind that is neither text, list, element, point nor size (a range, say).
struct Other {};
// The read fails with this platform result code; `stored` is what the platform leaves in the out
// value all the same (to show it is released and ignored).
struct Failing {
    std::int32_t code = platform::kFailure;
    std::optional<std::string> stored;
};
// A single element, named by its label.
struct ElementAt {
    std::string label;
};
// A list of elements, named by their labels (it may name the element itself: a cycle).
struct ElementsAt {
    std::vector<std::string> labels;
};

using Attribute =
    std::variant<std::string, Number, Other, platform::Point, platform::Size, bool, Failing, ElementAt, ElementsAt>;
using Attributes = std::vector<std::pair<std::string, Attribute>>;

// One element and its subtree. "AXChildren" reads the children unless `attributes` gives it.
// The label names the element in the record; an element without one is "e" and its number in
// creation order.
struct Node {
    std::string label;
    Attributes attributes;
    std::vector<Node> children;
    // What "AXPress" answers; pressing "OK" in an alert closes the alert only on success.
    std::int32_t pressResult = platform::kSuccess;
    // A rename field that stays open when Escape reaches it.
    bool survivesEscape = false;
    // The press happens although it answers `pressResult` (a press that timed out).
    bool pressActsAnyway = false;
    // A row that a click does not select.
    bool refusesSelection = false;
};

// Shorthand: a node with a role and more attributes.
Node node(std::string label, std::string role, Attributes attributes = {}, std::vector<Node> children = {});

struct Application {
    std::string bundleIdentifier;
    std::int64_t processId = 0;
    std::vector<Node> windows;
    // Overrides of the application element's own attributes ("AXWindows" failing, say).
    Attributes attributes;
};

// What clicking Run does while the relay script's row is selected.
struct Script {
    std::string answer;
    std::int64_t delayMicroseconds = 0;
    bool okButton = true;
    std::int32_t okPressResult = platform::kSuccess;
    // The alert is listed after the other windows instead of in front of them.
    bool alertLast = false;
    // OK closes the alert although its press answers `okPressResult`.
    bool okPressActsAnyway = false;
    // After the OK press, whatever it answered, this many reads of the application's "AXWindows"
    // go unanswered (kCannotComplete): a CorelDRAW still busy with the press.
    int windowsUnansweredAfterOk = 0;
};

// A window on the screen that belongs to a process, with no accessibility tree of its own.
struct ScreenWindow {
    std::int64_t processId = 0;
    platform::Point position;
    platform::Size size;
};

struct Desktop {
    bool trusted = true;
    std::vector<Application> applications;
    std::optional<Script> script;
    // The one display, from the origin: a look at a point off it finds nothing.
    platform::Size display{1920, 1080};
    // Windows in front of every application's windows, front first. The stacking order below
    // them is the applications' windows that have a position and a size, application by
    // application, each application's windows in their order. A click where a front window lies
    // reaches no application.
    std::vector<ScreenWindow> frontWindows;
    // Every look answers that the platform cannot tell who owns the point.
    bool ownerUnknown = false;
    // The n-th creation (counted from 1) of a mouse or keyboard event fails; 0: none fails.
    int failMouseEventAt = 0;
    int failKeyboardEventAt = 0;
    // The label of the element with the keyboard focus, or "". Escape closes it when it is a
    // rename field (a text field inside a row) that does not survive Escape; nothing else.
    std::string focus;
    // The process id of the frontmost application (0: one that is not listed here). An
    // application element's "AXFrontmost" answers whether it is this one, unless the application
    // gives the attribute itself. A click into a window of an application that is not frontmost
    // makes it frontmost and does nothing else.
    std::int64_t frontmost = 0;
    // Activation requests are refused: the frontmost application stays, and the request answers
    // that it was refused.
    bool refuseActivation = false;
    // An activation that is allowed shows this long after the request (virtual time): until
    // then the application that was in front stays frontmost, as a busy application takes its
    // activation only when its run loop gets to it.
    std::int64_t activationShowsAfterMicroseconds = 0;
    // A click that selects a row shows this long after the click (virtual time): until then
    // "AXSelected" answers as before the click. A Run click meanwhile is taken after the row
    // click, as a busy application takes queued input events in order.
    std::int64_t selectionShowsAfterMicroseconds = 0;
    // The run lock cannot be had: taking it answers false.
    bool lockFails = false;
    // A file that the trust check opens for appending and keeps open to the end of the process,
    // as a real platform opens its connections: a descriptor of the run's own. "": none.
    std::string openedAtTrust;
    // The label of the row selected before the run, or "". A row's "AXSelected" answers whether
    // it is the selected one, unless the row gives the attribute itself.
    std::string selected;

    // What tessary-doctor asks besides the applications, each recorded as a line: "post-access",
    // "frontmost", "own-pid", "process <pid>", "lock-test" (a test, never "lock"), "clock".
    // Whether this process may post input events.
    bool mayPostEvents = true;
    // The process id of this process, and the process table: each process's parent and path.
    std::int64_t ownProcessId = 900;
    std::vector<std::pair<std::int64_t, platform::ProcessEntry>> processes;
    // What a test of the run lock finds.
    platform::LockTest lock{platform::LockState::free, -1, "/tmp/tessary-fake.lock", ""};
    // This executable's signature, as code signing reads it (not a request: recorded nowhere).
    platform::CodeSignature signature{platform::SignatureKind::certificate, "com.tessary.tessary", "ABCDE12345"};
};

// Replaces the whole desktop and clears the record, the clock and every counter.
void install(Desktop desktop);

// Every line recorded since `install`. Requests read "get <label> <attribute>" and
// "press <label> <action>"; events "create mouse-down <x>,<y> button <n>" (or "create key-down
// <code>"), then "post ..." and "release ..." with the same description; a released element
// "release-element <label>".
const std::vector<std::string>& record();
// The lines of `lines` whose first word is one of these ("get", "sleep", "post", ...).
std::vector<std::string> linesOf(const std::vector<std::string>& lines, std::initializer_list<std::string_view> kinds);
// linesOf(record(), kinds).
std::vector<std::string> recordOf(std::initializer_list<std::string_view> kinds);

// Element handles handed out and not yet released.
int liveElements();
// Requests to applications (attribute reads and actions) so far.
int requests();
// The virtual clock, in microseconds since `install`.
std::int64_t now();

// Before the n-th request (counted from 1) runs, call `action`: a window closes mid-walk, say.
void beforeRequest(int n, std::function<void()> action);
// A window comes to the front of all others (in a `beforeRequest` action, say).
void raise(ScreenWindow window);
// The n-th request fails with this result code instead of being answered. A look at a screen
// point that fails answers that the platform cannot tell.
void failRequest(int n, std::int32_t code);
// The n-th request succeeds with this value instead of its own (a value of the wrong kind).
void answerRequest(int n, Attribute value);
// The next reads of this attribute of the element with this label answer these values, one a
// read, in turn (a Failing: the read fails with its code); after them the element answers as
// before. A request failed or answered by number (failRequest, answerRequest) takes no value
// from the sequence. Set again, the sequence replaces the one left.
void answerReads(const std::string& label, const std::string& attribute, std::vector<Attribute> answers);
// The element with this label disappears: every later query on it fails as invalid.
void vanish(const std::string& label);
// Whether the element with this label is still there.
bool exists(const std::string& label);
// The label of the element a handle refers to, without a request ("?" for none).
std::string labelOf(const platform::Element& element);
// The labels of a list of handles.
std::vector<std::string> labelsOf(const platform::ElementList& elements);
// The label of the selected row, or "".
std::string selectedRow();

}  // namespace fake
