// The seam operations as the core calls them: each forwards to the platform, and while the run
// writes a trace it goes through the trace instead, which performs the same operation and
// writes its line. Without a trace a call costs one well-predicted test more than the platform
// call itself: nothing is formatted, no clock is read and nothing is allocated.
//
// The core calls the platform only through these, so that the trace sees everything that
// crosses the seam, on every platform alike.
#pragma once

#include "platform/platform.h"
#include "trace/trace.h"

namespace traced {

inline bool isProcessTrusted() {
    if (trace::enabled) [[unlikely]] return trace::isProcessTrusted();
    return platform::isProcessTrusted();
}

inline std::vector<platform::Application> runningApplications(std::string_view bundleIdentifier) {
    if (trace::enabled) [[unlikely]] return trace::runningApplications(bundleIdentifier);
    return platform::runningApplications(bundleIdentifier);
}

inline std::int64_t processIdentifier(const platform::Application& application) {
    if (trace::enabled) [[unlikely]] return trace::processIdentifier(application);
    return platform::processIdentifier(application);
}

inline platform::Activation activate(const platform::Application& application) {
    if (trace::enabled) [[unlikely]] return trace::activate(application);
    return platform::activate(application);
}

inline platform::PointOwner ownerAt(platform::Point point) {
    if (trace::enabled) [[unlikely]] return trace::ownerAt(point);
    return platform::ownerAt(point);
}

inline bool holdRunLock() {
    if (trace::enabled) [[unlikely]] return trace::holdRunLock();
    return platform::holdRunLock();
}

inline platform::Element createApplicationElement(std::int64_t processId) {
    if (trace::enabled) [[unlikely]] return trace::createApplicationElement(processId);
    return platform::createApplicationElement(processId);
}

inline platform::Element retainElement(const platform::Element& element) {
    if (trace::enabled) [[unlikely]] return trace::retainElement(element);
    return platform::retainElement(element);
}

inline platform::AttributeResult copyAttributeValue(const platform::Element& element, std::string_view attribute) {
    if (trace::enabled) [[unlikely]] return trace::copyAttributeValue(element, attribute);
    return platform::copyAttributeValue(element, attribute);
}

inline std::int32_t performAction(const platform::Element& element, std::string_view action) {
    if (trace::enabled) [[unlikely]] return trace::performAction(element, action);
    return platform::performAction(element, action);
}

inline std::optional<platform::Event> createMouseEvent(platform::MouseEventType type, platform::Point position,
                                                       platform::MouseButton button) {
    if (trace::enabled) [[unlikely]] return trace::createMouseEvent(type, position, button);
    return platform::createMouseEvent(type, position, button);
}

inline std::optional<platform::Event> createKeyboardEvent(std::uint16_t virtualKey, bool keyDown) {
    if (trace::enabled) [[unlikely]] return trace::createKeyboardEvent(virtualKey, keyDown);
    return platform::createKeyboardEvent(virtualKey, keyDown);
}

inline void postEvent(const platform::Event& event) {
    if (trace::enabled) [[unlikely]] return trace::postEvent(event);
    platform::postEvent(event);
}

inline void sleepMicroseconds(std::uint32_t microseconds) {
    if (trace::enabled) [[unlikely]] return trace::sleepMicroseconds(microseconds);
    platform::sleepMicroseconds(microseconds);
}

inline std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text) {
    if (trace::enabled) [[unlikely]] return trace::writeFileAtomically(path, text);
    return platform::writeFileAtomically(path, text);
}

inline bool mayPostEvents() {
    if (trace::enabled) [[unlikely]] return trace::mayPostEvents();
    return platform::mayPostEvents();
}

inline std::int64_t frontmostProcess() {
    if (trace::enabled) [[unlikely]] return trace::frontmostProcess();
    return platform::frontmostProcess();
}

inline std::int64_t ownProcessId() {
    if (trace::enabled) [[unlikely]] return trace::ownProcessId();
    return platform::ownProcessId();
}

inline std::optional<platform::ProcessEntry> processEntry(std::int64_t processId) {
    if (trace::enabled) [[unlikely]] return trace::processEntry(processId);
    return platform::processEntry(processId);
}

inline platform::LockTest testRunLock() {
    if (trace::enabled) [[unlikely]] return trace::testRunLock();
    return platform::testRunLock();
}

inline std::int64_t monotonicMicroseconds() {
    if (trace::enabled) [[unlikely]] return trace::monotonicMicroseconds();
    return platform::monotonicMicroseconds();
}

}  // namespace traced
