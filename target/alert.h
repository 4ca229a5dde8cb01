// CorelDRAW's answer alert: recognised among the application's windows by its description,
// read, and closed with its OK button.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace target {

// An open alert and its message exactly as read (nothing trimmed, line breaks kept).
struct AlertMatch {
    platform::Element window;
    std::string text;
};

// The first window in "AXWindows" order whose "AXDescription" is "警告" and that holds a static
// text with a non-empty "AXValue"; the message is the first such text in walk order. Nothing
// when no window qualifies: an alert without a message neither counts as open nor as an answer.
std::optional<AlertMatch> alertText(const platform::Element& root);

// One look for an open alert after an OK press that did not report success, where a look that
// went unanswered must not count as "none": a press fails when CorelDRAW is not answering, and
// such a CorelDRAW fails reads as well. The look reads the window list, then each window's
// "AXDescription" in list order, and stops at the first window described "警告" or the first
// description that goes unanswered.
enum class AlertLook {
    // A window described "警告" is listed, whether or not its message could be read: after the
    // press it can only be the alert, still open.
    open,
    // "AXWindows" answered with a list (possibly empty), and each window's description was
    // answered and is not "警告". A description with no value or not supported, and a window that
    // is gone, are answers: not the alert.
    closed,
    // "AXWindows" gave no list, or a description read failed otherwise (ax::answeredString):
    // nothing can be told.
    unanswered,
};
AlertLook lookForAlert(const platform::Element& root);

// Presses the first button titled "OK" in walk order below the alert window, once. Returns
// without pressing anything when there is none. Does not wait for the alert to close. False when
// the press did not report success: AppKit applications answer failure codes (-25200, -25204,
// -25205, -25206) for presses they performed, so the caller looks whether the alert is gone.
[[nodiscard]] bool dismissAlert(const platform::Element& window);

}  // namespace target
