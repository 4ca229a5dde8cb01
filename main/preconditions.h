// The run's checks before its first click, named so that the run and tessary-doctor call the
// same code: the binding to a running CorelDRAW, the rename check, the click points and the
// list's frame, whether a point lies in the list's view, and what a look at a click point lets
// the click do. The run sequence (main/run_sequence.cpp) strings them together; the doctor asks
// each once and clicks nothing.
#pragma once

#include <optional>
#include <vector>

#include "main/run.h"
#include "platform/platform.h"
#include "target/script_window.h"

namespace tessary {

// Binds the run to the first of these running CorelDRAW instances (at least one): holds it for
// its activation, reads its process id and makes its application element `root`.
void bindFirst(Run& run, std::vector<platform::Application> running);

// A rename open in the row shows as a text field anywhere in the row's walk.
bool isRenaming(const platform::Element& row);

struct ClickPoints {
    platform::Point row;
    platform::Point runButton;
};

// The scroll area's frame: the part of the list that shows on the screen.
struct Frame {
    platform::Point position;
    platform::Size size;
};

// The five reads, in this order, then the scroll area's size, stopping at the first that has no
// answer.
struct Geometry {
    ClickPoints points;
    Frame list;
};

// The click points and the list's frame of a located inspector; nothing when there is no match
// or one of the six reads has no answer.
std::optional<Geometry> geometry(const std::optional<target::ScriptWindowMatch>& tuple);

// Whether the point lies in the frame (left and top edges in, right and bottom edges out).
bool inside(platform::Point point, const Frame& frame);

// Whether a click goes ahead after this look at its point: CorelDRAW's own window lies there, or
// the platform cannot tell. A window of another process, or no window at all, would take it.
bool clickGoesAhead(const Run& run, const platform::PointOwner& owner);

}  // namespace tessary
