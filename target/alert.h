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

// One look for an open alert where a look that went unanswered must not count as "none": after
// an OK press that did not report success, only a window list that CorelDRAW gave shows that the
// alert has closed.
enum class AlertLook {
    open,        // an alert as alertText recognises it is listed
    closed,      // "AXWindows" answered with a list, and no window in it is an alert
    unanswered,  // "AXWindows" gave no list: nothing can be told
};
AlertLook lookForAlert(const platform::Element& root);

// Presses the first button titled "OK" in walk order below the alert window, once. Returns
// without pressing anything when there is none. Does not wait for the alert to close. False when
// the press did not report success: AppKit applications answer failure codes (-25200, -25204,
// -25205, -25206) for presses they performed, so the caller looks whether the alert is gone.
[[nodiscard]] bool dismissAlert(const platform::Element& window);

}  // namespace target
